#include "controls/skin_label.h"

#include <string.h>

#include "controls/memory_dc.h"

namespace {

HFONT ReportedFont(HWND window) { return reinterpret_cast<HFONT>(::SendMessageA(window, WM_GETFONT, 0, 0)); }

// A new font with the logical font of `font`, weight replaced when `weight` is not 0.
HFONT CopyFont(HFONT font, LONG weight) {
    LOGFONTA logFont;
    if (!font || ::GetObjectA(font, sizeof logFont, &logFont) != sizeof logFont) return nullptr;
    if (weight) logFont.lfWeight = weight;
    return ::CreateFontIndirectA(&logFont);
}

// Copies at most size - 1 bytes, never leaving half of a double-byte character.
void CopyText(char* target, int size, const char* source) {
    int length = 0;
    while (source[length]) {
        const int step = (::IsDBCSLeadByte(static_cast<BYTE>(source[length])) && source[length + 1]) ? 2 : 1;
        if (length + step > size - 1) break;
        length += step;
    }
    memcpy(target, source, length);
    target[length] = '\0';
}

// Case-blind comparison that knows the double-byte characters of the code page.
bool SameIgnoringCase(const char* a, const char* b) {
    wchar_t wideA[SkinLabel::kTextSize];
    wchar_t wideB[SkinLabel::kTextSize];
    const int lengthA = ::MultiByteToWideChar(CP_ACP, 0, a, -1, wideA, SkinLabel::kTextSize);
    const int lengthB = ::MultiByteToWideChar(CP_ACP, 0, b, -1, wideB, SkinLabel::kTextSize);
    if (lengthA == 0 || lengthB == 0 || lengthA != lengthB) return false;
    ::CharUpperBuffW(wideA, lengthA);
    ::CharUpperBuffW(wideB, lengthB);
    return wcscmp(wideA, wideB) == 0;
}

}  // namespace

bool SkinLabel::Attach(HWND dialog, int id) {
    if (!fw::Control::Attach(dialog, id)) return false;
    LOGFONTA logFont = {};
    logFont.lfHeight = 12;
    logFont.lfWeight = FW_NORMAL;
    logFont.lfCharSet = DEFAULT_CHARSET;
    logFont.lfPitchAndFamily = FF_SWISS;
    strcpy(logFont.lfFaceName, "Dotum");
    font_.reset(::CreateFontIndirectA(&logFont));
    if (!font_) font_.reset(CopyFont(ReportedFont(Handle()), 0));
    if (!font_) font_.reset(CopyFont(static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)), 0));
    if (!font_) font_.reset(CopyFont(static_cast<HFONT>(::GetStockObject(SYSTEM_FONT)), 0));
    return true;
}

void SkinLabel::SetText(const char* text) {
    char next[kTextSize];
    CopyText(next, kTextSize, text ? text : "");
    if (SameIgnoringCase(next, text_)) return;
    memcpy(text_, next, sizeof text_);
    // The window text too, for screen readers and other tools, but past the
    // static's own handler, which would paint it unskinned at once.
    ::DefWindowProcA(Handle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text_));
    ::InvalidateRect(Handle(), nullptr, TRUE);
}

void SkinLabel::SetFontFrom(HFONT font, bool redraw) {
    if (font) {
        HFONT copy = CopyFont(font, 0);
        if (copy) font_.reset(copy);
    }
    if (redraw) Redraw();
}

void SkinLabel::SetLabelColor(COLORREF color, bool redraw) {
    color_ = color;
    if (redraw) Redraw();
}

void SkinLabel::SetBold(bool bold, bool redraw) {
    bold_ = bold;
    // A control that was never given a font reports none: start from the GUI font then.
    HFONT base = ReportedFont(Handle());
    if (!base) base = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    HFONT copy = CopyFont(base, bold ? FW_BOLD : FW_NORMAL);
    if (copy) font_.reset(copy);
    if (redraw) Redraw();
}

void SkinLabel::Redraw() {
    ::InvalidateRect(Handle(), nullptr, TRUE);
    ::UpdateWindow(Handle());
}

void SkinLabel::TakeSnapshot(int width, int height) {
    HWND parent = ::GetParent(Handle());
    RECT place;
    ::GetWindowRect(Handle(), &place);
    ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&place), 2);
    fw::WindowDc parentDc(parent);
    if (!parentDc.get()) return;
    fw::UniqueDc dc(::CreateCompatibleDC(parentDc.get()));
    fw::UniqueBitmap bitmap(::CreateCompatibleBitmap(parentDc.get(), width, height));
    if (!dc || !bitmap) return;
    ::SelectObject(dc.get(), bitmap.get());
    ::BitBlt(dc.get(), 0, 0, width, height, parentDc.get(), place.left, place.top, SRCCOPY);
    snapshotBitmap_ = std::move(bitmap);
    snapshot_ = std::move(dc);
}

void SkinLabel::Paint(HDC target) {
    RECT client;
    ::GetClientRect(Handle(), &client);
    if (client.right <= 0 || client.bottom <= 0) return;
    MemoryDC surface(target, client);
    HDC dc = surface.get();
    ::SetBkMode(dc, TRANSPARENT);

    if (!snapshot_) TakeSnapshot(client.right, client.bottom);
    if (snapshot_)
        ::BitBlt(dc, 0, 0, client.right, client.bottom, snapshot_.get(), 0, 0, SRCCOPY);
    else
        ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));

    HFONT font = font_ ? font_.get() : ReportedFont(Handle());
    fw::SelectGuard fontGuard(dc, font);  // no font: the context's own stays

    const LONG style = ::GetWindowLongA(Handle(), GWL_STYLE);
    UINT format = DT_LEFT;
    if ((style & SS_TYPEMASK) == SS_CENTER)
        format = DT_CENTER;
    else if ((style & SS_TYPEMASK) == SS_RIGHT)
        format = DT_RIGHT;
    if (style & SS_CENTERIMAGE)
        format |= DT_SINGLELINE | DT_VCENTER;
    else if ((style & SS_ELLIPSISMASK) == SS_PATHELLIPSIS)
        format |= DT_PATH_ELLIPSIS;
    else
        format |= DT_WORDBREAK;
    // A file name with '&' must show as it is, as the platform static does.
    if (style & SS_NOPREFIX) format |= DT_NOPREFIX;

    ::SetTextColor(dc, color_);
    ::DrawTextA(dc, text_, -1, &client, format);
}

LRESULT SkinLabel::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        return 1;  // the paint covers every pixel
    case WM_PAINT:
    case WM_PRINTCLIENT:
        fw::PaintMessage(Handle(), message, wParam, [this](HDC dc) { Paint(dc); });
        return 0;
    default:
        return Default(message, wParam, lParam);
    }
}
