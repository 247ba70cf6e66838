#include "framework/control.h"

#include <commctrl.h>

namespace fw {

namespace {
constexpr UINT_PTR kSubclassId = 0x6b78;  // identifies our subclass among others on the control
// Marks a bound control, so the dialog knows which children take reflected messages.
constexpr const char* kBoundProperty = "kx.Control";
}

Control::~Control() { Detach(); }

bool Control::Attach(HWND dialog, int id) {
    Detach();
    HWND window = ::GetDlgItem(dialog, id);
    if (!window || !::SetWindowSubclass(window, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    ::SetPropA(window, kBoundProperty, this);
    window_ = window;
    id_ = id;
    return true;
}

void Control::Detach() {
    if (window_) {
        ::RemoveWindowSubclass(window_, SubclassProc, kSubclassId);
        ::RemovePropA(window_, kBoundProperty);
    }
    window_ = nullptr;
}

LRESULT Control::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) { return Default(message, wParam, lParam); }

LRESULT Control::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefSubclassProc(window_, message, wParam, lParam);
}

LRESULT CALLBACK Control::SubclassProc(HWND, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<Control*>(data);
    if (message == WM_NCDESTROY) {
        LRESULT result = self->Default(message, wParam, lParam);
        self->Detach();
        return result;
    }
    return self->OnMessage(message, wParam, lParam);
}

bool ReflectToControl(HWND child, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (!child || !::GetPropA(child, kBoundProperty)) return false;
    *result = ::SendMessageA(child, kReflectBase + message, wParam, lParam);
    return true;
}

}  // namespace fw
