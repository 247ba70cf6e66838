#include "controls/memory_dc.h"

MemoryDC::MemoryDC(HDC target) : target_(target), area_{} {
    ::GetClipBox(target, &area_);
    Open();
}

MemoryDC::MemoryDC(HDC target, const RECT& area) : target_(target), area_(area) { Open(); }

void MemoryDC::Open() {
    // A printer gets its drawing directly: a screen-compatible bitmap of a
    // page would be both huge and of the wrong resolution.
    if (::GetDeviceCaps(target_, TECHNOLOGY) == DT_RASPRINTER) return;
    const int width = area_.right - area_.left;
    const int height = area_.bottom - area_.top;
    if (width <= 0 || height <= 0) return;

    memory_.reset(::CreateCompatibleDC(target_));
    if (memory_) bitmap_.reset(::CreateCompatibleBitmap(target_, width, height));
    if (!memory_ || !bitmap_) {
        // Without a surface, drawing straight to the target still paints.
        memory_.reset();
        bitmap_.reset();
        return;
    }
    previous_ = ::SelectObject(memory_.get(), bitmap_.get());
    ::SetWindowOrgEx(memory_.get(), area_.left, area_.top, nullptr);
    offScreen_ = true;
}

MemoryDC::~MemoryDC() {
    if (!offScreen_) return;
    ::BitBlt(target_, area_.left, area_.top, area_.right - area_.left, area_.bottom - area_.top, memory_.get(),
             area_.left, area_.top, SRCCOPY);
    ::SelectObject(memory_.get(), previous_);
}
