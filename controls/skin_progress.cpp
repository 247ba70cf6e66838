#include "controls/skin_progress.h"

#include <commctrl.h>

#include "controls/memory_dc.h"

namespace {
constexpr COLORREF kPanel = RGB(245, 245, 245);
constexpr COLORREF kFrame = RGB(171, 171, 171);

HBITMAP LoadFill(int id) { return ::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)); }
}  // namespace

bool SkinProgress::Attach(HWND dialog, int id) {
    if (!fw::Control::Attach(dialog, id)) return false;
    activeFill_.reset(LoadFill(kActiveBitmap));
    idleFill_.reset(LoadFill(kIdleBitmap));
    return true;
}

void SkinProgress::SetFillBitmaps(fw::UniqueBitmap active, fw::UniqueBitmap idle) {
    activeFill_ = std::move(active);
    idleFill_ = std::move(idle);
}

void SkinProgress::SetActive(bool active) {
    active_ = active;
    ::InvalidateRect(Handle(), nullptr, TRUE);
    ::UpdateWindow(Handle());
}

int SkinProgress::FilledWidth() const {
    RECT client;
    ::GetClientRect(Handle(), &client);
    PBRANGE range = {};
    ::SendMessageA(Handle(), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    const long long position = static_cast<int>(::SendMessageA(Handle(), PBM_GETPOS, 0, 0));
    // An empty or reversed range has nothing to measure against.
    const long long span = static_cast<long long>(range.iHigh) - range.iLow;
    if (range.iHigh == 0 || span <= 0) return 0;
    // 64-bit: a count of millions of files times the bar's width overflows 32 bits.
    long long width = client.right * (position - range.iLow) / span;
    if (width < 0) width = 0;
    if (width > client.right) width = client.right;
    return static_cast<int>(width);
}

void SkinProgress::Paint(HDC target) {
    RECT client;
    ::GetClientRect(Handle(), &client);
    if (client.right <= 0 || client.bottom <= 0) return;
    MemoryDC surface(target, client);
    HDC dc = surface.get();

    fw::UniqueBrush panel(::CreateSolidBrush(kPanel));
    fw::UniqueBrush frame(::CreateSolidBrush(kFrame));
    ::FillRect(dc, &client, panel.get());
    ::FrameRect(dc, &client, frame.get());

    const int width = FilledWidth();
    if (width < 3) return;
    HBITMAP fill = active_ ? activeFill_.get() : idleFill_.get();
    if (!fill) {
        RECT column = {1, client.top + 1, width - 1, client.bottom - 1};
        fw::UniqueBrush plain(::CreateSolidBrush(active_ ? kActiveFallback : kIdleFallback));
        ::FillRect(dc, &column, plain.get());
        return;
    }
    fw::UniqueDc source(::CreateCompatibleDC(target));
    fw::SelectGuard selected(source.get(), fill);
    // The strip is as high as the bar; the bitmap's own height limits what shows.
    for (int x = 1; x <= width - 2; ++x)
        ::BitBlt(dc, x, client.top + 1, 1, client.bottom, source.get(), 0, 0, SRCCOPY);
}

LRESULT SkinProgress::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
    case WM_PRINTCLIENT:
        fw::PaintMessage(Handle(), message, wParam, [this](HDC dc) { Paint(dc); });
        return 0;
    default:
        return Default(message, wParam, lParam);
    }
}
