#include "window/scan_window.h"

#include "app/startup.h"
#include "framework/app.h"
#include "resources/resource.h"

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
    return TRUE;
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
    }
    return fw::Dialog::OnMessage(message, wParam, lParam);
}
