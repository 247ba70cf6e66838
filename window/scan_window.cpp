#include "window/scan_window.h"

#include <cstring>

#include "app/startup.h"
#include "framework/app.h"
#include "resources/resource.h"
#include "scan/scan_job.h"

namespace {
constexpr int kWindowWidth = 594;
constexpr int kWindowHeight = 300;
}  // namespace

ScanWindow::ScanWindow(HWND parent)
    : fw::Dialog(IDD_SCAN_WINDOW, parent),
      icon_(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN))) {}

BOOL ScanWindow::OnInitDialog() {
    HWND window = Handle();
    if (fw::App* app = fw::App::Current()) app->SetMainWindow(window);
    ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    ::SetWindowLongPtrA(window, GWL_STYLE, ::GetWindowLongPtrA(window, GWL_STYLE) | WS_SYSMENU | WS_MINIMIZEBOX);
    ::SetWindowTextA(window, ProcessOptions().title);

    RECT work{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    ::SetWindowPos(window, nullptr, work.left + (work.right - work.left - kWindowWidth) / 2,
                   work.top + (work.bottom - work.top - kWindowHeight) / 2, kWindowWidth, kWindowHeight,
                   SWP_NOZORDER);

    if (!StartScan(this) && ProcessOptions().hiddenWindow) ::SendMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

void ScanWindow::SetCurrentFile(const char* path) {
    std::lock_guard<std::mutex> lock(currentFileLock_);
    size_t length = strnlen(path, sizeof(currentFile_) - 1);
    std::memcpy(currentFile_, path, length);
    currentFile_[length] = '\0';
}

void ScanWindow::CopyCurrentFile(char* buffer, size_t size) const {
    if (size == 0) return;
    std::lock_guard<std::mutex> lock(currentFileLock_);
    size_t length = strnlen(currentFile_, size - 1);
    std::memcpy(buffer, currentFile_, length);
    buffer[length] = '\0';
}

void AddFinding(ScanWindow* window, LONG result, LONG, const char*) {
    if (result != -1 && (result & (0x0001 | 0x0002 | 0x0004))) ++window->infections;
}

bool ScanWindow::PreTranslateMessage(MSG* msg) {
    // Neither key may close or confirm the window.
    return msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN);
}

INT_PTR ScanWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CLOSE:
        case IDC_CANCEL_SCAN:
            OnCancel();
            return TRUE;
        case IDC_MINIMIZE:
            ::ShowWindow(Handle(), SW_MINIMIZE);
            return TRUE;
        }
        break;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
    case WM_DESTROY:
        // The workers use the engine and this object: both must be done first.
        StopScanThreads(this);
        UnloadScanEngine();
        break;
    case kMsgScanEnded:
        scanState = kStateScanEnded;
        return TRUE;
    case kMsgCountingDone:
        countingDone = 1;
        ::SetWindowLongPtrA(Handle(), DWLP_MSGRESULT, 0);
        return TRUE;
    }
    return fw::Dialog::OnMessage(message, wParam, lParam);
}
