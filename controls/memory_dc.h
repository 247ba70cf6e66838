// An off-screen surface for one paint: everything drawn into it lands in a
// bitmap, and the finished picture reaches the target in one block when the
// surface ends, so a control's several drawing steps never show half-done.
//
//     PAINTSTRUCT ps;
//     HDC target = ::BeginPaint(window, &ps);
//     {
//         MemoryDC dc(target);          // or MemoryDC dc(target, rect)
//         ::FillRect(dc.get(), ...);        // target's logical coordinates
//     }                                     // copied to target here
//     ::EndPaint(window, &ps);
//
// Callers paint every pixel of the area they need: a new surface holds
// whatever a fresh compatible bitmap holds.
#pragma once

#include <windows.h>

#include "framework/handles.h"

class MemoryDC {
public:
    // Covers the target's clip box.
    explicit MemoryDC(HDC target);
    // Covers `area`, in the target's logical coordinates.
    MemoryDC(HDC target, const RECT& area);
    ~MemoryDC();
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;

    // The context to draw into: the surface, or the target itself when the
    // drawing goes straight to it (printer, or no surface could be made).
    HDC get() const { return offScreen_ ? memory_.get() : target_; }
    const RECT& Area() const { return area_; }
    bool OffScreen() const { return offScreen_; }

private:
    void Open();

    HDC target_;  // not owned
    RECT area_;
    fw::UniqueBitmap bitmap_;
    fw::UniqueDc memory_;  // declared after bitmap_: deleted first
    HGDIOBJ previous_ = nullptr;
    bool offScreen_ = false;
};
