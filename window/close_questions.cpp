// Pause and resume, the questions the window asks before it stops a scan or
// leaves findings uncured, and the three ways to close it (cancel button,
// close button, close request) in each scan state.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "app/local_text.h"
#include "app/startup.h"
#include "logs/log_records.h"
#include "window/scan_window.h"

namespace {

constexpr UINT kQuestionStyle = MB_YESNO | MB_ICONEXCLAMATION;  // 0x34

int Ask(HWND window, const char* key, UINT style) {
    char text[260];
    GetLocalText("SCANNER", key, text, sizeof(text));
    return ::MessageBoxA(window, text, ProcessOptions().title, style);
}

std::string CellText(HWND list, int row, int column, int size) {
    std::string text(static_cast<size_t>(size), '\0');
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text.data();
    item.cchTextMax = size;
    const auto length = ::SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace

int ScanWindow::ConfirmStop() {
    if (Ask(Handle(), "SCANNIG", kQuestionStyle) != IDYES) return 0;
    job_.Cancel();
    return 1;
}

int ScanWindow::ConfirmLeaveFindings() {
    if (Ask(Handle(), "NotIncurable", kQuestionStyle) != IDYES) return 0;
    job_.cancel = 1;
    return 1;
}

int ScanWindow::MayClose() {
    if (infections_ <= cured_) return 1;
    if (!ConfirmLeaveFindings()) return 0;
    RecordUncured();
    return 1;
}

void ScanWindow::RecordUncured() {
    ::ShowWindow(Handle(), SW_HIDE);
    HWND list = findings_.Handle();
    const int rows = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = rows - 1; row >= 0; --row) {
        if (::lstrcmpiA(CellText(list, row, 3, 260).c_str(), "16") != 0) continue;
        RecordVirus(CellText(list, row, 0, 260).c_str(), CellText(list, row, 1, 520).c_str(), kActionUncured,
                    kSourceScanner);
    }
}

void ScanWindow::PauseOrCure() {
    if (pauseMode_ == 1) {
        // After a failed engine start there is no scan to hold.
        if (!ScanThreadExists()) return;
        if (paused_) {
            SetCaption(pause_, "PAUSE");
            job_.Release();
            paused_ = 0;
        } else {
            SetCaption(pause_, "RESTART");
            job_.Hold();
            paused_ = 1;
        }
        return;
    }
    if (infections_ == 0) return;
    if (findings_.CountChecked() >= 1) {
        StartCurePass();
        return;
    }
    Ask(Handle(), "SelectCure", MB_OK | MB_ICONINFORMATION);
}

// The scan is held while the question is open. A running scan runs on after
// either answer (after Yes, to its cancelled end); a paused one stays held
// after No.
void ScanWindow::AskToStop() {
    const bool running = !paused_ && ScanThreadExists();
    if (running) job_.Hold();
    ConfirmStop();
    if (running) job_.Release();
}

void ScanWindow::OnCloseCommand(CloseSource source) {
    const DWORD state = job_.scanState;
    // A window whose engine never started has no scan to ask about.
    if (state == kStateInitialising && !ScanThreadExists()) {
        OnCancel();
        return;
    }
    switch (state) {
    case kStateInitialising:
    case kStateStarting:
    case kStateScanning:
        AskToStop();
        return;
    case kStateScanEnded:
    case kStateFinished:
        if (MayClose()) OnCancel();
        return;
    case kStateCuring:
        job_.cureStop = 1;
        if (source == CloseSource::kCancelButton) return;
        if (ConfirmLeaveFindings()) {
            leaveUncured_ = true;
            OnCancel();
        } else {
            PauseOrCure();
        }
        return;
    default:
        OnCancel();
        return;
    }
}
