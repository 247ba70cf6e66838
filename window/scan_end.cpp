// The end of a scan: the window turns from progress to results, records the
// scan, and offers the cure or finishes; and the engine's start result.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/local_text.h"
#include "app/registry.h"
#include "app/startup.h"
#include "app/system_facilities.h"
#include "logs/log_records.h"
#include "resources/resource.h"
#include "window/result_texts.h"
#include "window/scan_window.h"

namespace {

constexpr size_t kTargetPartLimit = 250;

void Append(char* text, size_t size, const char* more) {
    const size_t used = strnlen(text, size);
    if (used + 1 < size) std::snprintf(text + used, size - used, "%s", more);
}

}  // namespace

void FormatCounts(const char* format, unsigned long first, unsigned long second, char* out, size_t size) {
    if (size == 0) return;
    const unsigned long numbers[2] = {first, second};
    int filled = 0;
    size_t used = 0;
    out[0] = '\0';
    for (const char* at = format; *at && used + 1 < size; ++at) {
        char piece[24] = {*at, '\0'};
        if (at[0] == '%' && at[1] == '%') {
            ++at;
        } else if (at[0] == '%' && (at[1] == 'd' || at[1] == 'u' || at[1] == 'i') && filled < 2) {
            std::snprintf(piece, sizeof(piece), "%lu", numbers[filled++]);
            ++at;
        }
        std::snprintf(out + used, size - used, "%s", piece);
        used = strnlen(out, size);
    }
}

bool ShouldWriteLastScan(int argumentCount, bool systemAreas, bool quickScan, bool hiddenWindow) {
    if (argumentCount <= 2) return !systemAreas;
    if (systemAreas && quickScan && argumentCount == 4) return false;
    if (!systemAreas) return true;
    return !hiddenWindow;
}

void AppendTargetPart(char* text, size_t size, const ScanTargetList& targets, bool allLocalDrives,
                      const char* fullScanText) {
    char part[300] = {};
    if (allLocalDrives) {
        std::snprintf(part, sizeof(part), "(%s)", fullScanText);
        Append(text, size, part);
        return;
    }
    char joined[260] = {};
    for (const ScanTarget& target : targets) {
        if (std::strlen(target.path) + std::strlen(joined) > kTargetPartLimit) {
            Append(joined, sizeof(joined), "......,");
            break;
        }
        Append(joined, sizeof(joined), target.path);
        Append(joined, sizeof(joined), ",");
    }
    if (joined[0] == '\0') return;
    *std::strrchr(joined, ',') = '\0';
    std::snprintf(part, sizeof(part), "(%s)", joined);
    Append(text, size, part);
}

void ScanWindow::OnScanEnded() {
    HWND window = Handle();
    ListReportedFindings();
    job_.progressFrozen = 1;
    job_.scanState = kStateScanEnded;
    findings_.SetFlatCheck(false);
    ::InvalidateRect(findings_.Handle(), nullptr, FALSE);
    RefreshProgress();
    ::KillTimer(window, kRefreshTimer);

    const DWORD visited = job_.filesVisited;
    if (visited >= 1) {
        HWND bar = progressBar_.Handle();
        const DWORD top = infections_ ? infections_ : 100;
        if (infections_) progressBar_.SetActive(false);
        ::SendMessageA(bar, PBM_SETRANGE32, 0, top);
        ::SendMessageA(bar, PBM_SETPOS, top, 0);
    }
    percent_.SetText("100%");

    const StartupOptions& options = ProcessOptions();
    char format[260];
    char summary[2048];
    GetLocalText("SCANNER", job_.cancel ? "SCANCANCEL" : "SCANFINISH", format, sizeof(format));
    FormatCounts(format, visited, infections_, summary, sizeof(summary));
    if (!job_.cancel && visited >= 1 &&
        ShouldWriteLastScan(__argc, options.systemAreas, options.quickScan, options.hiddenWindow)) {
        char now[32];
        FormatDateTime(now, nullptr);
        WriteRegString(HKEY_LOCAL_MACHINE, kStatusKey, "LastScan", now);
    }

    char clock[16];
    FormatElapsed(elapsed_, clock, sizeof(clock));
    char status[2048];
    std::snprintf(status, sizeof(status), "%s | %s", clock, summary);
    file_.SetText(status);

    char caption[260];
    char fullScan[260];
    GetLocalText("MAIN", "sch_fullscan", fullScan, sizeof(fullScan));
    if (infections_ >= 1) {
        SetCaption(pause_, "CURE");
        ::ShowWindow(pause_.Handle(), SW_SHOW);
        pauseMode_ = 0;
        SetCaption(cancel_, "CANCEL");
        FocusOn(pause_.Handle());
    } else {
        ::ShowWindow(pause_.Handle(), SW_HIDE);
        KeepFocus(pause_.Handle());
        SetCaption(cancel_, "FINISH");
        job_.scanState = kStateFinished;
    }
    ::GetWindowTextA(cancel_.Handle(), caption, sizeof(caption));
    Append(summary, sizeof(summary), caption);
    AppendTargetPart(summary, sizeof(summary), job_.targets, options.allLocalDrives, fullScan);
    RecordEvent(summary);

    if (infections_ >= 1) {
        if (options.hiddenWindow) ::ShowWindow(window, SW_SHOW);
        if (options.autoCure) PauseOrCure();
    } else if (check_.GetChecked() || options.closeWhenClean || options.hiddenWindow) {
        OnCancel();
    }
}

void ScanWindow::ShowEngineFailure() {
    ::KillTimer(Handle(), kRefreshTimer);
    char text[260];
    GetLocalText("SCANNER", "ENGININITFAILED", text, sizeof(text));
    file_.SetText(text);
    SetCaption(cancel_, "FINISH");
    job_.scanState = kStateFinished;
}

void ScanWindow::OnEngineResult(WPARAM started) {
    if (started == 0) {
        ShowEngineFailure();
        return;
    }
    // A scan runs once per window: never a second ScanThread over the list.
    if (job_.ScanThreadStarted() || !job_.engine.scanFile) return;
    job_.scanState = kStateStarting;
    statusLine_ = 1;
    ::InvalidateRect(Handle(), nullptr, FALSE);
    job_.StartScanThread();
}
