// The look of the scan window: its rounded shape, its position, the
// background picture and the place, font, colours, pictures and text of
// every control.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>

#include "app/local_text.h"
#include "framework/app.h"
#include "resources/resource.h"
#include "window/scan_window.h"

namespace {

constexpr int kWidth = 594;
constexpr int kHeight = 300;
constexpr int kOffset = 35;  // the window sits this far right of and below the centre
constexpr UINT kHandCursor = 32649;
constexpr COLORREF kKey = RGB(0, 0, 0);  // the transparent colour of every button picture
constexpr COLORREF kWhite = RGB(255, 255, 255);
// Asks a window which window to centre on; not in the platform headers.
constexpr UINT kQueryCentreWindow = 0x036B;

struct Place {
    int id;
    int x, y, width, height;
};

// Client pixels of the 594 x 300 window.
constexpr Place kPlaces[] = {
    {IDC_TITLE, 10, 10, 200, 17},          {IDC_MINIMIZE, 514, 2, 25, 18},
    {IDC_CLOSE, 540, 2, 43, 18},           {IDC_CURRENT_FILE, 93, 53, 416, 14},
    {IDC_PROGRESS, 93, 75, 447, 12},       {IDC_PERCENT, 547, 75, 35, 12},
    {IDC_FINDINGS, 12, 114, 570, 140},     {IDC_SHUTDOWN_CHECK, 12, 272, 16, 18},
    {IDC_SHUTDOWN_CAPTION, 37, 275, 300, 12}, {IDC_PAUSE, 460, 269, 60, 25},
    {IDC_CANCEL_SCAN, 525, 269, 60, 25},
};

struct Column {
    const char* key;  // null: no title
    int width;
};

// Column 3 is hidden: it keeps each row's result code.
constexpr Column kColumns[] = {{"INFECTIONNAME", 170}, {"FILEPATH", 270}, {"STATE", 85}, {nullptr, 0}};

void ScannerText(const char* key, char* text) { GetLocalText("SCANNER", key, text, 260); }

HFONT CopyFont(HFONT font, LONG height, LONG weight) {
    LOGFONTA logFont;
    if (!font || ::GetObjectA(font, sizeof(logFont), &logFont) != sizeof(logFont)) return nullptr;
    if (height) logFont.lfHeight = height;
    if (weight) logFont.lfWeight = weight;
    return ::CreateFontIndirectA(&logFont);
}

// The pause and cancel buttons share their pictures, font and colours.
void DressPushButton(SkinButton& button, HFONT font) {
    button.SetStateBitmaps(IDB_BUTTON_NORMAL, kKey, IDB_BUTTON_HOVER, kKey, 0, kKey, IDB_BUTTON_HOVER, kKey);
    button.SetButtonFont(font);
    button.SetCursorId(kHandCursor);
    button.SetColor(SkinButton::TextHover, kWhite, false);
    button.SetColor(SkinButton::TextNormal, RGB(240, 240, 240), false);
}

// The check box's two icons come from its pictures through an image list,
// which and whose pictures go again once the icons exist.
void DressCheckBox(SkinButton& box) {
    HIMAGELIST images = ::ImageList_Create(16, 18, ILC_COLORDDB | ILC_MASK, 0, 1);
    if (!images) return;
    for (int id : {IDB_CHECK_TICKED, IDB_CHECK_EMPTY}) {
        fw::UniqueBitmap picture(::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)));
        if (picture) ::ImageList_AddMasked(images, picture.get(), kWhite);
    }
    box.SetIcons(::ImageList_GetIcon(images, 0, ILD_NORMAL), ::ImageList_GetIcon(images, 1, ILD_NORMAL), nullptr);
    ::ImageList_Destroy(images);
}

}  // namespace

void ScanWindow::LayoutControls() {
    HWND window = Handle();
    font_.reset(CopyFont(static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)), 12, 0));
    boldFont_.reset(CopyFont(font_.get(), 0, FW_BOLD));
    for (const Place& place : kPlaces)
        ::MoveWindow(::GetDlgItem(window, place.id), place.x, place.y, place.width, place.height, TRUE);

    char name[260];
    char title[260];
    char line[600];
    GetLocalText("SERVICE", "DisplayName", name, sizeof(name));
    ScannerText("Title", title);
    std::snprintf(line, sizeof(line), "%s - %s", name, title);
    title_.SetLabelColor(kWhite, false);
    title_.SetFontFrom(font_.get(), false);
    title_.SetText(line);

    minimize_.SetStateBitmaps(IDB_MINIMIZE_NORMAL, kKey, IDB_MINIMIZE_HOVER, kKey, 0, kKey, IDB_MINIMIZE_PRESSED,
                              kKey);
    minimize_.SetCursorId(kHandCursor);
    close_.SetStateBitmaps(IDB_CLOSE_NORMAL, kKey, IDB_CLOSE_HOVER, kKey, 0, kKey, IDB_CLOSE_PRESSED, kKey);
    close_.SetCursorId(kHandCursor);

    char text[260];
    file_.SetFontFrom(font_.get(), false);
    ::SetWindowLongA(file_.Handle(), GWL_STYLE, ::GetWindowLongA(file_.Handle(), GWL_STYLE) | SS_PATHELLIPSIS);
    ScannerText("INITSCAN", text);
    file_.SetText(text);

    // Exactly this value: none of the template's standard extended styles.
    ::SetWindowLongA(progressBar_.Handle(), GWL_EXSTYLE, 0x00008000);

    percent_.SetLabelColor(RGB(40, 40, 40), false);
    percent_.SetBold(true, false);
    percent_.SetText("0%");

    findings_.InitImages();
    findings_.Header().SetHeaderChecked(false);
    findings_.Header().SetHeaderFont(font_.get());
    findings_.SetRowFont(font_.get());
    findings_.CheckAll(false);
    findings_.ApplyListStyle();
    for (int index = 0; index < 4; ++index) {
        text[0] = '\0';
        if (kColumns[index].key) ScannerText(kColumns[index].key, text);
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[index].width;
        column.pszText = text;
        column.iSubItem = index;
        ::SendMessageA(findings_.Handle(), LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
    }

    DressCheckBox(check_);
    check_.SetChecked(false, false);
    check_.SetColor(SkinButton::TextHover, RGB(40, 40, 40), false);
    check_.SetColor(SkinButton::TextNormal, RGB(70, 70, 70), false);

    caption_.SetFontFrom(font_.get(), false);
    ScannerText("SHUTDOWN", text);
    caption_.SetText(text);

    DressPushButton(pause_, font_.get());
    SetCaption(pause_, "PAUSE");
    pauseMode_ = 1;
    DressPushButton(cancel_, font_.get());
    SetCaption(cancel_, "CANCEL");
}

void ScanWindow::CenterAndRaise() {
    HWND window = Handle();
    const bool child = (::GetWindowLongA(window, GWL_STYLE) & WS_CHILD) != 0;
    HWND reference = child ? ::GetParent(window) : ::GetWindow(window, GW_OWNER);
    if (reference) {
        if (HWND centre = reinterpret_cast<HWND>(::SendMessageA(reference, kQueryCentreWindow, 0, 0)))
            reference = centre;
    }
    if (!child && reference && (!::IsWindowVisible(reference) || ::IsIconic(reference))) reference = nullptr;

    RECT centring;
    RECT bounds;
    if (child) {
        HWND parent = ::GetParent(window);
        ::GetClientRect(parent, &bounds);
        ::GetClientRect(reference, &centring);
        ::MapWindowPoints(reference, parent, reinterpret_cast<POINT*>(&centring), 2);
    } else {
        HWND mainWindow = fw::App::Current() ? fw::App::Current()->MainWindow() : nullptr;
        HMONITOR monitor = reference ? ::MonitorFromWindow(reference, MONITOR_DEFAULTTONEAREST)
                                     : ::MonitorFromWindow(mainWindow, MONITOR_DEFAULTTOPRIMARY);
        MONITORINFO info{};
        info.cbSize = sizeof(info);
        ::GetMonitorInfoA(monitor, &info);
        bounds = info.rcWork;
        if (reference)
            ::GetWindowRect(reference, &centring);
        else
            centring = bounds;
    }

    RECT own;
    ::GetWindowRect(window, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    int left = (centring.left + centring.right) / 2 - width / 2;
    int top = (centring.top + centring.bottom) / 2 - height / 2;
    if (left < bounds.left)
        left = bounds.left;
    else if (left + width > bounds.right)
        left = bounds.right - width;
    if (top < bounds.top)
        top = bounds.top;
    else if (top + height > bounds.bottom)
        top = bounds.bottom - height;
    ::SetWindowPos(window, nullptr, left + kOffset, top + kOffset, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    // To the front without staying top-most.
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, kWidth, kHeight, SWP_NOMOVE);
    ::SetWindowPos(window, HWND_NOTOPMOST, 0, 0, kWidth, kHeight, SWP_NOMOVE);
}

void ScanWindow::EraseBackground(HDC dc) {
    RECT client;
    ::GetClientRect(Handle(), &client);
    fw::UniqueDc source(::CreateCompatibleDC(dc));
    if (!skin_ || !source) return;
    fw::SelectGuard selected(source.get(), skin_.get());
    ::BitBlt(dc, 0, 0, client.right - client.left, client.bottom, source.get(), 0, 0, SRCCOPY);
}

void ScanWindow::PaintMinimised() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(Handle(), &ps);
    ::SendMessageA(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(Handle(), &client);
    const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, icon_);
    ::EndPaint(Handle(), &ps);
}
