// The thin application layer (framework/) and the skinned controls
// (controls/) with their pictures: handle owners, worker threads, the modal
// dialog's message filter and reflection; the off-screen surface, label,
// progress bar, button and findings list, drawn into memory contexts under a
// host window that reflects parent messages as the scan window does, and
// checked pixel by pixel.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "controls/findings_list.h"
#include "controls/memory_dc.h"
#include "controls/skin_button.h"
#include "controls/skin_label.h"
#include "controls/skin_progress.h"
#include "framework/control.h"
#include "framework/dialog.h"
#include "framework/handles.h"
#include "tests/support/test_support.h"

namespace {

// The box is answered from another thread once it is shown.
TEST(TestSupport, MessageBoxAnswererPressesTheButtonOfTheBoxWithItsTitle) {
    kxtest::MessageBoxAnswerer answerer("kxscan test question", IDNO);
    EXPECT_EQ(::MessageBoxA(nullptr, "Stop the scan?", "kxscan test question", MB_YESNO), IDNO);
    EXPECT_EQ(answerer.Text(), "Stop the scan?");
}

// Records what reaches it reflected from the dialog: the messages, and the
// notifications of commands.
struct RecordingControl : fw::Control {
    std::set<UINT> messages;
    std::vector<WORD> commands;
    fw::UniqueBrush brush{::CreateSolidBrush(RGB(10, 20, 30))};
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message < fw::kReflectBase) return Default(message, wParam, lParam);
        messages.insert(message - fw::kReflectBase);
        if (message == fw::kReflectBase + WM_COMMAND) commands.push_back(HIWORD(wParam));
        return message == fw::kReflectBase + WM_CTLCOLORSTATIC ? reinterpret_cast<LRESULT>(brush.get()) : TRUE;
    }
};

// Template 200 of the test resources: a static, an owner-draw and a push
// button. It colours, draws and clicks them, presses Escape, then ends.
struct TestDialog : fw::Dialog {
    bool swallowEscape;
    RecordingControl label, drawn, push;
    HBRUSH labelBrush = nullptr;
    explicit TestDialog(bool swallow) : fw::Dialog(200, nullptr), swallowEscape(swallow) {}
    BOOL OnInitDialog() override {
        label.Attach(Handle(), 10);
        drawn.Attach(Handle(), 11);
        push.Attach(Handle(), 12);
        ::ShowWindow(Handle(), SW_SHOW);
        ::UpdateWindow(Handle());
        fw::WindowDc dc(label.Handle());
        labelBrush = reinterpret_cast<HBRUSH>(::SendMessageA(Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc.get()),
                                                             reinterpret_cast<LPARAM>(label.Handle())));
        ::SendMessageA(push.Handle(), BM_CLICK, 0, 0);
        ::PostMessageA(Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
        ::PostMessageA(Handle(), WM_APP, 0, 0);
        return TRUE;
    }
    bool PreTranslateMessage(MSG* msg) override { return swallowEscape && msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE; }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message != WM_APP) return fw::Dialog::OnMessage(message, wParam, lParam);
        EndDialog(42);
        return TRUE;
    }
};

TEST(Framework, DialogsReflectToBoundControlsAndFilterTheirModalLoop) {
    TestDialog swallowing(true), plain(false);
    ASSERT_EQ(swallowing.DoModal(), 42);
    EXPECT_EQ(swallowing.labelBrush, swallowing.label.brush.get()) << "the control's brush is the dialog's answer";
    EXPECT_EQ(swallowing.label.messages, std::set<UINT>{WM_CTLCOLORSTATIC});
    EXPECT_EQ(swallowing.drawn.messages.count(WM_DRAWITEM), 1u);
    EXPECT_EQ(swallowing.push.commands, std::vector<WORD>{BN_CLICKED});
    EXPECT_EQ(plain.DoModal(), IDCANCEL) << "without the filter, Escape ends the dialog";
}

// A 32-bit top-down DIB section in a memory context, so that GetPixel gives exact colours.
struct Canvas {
    Canvas(int width, int height, COLORREF fill) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        bitmap.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        old = ::SelectObject(dc.get(), bitmap.get());
        Fill(RECT{0, 0, width, height}, fill);
    }
    void Fill(const RECT& area, COLORREF colour) {
        fw::UniqueBrush brush(::CreateSolidBrush(colour));
        ::FillRect(dc.get(), &area, brush.get());
    }
    // The picture, no longer selected anywhere.
    fw::UniqueBitmap Take() {
        ::SelectObject(dc.get(), old);
        return std::move(bitmap);
    }
    COLORREF At(int x, int y) const { return ::GetPixel(dc.get(), x, y); }
    fw::UniqueBitmap bitmap;
    fw::UniqueDc dc{::CreateCompatibleDC(nullptr)};  // deleted before its bitmap
    HGDIOBJ old = nullptr;
};

LRESULT CALLBACK Reflecting(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND child = message == WM_DRAWITEM ? reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem
                 : message == WM_NOTIFY ? reinterpret_cast<NMHDR*>(lParam)->hwndFrom
                 : message == WM_COMMAND || message == WM_CTLCOLORBTN ? reinterpret_cast<HWND>(lParam) : nullptr;
    LRESULT answer = 0;
    if (child && fw::ReflectToControl(child, message, wParam, lParam, &answer)) return answer;
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// A visible, active top-level window that reflects owner-draw, colour,
// command and notification messages to its bound children.
struct Host {
    Host() {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        WNDCLASSA type{0, Reflecting, 0, 0, ::GetModuleHandleA(nullptr), nullptr, nullptr, nullptr, nullptr, "KxHost"};
        ::RegisterClassA(&type);
        window = ::CreateWindowExA(0, "KxHost", "host", WS_POPUP | WS_VISIBLE, 0, 0, 600, 300, nullptr, nullptr, type.hInstance, nullptr);
        ::SetForegroundWindow(window);
        ::SetActiveWindow(window);
    }
    ~Host() { ::DestroyWindow(window); }
    HWND Add(const char* type, DWORD style, int id, RECT r, const char* text = "") const {
        return ::CreateWindowExA(0, type, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right, r.bottom, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr), nullptr);
    }
    // Paints the client area, which labels copy as their background.
    void Paint(COLORREF colour) const {
        fw::WindowDc dc(window);
        fw::UniqueBrush brush(::CreateSolidBrush(colour));
        RECT all{0, 0, 600, 300};
        ::FillRect(dc.get(), &all, brush.get());
    }
    HWND window;
};

Canvas Print(HWND control, int width, int height) {
    Canvas canvas(width, height, RGB(1, 2, 3));
    ::SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc.get()), PRF_CLIENT);
    return canvas;
}

TEST(Pictures, ButtonFacesAreSeeThroughOnlyInTheirCornersAndCheckImagesKeepTheirMasks) {
    auto load = [](int id, DIBSECTION* dib) {
        auto* bitmap = static_cast<HBITMAP>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ::GetObjectA(bitmap, sizeof(*dib), dib);
        return fw::UniqueBitmap(bitmap);
    };
    auto at = [](const DIBSECTION& dib, int x, int y) {
        const int row = dib.dsBmih.biHeight > 0 ? dib.dsBm.bmHeight - 1 - y : y;
        const BYTE* p = static_cast<const BYTE*>(dib.dsBm.bmBits) + row * dib.dsBm.bmWidthBytes + x * dib.dsBm.bmBitsPixel / 8;
        return RGB(p[2], p[1], p[0]);
    };
    DIBSECTION dib{};
    for (int id : {130, 131, 134, 135, 136, 137, 138, 139}) {
        fw::UniqueBitmap face = load(id, &dib);
        ASSERT_TRUE(face) << id;
        const int w = dib.dsBm.bmWidth, h = dib.dsBm.bmHeight;
        std::string black;  // corners of 3 x 3 pixels may be black, the face nowhere else
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (at(dib, x, y) == 0 && !((x < 3 || x >= w - 3) && (y < 3 || y >= h - 3))) black += std::to_string(x) + "," + std::to_string(y) + " ";
        EXPECT_TRUE(black.empty() && at(dib, 0, 0) == 0 && at(dib, w - 1, h - 1) == 0) << id << ": " << black;
    }
    for (int id : {132, 133}) {  // white outside the box
        fw::UniqueBitmap box = load(id, &dib);
        ASSERT_TRUE(box) << id;
        EXPECT_TRUE(at(dib, 0, 0) == RGB(255, 255, 255) && at(dib, 15, 17) == RGB(255, 255, 255) && at(dib, 8, 9) != RGB(255, 255, 255)) << id;
    }
    fw::UniqueBitmap strip = load(141, &dib);  // three glyphs, each with a magenta frame
    ASSERT_TRUE(strip);
    for (int glyph = 0; glyph < 3; ++glyph)
        for (int i = 0; i < 16; ++i)
            EXPECT_TRUE(at(dib, glyph * 16 + i, 0) == kGlyphMask && at(dib, glyph * 16 + i, 15) == kGlyphMask &&
                        at(dib, glyph * 16, i) == kGlyphMask && at(dib, glyph * 16 + 8, 8) != kGlyphMask) << glyph << " " << i;
    EXPECT_TRUE(at(dib, 7, 10) != at(dib, 23, 10) && at(dib, 23, 10) != at(dib, 39, 10)) << "empty, ticked and greyed differ";
}

TEST(MemoryDc, CopiesOnlyItsAreaWhenItEndsOrDrawsStraight) {
    Canvas target(40, 40, RGB(255, 255, 255));
    {
        MemoryDC dc(target.dc.get(), RECT{10, 10, 20, 20});
        ASSERT_TRUE(dc.OffScreen());
        RECT everything{0, 0, 40, 40};
        ::FillRect(dc.get(), &everything, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        ::SetPixel(dc.get(), 12, 13, RGB(0, 0, 255));  // the target's coordinates
        EXPECT_EQ(target.At(15, 15), RGB(255, 255, 255)) << "nothing reaches the target before the end";
    }
    for (auto [x, y, colour] : {std::tuple{15, 15, RGB(0, 0, 0)}, {12, 13, RGB(0, 0, 255)}, {19, 19, RGB(0, 0, 0)},
                                {9, 15, RGB(255, 255, 255)}, {20, 15, RGB(255, 255, 255)}, {15, 20, RGB(255, 255, 255)}})
        EXPECT_EQ(target.At(x, y), colour) << x << "," << y;
    ::IntersectClipRect(target.dc.get(), 5, 6, 15, 16);
    {
        MemoryDC dc(target.dc.get());
        const RECT& area = dc.Area();
        EXPECT_EQ(std::vector<LONG>({area.left, area.top, area.right, area.bottom}), std::vector<LONG>({5, 6, 15, 16}));
        ::SetPixel(dc.get(), 5, 6, RGB(0, 255, 0));
    }
    EXPECT_EQ(target.At(5, 6), RGB(0, 255, 0));
    MemoryDC empty(target.dc.get(), RECT{8, 8, 8, 20});
    EXPECT_TRUE(!empty.OffScreen() && empty.get() == target.dc.get());
}

TEST(SkinLabel, TextBackgroundBoldAndPathEllipsis) {
    Host host;
    HWND window = host.Add("Static", SS_LEFT, 1010, {20, 30, 120, 14});
    SkinLabel label;
    ASSERT_TRUE(label.Attach(host.window, 1010));
    // The text changes only when it differs beyond letter case, and is cut to its buffer.
    for (auto [text, shown] : {std::pair<const char*, std::string>{"C:\\Scan\\File.TXT", "C:\\Scan\\File.TXT"},
                               {"c:\\scan\\file.txt", "C:\\Scan\\File.TXT"}, {"C:\\Scan\\File2.TXT", "C:\\Scan\\File2.TXT"},
                               {nullptr, ""}}) {
        label.SetText(text);
        EXPECT_EQ(label.Text(), shown);
    }
    label.SetText(std::string(SkinLabel::kTextSize + 100, 'x').c_str());
    EXPECT_EQ(std::strlen(label.Text()), SkinLabel::kTextSize - 1u);
    label.SetText("");

    // The background is the parent's picture under the first paint only.
    host.Paint(RGB(200, 0, 0));
    EXPECT_EQ(Print(window, 120, 14).At(118, 6), RGB(200, 0, 0));
    host.Paint(RGB(255, 255, 255));
    ::SetWindowPos(window, nullptr, 200, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    label.SetText("other");
    EXPECT_EQ(Print(window, 120, 14).At(118, 6), RGB(200, 0, 0));

    // A long path shortened in its middle as the platform does it.
    HWND pathWindow = host.Add("Static", SS_LEFT | SS_PATHELLIPSIS, 1007, {93, 53, 120, 14});
    SkinLabel pathLabel;
    ASSERT_TRUE(pathLabel.Attach(host.window, 1007));
    pathLabel.SetLabelColor(RGB(0, 0, 0), false);
    char path[256] = "C:\\Program Files\\Some Vendor\\A Rather Long Folder\\Deeper Still\\target.exe";
    pathLabel.SetText(path);
    Canvas plain(120, 14, RGB(255, 255, 255));
    ::SelectObject(plain.dc.get(), pathLabel.Font());
    ::SetBkMode(plain.dc.get(), TRANSPARENT);
    RECT box{0, 0, 120, 14};
    ::DrawTextA(plain.dc.get(), path, -1, &box, DT_LEFT | DT_PATH_ELLIPSIS | DT_MODIFYSTRING | DT_CALCRECT);
    ASSERT_TRUE(std::strstr(path, "...") && std::strstr(path, "target.exe")) << path;
    box = RECT{0, 0, 120, 14};
    ::DrawTextA(plain.dc.get(), path, -1, &box, DT_LEFT);
    const Canvas shown = Print(pathWindow, 120, 14);
    int differences = 0, ink = 0;
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 120; ++x) {
            differences += shown.At(x, y) != plain.At(x, y);
            ink += shown.At(x, y) != RGB(255, 255, 255);
        }
    EXPECT_EQ(differences, 0);
    EXPECT_GT(ink, 20);

    // Bold is made from the template's font, not from the label's own.
    host.Add("Static", SS_LEFT, 1005, {547, 75, 35, 12});
    host.Add("Static", SS_LEFT, 1012, {10, 5, 200, 12});  // never given a font
    LOGFONTA face{};
    face.lfHeight = -11;
    face.lfWeight = FW_NORMAL;
    std::strcpy(face.lfFaceName, "Tahoma");
    fw::UniqueFont font(::CreateFontIndirectA(&face));
    ::SendDlgItemMessageA(host.window, 1005, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    SkinLabel percent, bare;
    ASSERT_TRUE(percent.Attach(host.window, 1005) && bare.Attach(host.window, 1012));
    auto describe = [](const SkinLabel& label) {
        LOGFONTA own{};
        ::GetObjectA(label.Font(), sizeof(own), &own);
        return std::string(own.lfFaceName) + " " + std::to_string(own.lfHeight) + " " + std::to_string(own.lfWeight);
    };
    EXPECT_EQ(describe(percent), "Dotum 12 400");
    percent.SetBold(true, false);
    EXPECT_EQ(describe(percent), "Tahoma -11 700");
    EXPECT_TRUE(percent.Bold());
    percent.SetBold(false, false);
    EXPECT_EQ(describe(percent), "Tahoma -11 400");
    bare.SetBold(true, true);
    EXPECT_EQ(describe(bare).substr(describe(bare).size() - 3), "700");
}

constexpr int kBarWidth = 447, kBarHeight = 12;
constexpr COLORREF kPanel = RGB(245, 245, 245), kFrame = RGB(171, 171, 171);

// A 16 x 11 fill picture: a vertical gradient in its first column, magenta
// in the others, which must never show.
fw::UniqueBitmap MakeFill(int green) {
    Canvas canvas(16, 11, RGB(255, 0, 255));
    for (int row = 0; row < 11; ++row) ::SetPixel(canvas.dc.get(), 0, row, RGB(0, green + row * 5, 120));
    return canvas.Take();
}

// Columns of the bar (from 1) that show the fill's first column, or -1 when
// a pixel above the bottom edge is not the fill, panel or frame it should be.
int FilledColumns(const Canvas& bar, COLORREF (*fill)(int row)) {
    int columns = 0;
    while (columns < kBarWidth - 2 && bar.At(columns + 1, 5) == fill(4)) ++columns;
    for (int y = 0; y < kBarHeight - 1; ++y)
        for (int x = 0; x < kBarWidth; ++x) {
            const bool edge = x == 0 || y == 0 || x == kBarWidth - 1;
            if (bar.At(x, y) != (edge ? kFrame : x <= columns ? fill(y - 1) : kPanel)) return -1;
        }
    return columns;
}

TEST(SkinProgress, PanelFrameAndAFillOfTheRangesShareInEitherColour) {
    Host host;
    HWND window = host.Add(PROGRESS_CLASSA, 0, 1002, {93, 75, kBarWidth, kBarHeight});
    SkinProgress bar;
    ASSERT_TRUE(bar.Attach(host.window, 1002));
    auto active = [](int row) { return RGB(0, 100 + row * 5, 120); };
    auto idle = [](int row) { return RGB(0, 30 + row * 5, 120); };
    auto plain = [](int) { return SkinProgress::kActiveFallback; };
    ::SendMessageA(window, PBM_SETRANGE32, 0, 1);
    ::SendMessageA(window, PBM_SETPOS, 1, 0);
    const Canvas loaded = Print(window, kBarWidth, kBarHeight);  // Attach loads 140 and 144
    EXPECT_TRUE(loaded.At(1, 5) != kPanel && loaded.At(1, 5) != SkinProgress::kActiveFallback && loaded.At(1, 5) == loaded.At(kBarWidth - 2, 5));
    bar.SetFillBitmaps(MakeFill(100), MakeFill(30));
    const struct {
        int lower, upper, position;
        bool active;
        int columns;
    } rows[] = {{0, 1, 1, true, kBarWidth - 2}, {0, 100, 0, true, 0}, {50, 150, 50, true, 0}, {-10, 0, -5, true, 0},
                {0, 1000, 500, true, 221}, {0, 10000000, 9000000, true, 400},  // no 32-bit overflow with millions of files
                {0, 100, 40, false, 176}, {0, 100, 40, true, 176}, {7, 7, 7, true, 0}, {9, 3, 5, true, 0}};
    for (const auto& row : rows) {
        ::SendMessageA(window, PBM_SETRANGE32, row.lower, row.upper);
        ::SendMessageA(window, PBM_SETPOS, row.position, 0);
        bar.SetActive(row.active);
        EXPECT_EQ(FilledColumns(Print(window, kBarWidth, kBarHeight), row.active ? active : idle), row.columns)
            << row.lower << ".." << row.upper << " at " << row.position << (row.active ? "" : " idle");
        EXPECT_EQ(bar.Active(), row.active);
    }
    EXPECT_EQ(bar.FilledWidth(), 0);
    ::SendMessageA(window, PBM_SETRANGE32, 0, 10000000);
    ::SendMessageA(window, PBM_SETPOS, 9000000, 0);
    EXPECT_EQ(bar.FilledWidth(), 402);
    bar.SetFillBitmaps(fw::UniqueBitmap(), fw::UniqueBitmap());
    EXPECT_EQ(FilledColumns(Print(window, kBarWidth, kBarHeight), plain), 400) << "without pictures a plain colour";
}

constexpr COLORREF kBack = RGB(10, 20, 30), kRed = RGB(200, 0, 0), kGreen = RGB(0, 200, 0), kBlue = RGB(0, 0, 200),
                   kYellow = RGB(200, 200, 0);

// A 60 x 25 button of `style` on a host, bound as a SkinButton.
struct Button : Host {
    explicit Button(DWORD style, const char* caption = "") : child(Add("Button", style, 1011, {10, 10, 60, 25}, caption)) {
        skin.Attach(window, 1011);
        skin.SetColor(SkinButton::BackNormal, kBack, false);
        skin.SetColor(SkinButton::BackHover, kBack, false);
    }
    // The picture of one owner-draw request, sent through the host's reflection.
    Canvas Draw(UINT state) const {
        Canvas canvas(60, 25, RGB(1, 2, 3));
        DRAWITEMSTRUCT item{ODT_BUTTON, 1011, 0, ODA_DRAWENTIRE, state, child, canvas.dc.get(), {0, 0, 60, 25}, 0};
        ::SendMessageA(window, WM_DRAWITEM, 1011, reinterpret_cast<LPARAM>(&item));
        return canvas;
    }
    // The 40 x 15 picture sits at (10, 5); its frame is the transparent colour.
    COLORREF Picture(UINT state) const {
        const Canvas canvas = Draw(state);
        EXPECT_EQ(canvas.At(10, 5), kBack) << "the transparent frame shows the background";
        return canvas.At(30, 12);
    }
    void Pictures(COLORREF normal, COLORREF hover, COLORREF disabled, COLORREF pressed) {
        HBITMAP bitmaps[4] = {};
        const COLORREF fills[4] = {normal, hover, disabled, pressed}, keys[4] = {kGlyphMask, kGlyphMask, kGlyphMask, kGlyphMask};
        for (int i = 0; i < 4; ++i) {
            if (fills[i] == CLR_NONE) continue;
            Canvas canvas(40, 15, kGlyphMask);
            canvas.Fill(RECT{1, 1, 39, 14}, fills[i]);
            bitmaps[i] = canvas.Take().release();
        }
        EXPECT_EQ(skin.SetStateBitmapHandles(bitmaps, keys), 0);
    }
    void Mouse(UINT message, int x, WPARAM keys = 0) const { ::SendMessageA(child, message, keys, MAKELPARAM(x, 5)); }
    HWND child;
    SkinButton skin;
};

// A 16 x 18 opaque icon of one colour.
HICON SolidIcon(COLORREF colour) {
    Canvas canvas(16, 18, colour);
    const BYTE zeros[2 * 18] = {};
    fw::UniqueBitmap mask(::CreateBitmap(16, 18, 1, 1, zeros)), picture = canvas.Take();
    ICONINFO icon{TRUE, 0, 0, mask.get(), picture.get()};
    return ::CreateIconIndirect(&icon);
}

TEST(SkinButton, OwnerDrawOfEveryTypeWithColoursPicturesAndIconsByState) {
    for (auto [style, checkBox] : {std::pair{BS_PUSHBUTTON, false}, {BS_RADIOBUTTON, false}, {BS_AUTOCHECKBOX, true}}) {
        Button button(style);
        EXPECT_EQ(::GetWindowLongA(button.child, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW) << style;
        button.skin.SetChecked(true, true);
        EXPECT_EQ(button.skin.IsCheckBox() + 2 * button.skin.GetChecked(), checkBox ? 3 : 0) << "a push button has no check state";
    }
    Button push(BS_PUSHBUTTON);
    fw::WindowDc dc(push.child);
    EXPECT_EQ(::SendMessageA(push.window, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc.get()), reinterpret_cast<LPARAM>(push.child)),
              reinterpret_cast<LRESULT>(::GetStockObject(HOLLOW_BRUSH)));
    std::vector<COLORREF> colours;
    for (int i = 0; i < SkinButton::ColorCount; ++i) colours.push_back(push.skin.GetColor(SkinButton::ButtonColor(i)));
    EXPECT_EQ(push.skin.SetColor(5, RGB(1, 1, 1), true) + push.skin.SetColor(255, RGB(1, 1, 1), true), 6);
    for (int i = 0; i < SkinButton::ColorCount; ++i) EXPECT_EQ(push.skin.GetColor(SkinButton::ButtonColor(i)), colours[i]) << i;
    EXPECT_EQ(push.skin.SetColor(SkinButton::BackNormal, kYellow, false) + push.skin.SetColor(SkinButton::BackHover, kBlue, false), 0);
    EXPECT_EQ(push.Draw(0).At(0, 0), kYellow);
    EXPECT_EQ(push.Draw(ODS_SELECTED).At(59, 24), kBlue) << "pressed paints the hover background";

    // A missing picture shows the normal one.
    Button pictures(BS_PUSHBUTTON);
    for (const auto& [given, normal, pressed, disabled, both] : {std::tuple{std::vector{kRed, kGreen, CLR_NONE, kBlue}, kRed, kBlue, kRed, kRed},
                                                                {std::vector{kRed, CLR_NONE, kYellow, CLR_NONE}, kRed, kRed, kYellow, kYellow}}) {
        pictures.Pictures(given[0], given[1], given[2], given[3]);
        EXPECT_EQ(std::vector({pictures.Picture(0), pictures.Picture(ODS_SELECTED), pictures.Picture(ODS_DISABLED),
                               pictures.Picture(ODS_DISABLED | ODS_SELECTED)}), std::vector({normal, pressed, disabled, both}));
    }
    EXPECT_EQ(pictures.skin.SetStateBitmaps(0x7ff0, 0, 0, 0, 0, 0, 0, 0), 1) << "a missing resource";
    EXPECT_EQ(pictures.Draw(0).At(30, 12), kBack) << "a failed set leaves no picture";

    // A check box shows its icons centred by check state; the reflected
    // click toggles once, and so do a click and a double click.
    Button box(BS_AUTOCHECKBOX);
    ASSERT_EQ(box.skin.SetIcons(SolidIcon(kGreen), SolidIcon(kRed), nullptr), 0);
    const Canvas unchecked = box.Draw(0);  // 16 x 18 in 60 x 25: (22, 3) to (37, 20)
    EXPECT_EQ(std::vector({unchecked.At(22, 3), unchecked.At(37, 20), unchecked.At(21, 3), unchecked.At(38, 20)}),
              std::vector({kRed, kRed, kBack, kBack}));
    box.skin.SetChecked(true, false);
    EXPECT_EQ(box.Draw(0).At(30, 12), kGreen);
    ::SendMessageA(box.window, WM_COMMAND, MAKEWPARAM(1011, BN_CLICKED), reinterpret_cast<LPARAM>(box.child));
    EXPECT_FALSE(box.skin.GetChecked());
    EXPECT_EQ(std::vector({box.Draw(0).At(30, 12), box.Draw(ODS_SELECTED).At(30, 12), box.Draw(ODS_DISABLED).At(30, 12)}),
              std::vector({kRed, kGreen, kBack})) << "held down shows the ticked box; no disabled icon, no icon";
    for (UINT press : {UINT{WM_LBUTTONDOWN}, UINT{WM_LBUTTONDBLCLK}}) {
        const bool before = box.skin.GetChecked();
        box.Mouse(press, 5, MK_LBUTTON);
        box.Mouse(WM_LBUTTONUP, 5);
        EXPECT_NE(box.skin.GetChecked(), before) << press;
    }
}

TEST(SkinButton, PressedCaptionMovesAPixelAndHoverFollowsTheCapture) {
    Button button(BS_PUSHBUTTON, "Pause");
    button.skin.SetColor(SkinButton::TextNormal, RGB(255, 255, 255), false);
    button.Pictures(kBlue, kBlue, CLR_NONE, kBlue);
    // Bounds of the caption: the pixels that are neither background nor picture.
    auto caption = [&](UINT state) {
        const Canvas canvas = button.Draw(state);
        RECT box{60, 25, -1, -1};
        for (int y = 0; y < 25; ++y)
            for (int x = 0; x < 60; ++x)
                if (canvas.At(x, y) != kBack && canvas.At(x, y) != kBlue)
                    box = RECT{std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x), std::max<LONG>(box.bottom, y)};
        EXPECT_EQ(std::vector({canvas.At(11, 6), canvas.At(10, 6), canvas.At(48, 18), canvas.At(49, 18)}),
                  std::vector({kBlue, kBack, kBlue, kBack})) << "the picture stays";
        return box;
    };
    const RECT up = caption(0), down = caption(ODS_SELECTED);
    ASSERT_LE(up.left, up.right) << "the caption is drawn";
    EXPECT_EQ(std::vector<LONG>({down.left, down.top, down.right, down.bottom}),
              std::vector<LONG>({up.left + 1, up.top + 1, up.right + 1, up.bottom + 1}));

    button.Pictures(kRed, kGreen, CLR_NONE, kBlue);
    const int inside = 5, outside = 200;
    // Each step: the mouse message, then hover, who has the capture, and the picture.
    const struct {
        UINT message;
        int x;
        WPARAM keys;
        bool hover, captured;
    } steps[] = {{WM_MOUSEMOVE, inside, 0, true, true}, {WM_MOUSEMOVE, outside, 0, false, false},  // leaving lets it go
                 {WM_MOUSEMOVE, inside, 0, true, true}, {WM_LBUTTONDOWN, inside, MK_LBUTTON, true, true},
                 {WM_MOUSEMOVE, outside, MK_LBUTTON, false, true},  // dragging off keeps the capture
                 {WM_LBUTTONUP, outside, 0, false, false}};
    for (const auto& step : steps) {
        button.Mouse(step.message, step.x, step.keys);
        EXPECT_EQ(button.skin.IsHover(), step.hover) << step.message;
        EXPECT_EQ(::GetCapture() == button.child, step.captured) << step.message;
        if (step.message == WM_MOUSEMOVE) { EXPECT_EQ(button.Picture(0), step.hover ? kGreen : kRed); }
        if (step.message == WM_LBUTTONDOWN) { EXPECT_TRUE(::SendMessageA(button.child, BM_GETSTATE, 0, 0) & BST_PUSHED); }
    }
    // Another window taking the capture keeps it; the flag stays until the
    // hover is cancelled, or the focus lost.
    for (UINT cancel : {UINT{WM_CANCELMODE}, UINT{WM_KILLFOCUS}}) {
        button.Mouse(WM_MOUSEMOVE, inside);
        ::SetCapture(button.window);
        EXPECT_TRUE(::GetCapture() == button.window && button.skin.IsHover());
        button.Mouse(cancel, 0);
        EXPECT_FALSE(button.skin.IsHover()) << cancel;
        ::ReleaseCapture();
    }

    // The tooltip is made once, for the button's own messages.
    MSG other{}, own{};
    other.hwnd = button.window;
    own.hwnd = button.child;
    other.message = own.message = WM_MOUSEMOVE;
    EXPECT_FALSE(button.skin.PreTranslateMessage(&other) || button.skin.Tooltip());
    EXPECT_FALSE(button.skin.PreTranslateMessage(&own));
    HWND tooltip = button.skin.Tooltip();
    EXPECT_FALSE(button.skin.PreTranslateMessage(&own));
    EXPECT_TRUE(tooltip && button.skin.Tooltip() == tooltip);
    EXPECT_EQ(::SendMessageA(tooltip, TTM_GETMAXTIPWIDTH, 0, 0), 400);
}

constexpr COLORREF kPaper = RGB(10, 20, 30), kGlyphColour[3] = {RGB(0, 0, 200), RGB(200, 0, 0), RGB(120, 120, 120)};

// The findings list laid out as the scan window lays it out, with a check
// strip of three solid glyphs, each with a magenta left column.
struct ListHost : Host {
    ListHost() {
        list = Add(WC_LISTVIEWA, LVS_REPORT | LVS_OWNERDRAWFIXED, kFindingsListId, {12, 114, 570, 140});
        Canvas canvas(48, 16, kGlyphMask);
        for (int glyph = 0; glyph < 3; ++glyph) canvas.Fill(RECT{glyph * 16 + 1, 0, glyph * 16 + 16, 16}, kGlyphColour[glyph]);
        strip = canvas.Take();
        ready = findings.Attach(window, kFindingsListId);
        LOGFONTA face{};
        face.lfHeight = 12;
        std::strcpy(face.lfFaceName, "Tahoma");
        font.reset(::CreateFontIndirectA(&face));
        findings.InitImages(strip.get());
        findings.Header().SetHeaderChecked(false);
        findings.Header().SetHeaderFont(font.get());
        findings.SetRowFont(font.get());
        findings.ApplyListStyle();
        const char* titles[] = {"Name", "Path", "State", ""};
        const int widths[] = {170, 270, 85, 0};
        for (int column = 0; column < 4; ++column) {
            LVCOLUMNA item{};
            item.mask = LVCF_TEXT | LVCF_WIDTH;
            item.cx = widths[column];
            item.pszText = const_cast<char*>(titles[column]);
            ::SendMessageA(list, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&item));
        }
    }
    HWND Header() { return findings.Header().Handle(); }
    // A finding as the scan adds it: a new checked top row.
    void AddFinding(const char* name, const char* code = "16") {
        findings.SetItem(0, 0, name);
        for (int column = 1; column < 4; ++column) findings.SetItem(0, column, column == 3 ? code : "C:\\x.exe");
        findings.CheckGroup(0, true);
        findings.Header().SetHeaderChecked(true);
    }
    RECT Row(int row) const {
        RECT bounds{LVIR_BOUNDS, 0, 0, 0};
        ::SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds));
        return bounds;
    }
    void Press(HWND target, int x, int y) const {
        ::SendMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        ::SendMessageA(target, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }
    void ClickRow(int row, int x = 200) const { Press(list, x, (Row(row).top + Row(row).bottom) / 2); }
    void ClickTitle(int column) {
        RECT item{};
        ::SendMessageA(Header(), HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&item));
        Press(Header(), (item.left + item.right) / 2, (item.top + item.bottom) / 2);
    }
    bool Selected(int row) const { return ::SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED; }
    // The rows drawn through the list's own owner-draw, in list coordinates.
    Canvas DrawRows() {
        Canvas canvas(600, 200, kPaper);
        for (int row = 0; row < ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0); ++row) {
            DRAWITEMSTRUCT draw{ODT_LISTVIEW, kFindingsListId, static_cast<UINT>(row), ODA_DRAWENTIRE,
                                Selected(row) ? UINT{ODS_SELECTED} : 0u, list, canvas.dc.get(), Row(row), 0};
            ::SendMessageA(window, WM_DRAWITEM, kFindingsListId, reinterpret_cast<LPARAM>(&draw));
        }
        return canvas;
    }
    // The colour at the middle of the glyph of a row, or of the glyph's magenta column.
    COLORREF Glyph(const Canvas& canvas, int row, int dx = 8) const {
        const RECT r = Row(row);
        const int q = (r.bottom - r.top - 26) / 2;
        return canvas.At(r.left + q + 9 + dx, r.bottom - q - 19 + 8);
    }
    // Per row: checked ("x"), a handled head ("h") or neither ("-").
    std::string Checks() {
        std::string marks;
        for (int row = 0; row < ::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0); ++row)
            marks += findings.IsChecked(row) ? (findings.IsGroupHead(row) && findings.IsHandled(row) ? "h" : "x") : "-";
        return marks + (findings.Header().HeaderChecked() ? " all" : "");
    }
    HWND list;
    fw::UniqueBitmap strip;
    fw::UniqueFont font;
    FindingsList findings;
    bool ready;
};

TEST(FindingsList, GlyphsRowColoursAndTheHeader) {
    ListHost host;
    ASSERT_TRUE(host.ready);
    host.AddFinding("Three", "8");
    host.AddFinding("Two", "16");
    host.AddFinding("One", "512");
    host.findings.SetItem(3, 0, "");  // rows: One (deleted), Two (waiting), Three (cured) and its continuation
    host.findings.CheckGroup(2, true);
    host.findings.CheckGroup(1, false);
    // While the scan runs (flat mode) only the check decides; afterwards
    // handled rows are greyed, checked or not.
    for (bool flat : {true, false}) {
        host.findings.SetFlatCheck(flat);
        if (!flat) host.findings.CheckGroup(0, false);
        const Canvas canvas = host.DrawRows();
        const int handled = flat ? kGlyphTicked : kGlyphGreyed;
        EXPECT_EQ(std::vector({host.Glyph(canvas, 0), host.Glyph(canvas, 1), host.Glyph(canvas, 2), host.Glyph(canvas, 3), host.Glyph(canvas, 0, 0)}),
                  std::vector({kGlyphColour[handled], kGlyphColour[kGlyphEmpty], kGlyphColour[handled], kPaper, kPaper})) << flat;
    }
    EXPECT_EQ(host.findings.GlyphFor(3), -1);
    host.findings.CheckGroup(1, true);
    EXPECT_EQ(host.findings.GlyphFor(1), kGlyphTicked) << "checked and not handled";

    // Even, odd and selected rows; separators; dark or white text.
    LVITEMA select{};
    select.stateMask = select.state = LVIS_SELECTED;
    ::SendMessageA(host.list, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&select));
    const Canvas rows = host.DrawRows();
    auto inks = [&](int row, COLORREF colour) {
        int count = 0;
        for (int y = host.Row(row).top + 1; y < host.Row(row).bottom; ++y)
            for (int x = 23; x < 160; ++x) count += rows.At(x, y) == colour;
        return count > 0;
    };
    const COLORREF fills[3] = {RGB(255, 255, 255), RGB(247, 247, 247), RGB(154, 167, 163)};
    for (int row = 0; row < 3; ++row) {
        const RECT r = host.Row(row);
        EXPECT_EQ(std::vector({rows.At(r.right - 3, (r.top + r.bottom) / 2), rows.At(30, (r.top + r.bottom) / 2), rows.At(r.right - 3, r.top)}),
                  std::vector({fills[row], fills[row], RGB(239, 239, 239)})) << row;
    }
    EXPECT_TRUE(inks(0, RGB(88, 88, 88)) && inks(2, RGB(255, 255, 255)) && !inks(2, RGB(88, 88, 88)));

    // The header: its picture, the dividers and the select-all box; its own paint is the same drawing.
    Canvas picture(7, 21, RGB(0, 90, 40));
    host.findings.Header().SetBackground(picture.Take());
    RECT client{}, first{};
    ::GetClientRect(host.Header(), &client);
    ::SendMessageA(host.Header(), HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
    const int p = (first.bottom - first.top - 16) / 2, glyphX = first.left + p + 3 + 8, glyphY = first.bottom - p - 15 + 8;
    for (bool ticked : {false, true}) {
        host.findings.Header().SetHeaderChecked(ticked);
        Canvas canvas(600, 40, kPaper);
        host.findings.Header().Draw(canvas.dc.get());
        EXPECT_EQ(std::vector({canvas.At(glyphX, glyphY), canvas.At(glyphX - 8, glyphY), canvas.At(first.right, (first.top + first.bottom) / 2), canvas.At(client.right - 2, 3)}),
                  std::vector({kGlyphColour[ticked ? kGlyphTicked : kGlyphEmpty], RGB(0, 90, 40), RGB(229, 229, 208), RGB(0, 90, 40)}));
    }
    ::RedrawWindow(host.Header(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    fw::WindowDc screen(host.Header());
    EXPECT_EQ(::GetPixel(screen.get(), glyphX, glyphY), kGlyphColour[kGlyphTicked]);
    Canvas source(1, 1, 0);
    ::SelectObject(source.dc.get(), host.strip.get());
    EXPECT_EQ(source.At(0, 0), kGlyphMask) << "the image lists leave the caller's strip as it was";
}

TEST(FindingsList, ChecksGroupsClicksAndTheHiddenColumn) {
    ListHost host;
    ASSERT_TRUE(host.ready);
    // With no rows nothing reacts.
    EXPECT_TRUE(host.findings.AllChecked());
    host.Press(host.list, 200, 40);
    host.ClickTitle(0);
    EXPECT_EQ(host.Checks(), "");
    EXPECT_NE(::GetFocus(), host.list);

    host.AddFinding("Other");
    host.AddFinding("Head");
    host.findings.SetItem(1, 0, "");  // rows: Head, its continuation, Other
    host.findings.CheckAll(false);
    EXPECT_EQ(host.findings.CountChecked(), 0);
    host.findings.CheckGroup(0, true);
    EXPECT_FALSE(host.findings.AllChecked());
    host.findings.CheckAll(true);
    EXPECT_TRUE(host.findings.AllChecked());
    // A cure code marks a row handled; unknown codes change nothing.
    for (auto [row, code, marks] : {std::tuple{0, kCodeCured, "hxx all"}, {2, 7, "hxx all"}, {0, kCodeNotCured, "xxx all"}}) {
        host.findings.SetCureResult(row, code);
        EXPECT_EQ(host.Checks(), marks) << code;
    }
    // A click on a head toggles its group once, also on the glyph; on a
    // continuation row it only selects; below the last row nothing; the
    // column-0 title checks or unchecks all, others nothing.
    host.ClickRow(1);
    EXPECT_TRUE(host.Selected(1));
    EXPECT_EQ(host.Checks(), "xxx all");
    const struct {
        int row, x;  // row -1: the title of column x; row 3: below the last row
        const char* marks;
    } clicks[] = {{0, 200, "--x"}, {0, 500, "xxx all"}, {2, 14, "xx-"}, {2, 14, "xxx all"}, {3, 200, "xxx all"},
                  {-1, 0, "---"}, {-1, 1, "---"}, {-1, 0, "xxx all"}};
    for (const auto& click : clicks) {
        click.row < 0 ? host.ClickTitle(click.x) : click.row > 2 ? host.Press(host.list, 200, 130) : host.ClickRow(click.row, click.x);
        EXPECT_EQ(host.Checks(), click.marks) << click.row << " " << click.x;
    }
    char name[16];
    LVITEMA item{};
    item.pszText = name;
    item.cchTextMax = sizeof(name);
    ::SendMessageA(host.list, LVM_GETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(name, "Head") << "the list is not sorted by a title click";

    // The hidden code column can be widened neither by tracking nor by a double click on its divider.
    auto beginTrack = [&](UINT code, int column) {
        NMHEADERW track{};
        track.hdr = {host.Header(), static_cast<UINT_PTR>(::GetDlgCtrlID(host.Header())), code};
        track.iItem = column;
        return ::SendMessageA(host.list, WM_NOTIFY, track.hdr.idFrom, reinterpret_cast<LPARAM>(&track));
    };
    EXPECT_EQ(std::vector({beginTrack(HDN_BEGINTRACKW, 3), beginTrack(HDN_BEGINTRACKA, 3), beginTrack(HDN_BEGINTRACKW, 1)}),
              std::vector<LRESULT>({1, 1, 0}));
    ::SendMessageA(host.Header(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(170 + 270 + 85 + 1, 8));
    EXPECT_EQ(std::vector({::SendMessageA(host.list, LVM_GETCOLUMNWIDTH, 3, 0), ::SendMessageA(host.list, LVM_GETCOLUMNWIDTH, 2, 0)}),
              std::vector<LRESULT>({0, 85}));
}

TEST(ShortenToWidth, CutsWithAnEllipsisToTheLongestTextThatFits) {
    Canvas canvas(10, 10, kPaper);
    HDC dc = canvas.dc.get();
    ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
    const std::string text = "C:\\Windows\\System32\\drivers\\etc\\something-long.sys";
    auto width = [&](const std::string& s) {
        SIZE size{};
        ::GetTextExtentPoint32A(dc, s.c_str(), static_cast<int>(s.size()), &size);
        return static_cast<int>(size.cx);
    };
    EXPECT_EQ(ShortenToWidth(dc, text.c_str(), width(text) + 1), text);
    EXPECT_STREQ(ShortenToWidth(dc, "", 0), "");
    for (int limit : {width(text), width(text) / 2, 40}) {
        const std::string cut = ShortenToWidth(dc, text.c_str(), limit);
        const size_t kept = cut.size() - 3;
        EXPECT_TRUE(cut.size() >= 4 && cut.substr(kept) == "..." && text.compare(0, kept, cut, 0, kept) == 0) << cut;
        EXPECT_LT(width(cut), limit) << cut;
        EXPECT_GE(width(text.substr(0, kept + 1) + "..."), limit) << "one byte more would not have fitted: " << cut;
    }
    EXPECT_EQ(std::string(ShortenToWidth(dc, std::string(5000, 'w').c_str(), 60)).substr(0, 3), "www");
}

// Cuts Korean texts at every width; prints each cut that ends inside a character.
KX_PROBE(findings_shorten_korean) {
    if (::GetACP() != 949) {
        std::printf("code page %u\n", ::GetACP());
        return 1;
    }
    Canvas canvas(10, 10, kPaper);
    ::SelectObject(canvas.dc.get(), ::GetStockObject(DEFAULT_GUI_FONT));
    int faults = 0;
    // Hangul of KS X 1001 (both bytes high) and of the extended set, whose trail bytes may be letters.
    for (const wchar_t* wide : {L"\uAC00\uB098\uB2E4\uB77C\uB9C8\uBC14\uC0AC\uC544", L"a\uAC00\uB098b\uB2E4\uB77Cc",
                                L"\uB620\uB620x\uB620\uB620\uB620", L"\uBA3F\uAC00\uB620ab\uB620"}) {
        char text[200];
        ::WideCharToMultiByte(949, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
        SIZE full{};
        ::GetTextExtentPoint32A(canvas.dc.get(), text, static_cast<int>(std::strlen(text)), &full);
        for (int width = 1; width <= full.cx; ++width) {
            const std::string cut = ShortenToWidth(canvas.dc.get(), text, width);
            size_t i = 0, kept = cut.size() >= 3 ? cut.size() - 3 : 0;
            while (i < kept) i += ::IsDBCSLeadByte(static_cast<BYTE>(cut[i])) ? 2 : 1;
            if (cut.size() < 3 || cut.compare(kept, 3, "...") != 0 || i != kept || std::strncmp(cut.c_str(), text, kept) != 0)
                faults += std::printf("bad cut at width %d: %s\n", width, cut.c_str()) > 0;
        }
    }
    return faults == 0 ? 0 : 2;
}

TEST(ShortenToWidth, NeverSplitsADoubleByteCharacterInCodePage949) {
    const kxtest::RunResult run = kxtest::RunProbeInLocale("ko_KR", "findings_shorten_korean");
    EXPECT_TRUE(run.finished && run.exitCode == 0) << run.output;
}

}  // namespace
