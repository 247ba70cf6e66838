#include "controls/skin_button.h"

#include <commctrl.h>

#include "controls/memory_dc.h"

namespace {

// Builds the monochrome mask of `bitmap` (white where it has colour `key`)
// and blackens those pixels in the bitmap, ready for an AND-then-OR draw.
fw::UniqueBitmap BuildMask(HBITMAP bitmap, int width, int height, COLORREF key) {
    fw::UniqueBitmap mask(::CreateBitmap(width, height, 1, 1, nullptr));
    fw::UniqueDc colourDc(::CreateCompatibleDC(nullptr));
    fw::UniqueDc maskDc(::CreateCompatibleDC(nullptr));
    if (!mask || !colourDc || !maskDc) return fw::UniqueBitmap();
    fw::SelectGuard colourSel(colourDc.get(), bitmap);
    fw::SelectGuard maskSel(maskDc.get(), mask.get());
    ::SetBkColor(colourDc.get(), key);
    if (!::BitBlt(maskDc.get(), 0, 0, width, height, colourDc.get(), 0, 0, SRCCOPY)) return fw::UniqueBitmap();
    ::SetTextColor(colourDc.get(), RGB(255, 255, 255));
    ::SetBkColor(colourDc.get(), RGB(0, 0, 0));
    if (!::BitBlt(colourDc.get(), 0, 0, width, height, maskDc.get(), 0, 0, SRCAND)) return fw::UniqueBitmap();
    return mask;
}

// Offset that centres an image of `size` in the span [low, high).
int Centre(int low, int high, int size) { return low + (high - low - size) / 2; }

}  // namespace

SkinButton::SkinButton() {
    colors_[BackHover] = ::GetSysColor(COLOR_BTNFACE);
    colors_[TextHover] = ::GetSysColor(COLOR_BTNTEXT);
    colors_[BackNormal] = ::GetSysColor(COLOR_BTNFACE);
    colors_[TextNormal] = ::GetSysColor(COLOR_BTNTEXT);
    colors_[TextFocus] = ::GetSysColor(COLOR_BTNTEXT);
}

bool SkinButton::Attach(HWND parent, int id) {
    if (!fw::Control::Attach(parent, id)) return false;
    const UINT type = static_cast<UINT>(::GetWindowLongA(Handle(), GWL_STYLE)) & 0xFF;
    checkBox_ = (type & 2) != 0;
    // Only the type bits change: or-ing owner-draw into a radio-button type
    // would give a type that is not owner-draw at all.
    ::SendMessageA(Handle(), BM_SETSTYLE, (type & ~BS_TYPEMASK) | BS_OWNERDRAW, TRUE);
    return true;
}

int SkinButton::SetStateBitmaps(UINT normalId, COLORREF normalKey, UINT hoverId, COLORREF hoverKey,
                                UINT disabledId, COLORREF disabledKey, UINT pressedId, COLORREF pressedKey) {
    const UINT ids[BitmapCount] = {normalId, hoverId, disabledId, pressedId};
    const COLORREF keys[BitmapCount] = {normalKey, hoverKey, disabledKey, pressedKey};
    HBITMAP bitmaps[BitmapCount] = {};
    HINSTANCE module = ::GetModuleHandleA(nullptr);
    for (int i = 0; i < BitmapCount; ++i) {
        if (ids[i] != 0) bitmaps[i] = ::LoadBitmapA(module, MAKEINTRESOURCEA(ids[i]));
    }
    bool missing = false;
    for (int i = 0; i < BitmapCount; ++i) missing = missing || (ids[i] != 0 && !bitmaps[i]);
    if (missing) {
        for (HBITMAP bitmap : bitmaps) {
            if (bitmap) ::DeleteObject(bitmap);
        }
        ReleaseImages();
        return 1;
    }
    return SetStateBitmapHandles(bitmaps, keys);
}

int SkinButton::SetStateBitmapHandles(const HBITMAP (&bitmaps)[BitmapCount], const COLORREF (&keys)[BitmapCount]) {
    ReleaseImages();
    for (int i = 0; i < BitmapCount; ++i) bitmaps_[i].bitmap.reset(bitmaps[i]);
    for (BitmapSlotData& slot : bitmaps_) {
        if (!slot.bitmap) continue;
        BITMAP info{};
        if (!::GetObjectA(slot.bitmap.get(), sizeof(info), &info)) {
            ReleaseImages();
            return 1;
        }
        slot.width = info.bmWidth;
        slot.height = info.bmHeight;
    }
    for (int i = 0; i < BitmapCount; ++i) {
        BitmapSlotData& slot = bitmaps_[i];
        if (!slot.bitmap) continue;
        slot.key = keys[i];
        slot.mask = BuildMask(slot.bitmap.get(), slot.width, slot.height, slot.key);
        if (!slot.mask) {
            ReleaseImages();
            return 2;
        }
    }
    RedrawNow();
    return 0;
}

int SkinButton::SetIcons(HICON in, HICON out, HICON disabled) {
    ReleaseImages();
    const HICON given[IconCount] = {in, out, disabled};
    for (int i = 0; i < IconCount; ++i) icons_[i].icon.reset(given[i]);
    for (IconSlotData& slot : icons_) {
        if (!slot.icon) continue;
        ICONINFO info{};
        if (!::GetIconInfo(slot.icon.get(), &info)) {
            ReleaseImages();
            return 1;
        }
        slot.width = static_cast<int>(info.xHotspot) * 2;
        slot.height = static_cast<int>(info.yHotspot) * 2;
        if (info.hbmMask) ::DeleteObject(info.hbmMask);
        if (info.hbmColor) ::DeleteObject(info.hbmColor);
    }
    RedrawNow();
    return 0;
}

int SkinButton::SetCursorId(UINT_PTR cursorId) {
    cursor_ = nullptr;
    if (cursorId == 0) return 1;
    cursor_ = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(cursorId));
    return cursor_ ? 1 : 0;
}

int SkinButton::SetColor(int index, COLORREF colour, bool repaint) {
    const BYTE slot = static_cast<BYTE>(index);
    if (slot >= ColorCount) return 3;
    colors_[slot] = colour;
    if (repaint) Invalidate(true);
    return 0;
}

void SkinButton::SetButtonFont(HFONT font) { font_ = font; }

void SkinButton::SetChecked(bool state, bool repaint) {
    if (!checkBox_) return;
    checked_ = state;
    if (repaint) Invalidate(true);
}

bool SkinButton::PreTranslateMessage(MSG* msg) {
    if (!Handle() || msg->hwnd != Handle()) return false;
    if (!tooltip_) {
        tooltip_.reset(::CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                                         ::GetModuleHandleA(nullptr), nullptr));
        if (!tooltip_) return false;
        ::SendMessageA(tooltip_.get(), TTM_ACTIVATE, FALSE, 0);
        ::SendMessageA(tooltip_.get(), TTM_SETMAXTIPWIDTH, 0, 400);
    }
    ::SendMessageA(tooltip_.get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
    return false;
}

LRESULT SkinButton::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case fw::kReflectBase + WM_DRAWITEM:
        DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case fw::kReflectBase + WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(::GetStockObject(HOLLOW_BRUSH));
    case fw::kReflectBase + WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && checkBox_) {
            checked_ = !checked_;
            Invalidate(true);
        }
        return 0;
    case WM_LBUTTONDBLCLK:
        return Default(WM_LBUTTONDOWN, wParam, lParam);
    case WM_MOUSEMOVE:
        OnMouseMove(wParam, lParam);
        return 0;
    case WM_CAPTURECHANGED:
        // The button proc takes the capture again on a press; that is not a loss.
        if (hover_ && reinterpret_cast<HWND>(lParam) != Handle()) {
            if (::GetCapture() == Handle()) ::ReleaseCapture();
            Invalidate(true);
        }
        return Default(message, wParam, lParam);
    case WM_KILLFOCUS:
    case WM_CANCELMODE: {
        LRESULT result = Default(message, wParam, lParam);
        CancelHover();
        return result;
    }
    case WM_ACTIVATE: {
        LRESULT result = Default(message, wParam, lParam);
        if (LOWORD(wParam) == WA_INACTIVE) CancelHover();
        return result;
    }
    case WM_ENABLE: {
        LRESULT result = Default(message, wParam, lParam);
        if (!wParam) CancelHover();
        return result;
    }
    case WM_SETCURSOR:
        if (cursor_) {
            ::SetCursor(cursor_);
            return TRUE;
        }
        return Default(message, wParam, lParam);
    case WM_DESTROY:
        // The tooltip is owned by the top-level window, so it would outlive the button.
        tooltip_.reset();
        return Default(message, wParam, lParam);
    }
    return Default(message, wParam, lParam);
}

void SkinButton::OnMouseMove(WPARAM flags, LPARAM position) {
    Default(WM_MOUSEMOVE, flags, position);
    const bool leftHeld = (flags & MK_LBUTTON) != 0;
    if (leftHeld && !hover_) return;
    HWND self = Handle();
    if (::GetCapture() != self) {
        HWND parent = ::GetParent(self);
        if (::GetActiveWindow() && parent) {
            hover_ = true;
            ::SetCapture(self);
            Invalidate(true);
        }
        return;
    }
    POINT point{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    ::ClientToScreen(self, &point);
    HWND under = ::WindowFromPoint(point);
    if (!under || under == self) return;
    if (hover_) {
        hover_ = false;
        Invalidate(true);
    }
    if (!leftHeld) ::ReleaseCapture();
}

void SkinButton::CancelHover() {
    if (!hover_) return;
    hover_ = false;
    Invalidate(true);
}

void SkinButton::DrawBackground(HDC dc, const RECT& rect) {
    fw::UniqueBrush brush(::CreateSolidBrush(hover_ || pressed_ ? colors_[BackHover] : colors_[BackNormal]));
    ::FillRect(dc, &rect, brush.get());
}

void SkinButton::DrawItem(const DRAWITEMSTRUCT& item) {
    MemoryDC surface(item.hDC);
    HDC dc = surface.get();
    fw::SelectGuard font(dc, font_ ? static_cast<HGDIOBJ>(font_) : ::GetStockObject(DEFAULT_GUI_FONT));

    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    pressed_ = checkBox_ ? (selected || checked_) : selected;
    disabled_ = (item.itemState & ODS_DISABLED) != 0;

    ::SetBkMode(dc, TRANSPARENT);
    DrawBackground(dc, item.rcItem);

    char text[260] = "";
    ::GetWindowTextA(Handle(), text, sizeof(text));
    RECT caption = item.rcItem;

    if (icons_[IconIn].icon) DrawIcon(dc, item.rcItem, text[0] != '\0', &caption);
    if (bitmaps_[BitmapNormal].bitmap) DrawStateBitmap(dc, item.rcItem);
    if (text[0] != '\0') DrawCaption(dc, text, caption);
    // Where the keyboard is, unless the system hides the mark until a key is used.
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
        RECT mark = item.rcItem;
        ::InflateRect(&mark, -2, -2);
        ::SetTextColor(dc, RGB(0, 0, 0));
        ::SetBkColor(dc, RGB(255, 255, 255));
        ::DrawFocusRect(dc, &mark);
    }
}

void SkinButton::DrawIcon(HDC dc, const RECT& item, bool hasCaption, RECT* caption) const {
    int slot = IconIn;
    const bool wantIn = checkBox_ ? pressed_ : (hover_ || pressed_);
    if (!wantIn && icons_[IconOut].icon) slot = IconOut;
    if (disabled_) slot = IconDisabled;
    const IconSlotData& icon = icons_[slot];
    if (!icon.icon) return;

    int x;
    if (hasCaption) {
        x = item.left + 3;
        caption->left += icon.width + 3;
    } else {
        x = Centre(item.left, item.right, icon.width);
    }
    const int y = Centre(item.top, item.bottom, icon.height);
    ::DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon.icon.get()), 0, x, y, item.right - x,
                 item.bottom - y, DST_ICON | DSS_NORMAL);
}

void SkinButton::DrawStateBitmap(HDC dc, const RECT& item) const {
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::SetTextColor(dc, RGB(0, 0, 0));
    int slot = BitmapNormal;
    if (pressed_)
        slot = BitmapPressed;
    else if (checkBox_ || hover_)
        slot = BitmapHover;
    if (!bitmaps_[slot].bitmap) slot = BitmapNormal;
    if (disabled_) slot = bitmaps_[BitmapDisabled].bitmap ? BitmapDisabled : BitmapNormal;
    const BitmapSlotData& bitmap = bitmaps_[slot];

    const int x = Centre(item.left, item.right, bitmap.width);
    const int y = Centre(item.top, item.bottom, bitmap.height);
    fw::UniqueDc source(::CreateCompatibleDC(dc));
    if (!source) return;
    {
        fw::SelectGuard mask(source.get(), bitmap.mask.get());
        ::BitBlt(dc, x, y, bitmap.width, bitmap.height, source.get(), 0, 0, SRCAND);
    }
    fw::SelectGuard colour(source.get(), bitmap.bitmap.get());
    ::BitBlt(dc, x, y, bitmap.width, bitmap.height, source.get(), 0, 0, SRCPAINT);
}

void SkinButton::DrawCaption(HDC dc, const char* text, RECT caption) const {
    if (pressed_ && !checkBox_) ::OffsetRect(&caption, 1, 1);
    RECT measured = caption;
    ::DrawTextA(dc, text, -1, &measured, DT_WORDBREAK | DT_CENTER | DT_CALCRECT);
    ::OffsetRect(&measured, ((caption.left - measured.left) + (caption.right - measured.right)) / 2,
                 ((caption.top - measured.top) + (caption.bottom - measured.bottom)) / 2);

    if (disabled_) {
        RECT shadow = measured;
        ::OffsetRect(&shadow, 1, 1);
        ::SetTextColor(dc, ::GetSysColor(COLOR_3DHILIGHT));
        ::DrawTextA(dc, text, -1, &shadow, DT_WORDBREAK | DT_CENTER);
        ::SetTextColor(dc, RGB(127, 127, 127));
        ::DrawTextA(dc, text, -1, &measured, DT_WORDBREAK | DT_CENTER);
        return;
    }
    ::SetTextColor(dc, hover_ ? colors_[TextHover] : colors_[TextNormal]);
    ::SetBkColor(dc, hover_ ? colors_[BackHover] : colors_[BackNormal]);
    ::DrawTextA(dc, text, -1, &measured, DT_WORDBREAK | DT_CENTER);
}

void SkinButton::ReleaseImages() {
    for (IconSlotData& slot : icons_) slot = IconSlotData();
    for (BitmapSlotData& slot : bitmaps_) slot = BitmapSlotData();
}

void SkinButton::Invalidate(bool erase) const {
    if (Handle()) ::InvalidateRect(Handle(), nullptr, erase);
}

void SkinButton::RedrawNow() const {
    if (Handle()) ::RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}
