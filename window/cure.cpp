// The window's side of a cure pass: which rows the pass cures, each outcome
// shown in its row with the countdown of the progress, and the pass's end.
// The pass itself runs on the job's CureThread.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>

#include "resources/resource.h"
#include "scan/cure_pass.h"
#include "window/scan_window.h"

namespace {

// Messages from the cure thread to the window's thread.
constexpr UINT kMsgCureRowCount = WM_APP + 2;
constexpr UINT kMsgCureFinding = WM_APP + 3;

struct FindingRequest {
    int row;
    char (&name)[260];
    char (&path)[520];
};

}  // namespace

void ScanWindow::StartCurePass() {
    // A pass that is still stopping finishes its row first; the new pass
    // starts when it has ended, so that two passes never share the list.
    if (job_.CureRunning()) {
        restartCure_ = true;
        return;
    }
    job_.cureStop = 0;
    ::EnableWindow(pause_.Handle(), FALSE);
    KeepFocus(pause_.Handle());
    if (!job_.StartCure()) {
        ::EnableWindow(pause_.Handle(), TRUE);
        return;
    }
    ::SetTimer(Handle(), kCureRefreshTimer, kRefreshPeriodMs, nullptr);
}

int ScanWindow::CureRowCount() {
    HWND window = reportTo_;
    return window ? static_cast<int>(::SendMessageA(window, kMsgCureRowCount, 0, 0)) : 0;
}

bool ScanWindow::CureFinding(int row, char (&name)[260], char (&path)[520]) {
    FindingRequest request{row, name, path};
    HWND window = reportTo_;
    return window && ::SendMessageA(window, kMsgCureFinding, 0, reinterpret_cast<LPARAM>(&request)) != 0;
}

void ScanWindow::CureOutcome(int row, LONG result) {
    if (reportTo_) cureReport_ = {row, result, true};
}

void ScanWindow::CureEnded() {
    if (HWND window = reportTo_) ::SendMessageA(window, kMsgCureEnded, 0, 0);
}

// Also while the window closes: what is left uncured is told by the rows.
void ScanWindow::ShowReportedOutcome() {
    if (!cureReport_.due) return;
    cureReport_.due = false;
    ShowCureOutcome(cureReport_.row, cureReport_.result);
}

bool ScanWindow::OnCureMessage(UINT message, WPARAM, LPARAM lParam, LRESULT* answer) {
    switch (message) {
    case kMsgCureRowCount:
        *answer = closing_ ? 0 : findings_.Count();
        return true;
    case kMsgCureFinding: {
        ShowReportedOutcome();
        auto& request = *reinterpret_cast<FindingRequest*>(lParam);
        char code[260];
        findings_.GetItem(request.row, 3, code, sizeof(code));
        *answer = !closing_ && ::lstrcmpiA(code, "16") == 0 && findings_.IsChecked(request.row);
        if (*answer) {
            findings_.GetItem(request.row, 0, request.name, sizeof(request.name));
            findings_.GetItem(request.row, 1, request.path, sizeof(request.path));
        }
        return true;
    }
    }
    return false;
}

void ScanWindow::ShowCureOutcome(int row, LONG result) {
    HWND list = findings_.Handle();
    findings_.SetCureResult(row, CureOutcomeOf(result).row);
    // Past the sixth row the list follows the pass.
    if (row > 5) ++cureScrollRows_;
    LVITEMA state{};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(1);
    ::SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    // The row is painted with the others on the next tick.
    cureRowsChanged_ = true;
    ::ValidateRect(list, nullptr);

    // Only infections count towards the end, each once however often its
    // row is cured again.
    if (row >= 0 && static_cast<size_t>(row) < marks_.size()) {
        FindingMark& mark = marks_[marks_.size() - 1 - static_cast<size_t>(row)];
        if (mark.infection && !mark.handled) ++cured_;
        mark.handled = true;
    }
    const DWORD remaining = infections_ - cured_;
    if (remaining == 0 || remaining > infections_) {
        // Every infection handled: the bar shows full, the header box empty.
        progressBar_.SetActive(true);
        ::SendMessageA(progressBar_.Handle(), PBM_SETRANGE32, 0, 1);
        ::SendMessageA(progressBar_.Handle(), PBM_SETPOS, 1, 0);
        findings_.Header().SetHeaderChecked(false);
        ::InvalidateRect(findings_.Header().Handle(), nullptr, TRUE);
        percent_.SetText("");
    }
}

// The pass's tick: the scroll, the count-down of the bar and the percentage,
// and one repaint of the rows that changed since the last tick.
void ScanWindow::ShowCureProgress() {
    HWND list = findings_.Handle();
    if (cureScrollRows_ > 0) {
        RECT first{};
        first.left = LVIR_BOUNDS;
        ::SendMessageA(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
        ::SendMessageA(list, LVM_SCROLL, 0, cureScrollRows_ * (first.bottom - first.top));
        cureScrollRows_ = 0;
    }
    if (cureRowsChanged_) ::InvalidateRect(list, nullptr, TRUE);
    cureRowsChanged_ = false;

    const DWORD remaining = infections_ - cured_;
    if (remaining == 0 || remaining > infections_) return;
    ::SendMessageA(progressBar_.Handle(), PBM_SETPOS, remaining, 0);
    char text[16];
    std::snprintf(text, sizeof(text), "%u%%",
                  static_cast<unsigned>(static_cast<unsigned long long>(remaining) * 100 / infections_));
    percent_.SetText(text);
}

void ScanWindow::OnCureEnded() {
    ::KillTimer(Handle(), kCureRefreshTimer);
    ShowCureProgress();
    ::InvalidateRect(findings_.Handle(), nullptr, FALSE);
    ::EnableWindow(pause_.Handle(), TRUE);
    job_.scanState = kStateFinished;
    if (restartCure_) {
        restartCure_ = false;
        // The ended pass still has to leave its thread: start after this.
        if (infections_ > cured_) ::PostMessageA(Handle(), kMsgCureRestart, 0, 0);
    }
    if (infections_ > cured_) return;
    ::ShowWindow(pause_.Handle(), SW_HIDE);
    KeepFocus(pause_.Handle());
    SetCaption(cancel_, "FINISH");
}
