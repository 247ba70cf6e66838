#include "framework/control.h"

namespace fw {

Control::~Control() { Detach(); }

bool Control::Attach(HWND dialog, int id) {
    Detach();
    HWND window = ::GetDlgItem(dialog, id);
    // The system's controls leave GWLP_USERDATA to their users.
    if (!window || ::GetWindowLongPtrW(window, GWLP_USERDATA) != 0) return false;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // Set through the W call, the procedure sees messages as the class's own
    // procedure does.
    classProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Control::WindowProc)));
    if (!classProc_) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return false;
    }
    window_ = window;
    id_ = id;
    return true;
}

void Control::Detach() {
    if (window_) {
        ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(classProc_));
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    }
    window_ = nullptr;
    classProc_ = nullptr;
}

LRESULT Control::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) { return Default(message, wParam, lParam); }

LRESULT Control::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcW(classProc_, window_, message, wParam, lParam);
}

LRESULT CALLBACK Control::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Control*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        LRESULT result = self->Default(message, wParam, lParam);
        self->Detach();
        return result;
    }
    return self->OnMessage(message, wParam, lParam);
}

bool ReflectToControl(HWND child, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (!child || ::GetWindowLongPtrW(child, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&Control::WindowProc))
        return false;
    *result = ::SendMessageA(child, kReflectBase + message, wParam, lParam);
    return true;
}

}  // namespace fw
