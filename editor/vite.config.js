import { defineConfig } from 'vite';
import react from '@vitejs/plugin-react';

// The page is served by `vantrel serve` from the folder beside the executable; the build writes there
// through --outDir (editor/CMakeLists.txt). Everything the page needs is bundled: nothing is fetched
// from the network when it runs.
export default defineConfig({
  plugins: [react()],
  base: '/',
  build: {
    assetsDir: 'assets',
    emptyOutDir: true,
    chunkSizeWarningLimit: 1024,
  },
});
