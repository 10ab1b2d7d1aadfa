#pragma once
/// @file
/// A render's progress as the commands that render show it, on a terminal.

#include <chrono>
#include <optional>
#include <string>

#include "tools/render/render_core.h"

namespace vantrel {

/// Shows on standard error, a terminal, on one line that it rewrites, the rows done, the share of the
/// samples taken, and the time left at the pace so far (or, before the first sample is back, the time
/// taken); clears the line when it goes.
class Progress {
public:
    Progress() : start(std::chrono::steady_clock::now()) {}
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Show(const RenderProgress& done);

private:
    /// Seconds as a person reads them: "40 s", "12 min", "3.5 h".
    static std::string Duration(double seconds);

    std::chrono::steady_clock::time_point start;
    int shown = 0;
};

/// Makes `progress` and has `request` show on it when standard error is a terminal; else leaves both
/// as they are. `progress` outlives the render.
void ShowProgress(RenderRequest& request, std::optional<Progress>& progress);

}  // namespace vantrel
