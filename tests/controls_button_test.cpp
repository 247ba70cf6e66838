// The skinned button drawn into memory: which bitmap or icon each state shows,
// where the caption goes, and the hover state kept with the mouse capture.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "controls/skin_button.h"
#include "framework/control.h"
#include "framework/handles.h"

namespace {

constexpr int kButtonId = 1011;
constexpr int kWidth = 60;
constexpr int kHeight = 25;
constexpr COLORREF kBack = RGB(10, 20, 30);
constexpr COLORREF kRed = RGB(200, 0, 0);
constexpr COLORREF kGreen = RGB(0, 200, 0);
constexpr COLORREF kBlue = RGB(0, 0, 200);
constexpr COLORREF kYellow = RGB(200, 200, 0);
constexpr COLORREF kKey = RGB(255, 0, 255);

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT answer = 0;
    switch (message) {
    case WM_DRAWITEM:
        if (fw::ReflectToControl(reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem, message, wParam, lParam,
                                 &answer))
            return answer;
        break;
    case WM_COMMAND:
    case WM_CTLCOLORBTN:
        if (fw::ReflectToControl(reinterpret_cast<HWND>(lParam), message, wParam, lParam, &answer)) return answer;
        break;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// A visible, active top-level window with one bound button of `style`.
struct Host {
    HWND window = nullptr;
    HWND child = nullptr;
    SkinButton button;

    explicit Host(DWORD style, const char* caption = "") {
        WNDCLASSA wc{};
        wc.lpfnWndProc = HostProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "KxButtonTestHost";
        ::RegisterClassA(&wc);
        window = ::CreateWindowExA(0, wc.lpszClassName, "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 320, 220,
                                   nullptr, nullptr, wc.hInstance, nullptr);
        child = ::CreateWindowExA(0, "Button", caption, WS_CHILD | WS_VISIBLE | style, 10, 10, kWidth, kHeight,
                                  window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)), wc.hInstance,
                                  nullptr);
        ::SetForegroundWindow(window);
        ::SetActiveWindow(window);
        button.Attach(window, kButtonId);
        button.SetColor(SkinButton::BackNormal, kBack, false);
        button.SetColor(SkinButton::BackHover, kBack, false);
    }
    ~Host() {
        if (window) ::DestroyWindow(window);
    }
};

// The picture of one owner-draw request, sent through the host's reflection.
class Picture {
public:
    Picture(const Host& host, UINT itemState) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        dc_.reset(::CreateCompatibleDC(nullptr));
        bitmap_.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        old_ = ::SelectObject(dc_.get(), bitmap_.get());
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.CtlID = kButtonId;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = itemState;
        item.hwndItem = host.child;
        item.hDC = dc_.get();
        item.rcItem = RECT{0, 0, kWidth, kHeight};
        ::SendMessageA(host.window, WM_DRAWITEM, kButtonId, reinterpret_cast<LPARAM>(&item));
    }
    ~Picture() { ::SelectObject(dc_.get(), old_); }
    COLORREF At(int x, int y) const { return ::GetPixel(dc_.get(), x, y); }
    // Bounds of the pixels that are neither `a` nor `b`.
    RECT Other(COLORREF a, COLORREF b) const {
        RECT box{kWidth, kHeight, -1, -1};
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const COLORREF c = At(x, y);
                if (c == a || c == b) continue;
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x);
                box.bottom = std::max<LONG>(box.bottom, y);
            }
        return box;
    }

private:
    fw::UniqueBitmap bitmap_;
    fw::UniqueDc dc_;
    HGDIOBJ old_ = nullptr;
};

// A 40 x 15 bitmap of `fill` with a one-pixel frame of the transparent colour.
HBITMAP FramedBitmap(COLORREF fill) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 40;
    info.bmiHeader.biHeight = -15;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    fw::UniqueDc dc(::CreateCompatibleDC(nullptr));
    fw::SelectGuard select(dc.get(), bitmap);
    fw::UniqueBrush key(::CreateSolidBrush(kKey));
    fw::UniqueBrush inner(::CreateSolidBrush(fill));
    RECT all{0, 0, 40, 15};
    RECT middle{1, 1, 39, 14};
    ::FillRect(dc.get(), &all, key.get());
    ::FillRect(dc.get(), &middle, inner.get());
    return bitmap;
}

// A 16 x 18 opaque icon of one colour.
HICON SolidIcon(COLORREF colour) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = -18;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    fw::UniqueBitmap colourBitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    {
        fw::UniqueDc dc(::CreateCompatibleDC(nullptr));
        fw::SelectGuard select(dc.get(), colourBitmap.get());
        fw::UniqueBrush brush(::CreateSolidBrush(colour));
        RECT all{0, 0, 16, 18};
        ::FillRect(dc.get(), &all, brush.get());
    }
    const BYTE zeros[2 * 18] = {};
    fw::UniqueBitmap mask(::CreateBitmap(16, 18, 1, 1, zeros));
    ICONINFO icon{TRUE, 0, 0, mask.get(), colourBitmap.get()};
    return ::CreateIconIndirect(&icon);
}

void GiveBitmaps(SkinButton& button, COLORREF normal, COLORREF hover, COLORREF disabled, COLORREF pressed) {
    const COLORREF fills[4] = {normal, hover, disabled, pressed};
    HBITMAP bitmaps[4] = {};
    for (int i = 0; i < 4; ++i) bitmaps[i] = fills[i] == CLR_NONE ? nullptr : FramedBitmap(fills[i]);
    const COLORREF keys[4] = {kKey, kKey, kKey, kKey};
    ASSERT_EQ(button.SetStateBitmapHandles(bitmaps, keys), 0);
}

// The 40 x 15 bitmap sits at (10, 5); its frame is transparent.
COLORREF BitmapShown(const Picture& picture) {
    EXPECT_EQ(picture.At(10, 5), kBack) << "the transparent frame shows the background";
    EXPECT_EQ(picture.At(9, 12), kBack);
    return picture.At(30, 12);
}

TEST(SkinButton, AttachTurnsTheButtonIntoOwnerDrawAndReadsTheCheckBoxType) {
    Host push(BS_PUSHBUTTON);
    EXPECT_EQ(::GetWindowLongA(push.child, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_FALSE(push.button.IsCheckBox());
    push.button.SetChecked(true, true);
    EXPECT_FALSE(push.button.GetChecked()) << "a push button has no check state";

    Host radio(BS_RADIOBUTTON);
    EXPECT_EQ(::GetWindowLongA(radio.child, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);

    Host box(BS_AUTOCHECKBOX);
    EXPECT_EQ(::GetWindowLongA(box.child, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_TRUE(box.button.IsCheckBox());
    box.button.SetChecked(true, true);
    EXPECT_TRUE(box.button.GetChecked());

    HDC dc = ::GetDC(push.child);
    EXPECT_EQ(::SendMessageA(push.window, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc),
                             reinterpret_cast<LPARAM>(push.child)),
              reinterpret_cast<LRESULT>(::GetStockObject(HOLLOW_BRUSH)));
    ::ReleaseDC(push.child, dc);
}

TEST(SkinButton, ColoursOutOfRangeAreRefusedAndValidOnesPaint) {
    Host host(BS_PUSHBUTTON);
    COLORREF before[SkinButton::ColorCount];
    for (int i = 0; i < SkinButton::ColorCount; ++i) before[i] = host.button.GetColor(SkinButton::ButtonColor(i));
    EXPECT_EQ(host.button.SetColor(5, RGB(1, 1, 1), true), 3);
    EXPECT_EQ(host.button.SetColor(255, RGB(1, 1, 1), true), 3);
    for (int i = 0; i < SkinButton::ColorCount; ++i)
        EXPECT_EQ(host.button.GetColor(SkinButton::ButtonColor(i)), before[i]) << "colour " << i;

    EXPECT_EQ(host.button.SetColor(SkinButton::BackNormal, kYellow, false), 0);
    EXPECT_EQ(host.button.SetColor(SkinButton::BackHover, kBlue, false), 0);
    EXPECT_EQ(Picture(host, 0).At(0, 0), kYellow);
    EXPECT_EQ(Picture(host, ODS_SELECTED).At(59, 24), kBlue) << "pressed paints the hover background";
}

TEST(SkinButton, StateBitmapsFallBackToTheNormalSlot) {
    Host host(BS_PUSHBUTTON);
    GiveBitmaps(host.button, kRed, kGreen, CLR_NONE, kBlue);
    EXPECT_EQ(BitmapShown(Picture(host, 0)), kRed);
    EXPECT_EQ(BitmapShown(Picture(host, ODS_SELECTED)), kBlue);
    EXPECT_EQ(BitmapShown(Picture(host, ODS_DISABLED)), kRed) << "no disabled bitmap shows the normal one";
    EXPECT_EQ(BitmapShown(Picture(host, ODS_DISABLED | ODS_SELECTED)), kRed);

    GiveBitmaps(host.button, kRed, CLR_NONE, kYellow, CLR_NONE);
    EXPECT_EQ(BitmapShown(Picture(host, ODS_SELECTED)), kRed) << "no pressed bitmap shows the normal one";
    EXPECT_EQ(BitmapShown(Picture(host, ODS_DISABLED)), kYellow);

    EXPECT_EQ(host.button.SetStateBitmaps(0x7ff0, 0, 0, 0, 0, 0, 0, 0), 1) << "a missing resource";
    const Picture plain(host, 0);
    EXPECT_EQ(plain.At(30, 12), kBack) << "a failed set leaves no image";
}

TEST(SkinButton, CheckBoxShowsItsIconsByCheckState) {
    Host host(BS_AUTOCHECKBOX);
    ASSERT_EQ(host.button.SetIcons(SolidIcon(kGreen), SolidIcon(kRed), nullptr), 0);
    // 16 x 18 centred in 60 x 25: (22, 3) to (37, 20).
    const Picture unchecked(host, 0);
    EXPECT_EQ(unchecked.At(22, 3), kRed);
    EXPECT_EQ(unchecked.At(37, 20), kRed);
    EXPECT_EQ(unchecked.At(21, 3), kBack);
    EXPECT_EQ(unchecked.At(38, 20), kBack);

    host.button.SetChecked(true, false);
    EXPECT_EQ(Picture(host, 0).At(30, 12), kGreen);

    ::SendMessageA(host.window, WM_COMMAND, MAKEWPARAM(kButtonId, BN_CLICKED), reinterpret_cast<LPARAM>(host.child));
    EXPECT_FALSE(host.button.GetChecked()) << "the reflected click toggles";
    EXPECT_EQ(Picture(host, 0).At(30, 12), kRed);
    EXPECT_EQ(Picture(host, ODS_SELECTED).At(30, 12), kGreen) << "held down shows the ticked box";
    EXPECT_EQ(Picture(host, ODS_DISABLED).At(30, 12), kBack) << "no disabled icon, no icon";

    // A click then a double click are two clicks.
    const LPARAM inside = MAKELPARAM(5, 5);
    ::SendMessageA(host.child, WM_LBUTTONDOWN, MK_LBUTTON, inside);
    ::SendMessageA(host.child, WM_LBUTTONUP, 0, inside);
    EXPECT_TRUE(host.button.GetChecked());
    ::SendMessageA(host.child, WM_LBUTTONDBLCLK, MK_LBUTTON, inside);
    ::SendMessageA(host.child, WM_LBUTTONUP, 0, inside);
    EXPECT_FALSE(host.button.GetChecked());
}

TEST(SkinButton, PressedCaptionMovesOnePixelAndTheBitmapStays) {
    Host host(BS_PUSHBUTTON, "Pause");
    host.button.SetColor(SkinButton::TextNormal, RGB(255, 255, 255), false);
    GiveBitmaps(host.button, kBlue, kBlue, CLR_NONE, kBlue);

    const Picture normal(host, 0);
    const Picture pressed(host, ODS_SELECTED);
    const RECT up = normal.Other(kBack, kBlue);
    const RECT down = pressed.Other(kBack, kBlue);
    ASSERT_LE(up.left, up.right) << "the caption is drawn";
    EXPECT_EQ(down.left, up.left + 1);
    EXPECT_EQ(down.top, up.top + 1);
    EXPECT_EQ(down.right, up.right + 1);
    EXPECT_EQ(down.bottom, up.bottom + 1);
    for (const Picture* picture : {&normal, &pressed}) {
        EXPECT_EQ(picture->At(11, 6), kBlue);
        EXPECT_EQ(picture->At(10, 6), kBack);
        EXPECT_EQ(picture->At(48, 18), kBlue);
        EXPECT_EQ(picture->At(49, 18), kBack);
    }
}

TEST(SkinButton, HoverIsSetWithTheCaptureAndClearedWhenTheMouseLeaves) {
    Host host(BS_PUSHBUTTON);
    GiveBitmaps(host.button, kRed, kGreen, CLR_NONE, kBlue);
    const LPARAM inside = MAKELPARAM(5, 5);
    const LPARAM outside = MAKELPARAM(200, 100);

    ::SendMessageA(host.child, WM_MOUSEMOVE, 0, inside);
    ASSERT_TRUE(host.button.IsHover());
    EXPECT_EQ(::GetCapture(), host.child);
    EXPECT_EQ(BitmapShown(Picture(host, 0)), kGreen);

    ::SendMessageA(host.child, WM_MOUSEMOVE, 0, outside);
    EXPECT_FALSE(host.button.IsHover());
    EXPECT_EQ(::GetCapture(), nullptr) << "leaving without a button held lets the capture go";
    EXPECT_EQ(BitmapShown(Picture(host, 0)), kRed);

    // Pressing over the button keeps hover and capture; dragging off keeps the capture only.
    ::SendMessageA(host.child, WM_MOUSEMOVE, 0, inside);
    ::SendMessageA(host.child, WM_LBUTTONDOWN, MK_LBUTTON, inside);
    EXPECT_TRUE(host.button.IsHover());
    EXPECT_EQ(::GetCapture(), host.child);
    EXPECT_TRUE(::SendMessageA(host.child, BM_GETSTATE, 0, 0) & BST_PUSHED);
    ::SendMessageA(host.child, WM_MOUSEMOVE, MK_LBUTTON, outside);
    EXPECT_FALSE(host.button.IsHover());
    EXPECT_EQ(::GetCapture(), host.child);
    ::SendMessageA(host.child, WM_LBUTTONUP, 0, outside);
    EXPECT_EQ(::GetCapture(), nullptr);

    // Another window taking the capture leaves the flag until the hover is cancelled.
    ::SendMessageA(host.child, WM_MOUSEMOVE, 0, inside);
    ASSERT_TRUE(host.button.IsHover());
    ::SetCapture(host.window);
    EXPECT_EQ(::GetCapture(), host.window) << "the button does not take another window's capture away";
    EXPECT_TRUE(host.button.IsHover());
    ::SendMessageA(host.child, WM_CANCELMODE, 0, 0);
    EXPECT_FALSE(host.button.IsHover());
    ::ReleaseCapture();

    ::SendMessageA(host.child, WM_MOUSEMOVE, 0, inside);
    ::SendMessageA(host.child, WM_KILLFOCUS, 0, 0);
    EXPECT_FALSE(host.button.IsHover());
    ::ReleaseCapture();
}

TEST(SkinButton, TooltipIsMadeOnceForTheButtonsOwnMessages) {
    Host host(BS_PUSHBUTTON);
    MSG other{host.window, WM_MOUSEMOVE, 0, 0, 0, {}};
    EXPECT_FALSE(host.button.PreTranslateMessage(&other));
    EXPECT_EQ(host.button.Tooltip(), nullptr);

    MSG own{host.child, WM_MOUSEMOVE, 0, 0, 0, {}};
    EXPECT_FALSE(host.button.PreTranslateMessage(&own));
    HWND tooltip = host.button.Tooltip();
    ASSERT_NE(tooltip, nullptr);
    EXPECT_FALSE(host.button.PreTranslateMessage(&own));
    EXPECT_EQ(host.button.Tooltip(), tooltip);
    EXPECT_EQ(::SendMessageA(tooltip, TTM_GETMAXTIPWIDTH, 0, 0), 400);
}

}  // namespace
