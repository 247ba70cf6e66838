// The window's static texts. The label paints its text itself over a copy of
// the skin that lies under it, so the text stands on the background bitmap
// without a box.
#pragma once

#include <windows.h>

#include "framework/control.h"
#include "framework/handles.h"

class SkinLabel : public fw::Control {
public:
    // Room for the longest text the window shows: the end-of-scan summary
    // with its time in front (2047 characters), so that a long path is
    // shortened by the path ellipsis, never cut.
    static constexpr int kTextSize = 2048;

    // Binds the control `id` of `dialog` and gives the label its own font.
    bool Attach(HWND dialog, int id);

    // Stores and shows `text` unless it equals the current text without
    // regard to case. A text too long for the label is cut at a character
    // boundary.
    void SetText(const char* text);
    // Makes the own font a copy of `font`; a null font changes nothing.
    void SetFontFrom(HFONT font, bool redraw);
    void SetLabelColor(COLORREF color, bool redraw);
    // Weight 700 or 400 on the font the window reports (the template's font),
    // not on the own font.
    void SetBold(bool bold, bool redraw);

    const char* Text() const { return text_; }
    HFONT Font() const { return font_.get(); }
    COLORREF LabelColor() const { return color_; }
    bool Bold() const { return bold_; }

    // Draws the label into `target`, whose origin is the label's client origin.
    void Paint(HDC target);

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Redraw();
    void TakeSnapshot(int width, int height);

    fw::UniqueFont font_;
    COLORREF color_ = ::GetSysColor(COLOR_BTNTEXT);
    bool bold_ = false;
    char text_[kTextSize] = {};
    // What the parent showed under the label at its first paint.
    fw::UniqueBitmap snapshotBitmap_;
    fw::UniqueDc snapshot_;  // declared after its bitmap: deleted first
};
