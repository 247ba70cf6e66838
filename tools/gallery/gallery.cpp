// kxgallery: every skinned control of the scan window in each of its states,
// on one dialog, so that a person can look at the drawing
// (tools/gallery/screenshot.sh takes a picture of it under Xvfb).
#include <windows.h>

#include <commctrl.h>

#include "controls/findings_list.h"
#include "controls/skin_button.h"
#include "controls/skin_label.h"
#include "controls/skin_progress.h"
#include "framework/dialog.h"
#include "framework/handles.h"
#include "tools/gallery/gallery_ids.h"

namespace {

constexpr COLORREF kWindowBack = RGB(215, 240, 240);
constexpr COLORREF kTitleBand = RGB(20, 90, 60);
constexpr COLORREF kHeading = RGB(40, 40, 40);
constexpr int kClientWidth = 610;
constexpr int kClientHeight = 560;

// Button columns: the states a button is shown in.
constexpr int kStateColumns[4] = {140, 230, 320, 410};
constexpr const char* kStateNames[4] = {"normal", "hover", "pressed", "disabled"};

// Double-byte texts in code page 949 (run under a Korean locale to see them).
constexpr const char* kKoreanName = "\xbe\xc7\xbc\xba\xc4\xda\xb5\xe5.\xc5\xd7\xbd\xba\xc6\xae";
constexpr const char* kKoreanPath =
    "C:\\\xbb\xe7\xbf\xeb\xc0\xda\\\xb9\xae\xbc\xad\\\xc4\xa1\xb7\xe1\xc7\xd2 \xc6\xc4\xc0\xcf.exe";
constexpr const char* kKoreanNotCured = "\xc4\xa1\xb7\xe1 \xbe\xc8 \xb5\xca";
constexpr const char* kKoreanScanning =
    "\xb0\xcb\xbb\xe7 \xc1\xdf: C:\\\xbb\xe7\xbf\xeb\xc0\xda\\\xb0\xf8\xbf\xeb\\\xb9\xae\xbc\xad\\"
    "\xba\xb8\xb0\xed\xbc\xad.hwp";

struct ImageListOwnerTraits {
    using Type = HIMAGELIST;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::ImageList_Destroy(h); }
};
using ImageListOwner = fw::UniqueAny<ImageListOwnerTraits>;

struct Heading {
    int x;
    int y;
    const char* text;
};

constexpr Heading kHeadings[] = {
    {10, 8, "Labels: title on the band; file; file with path ellipsis; double-byte file; bold percentage"},
    {10, 120, "Progress: empty, half, full, idle at half"},
    {480, 140, "empty (0 of 100)"},
    {480, 158, "half (50 of 100)"},
    {480, 176, "full (100 of 100)"},
    {480, 194, "idle (50 of 100)"},
    {10, 216, "Findings list: rows even / odd / selected / handled, long and double-byte texts"},
    {10, 400, "Buttons"},
    {10, 436, "minimise"},
    {10, 460, "close"},
    {10, 488, "pause / cancel"},
    {10, 524, "check box"},
    {140, 540, "on"},
    {230, 540, "off"},
};

void MoveTo(HWND dialog, int id, int x, int y, int width, int height) {
    ::MoveWindow(::GetDlgItem(dialog, id), x, y, width, height, TRUE);
}

class GalleryDialog : public fw::Dialog {
public:
    GalleryDialog() : fw::Dialog(IDD_GALLERY, nullptr) {}

protected:
    BOOL OnInitDialog() override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    static constexpr UINT_PTR kStateTimer = 1;

    void Place();
    void SetUpLabels();
    void SetUpProgress();
    void SetUpList();
    void SetUpButtons();
    void SetUpCheckBox(SkinButton& box, bool checked);
    // Hover and pressed need the window on screen: hover comes from a mouse
    // move over the button, pressed from the button's pushed state.
    void ShowLiveStates();
    void PaintBackground(HDC dc) const;

    fw::UniqueFont windowFont_;
    SkinLabel title_;
    SkinLabel file_;
    SkinLabel fileEllipsis_;
    SkinLabel fileKorean_;
    SkinLabel percent_;
    SkinProgress progress_[4];
    FindingsList list_;
    SkinButton minimize_[4];
    SkinButton close_[4];
    SkinButton push_[4];
    SkinButton checkOn_;
    SkinButton checkOff_;
};

BOOL GalleryDialog::OnInitDialog() {
    HWND dialog = Handle();
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, ::GetWindowLongA(dialog, GWL_STYLE), FALSE, ::GetWindowLongA(dialog, GWL_EXSTYLE));
    ::SetWindowPos(dialog, nullptr, 20, 20, frame.right - frame.left, frame.bottom - frame.top, SWP_NOZORDER);

    // The scan window's font: the default GUI font at 12 pixels.
    LOGFONTA logFont;
    if (::GetObjectA(::GetStockObject(DEFAULT_GUI_FONT), sizeof logFont, &logFont) == sizeof logFont) {
        logFont.lfHeight = 12;
        windowFont_.reset(::CreateFontIndirectA(&logFont));
    }

    Place();
    SetUpLabels();
    SetUpProgress();
    SetUpList();
    SetUpButtons();
    ::SetTimer(dialog, kStateTimer, 300, nullptr);
    // The list keeps the focus so that its selected row shows as selected.
    ::SetFocus(list_.Handle());
    return FALSE;
}

void GalleryDialog::Place() {
    HWND dialog = Handle();
    MoveTo(dialog, IDC_G_TITLE, 16, 32, 300, 17);
    MoveTo(dialog, IDC_G_FILE, 16, 62, 416, 14);
    MoveTo(dialog, IDC_G_FILE_ELLIPSIS, 16, 80, 300, 14);
    MoveTo(dialog, IDC_G_FILE_KOREAN, 16, 98, 416, 14);
    MoveTo(dialog, IDC_G_PERCENT, 447, 62, 35, 12);
    for (int index = 0; index < 4; ++index)
        MoveTo(dialog, IDC_G_PROGRESS_EMPTY + index, 16, 140 + 18 * index, 447, 12);
    MoveTo(dialog, IDC_G_LIST, 16, 236, 570, 150);
    for (int state = 0; state < 4; ++state) {
        MoveTo(dialog, IDC_G_MINIMIZE + state, kStateColumns[state], 432, 25, 18);
        MoveTo(dialog, IDC_G_CLOSE + state, kStateColumns[state], 456, 43, 18);
        MoveTo(dialog, IDC_G_PUSH + state, kStateColumns[state], 482, 60, 25);
    }
    MoveTo(dialog, IDC_G_CHECK_ON, kStateColumns[0], 520, 16, 18);
    MoveTo(dialog, IDC_G_CHECK_OFF, kStateColumns[1], 520, 16, 18);
}

void GalleryDialog::SetUpLabels() {
    HWND dialog = Handle();
    title_.Attach(dialog, IDC_G_TITLE);
    title_.SetFontFrom(windowFont_.get(), false);
    title_.SetLabelColor(RGB(255, 255, 255), false);
    title_.SetText("Korvex - On-Demand Scanner");

    file_.Attach(dialog, IDC_G_FILE);
    file_.SetFontFrom(windowFont_.get(), false);
    file_.SetText("C:\\Users\\Public\\Documents\\report.txt");

    fileEllipsis_.Attach(dialog, IDC_G_FILE_ELLIPSIS);
    fileEllipsis_.SetFontFrom(windowFont_.get(), false);
    HWND ellipsis = fileEllipsis_.Handle();
    ::SetWindowLongA(ellipsis, GWL_STYLE, ::GetWindowLongA(ellipsis, GWL_STYLE) | SS_PATHELLIPSIS);
    fileEllipsis_.SetText(
        "C:\\Program Files\\Common Files\\Shared Components\\Updates\\2026\\December\\installer_cache\\setup.exe");

    fileKorean_.Attach(dialog, IDC_G_FILE_KOREAN);
    fileKorean_.SetFontFrom(windowFont_.get(), false);
    fileKorean_.SetText(kKoreanScanning);

    percent_.Attach(dialog, IDC_G_PERCENT);
    percent_.SetLabelColor(RGB(40, 40, 40), false);
    percent_.SetBold(true, false);
    percent_.SetText("50%");
}

void GalleryDialog::SetUpProgress() {
    constexpr int kPositions[4] = {0, 50, 100, 50};
    for (int index = 0; index < 4; ++index) {
        SkinProgress& bar = progress_[index];
        bar.Attach(Handle(), IDC_G_PROGRESS_EMPTY + index);
        // As the scan window has it: no standard extended style, no client edge.
        ::SetWindowLongA(bar.Handle(), GWL_EXSTYLE, 0x00008000);
        ::SendMessageA(bar.Handle(), PBM_SETRANGE32, 0, 100);
        ::SendMessageA(bar.Handle(), PBM_SETPOS, kPositions[index], 0);
        bar.SetActive(index != 3);
    }
}

void GalleryDialog::SetUpList() {
    list_.Attach(Handle(), IDC_G_LIST);
    list_.InitImages();
    list_.Header().SetHeaderChecked(false);
    list_.Header().SetHeaderFont(windowFont_.get());
    list_.SetRowFont(windowFont_.get());
    list_.ApplyListStyle();

    HWND list = list_.Handle();
    constexpr const char* kTitles[4] = {"Name", "Path", "State", ""};
    constexpr int kWidths[4] = {170, 270, 85, 0};
    for (int index = 0; index < 4; ++index) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kWidths[index];
        column.pszText = const_cast<char*>(kTitles[index]);
        column.iSubItem = index;
        ::SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
    }

    struct Row {
        const char* name;
        const char* path;
        const char* state;
        const char* code;
    };
    const Row rows[] = {
        {"Trojan.Agent.Generic", "C:\\Users\\Public\\Downloads\\invoice.exe", "Not cured", "16"},
        {"", "C:\\Users\\Public\\Downloads\\invoice.tmp", "Not cured", "16"},
        {"Adware.CouponBar.VeryLongFamilyNameThatDoesNotFit",
         "C:\\Program Files\\Common Files\\Shared Components\\Browser Helpers\\couponbar_helper_x64.dll",
         "Not cured", "16"},
        {kKoreanName, kKoreanPath, kKoreanNotCured, "16"},
        {"EICAR-Test-File", "C:\\Users\\Public\\Documents\\eicar.com", "Cured", "8"},
        {"Worm.AutoRun.Inf", "E:\\autorun.inf", "Deleted", "512"},
    };
    int row = 0;
    for (const Row& entry : rows) {
        list_.SetItem(row, 0, entry.name, 0);
        list_.SetItem(row, 1, entry.path);
        list_.SetItem(row, 2, entry.state);
        list_.SetItem(row, 3, entry.code);
        ++row;
    }
    list_.CheckAll(false);
    list_.CheckGroup(0, true);
    list_.CheckGroup(3, true);
    // As at the end of a scan: handled rows show the greyed glyph.
    list_.SetFlatCheck(false);

    LVITEMA selected{};
    selected.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    selected.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageA(list, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&selected));
}

void GalleryDialog::SetUpButtons() {
    HWND dialog = Handle();
    for (int state = 0; state < 4; ++state) {
        SkinButton& minimize = minimize_[state];
        minimize.Attach(dialog, IDC_G_MINIMIZE + state);
        minimize.SetStateBitmaps(138, RGB(0, 0, 0), 137, RGB(0, 0, 0), 0, RGB(0, 0, 0), 139, RGB(0, 0, 0));
        minimize.SetCursorId(32649);

        SkinButton& close = close_[state];
        close.Attach(dialog, IDC_G_CLOSE + state);
        close.SetStateBitmaps(135, RGB(0, 0, 0), 136, RGB(0, 0, 0), 0, RGB(0, 0, 0), 134, RGB(0, 0, 0));
        close.SetCursorId(32649);

        SkinButton& push = push_[state];
        push.Attach(dialog, IDC_G_PUSH + state);
        push.SetStateBitmaps(130, RGB(0, 0, 0), 131, RGB(0, 0, 0), 0, RGB(0, 0, 0), 131, RGB(0, 0, 0));
        push.SetButtonFont(windowFont_.get());
        push.SetCursorId(32649);
        push.SetColor(SkinButton::TextHover, RGB(255, 255, 255), false);
        push.SetColor(SkinButton::TextNormal, RGB(240, 240, 240), false);
    }
    SetUpCheckBox(checkOn_, true);
    SetUpCheckBox(checkOff_, false);
}

void GalleryDialog::SetUpCheckBox(SkinButton& box, bool checked) {
    box.Attach(Handle(), checked ? IDC_G_CHECK_ON : IDC_G_CHECK_OFF);
    ImageListOwner images(::ImageList_Create(16, 18, ILC_COLORDDB | ILC_MASK, 0, 1));
    if (images) {
        HINSTANCE instance = ::GetModuleHandleA(nullptr);
        for (int id : {132, 133}) {
            fw::UniqueBitmap bitmap(::LoadBitmapA(instance, MAKEINTRESOURCEA(id)));
            if (bitmap) ::ImageList_AddMasked(images.get(), bitmap.get(), RGB(255, 255, 255));
        }
        box.SetIcons(::ImageList_GetIcon(images.get(), 0, ILD_NORMAL), ::ImageList_GetIcon(images.get(), 1, ILD_NORMAL),
                     nullptr);
    }
    box.SetColor(SkinButton::TextHover, RGB(40, 40, 40), false);
    box.SetColor(SkinButton::TextNormal, RGB(70, 70, 70), false);
    box.SetChecked(checked, true);
}

void GalleryDialog::ShowLiveStates() {
    // Pushed state: the button draws itself pressed until it is released.
    ::SendMessageA(minimize_[2].Handle(), BM_SETSTATE, TRUE, 0);
    ::SendMessageA(close_[2].Handle(), BM_SETSTATE, TRUE, 0);
    ::SendMessageA(push_[2].Handle(), BM_SETSTATE, TRUE, 0);
    // A mouse move inside each hover button, as the pointer would send it.
    const LPARAM inside = MAKELPARAM(4, 4);
    ::SendMessageA(minimize_[1].Handle(), WM_MOUSEMOVE, 0, inside);
    ::SendMessageA(close_[1].Handle(), WM_MOUSEMOVE, 0, inside);
    ::SendMessageA(push_[1].Handle(), WM_MOUSEMOVE, 0, inside);
}

void GalleryDialog::PaintBackground(HDC dc) const {
    RECT client;
    ::GetClientRect(Handle(), &client);
    fw::UniqueBrush back(::CreateSolidBrush(kWindowBack));
    ::FillRect(dc, &client, back.get());
    RECT band = {10, 26, 600, 54};
    fw::UniqueBrush green(::CreateSolidBrush(kTitleBand));
    ::FillRect(dc, &band, green.get());

    fw::SelectGuard font(dc, windowFont_ ? static_cast<HGDIOBJ>(windowFont_.get()) : ::GetStockObject(DEFAULT_GUI_FONT));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, kHeading);
    for (const Heading& heading : kHeadings) ::TextOutA(dc, heading.x, heading.y, heading.text, lstrlenA(heading.text));
    for (int state = 0; state < 4; ++state)
        ::TextOutA(dc, kStateColumns[state], 416, kStateNames[state], lstrlenA(kStateNames[state]));
}

INT_PTR GalleryDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND:
        PaintBackground(reinterpret_cast<HDC>(wParam));
        ::SetWindowLongPtrA(Handle(), DWLP_MSGRESULT, 1);
        return TRUE;
    case WM_TIMER:
        if (wParam == kStateTimer) {
            ::KillTimer(Handle(), kStateTimer);
            ShowLiveStates();
            return TRUE;
        }
        break;
    }
    return fw::Dialog::OnMessage(message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    GalleryDialog gallery;
    return gallery.DoModal() == -1 ? 1 : 0;
}
