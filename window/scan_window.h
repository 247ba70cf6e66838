// The program's only window: a modal dialog on template 102 that holds the
// state the scan, the findings list and the cure share.
#pragma once

#include <windows.h>

#include "framework/dialog.h"

class ScanWindow : public fw::Dialog {
public:
    explicit ScanWindow(HWND parent);

protected:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;
    bool PreTranslateMessage(MSG* msg) override;

private:
    HICON icon_;
};
