// Modal dialog on a resource template. Each dialog class handles its messages
// in one virtual OnMessage switch; `this` travels in DialogBoxParam's parameter.
#pragma once

#include <windows.h>

namespace fw {

class Dialog {
public:
    Dialog(UINT templateId, HWND parent);
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Shows the dialog and returns when it has ended; the result passed to
    // EndDialog, or -1 when the dialog could not be created.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);
    HWND Handle() const { return window_; }

protected:
    // Returns the dialog procedure's answer. Unhandled messages return
    // Default(), which reflects owner-draw, colour and notification messages
    // to the bound control that owns them.
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Default(UINT message, WPARAM wParam, LPARAM lParam);

    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnOK() { EndDialog(IDOK); }

    // Sees every message of the modal loop before it is dispatched; true
    // swallows the message.
    virtual bool PreTranslateMessage(MSG* msg);

private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK MessageFilter(int code, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND parent_;
    HWND window_ = nullptr;
};

}  // namespace fw
