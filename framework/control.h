// A dialog control bound to its window by identifier. The control sees its own
// messages through a window procedure put in front of its class's, and the
// messages its parent receives on its behalf (owner-draw, colour,
// notifications) come back reflected as kReflectBase + message, in the manner
// of OCM_ messages.
//
// The binding lives in the window's GWLP_USERDATA and GWLP_WNDPROC, not in a
// window property: under Wine every property lookup is a call to the
// wineserver, and the common controls' subclass chain makes two of them for
// each message, which came to 20-35 us per message to the findings list.
#pragma once

#include <windows.h>

namespace fw {

constexpr UINT kReflectBase = WM_USER + 0x1c00;  // OCM__BASE

class Control {
public:
    Control() = default;
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Subclasses the control `id` of `dialog`. False when there is no such
    // control, or when another object is bound to it.
    bool Attach(HWND dialog, int id);
    void Detach();

    HWND Handle() const { return window_; }
    int Id() const { return id_; }

protected:
    // The control's window procedure: a switch over the messages it handles;
    // everything else goes to Default.
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

private:
    friend bool ReflectToControl(HWND, UINT, WPARAM, LPARAM, LRESULT*);
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);

    HWND window_ = nullptr;
    WNDPROC classProc_ = nullptr;
    int id_ = 0;
};

// Answers WM_PAINT (between BeginPaint and EndPaint) and WM_PRINTCLIENT (on
// the DC it brings) by calling paint(dc), for controls that draw themselves.
template <typename PaintFunction>
void PaintMessage(HWND window, UINT message, WPARAM wParam, PaintFunction paint) {
    if (message == WM_PRINTCLIENT) {
        paint(reinterpret_cast<HDC>(wParam));
        return;
    }
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(window, &ps);
    if (dc) paint(dc);
    ::EndPaint(window, &ps);
}

// Sends a reflectable parent message to the bound control that owns it.
// Returns true with the control's answer when the child is a bound control.
bool ReflectToControl(HWND child, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

}  // namespace fw
