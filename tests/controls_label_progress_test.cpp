// The off-screen surface, the text label and the progress bar, drawn into
// memory contexts and checked pixel by pixel.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <string.h>

#include <string>

#include "controls/memory_dc.h"
#include "controls/skin_label.h"
#include "controls/skin_progress.h"
#include "framework/handles.h"

namespace {

constexpr COLORREF kPanel = RGB(245, 245, 245);
constexpr COLORREF kFrame = RGB(171, 171, 171);

// A 32-bit DIB in a memory context, so that GetPixel gives exact colours.
struct Canvas {
    Canvas(int width, int height, COLORREF fill) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        ::SelectObject(dc.get(), bitmap.get());
        RECT all = {0, 0, width, height};
        Fill(all, fill);
    }
    void Fill(const RECT& area, COLORREF color) {
        fw::UniqueBrush brush(::CreateSolidBrush(color));
        ::FillRect(dc.get(), &area, brush.get());
    }
    COLORREF At(int x, int y) const { return ::GetPixel(dc.get(), x, y); }

    fw::UniqueBitmap bitmap;
    fw::UniqueDc dc{::CreateCompatibleDC(nullptr)};  // deleted before its bitmap
};

// A 16 x 11 fill bitmap: a vertical gradient in its first column, magenta in
// the others, which must never show.
fw::UniqueBitmap MakeFill(int green) {
    Canvas canvas(16, 11, RGB(255, 0, 255));
    for (int row = 0; row < 11; ++row) ::SetPixel(canvas.dc.get(), 0, row, RGB(0, green + row * 5, 120));
    return std::move(canvas.bitmap);  // its context goes now and lets it go
}

COLORREF FillAt(int green, int row) { return RGB(0, green + row * 5, 120); }

// A visible top-level window for the controls under test.
class Host {
public:
    Host() {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ::DefWindowProcA;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "KxControlsHost";
        ::RegisterClassA(&wc);
        window_ = ::CreateWindowExA(0, "KxControlsHost", "host", WS_POPUP | WS_VISIBLE, 0, 0, 600, 200, nullptr,
                                    nullptr, wc.hInstance, nullptr);
    }
    ~Host() { ::DestroyWindow(window_); }
    HWND Get() const { return window_; }

    HWND AddChild(const char* cls, DWORD style, int id, int x, int y, int width, int height) {
        return ::CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, x, y, width, height, window_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr),
                                 nullptr);
    }
    // Paints the host's client area, which labels copy as their background.
    void PaintBackground(COLORREF color) {
        fw::WindowDc dc(window_);
        fw::UniqueBrush brush(::CreateSolidBrush(color));
        RECT all = {0, 0, 600, 200};
        ::FillRect(dc.get(), &all, brush.get());
    }

private:
    HWND window_ = nullptr;
};

void Print(HWND control, const Canvas& canvas) {
    ::SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc.get()), PRF_CLIENT);
}

// ---- MemoryDC ----

TEST(MemoryDc, DrawsOffScreenAndCopiesOnlyItsAreaWhenItEnds) {
    Canvas target(40, 40, RGB(255, 255, 255));
    {
        MemoryDC dc(target.dc.get(), RECT{10, 10, 20, 20});
        ASSERT_TRUE(dc.OffScreen());
        RECT everything = {0, 0, 40, 40};
        fw::UniqueBrush red(::CreateSolidBrush(RGB(255, 0, 0)));
        ::FillRect(dc.get(), &everything, red.get());
        ::SetPixel(dc.get(), 12, 13, RGB(0, 0, 255));  // target's coordinates
        EXPECT_EQ(target.At(15, 15), RGB(255, 255, 255)) << "nothing reaches the target before the end";
    }
    EXPECT_EQ(target.At(15, 15), RGB(255, 0, 0));
    EXPECT_EQ(target.At(12, 13), RGB(0, 0, 255));
    EXPECT_EQ(target.At(19, 19), RGB(255, 0, 0));
    EXPECT_EQ(target.At(9, 15), RGB(255, 255, 255)) << "outside the area the target keeps its pixels";
    EXPECT_EQ(target.At(20, 15), RGB(255, 255, 255));
    EXPECT_EQ(target.At(15, 20), RGB(255, 255, 255));
}

TEST(MemoryDc, CoversTheClipBoxOrDrawsStraightWithoutAnArea) {
    Canvas target(40, 40, RGB(255, 255, 255));
    ::IntersectClipRect(target.dc.get(), 5, 6, 15, 16);
    {
        MemoryDC dc(target.dc.get());
        EXPECT_EQ(dc.Area().left, 5);
        EXPECT_EQ(dc.Area().top, 6);
        EXPECT_EQ(dc.Area().right, 15);
        EXPECT_EQ(dc.Area().bottom, 16);
        ::SetPixel(dc.get(), 5, 6, RGB(0, 255, 0));
    }
    EXPECT_EQ(target.At(5, 6), RGB(0, 255, 0));
    ::SelectClipRgn(target.dc.get(), nullptr);

    MemoryDC empty(target.dc.get(), RECT{8, 8, 8, 20});
    EXPECT_FALSE(empty.OffScreen());
    EXPECT_EQ(empty.get(), target.dc.get());
}

// ---- SkinLabel ----

TEST(SkinLabel, TextChangesOnlyWhenItDiffersBeyondCaseAndIsAlwaysTerminated) {
    Host host;
    host.AddChild("Static", SS_LEFT, 1010, 10, 10, 200, 14);
    SkinLabel label;
    ASSERT_TRUE(label.Attach(host.Get(), 1010));
    EXPECT_STREQ(label.Text(), "");

    label.SetText("C:\\Scan\\File.TXT");
    label.SetText("c:\\scan\\file.txt");
    EXPECT_STREQ(label.Text(), "C:\\Scan\\File.TXT");
    label.SetText("C:\\Scan\\File2.TXT");
    EXPECT_STREQ(label.Text(), "C:\\Scan\\File2.TXT");

    std::string longText(SkinLabel::kTextSize + 100, 'x');
    label.SetText(longText.c_str());
    EXPECT_EQ(strlen(label.Text()), static_cast<size_t>(SkinLabel::kTextSize - 1));
    label.SetText(nullptr);
    EXPECT_STREQ(label.Text(), "");
}

TEST(SkinLabel, BackgroundIsTheParentUnderItsFirstPaintOnly) {
    Host host;
    HWND window = host.AddChild("Static", SS_LEFT, 1006, 20, 30, 100, 12);
    SkinLabel label;
    ASSERT_TRUE(label.Attach(host.Get(), 1006));
    host.PaintBackground(RGB(200, 0, 0));
    Canvas first(100, 12, RGB(0, 0, 0));
    Print(window, first);
    EXPECT_EQ(first.At(90, 6), RGB(200, 0, 0));

    // The parent changes and the label moves: the first copy stays.
    host.PaintBackground(RGB(0, 0, 200));
    ::SetWindowPos(window, nullptr, 200, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    label.SetText("other");
    Canvas second(100, 12, RGB(0, 0, 0));
    Print(window, second);
    EXPECT_EQ(second.At(90, 6), RGB(200, 0, 0));
    EXPECT_EQ(second.At(0, 0), RGB(200, 0, 0));
}

TEST(SkinLabel, PercentageIsBoldFromTheTemplateFontNotTheOwnFont) {
    Host host;
    HWND percent = host.AddChild("Static", SS_LEFT, 1005, 547, 75, 35, 12);
    LOGFONTA templateFont = {};
    templateFont.lfHeight = -11;
    templateFont.lfWeight = FW_NORMAL;
    strcpy(templateFont.lfFaceName, "Tahoma");
    fw::UniqueFont font(::CreateFontIndirectA(&templateFont));
    ::SendMessageA(percent, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);

    SkinLabel label;
    ASSERT_TRUE(label.Attach(host.Get(), 1005));
    LOGFONTA own = {};
    ASSERT_TRUE(::GetObjectA(label.Font(), sizeof own, &own));
    EXPECT_STREQ(own.lfFaceName, "Dotum");
    EXPECT_EQ(own.lfHeight, 12);

    label.SetBold(true, false);
    ASSERT_TRUE(::GetObjectA(label.Font(), sizeof own, &own));
    EXPECT_STREQ(own.lfFaceName, "Tahoma");
    EXPECT_EQ(own.lfHeight, -11);
    EXPECT_EQ(own.lfWeight, FW_BOLD);
    EXPECT_TRUE(label.Bold());
    label.SetBold(false, false);
    ASSERT_TRUE(::GetObjectA(label.Font(), sizeof own, &own));
    EXPECT_EQ(own.lfWeight, FW_NORMAL);

    // A control that was never given a font still gets a bold one.
    host.AddChild("Static", SS_LEFT, 1012, 10, 5, 200, 12);
    SkinLabel bare;
    ASSERT_TRUE(bare.Attach(host.Get(), 1012));
    bare.SetBold(true, true);
    ASSERT_TRUE(::GetObjectA(bare.Font(), sizeof own, &own));
    EXPECT_EQ(own.lfWeight, FW_BOLD);
}

TEST(SkinLabel, LongPathIsShortenedInItsMiddle) {
    Host host;
    HWND window = host.AddChild("Static", SS_LEFT | SS_PATHELLIPSIS, 1010, 93, 53, 120, 14);
    SkinLabel label;
    ASSERT_TRUE(label.Attach(host.Get(), 1010));
    label.SetLabelColor(RGB(0, 0, 0), false);
    const char* path = "C:\\Program Files\\Some Vendor\\A Rather Long Folder\\Deeper Still\\target.exe";
    label.SetText(path);
    host.PaintBackground(RGB(255, 255, 255));
    Canvas shown(120, 14, RGB(1, 2, 3));
    Print(window, shown);

    // What the platform makes of the path in that width, drawn plainly.
    Canvas plain(120, 14, RGB(255, 255, 255));
    ::SelectObject(plain.dc.get(), label.Font());
    ::SetBkMode(plain.dc.get(), TRANSPARENT);
    char shortened[256];
    strcpy(shortened, path);
    RECT box = {0, 0, 120, 14};
    ::DrawTextA(plain.dc.get(), shortened, -1, &box, DT_LEFT | DT_PATH_ELLIPSIS | DT_MODIFYSTRING | DT_CALCRECT);
    ASSERT_NE(strstr(shortened, "..."), nullptr);
    ASSERT_NE(strstr(shortened, "target.exe"), nullptr);
    box = RECT{0, 0, 120, 14};
    ::DrawTextA(plain.dc.get(), shortened, -1, &box, DT_LEFT);

    int differences = 0;
    int ink = 0;
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 120; ++x) {
            if (shown.At(x, y) != plain.At(x, y)) ++differences;
            if (shown.At(x, y) != RGB(255, 255, 255)) ++ink;
        }
    EXPECT_EQ(differences, 0);
    EXPECT_GT(ink, 20);
}

// ---- SkinProgress ----

constexpr int kWidth = 447;
constexpr int kHeight = 12;
constexpr int kActiveGreen = 100;
constexpr int kIdleGreen = 30;

struct Bar {
    Bar() {
        window = host.AddChild(PROGRESS_CLASSA, 0, 1002, 93, 75, kWidth, kHeight);
        progress.Attach(host.Get(), 1002);
        progress.SetFillBitmaps(MakeFill(kActiveGreen), MakeFill(kIdleGreen));
    }
    void Set(int lower, int upper, int position) {
        ::SendMessageA(window, PBM_SETRANGE32, lower, upper);
        ::SendMessageA(window, PBM_SETPOS, position, 0);
    }
    Canvas Draw() {
        Canvas canvas(kWidth, kHeight, RGB(1, 2, 3));
        Print(window, canvas);
        return canvas;
    }
    Host host;
    HWND window = nullptr;
    SkinProgress progress;
};

// True when the canvas shows the panel in its frame and nothing else.
::testing::AssertionResult OnlyPanelAndFrame(const Canvas& canvas) {
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const bool edge = x == 0 || y == 0 || x == kWidth - 1 || y == kHeight - 1;
            if (canvas.At(x, y) != (edge ? kFrame : kPanel))
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") " << std::hex
                                                     << canvas.At(x, y);
        }
    return ::testing::AssertionSuccess();
}

// Columns from 1 that show the fill's first column.
int FilledColumns(const Canvas& canvas, int green) {
    int columns = 0;
    for (int x = 1; x < kWidth - 1 && canvas.At(x, 5) == FillAt(green, 4); ++x) ++columns;
    return columns;
}

TEST(SkinProgress, EmptyAtTheLowerBoundOrWithUpperBoundZero) {
    Bar bar;
    bar.Set(0, 100, 0);
    EXPECT_TRUE(OnlyPanelAndFrame(bar.Draw()));
    bar.Set(50, 150, 50);
    EXPECT_TRUE(OnlyPanelAndFrame(bar.Draw()));
    bar.Set(-10, 0, -5);
    EXPECT_TRUE(OnlyPanelAndFrame(bar.Draw()));
    EXPECT_EQ(bar.progress.FilledWidth(), 0);
}

TEST(SkinProgress, FullAndPartialFillUseTheFirstBitmapColumnInsideTheFrame) {
    Bar bar;
    bar.Set(0, 1, 1);
    Canvas full = bar.Draw();
    for (int x = 1; x <= kWidth - 2; ++x)
        for (int row = 0; row < 11; ++row)
            ASSERT_EQ(full.At(x, 1 + row), FillAt(kActiveGreen, row)) << "column " << x << " row " << row;
    for (int y = 0; y < kHeight; ++y) {
        EXPECT_EQ(full.At(0, y), kFrame);
        EXPECT_EQ(full.At(kWidth - 1, y), kFrame);
    }
    EXPECT_EQ(full.At(200, 0), kFrame);

    bar.Set(0, 1000, 500);  // 447 * 500 / 1000 = 223
    EXPECT_EQ(FilledColumns(bar.Draw(), kActiveGreen), 221);

    // Millions of files: the width must not wrap around in 32 bits.
    bar.Set(0, 10000000, 9000000);
    EXPECT_EQ(bar.progress.FilledWidth(), 402);
    EXPECT_EQ(FilledColumns(bar.Draw(), kActiveGreen), 400);
}

TEST(SkinProgress, IdleChangesTheColoursNotTheWidth) {
    Bar bar;
    bar.Set(0, 100, 40);
    const int active = FilledColumns(bar.Draw(), kActiveGreen);
    EXPECT_GT(active, 100);
    bar.progress.SetActive(false);
    EXPECT_FALSE(bar.progress.Active());
    Canvas idle = bar.Draw();
    EXPECT_EQ(FilledColumns(idle, kIdleGreen), active);
    EXPECT_EQ(idle.At(active + 1, 5), kPanel);
    bar.progress.SetActive(true);
    EXPECT_EQ(FilledColumns(bar.Draw(), kActiveGreen), active);

    // Without fill bitmaps the same columns show a plain colour.
    bar.progress.SetFillBitmaps(fw::UniqueBitmap(), fw::UniqueBitmap());
    Canvas plain = bar.Draw();
    EXPECT_EQ(plain.At(1, 5), SkinProgress::kActiveFallback);
    EXPECT_EQ(plain.At(active, 5), SkinProgress::kActiveFallback);
    EXPECT_EQ(plain.At(active + 1, 5), kPanel);
}

TEST(SkinProgress, AttachLoadsTheFillBitmapsOfTheResources) {
    Bar bar;
    SkinProgress fresh;
    ASSERT_TRUE(fresh.Attach(bar.host.Get(), 1002));
    bar.Set(0, 1, 1);
    Canvas full(kWidth, kHeight, RGB(1, 2, 3));
    Print(bar.window, full);
    EXPECT_NE(full.At(1, 5), kPanel);
    EXPECT_NE(full.At(1, 5), SkinProgress::kActiveFallback);
    EXPECT_EQ(full.At(1, 5), full.At(kWidth - 2, 5));
}

TEST(SkinProgress, RangeWithEqualBoundsDrawsWithoutFailing) {
    Bar bar;
    bar.Set(7, 7, 7);
    EXPECT_EQ(bar.progress.FilledWidth(), 0);
    EXPECT_TRUE(OnlyPanelAndFrame(bar.Draw()));
    bar.Set(9, 3, 5);  // reversed
    EXPECT_TRUE(OnlyPanelAndFrame(bar.Draw()));
}

}  // namespace
