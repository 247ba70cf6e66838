#include "framework/dialog.h"

#include "framework/app.h"
#include "framework/control.h"

namespace fw {

namespace {
// The dialog whose modal loop runs on this thread, for the message filter hook.
thread_local Dialog* t_modal = nullptr;
thread_local HHOOK t_filterHook = nullptr;
}  // namespace

Dialog::Dialog(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

INT_PTR Dialog::DoModal() {
    // The system's modal loop offers each message to WH_MSGFILTER hooks before
    // it translates it; that is where PreTranslateMessage gets its turn.
    Dialog* outer = t_modal;
    HHOOK outerHook = t_filterHook;
    t_modal = this;
    t_filterHook = ::SetWindowsHookExA(WH_MSGFILTER, MessageFilter, nullptr, ::GetCurrentThreadId());
    HINSTANCE instance = App::Current() ? App::Current()->Instance() : ::GetModuleHandleA(nullptr);
    INT_PTR result = ::DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId_), parent_, DialogProc,
                                       reinterpret_cast<LPARAM>(this));
    if (t_filterHook) ::UnhookWindowsHookEx(t_filterHook);
    t_modal = outer;
    t_filterHook = outerHook;
    window_ = nullptr;
    return result;
}

void Dialog::EndDialog(INT_PTR result) {
    if (window_) ::EndDialog(window_, result);
}

bool Dialog::PreTranslateMessage(MSG*) { return false; }

INT_PTR Dialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        if (lParam == 0 || reinterpret_cast<HWND>(lParam) == ::GetDlgItem(window_, LOWORD(wParam))) {
            if (LOWORD(wParam) == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
            if (LOWORD(wParam) == IDOK) {
                OnOK();
                return TRUE;
            }
        }
        break;
    }
    return Default(message, wParam, lParam);
}

INT_PTR Dialog::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND child = nullptr;
    switch (message) {
    case WM_DRAWITEM:
        child = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem;
        break;
    case WM_MEASUREITEM:
        child = ::GetDlgItem(window_, static_cast<int>(reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam)->CtlID));
        break;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        child = reinterpret_cast<HWND>(lParam);
        break;
    case WM_COMMAND:
        child = reinterpret_cast<HWND>(lParam);
        break;
    case WM_NOTIFY:
        child = reinterpret_cast<const NMHDR*>(lParam)->hwndFrom;
        break;
    default:
        return FALSE;
    }
    LRESULT answer = 0;
    if (!ReflectToControl(child, message, wParam, lParam, &answer)) return FALSE;
    if (message == WM_NOTIFY || message == WM_MEASUREITEM || message == WM_DRAWITEM)
        ::SetWindowLongPtrA(window_, DWLP_MSGRESULT, answer);
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) return static_cast<INT_PTR>(answer);
    return answer != 0 || message == WM_NOTIFY;
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->window_ = window;
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(window, DWLP_USER));
    }
    if (!self) return FALSE;
    return self->OnMessage(message, wParam, lParam);
}

LRESULT CALLBACK Dialog::MessageFilter(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX && t_modal && t_modal->PreTranslateMessage(reinterpret_cast<MSG*>(lParam)))
        return 1;
    return ::CallNextHookEx(t_filterHook, code, wParam, lParam);
}

}  // namespace fw
