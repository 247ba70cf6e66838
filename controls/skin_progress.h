// The scan window's progress bar: the platform control keeps range and
// position, the bar paints itself as a light panel with a grey frame, filled
// from the left with the first pixel column of a skin bitmap (one for a
// running scan, one for idle).
#pragma once

#include <windows.h>

#include "framework/control.h"
#include "framework/handles.h"

class SkinProgress : public fw::Control {
public:
    static constexpr int kActiveBitmap = 140;
    static constexpr int kIdleBitmap = 144;
    // Shown when a fill bitmap is missing, so that progress stays visible.
    static constexpr COLORREF kActiveFallback = RGB(0, 150, 150);
    static constexpr COLORREF kIdleFallback = RGB(150, 150, 150);

    // Binds the control `id` of `dialog` and loads the fill bitmaps 140 and
    // 144 from the program's resources.
    bool Attach(HWND dialog, int id);
    // Replaces the fill bitmaps; an empty one falls back to its plain colour.
    void SetFillBitmaps(fw::UniqueBitmap active, fw::UniqueBitmap idle);

    // Active or idle fill; redraws at once.
    void SetActive(bool active);
    bool Active() const { return active_; }

    // Pixels of the client width covered by the fill for the control's
    // current range and position.
    int FilledWidth() const;

    // Draws the bar into `target`, whose origin is the bar's client origin.
    void Paint(HDC target);

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    bool active_ = true;
    fw::UniqueBitmap activeFill_;
    fw::UniqueBitmap idleFill_;
};
