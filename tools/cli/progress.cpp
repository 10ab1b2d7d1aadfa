// A render's progress on the terminal.

#include "tools/cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace vantrel {

Progress::~Progress() {
    if (shown > 0) std::fprintf(stderr, "\r%*s\r", shown, "");
}

void Progress::Show(const RenderProgress& done) {
    // A part's count takes the rows above it that it renders too.
    const int rows = std::min(done.rowsDone, done.rows);
    const double share = std::min(1.0, static_cast<double>(done.samplesTaken) / done.samples);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char time[48];
    if (share > 0) {
        std::snprintf(time, sizeof time, "%s left", Duration(elapsed * (1 - share) / share).c_str());
    } else {
        std::snprintf(time, sizeof time, "%s so far", Duration(elapsed).c_str());
    }
    const int length = std::fprintf(stderr, "\rrendering: %d of %d rows, %.1f %% of the samples, %s", rows,
                                    done.rows, 100 * share, time) -
                       1;
    if (length < shown) std::fprintf(stderr, "%*s", shown - length, "");  // over a longer line before
    shown = std::max(shown, length);
}

std::string Progress::Duration(double seconds) {
    char text[32];
    if (seconds < 120) {
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    } else if (seconds < 7200) {
        std::snprintf(text, sizeof text, "%.0f min", seconds / 60);
    } else {
        std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
    }
    return text;
}

void ShowProgress(RenderRequest& request, std::optional<Progress>& progress) {
    if (!::isatty(STDERR_FILENO)) return;
    progress.emplace();
    request.progress = [&progress](const RenderProgress& done) { progress->Show(done); };
}

}  // namespace vantrel
