#include "window/progress_refresh.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app/registry.h"
#include "app/startup.h"
#include "window/scan_window.h"

namespace {
constexpr DWORD kSlowFileTicks = 64;  // about 11 s at 168 ms a tick
}

void FormatElapsed(time_t seconds, char* out, size_t size) {
    if (seconds < 0) seconds = 0;
    const long long span = seconds;
    std::snprintf(out, size, "%02d:%02d:%02d", static_cast<int>(span / 3600 % 24), static_cast<int>(span / 60 % 60),
                  static_cast<int>(span % 60));
}

ProgressView ComputeProgress(const ProgressInputs& inputs, ProgressState* state) {
    // A scan of the system areas alone knows its total early.
    const bool totalIsKnown = inputs.countingDone || (!inputs.targetsGiven && inputs.systemAreas);
    const DWORD divisor = totalIsKnown ? inputs.total : inputs.provisionalTotal;
    double percent = divisor == 0 ? 100.0 : static_cast<double>(inputs.visited) * 100.0 / divisor;
    if (state->floor == 0) state->floor = divisor / 100 + 1;
    if (percent > 100.0) percent = 100.0;
    ProgressView view{static_cast<int>(percent), -1};
    if (view.percent >= 1) view.position = inputs.visited > state->floor ? inputs.visited : state->floor;
    return view;
}

DWORD SlowFileWatch::Tick(const char* current, bool held) {
    if (std::strcmp(current, lastSeen_) != 0) {
        std::snprintf(lastSeen_, sizeof(lastSeen_), "%s", current);
        ticks_ = 0;
        return 0;
    }
    if (held) return 0;
    const DWORD record = ticks_ > kSlowFileTicks ? ticks_ : 0;
    ++ticks_;
    return record;
}

void ScanWindow::RefreshProgress() {
    elapsed_ = std::time(nullptr) - startTime_;
    char current[520];
    job_.CopyCurrentFile(current, sizeof(current));
    if (statusLine_ && current[0]) {
        char clock[16];
        FormatElapsed(elapsed_, clock, sizeof(clock));
        char status[1024];
        std::snprintf(status, sizeof(status), "%s | %s", clock, current);
        file_.SetText(status);
        if (DWORD ticks = slowFile_.Tick(current, job_.Held()))
            WriteRegDword(HKEY_LOCAL_MACHINE, kDelaysKey, current, ticks);
    }
    if (job_.progressFrozen) return;

    const StartupOptions& options = ProcessOptions();
    const ProgressInputs inputs{job_.filesVisited,           job_.total,
                                job_.provisionalTotal,       job_.countingDone != 0,
                                options.targetsGiven != 0,   options.systemAreas != 0};
    const ProgressView view = ComputeProgress(inputs, &progress_);
    if (view.position >= 0)
        ::SendMessageA(progressBar_.Handle(), PBM_SETPOS, static_cast<WPARAM>(view.position), 0);
    char text[16];
    std::snprintf(text, sizeof(text), "%d%%", view.percent);
    percent_.SetText(text);
}
