import { useEffect, useRef, useState } from 'react';
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

// A stage drawn by `renderer` on `canvas`: a dark scene with light all round, a camera the mouse turns
// about a target (the wheel comes closer), and how to draw it and give it all back (with `extra`, what
// the caller made on it).
function makeStage(renderer, canvas) {
  renderer.outputColorSpace = THREE.SRGBColorSpace;
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0x111111);
  const camera = new THREE.PerspectiveCamera(35, 1, 0.1, 100);
  scene.add(camera);
  const controls = new OrbitControls(camera, canvas);
  controls.enablePan = false;
  const draw = () => renderer.render(scene, camera);
  controls.addEventListener('change', draw);
  const dispose = (extra) => {
    controls.dispose();
    extra();
    renderer.dispose();
    // A browser keeps only so many WebGL contexts: give this one back now, not when it is collected.
    renderer.forceContextLoss();
  };
  return { renderer, scene, camera, controls, draw, dispose };
}

// The stage on the canvas `canvas` refers to, square, `size` pixels a side, made once with what
// `furnish(stage)` adds to it (and answers: its parts, and `dispose`, which gives them back). `failure`
// says why there is none (a browser without WebGL).
export default function useLitStage(canvas, size, furnish) {
  const stage = useRef(null);
  const [failure, setFailure] = useState(null);

  useEffect(() => {
    let renderer;
    try {
      renderer = new THREE.WebGLRenderer({ canvas: canvas.current, antialias: true });
    } catch (error) {
      setFailure(error.message);
      return undefined;
    }
    const base = makeStage(renderer, canvas.current);
    const own = furnish(base);
    const made = { ...base, ...own };
    stage.current = made;
    return () => {
      base.dispose(own.dispose);
      stage.current = null;
    };
  }, []);

  useEffect(() => {
    const s = stage.current;
    if (!s) return;
    s.renderer.setSize(size, size, false);
    s.camera.aspect = 1;
    s.camera.updateProjectionMatrix();
    s.draw();
  }, [size]);

  return { stage, failure, setFailure };
}
