#include "controls/findings_list.h"

#include <windowsx.h>

#include <cstring>

#include "app/local_text.h"
#include "controls/memory_dc.h"

namespace {

constexpr COLORREF kSelectedBack = RGB(154, 167, 163);
constexpr COLORREF kSelectedText = RGB(255, 255, 255);
constexpr COLORREF kEvenBack = RGB(255, 255, 255);
constexpr COLORREF kOddBack = RGB(247, 247, 247);
constexpr COLORREF kRowText = RGB(88, 88, 88);
constexpr COLORREF kRowLine = RGB(239, 239, 239);
constexpr COLORREF kHeaderLine = RGB(229, 229, 208);
constexpr COLORREF kHeaderText = RGB(255, 255, 255);
constexpr COLORREF kHeaderPlain = RGB(46, 120, 72);  // when picture 142 is missing
constexpr UINT kRowFormat = DT_SINGLELINE | DT_VCENTER | DT_EXTERNALLEADING | DT_NOPREFIX;  // 0xA24
constexpr UINT kHeaderFormat = DT_SINGLELINE | DT_VCENTER;                                  // 0x24
constexpr int kCodeColumn = 3;
constexpr int kTitleBytes = 256;

using UniquePen = fw::UniqueAny<fw::traits::GdiObject<HPEN>>;

int TextWidth(HDC dc, const char* text, size_t length) {
    SIZE size{};
    ::GetTextExtentPoint32A(dc, text, static_cast<int>(length), &size);
    return size.cx;
}

HFONT FontOrDefault(HFONT font) { return font ? font : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)); }

void GetCellText(HWND list, int row, int column, char* buffer, int size) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = size;
    buffer[0] = '\0';
    ::SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

void Line(HDC dc, int x1, int y1, int x2, int y2) {
    ::MoveToEx(dc, x1, y1, nullptr);
    ::LineTo(dc, x2, y2);
}

}  // namespace

const char* ShortenToWidth(HDC dc, const char* text, int width) {
    static char buffer[kCellTextBytes + 4];
    size_t length = std::strlen(text);
    if (length == 0 || TextWidth(dc, text, length) < width) return text;

    const int ellipsis = TextWidth(dc, "...", 3);
    if (length > kCellTextBytes - 1) length = kCellTextBytes - 1;
    std::memcpy(buffer, text, length);
    size_t kept = length;
    for (size_t n = length - 1; n > 0; --n) {
        if (kept > 2) --kept;
        if (TextWidth(dc, buffer, n) + ellipsis < width) break;
    }
    // Walk the characters so a lead byte left without its trail byte goes too.
    for (size_t i = 0; i < kept; ++i) {
        if (::IsDBCSLeadByte(static_cast<BYTE>(buffer[i]))) {
            if (i + 1 == kept) {
                kept = i;
                break;
            }
            ++i;
        }
    }
    std::memcpy(buffer + kept, "...", 4);
    return buffer;
}

// ---- FindingsHeader -------------------------------------------------------

bool FindingsHeader::AttachTo(HWND list) {
    HWND header = reinterpret_cast<HWND>(::SendMessageA(list, LVM_GETHEADER, 0, 0));
    if (!header) return false;
    return Attach(list, ::GetDlgCtrlID(header));
}

void FindingsHeader::Draw(HDC dc) {
    HWND header = Handle();
    RECT client{};
    ::GetClientRect(header, &client);
    fw::SelectGuard font(dc, FontOrDefault(font_));

    if (background_) {
        BITMAP info{};
        ::GetObjectA(background_.get(), sizeof(info), &info);
        fw::UniqueDc source(::CreateCompatibleDC(dc));
        fw::SelectGuard picture(source.get(), background_.get());
        ::SetStretchBltMode(dc, COLORONCOLOR);
        ::StretchBlt(dc, 0, 0, client.right, client.bottom, source.get(), 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    } else {
        fw::UniqueBrush plain(::CreateSolidBrush(kHeaderPlain));
        ::FillRect(dc, &client, plain.get());
    }

    UniquePen pen(::CreatePen(PS_SOLID, 1, kHeaderLine));
    fw::SelectGuard penGuard(dc, pen.get());
    ::SetTextColor(dc, kHeaderText);
    ::SetBkMode(dc, TRANSPARENT);

    const int count = static_cast<int>(::SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        char title[kTitleBytes] = "";
        HDITEMA item{};
        item.mask = HDI_TEXT | HDI_FORMAT | HDI_ORDER;
        item.pszText = title;
        item.cchTextMax = kTitleBytes;
        ::SendMessageA(header, HDM_GETITEMA, index, reinterpret_cast<LPARAM>(&item));
        RECT rect{};
        ::SendMessageA(header, HDM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));

        RECT text = rect;
        if (index == 0) {
            const int p = (rect.bottom - rect.top - 16) / 2;
            if (images_)
                ::ImageList_Draw(images_, selectAll_ == 1 ? kGlyphTicked : kGlyphEmpty, dc, rect.left + p + 3,
                                 rect.bottom - p - 15, ILD_TRANSPARENT);
            if (KeyboardOnBox()) {
                RECT mark{rect.left + p + 2, rect.bottom - p - 16, rect.left + p + 20, rect.bottom - p + 2};
                ::DrawFocusRect(dc, &mark);
            }
            text.left += 20;
        }
        Line(dc, rect.right, rect.top, rect.right, rect.bottom);
        text.left += 5;
        text.top = 2;
        ::DrawTextA(dc, title, -1, &text, kHeaderFormat);
    }
}

bool FindingsHeader::KeyboardOnBox() const {
    HWND list = ::GetParent(Handle());
    return ::GetFocus() == list && ::SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) == 0;
}

void FindingsHeader::Paint() {
    PAINTSTRUCT paint{};
    HDC target = ::BeginPaint(Handle(), &paint);
    {
        MemoryDC surface(target);
        Draw(surface.get());
    }
    ::EndPaint(Handle(), &paint);
}

LRESULT FindingsHeader::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        Paint();
        return 0;
    case WM_LBUTTONDBLCLK: {
        // The hidden column's divider sits at the sum of the first four widths;
        // a double click there would size the column to its code text.
        HWND list = ::GetParent(Handle());
        int divider = 0;
        for (int column = 0; column < 4; ++column)
            divider += static_cast<int>(::SendMessageA(list, LVM_GETCOLUMNWIDTH, column, 0));
        const int reach = ::GetSystemMetrics(SM_CXCURSOR) / 2;
        const int x = GET_X_LPARAM(lParam);
        if (x > divider - reach && x < divider + reach) return 0;
        return Default(message, wParam, lParam);
    }
    default:
        return Default(message, wParam, lParam);
    }
}

// ---- FindingsList ---------------------------------------------------------

bool FindingsList::Attach(HWND dialog, int id) {
    if (!fw::Control::Attach(dialog, id)) return false;
    // The image lists are ours: the list view must not destroy them with itself.
    HWND list = Handle();
    ::SetWindowLongPtrA(list, GWL_STYLE, ::GetWindowLongPtrA(list, GWL_STYLE) | LVS_SHAREIMAGELISTS);
    if (!header_.AttachTo(list)) return false;
    header_.SetBackground(fw::UniqueBitmap(
        static_cast<HBITMAP>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kHeaderBitmap), IMAGE_BITMAP,
                                          0, 0, LR_CREATEDIBSECTION))));
    return true;
}

bool FindingsList::InitImages() {
    fw::UniqueBitmap strip(static_cast<HBITMAP>(::LoadImageA(
        ::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kCheckStripBitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    return InitImages(strip.get());
}

bool FindingsList::InitImages(HBITMAP strip) {
    UniqueImageList* lists[] = {&rowImages_, &headerImages_};
    for (UniqueImageList* images : lists) {
        images->reset(::ImageList_Create(16, 18, ILC_COLOR32 | ILC_MASK, 0, 1));
        if (!*images) return false;
        if (strip) {
            // Adding with a mask colour blackens the source's background, so
            // each list gets a copy of its own.
            fw::UniqueBitmap copy(static_cast<HBITMAP>(::CopyImage(strip, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
            if (copy) ::ImageList_AddMasked(images->get(), copy.get(), kGlyphMask);
        }
        ::SendMessageA(Handle(), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images->get()));
    }
    return true;
}

void FindingsList::ApplyListStyle() {
    ::SendMessageA(Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE,
                   LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP,
                   LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    header_.SetImageList(headerImages_.get());
    flatCheck_ = 1;
}

int FindingsList::SetItem(int row, int column, const char* text, int image) {
    LVITEMA item{};
    item.mask = LVIF_TEXT | (image != -1 ? LVIF_IMAGE : 0);
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    item.iImage = image;
    const UINT message = column == 0 ? LVM_INSERTITEMA : LVM_SETITEMA;
    return static_cast<int>(::SendMessageA(Handle(), message, 0, reinterpret_cast<LPARAM>(&item)));
}

void FindingsList::GetItem(int row, int column, char* text, int size) const {
    GetCellText(Handle(), row, column, text, size);
}

int FindingsList::Count() const { return static_cast<int>(::SendMessageA(Handle(), LVM_GETITEMCOUNT, 0, 0)); }

bool FindingsList::IsChecked(int row) const {
    const UINT state = static_cast<UINT>(::SendMessageA(Handle(), LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    return (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

void FindingsList::CheckGroup(int row, bool state) {
    LVITEMA item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(state ? 2 : 1);
    const int count = Count();
    for (int current = row; current < count && (current == row || !IsGroupHead(current)); ++current)
        ::SendMessageA(Handle(), LVM_SETITEMSTATE, current, reinterpret_cast<LPARAM>(&item));
}

void FindingsList::CheckAll(bool state) {
    const int count = Count();
    for (int row = 0; row < count; ++row)
        if (IsGroupHead(row)) CheckGroup(row, state);
}

bool FindingsList::IsGroupHead(int row) const {
    char name[kCellTextBytes];
    GetCellText(Handle(), row, 0, name, sizeof(name));
    return name[0] != '\0';
}

bool FindingsList::AllChecked() const {
    const int count = Count();
    for (int row = 0; row < count; ++row)
        if (!IsChecked(row)) return false;
    return true;
}

int FindingsList::CountChecked() const {
    const int count = Count();
    int checked = 0;
    for (int row = 0; row < count; ++row)
        if (IsChecked(row)) ++checked;
    return checked;
}

bool FindingsList::IsHandled(int row) const {
    char code[260];
    GetCellText(Handle(), row, kCodeColumn, code, sizeof(code));
    return ::lstrcmpiA(code, "16") != 0;
}

void FindingsList::SetCureResult(int row, int code) {
    const char* key;
    switch (code) {
    case kCodeCured:
        key = "CURE";
        break;
    case kCodeNotCured:
        key = "IncurableAD";
        break;
    case kCodeDeleted:
        key = "DEL";
        break;
    default:
        RefreshRow(row);
        return;
    }
    char number[16];
    wsprintfA(number, "%d", code);
    SetItem(row, kCodeColumn, number);
    SetItem(row, 2, CachedLocalText("SCANNER", key));
    RefreshRow(row);
}

void FindingsList::RefreshRow(int row) {
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    if (::SendMessageA(Handle(), LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds)))
        ::InvalidateRect(Handle(), &bounds, TRUE);
}

int FindingsList::GlyphFor(int row) const {
    if (!IsGroupHead(row)) return -1;
    if (!flatCheck_ && IsHandled(row)) return kGlyphGreyed;
    return IsChecked(row) ? kGlyphTicked : kGlyphEmpty;
}

void FindingsList::DrawItem(const DRAWITEMSTRUCT& draw) {
    HWND list = Handle();
    HDC dc = draw.hDC;
    const int row = static_cast<int>(draw.itemID);
    const RECT& bounds = draw.rcItem;
    fw::SelectGuard font(dc, FontOrDefault(rowFont_));

    const int glyph = GlyphFor(row);
    if (glyph >= 0 && rowImages_) {
        const int q = (bounds.bottom - bounds.top - 26) / 2;
        ::ImageList_Draw(rowImages_.get(), glyph, dc, bounds.left + q + 9, bounds.bottom - q - 19, ILD_TRANSPARENT);
    }

    const bool selected = (draw.itemState & ODS_SELECTED) != 0;
    const COLORREF back = selected ? kSelectedBack : (row % 2 == 0 ? kEvenBack : kOddBack);
    ::SetBkColor(dc, back);
    ::SetTextColor(dc, selected ? kSelectedText : kRowText);

    const int fillLeft = FillLeft(bounds);
    RECT fill = {fillLeft, bounds.top, bounds.right, bounds.bottom};
    ::ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &fill, "", 0, nullptr);

    char text[kCellTextBytes];
    RECT cell{};
    cell.left = LVIR_LABEL;
    ::SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
    cell.left = fillLeft + 2;
    cell.top += 2;
    GetCellText(list, row, 0, text, sizeof(text));
    ::DrawTextA(dc, ShortenToWidth(dc, text, cell.right - cell.left - 10), -1, &cell, kRowFormat);

    LVCOLUMNA column{};
    column.mask = LVCF_WIDTH;
    for (int index = 1; ::SendMessageA(list, LVM_GETCOLUMNA, index, reinterpret_cast<LPARAM>(&column)); ++index) {
        const int previousRight = cell.right;
        cell.left = previousRight + 6;
        cell.right = previousRight + column.cx;
        if (cell.right <= cell.left) continue;  // the hidden code column
        GetCellText(list, row, index, text, sizeof(text));
        ::DrawTextA(dc, ShortenToWidth(dc, text, cell.right - cell.left), -1, &cell, kRowFormat);
    }

    UniquePen pen(::CreatePen(PS_SOLID, 1, kRowLine));
    fw::SelectGuard penGuard(dc, pen.get());
    Line(dc, bounds.left, bounds.bottom, bounds.right, bounds.bottom);
    Line(dc, bounds.left, bounds.top, bounds.right, bounds.top);
}

int FindingsList::FillLeft(const RECT& bounds) const {
    const int left = bounds.left + (rowImages_ ? 23 : 12);
    const int firstWidth = static_cast<int>(::SendMessageA(Handle(), LVM_GETCOLUMNWIDTH, 0, 0));
    return left > firstWidth ? firstWidth : left;
}

void FindingsList::OnLeftButtonDown(WPARAM wParam, LPARAM lParam) {
    HWND list = Handle();
    if (Count() == 0) return;
    if (::GetFocus() != list) ::SetFocus(list);

    LVHITTESTINFO hit{};
    hit.pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ::SendMessageA(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.flags == LVHT_NOWHERE) return;

    if (hit.iItem >= 0) {
        RECT bounds{};
        bounds.left = LVIR_BOUNDS;
        ::SendMessageA(list, LVM_GETITEMRECT, hit.iItem, reinterpret_cast<LPARAM>(&bounds));
        // Read before the default press: on the check area it toggles the row
        // itself, and the group must still change exactly once.
        const bool wasChecked = IsChecked(hit.iItem);
        Default(WM_LBUTTONDOWN, wParam, lParam);
        if (hit.pt.x < FillLeft(bounds) && IsGroupHead(hit.iItem)) CheckGroup(hit.iItem, !wasChecked);
    }
    header_.SetHeaderChecked(AllChecked());
    ::InvalidateRect(header_.Handle(), nullptr, TRUE);
}

void FindingsList::OnKeyDown(WPARAM key, LPARAM flags) {
    const int selected = static_cast<int>(::SendMessageA(Handle(), LVM_GETNEXTITEM, -1, LVNI_SELECTED));
    if (key == VK_SPACE && selected >= 0)
        ToggleGroupOf(selected);
    else if (key == VK_SPACE)
        ToggleAll();
    else if (key == VK_UP && selected == 0)
        Select(-1);
    else if (key == VK_DOWN && selected < 0 && Count() > 0)
        Select(0);
    else
        Default(WM_KEYDOWN, key, flags);
    // The header's focus mark follows the selection.
    ::InvalidateRect(header_.Handle(), nullptr, FALSE);
}

void FindingsList::ToggleGroupOf(int row) {
    while (row > 0 && !IsGroupHead(row)) --row;
    if (!IsGroupHead(row)) return;
    CheckGroup(row, !IsChecked(row));
    header_.SetHeaderChecked(AllChecked());
}

void FindingsList::ToggleAll() {
    if (Count() == 0) return;
    const bool check = !header_.HeaderChecked();
    header_.SetHeaderChecked(check);
    CheckAll(check);
    ::InvalidateRect(Handle(), nullptr, FALSE);
}

void FindingsList::Select(int row) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = row < 0 ? 0 : item.stateMask;
    ::SendMessageA(Handle(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    if (row >= 0) ::SendMessageA(Handle(), LVM_ENSUREVISIBLE, row, FALSE);
}

LRESULT FindingsList::OnColumnClick(const NMLISTVIEW& click) {
    if (Count() == 0) return 0;
    if (click.iSubItem == 0) ToggleAll();
    ::InvalidateRect(header_.Handle(), nullptr, FALSE);
    ::InvalidateRect(Handle(), nullptr, FALSE);
    return 0;
}

LRESULT FindingsList::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONDOWN:
        OnLeftButtonDown(wParam, lParam);
        return 0;
    case WM_KEYDOWN:
        OnKeyDown(wParam, lParam);
        return 0;
    case WM_CHAR:
        // A blank toggles (above); the list must not search for it.
        return wParam == ' ' ? 0 : Default(message, wParam, lParam);
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        ::InvalidateRect(header_.Handle(), nullptr, FALSE);
        return Default(message, wParam, lParam);
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHEADERA*>(lParam);
        // The hidden code column must stay zero wide.
        if (header->hdr.hwndFrom == header_.Handle() &&
            (header->hdr.code == HDN_BEGINTRACKA || header->hdr.code == HDN_BEGINTRACKW) && header->iItem == kCodeColumn)
            return 1;
        return Default(message, wParam, lParam);
    }
    case fw::kReflectBase + WM_DRAWITEM:
        DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case fw::kReflectBase + WM_NOTIFY: {
        const auto* notify = reinterpret_cast<const NMHDR*>(lParam);
        if (notify->code == LVN_COLUMNCLICK) return OnColumnClick(*reinterpret_cast<const NMLISTVIEW*>(lParam));
        return 0;
    }
    default:
        return Default(message, wParam, lParam);
    }
}
