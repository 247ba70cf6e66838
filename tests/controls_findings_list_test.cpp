// The findings list and its header: glyphs, colours, cut texts, group clicks,
// the select-all box and the hidden code column. A real list view window under
// a host that reflects its owner-draw and notifications, as the scan window does.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "controls/findings_list.h"
#include "framework/control.h"
#include "framework/handles.h"
#include "tests/support/test_support.h"

namespace {

constexpr COLORREF kMagenta = RGB(255, 0, 255);
constexpr COLORREF kPaper = RGB(10, 20, 30);  // what the memory DC holds before drawing
const COLORREF kGlyphColour[3] = {RGB(0, 0, 200), RGB(200, 0, 0), RGB(120, 120, 120)};

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND child = nullptr;
    if (message == WM_DRAWITEM) child = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem;
    if (message == WM_NOTIFY) child = reinterpret_cast<const NMHDR*>(lParam)->hwndFrom;
    LRESULT answer = 0;
    if (child && fw::ReflectToControl(child, message, wParam, lParam, &answer)) return answer;
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// A 32-bit top-down DIB section selected into its own memory DC.
struct Canvas {
    fw::UniqueDc dc{::CreateCompatibleDC(nullptr)};
    fw::UniqueBitmap bitmap;
    HGDIOBJ old = nullptr;
    Canvas(int width, int height, COLORREF fill) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        bitmap.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        old = ::SelectObject(dc.get(), bitmap.get());
        RECT all = {0, 0, width, height};
        fw::UniqueBrush brush(::CreateSolidBrush(fill));
        ::FillRect(dc.get(), &all, brush.get());
    }
    ~Canvas() {
        if (old) ::SelectObject(dc.get(), old);
    }
    // The pixels, no longer selected anywhere.
    fw::UniqueBitmap Take() {
        ::SelectObject(dc.get(), old);
        old = nullptr;
        return std::move(bitmap);
    }
    COLORREF At(int x, int y) const { return ::GetPixel(dc.get(), x, y); }
};

// The check strip: three solid glyphs, each with a magenta left column.
fw::UniqueBitmap MakeStrip() {
    Canvas canvas(48, 16, kMagenta);
    for (int glyph = 0; glyph < 3; ++glyph) {
        RECT body = {glyph * 16 + 1, 0, glyph * 16 + 16, 16};
        fw::UniqueBrush brush(::CreateSolidBrush(kGlyphColour[glyph]));
        ::FillRect(canvas.dc.get(), &body, brush.get());
    }
    return canvas.Take();
}

fw::UniqueBitmap MakeSolid(int width, int height, COLORREF colour) {
    Canvas canvas(width, height, colour);
    return canvas.Take();
}

// The list laid out as the scan window lays it out.
class ListHost {
public:
    ListHost() {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
        ::InitCommonControlsEx(&controls);
        WNDCLASSA type{};
        type.lpfnWndProc = HostProc;
        type.hInstance = ::GetModuleHandleA(nullptr);
        type.lpszClassName = "KxFindingsHost";
        ::RegisterClassA(&type);
        window_ = ::CreateWindowExA(0, "KxFindingsHost", "host", WS_POPUP | WS_VISIBLE, 0, 0, 594, 300, nullptr,
                                    nullptr, type.hInstance, nullptr);
        list_ = ::CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDRAWFIXED, 12, 114,
                                  570, 140, window_, reinterpret_cast<HMENU>(kFindingsListId), type.hInstance, nullptr);
        attached_ = findings.Attach(window_, kFindingsListId);
        LOGFONTA face{};
        ::GetObjectA(::GetStockObject(DEFAULT_GUI_FONT), sizeof(face), &face);
        face.lfHeight = 12;
        font_.reset(::CreateFontIndirectA(&face));

        findings.InitImages(strip.get());
        findings.Header().SetHeaderChecked(false);
        findings.Header().SetHeaderFont(font_.get());
        findings.SetRowFont(font_.get());
        findings.CheckAll(false);
        findings.ApplyListStyle();
        const char* titles[] = {"Name", "Path", "State", ""};
        const int widths[] = {170, 270, 85, 0};
        for (int column = 0; column < 4; ++column) {
            LVCOLUMNA item{};
            item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
            item.fmt = LVCFMT_LEFT;
            item.pszText = const_cast<char*>(titles[column]);
            item.cx = widths[column];
            ::SendMessageA(list_, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&item));
        }
    }
    ~ListHost() { ::DestroyWindow(window_); }

    bool Ready() const { return window_ && list_ && attached_; }
    HWND List() const { return list_; }
    HWND HeaderWindow() { return findings.Header().Handle(); }

    // A finding as the scan adds it: a new checked top row.
    void Add(const char* name, const char* path = "C:\\x.exe", const char* code = "16") {
        findings.SetItem(0, 0, name);
        findings.SetItem(0, 1, path);
        findings.SetItem(0, 2, "Virus");
        findings.SetItem(0, 3, code);
        findings.CheckGroup(0, true);
        findings.Header().SetHeaderChecked(true);
    }

    RECT Row(int row) const {
        RECT bounds{};
        bounds.left = LVIR_BOUNDS;
        ::SendMessageA(list_, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds));
        return bounds;
    }
    void Press(HWND target, int x, int y) {
        ::SendMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        ::SendMessageA(target, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }
    void ClickRow(int row, int x = 200) {
        RECT bounds = Row(row);
        Press(list_, x, (bounds.top + bounds.bottom) / 2);
    }
    void ClickTitle(int column) {
        RECT item{};
        ::SendMessageA(HeaderWindow(), HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&item));
        Press(HeaderWindow(), (item.left + item.right) / 2, (item.top + item.bottom) / 2);
    }
    bool Selected(int row) const {
        return ::SendMessageA(list_, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED;
    }
    // The rows drawn through the list's own owner-draw into `canvas`, in list coordinates.
    void DrawRows(Canvas& canvas) {
        const int count = static_cast<int>(::SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < count; ++row) {
            DRAWITEMSTRUCT draw{};
            draw.CtlType = ODT_LISTVIEW;
            draw.CtlID = kFindingsListId;
            draw.itemID = row;
            draw.itemAction = ODA_DRAWENTIRE;
            draw.itemState = Selected(row) ? ODS_SELECTED : 0;
            draw.hwndItem = list_;
            draw.hDC = canvas.dc.get();
            draw.rcItem = Row(row);
            ::SendMessageA(window_, WM_DRAWITEM, kFindingsListId, reinterpret_cast<LPARAM>(&draw));
        }
    }

    fw::UniqueBitmap strip = MakeStrip();
    FindingsList findings;

private:
    HWND window_ = nullptr;
    HWND list_ = nullptr;
    bool attached_ = false;
    fw::UniqueFont font_;
};

// The colour at the middle of the glyph a row shows.
COLORREF GlyphPixel(const Canvas& canvas, const RECT& row) {
    const int q = (row.bottom - row.top - 26) / 2;
    return canvas.At(row.left + q + 9 + 8, row.bottom - q - 19 + 8);
}

// ---- drawing ---------------------------------------------------------------

TEST(FindingsListDrawing, GlyphFollowsFlatCheckModeAndHandledState) {
    ListHost host;
    ASSERT_TRUE(host.Ready());
    host.Add("Cured.A", "C:\\a", "8");      // row 2 after the next two
    host.Add("Waiting.B", "C:\\b", "16");   // row 1
    host.Add("Deleted.C", "C:\\c", "512");  // row 0
    host.findings.SetItem(3, 0, "");        // a continuation row under Cured.A
    host.findings.CheckGroup(2, true);
    host.findings.CheckGroup(1, false);

    // While the scan runs (flat mode) only the check decides.
    {
        Canvas canvas(600, 200, kPaper);
        host.DrawRows(canvas);
        EXPECT_EQ(GlyphPixel(canvas, host.Row(0)), kGlyphColour[kGlyphTicked]);
        EXPECT_EQ(GlyphPixel(canvas, host.Row(1)), kGlyphColour[kGlyphEmpty]);
        EXPECT_EQ(GlyphPixel(canvas, host.Row(2)), kGlyphColour[kGlyphTicked]);
        EXPECT_EQ(host.findings.GlyphFor(3), -1);
    }
    // After the scan handled rows are greyed, checked or not.
    host.findings.SetFlatCheck(false);
    host.findings.CheckGroup(0, false);
    {
        Canvas canvas(600, 200, kPaper);
        host.DrawRows(canvas);
        EXPECT_EQ(GlyphPixel(canvas, host.Row(0)), kGlyphColour[kGlyphGreyed]);
        EXPECT_EQ(GlyphPixel(canvas, host.Row(1)), kGlyphColour[kGlyphEmpty]);
        EXPECT_EQ(GlyphPixel(canvas, host.Row(2)), kGlyphColour[kGlyphGreyed]);
        // The magenta column stays transparent and a continuation row has no glyph.
        const RECT first = host.Row(0);
        const int q = (first.bottom - first.top - 26) / 2;
        EXPECT_EQ(canvas.At(first.left + q + 9, first.bottom - q - 19 + 8), kPaper);
        EXPECT_EQ(GlyphPixel(canvas, host.Row(3)), kPaper);
    }
    host.findings.CheckGroup(1, true);
    EXPECT_EQ(host.findings.GlyphFor(1), kGlyphTicked);
}

TEST(FindingsListDrawing, EvenOddAndSelectedRowColoursAndSeparators) {
    ListHost host;
    ASSERT_TRUE(host.Ready());
    host.Add("Three");
    host.Add("Two");
    host.Add("One");
    LVITEMA select{};
    select.stateMask = LVIS_SELECTED;
    select.state = LVIS_SELECTED;
    ::SendMessageA(host.List(), LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&select));

    Canvas canvas(600, 200, kPaper);
    host.DrawRows(canvas);
    const COLORREF expected[3] = {RGB(255, 255, 255), RGB(247, 247, 247), RGB(154, 167, 163)};
    for (int row = 0; row < 3; ++row) {
        const RECT bounds = host.Row(row);
        const int middle = (bounds.top + bounds.bottom) / 2;
        EXPECT_EQ(canvas.At(bounds.right - 3, middle), expected[row]) << "row " << row;
        EXPECT_EQ(canvas.At(30, middle), expected[row]) << "row " << row;  // fill starts at 23
        EXPECT_EQ(canvas.At(bounds.right - 3, bounds.top), RGB(239, 239, 239)) << "row " << row;
    }
    // Text colour: some pixel of the selected row is white, of the others dark grey.
    auto hasColour = [&](int row, COLORREF colour) {
        const RECT bounds = host.Row(row);
        for (int y = bounds.top + 1; y < bounds.bottom; ++y)
            for (int x = 23; x < 160; ++x)
                if (canvas.At(x, y) == colour) return true;
        return false;
    };
    EXPECT_TRUE(hasColour(0, RGB(88, 88, 88)));
    EXPECT_TRUE(hasColour(2, RGB(255, 255, 255)));
    EXPECT_FALSE(hasColour(2, RGB(88, 88, 88)));
}

TEST(FindingsListDrawing, HeaderShowsPictureDividersAndTheSelectAllBox) {
    ListHost host;
    ASSERT_TRUE(host.Ready());
    host.findings.Header().SetBackground(MakeSolid(7, 21, RGB(0, 90, 40)));
    RECT client{};
    ::GetClientRect(host.HeaderWindow(), &client);
    RECT first{};
    ::SendMessageA(host.HeaderWindow(), HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
    const int p = (first.bottom - first.top - 16) / 2;
    const int glyphX = first.left + p + 3 + 8;
    const int glyphY = first.bottom - p - 15 + 8;

    for (bool ticked : {false, true}) {
        host.findings.Header().SetHeaderChecked(ticked);
        Canvas canvas(600, 40, kPaper);
        host.findings.Header().Draw(canvas.dc.get());
        EXPECT_EQ(canvas.At(glyphX, glyphY), kGlyphColour[ticked ? kGlyphTicked : kGlyphEmpty]);
        EXPECT_EQ(canvas.At(glyphX - 8, glyphY), RGB(0, 90, 40));  // magenta column shows the picture
        EXPECT_EQ(canvas.At(first.right, (first.top + first.bottom) / 2), RGB(229, 229, 208));
        EXPECT_EQ(canvas.At(client.right - 2, 3), RGB(0, 90, 40));
    }
    // The header's own paint goes through the same drawing.
    host.findings.Header().SetHeaderChecked(true);
    ::RedrawWindow(host.HeaderWindow(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    {
        fw::WindowDc screen(host.HeaderWindow());
        EXPECT_EQ(::GetPixel(screen.get(), glyphX, glyphY), kGlyphColour[kGlyphTicked]);
        EXPECT_EQ(::GetPixel(screen.get(), client.right - 2, 3), RGB(0, 90, 40));
    }
    // Adding the strip to two image lists must not spoil it for the caller.
    fw::UniqueDc source(::CreateCompatibleDC(nullptr));
    HGDIOBJ old = ::SelectObject(source.get(), host.strip.get());
    EXPECT_EQ(::GetPixel(source.get(), 0, 0), kMagenta);
    ::SelectObject(source.get(), old);
}

// ---- cut texts ---------------------------------------------------------------

TEST(ShortenToWidth, CutsWithEllipsisAndLeavesFittingTextsAlone) {
    Canvas canvas(10, 10, kPaper);
    HDC dc = canvas.dc.get();
    ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
    const char* longText = "C:\\Windows\\System32\\drivers\\etc\\something-long.sys";
    SIZE full{};
    ::GetTextExtentPoint32A(dc, longText, static_cast<int>(std::strlen(longText)), &full);

    EXPECT_EQ(ShortenToWidth(dc, longText, full.cx + 1), longText);
    EXPECT_STREQ(ShortenToWidth(dc, "", 0), "");

    for (int width : {static_cast<int>(full.cx), static_cast<int>(full.cx / 2), 40}) {
        std::string cut = ShortenToWidth(dc, longText, width);
        ASSERT_GE(cut.size(), 4u);
        EXPECT_EQ(cut.substr(cut.size() - 3), "...");
        const std::string kept = cut.substr(0, cut.size() - 3);
        EXPECT_EQ(std::string(longText).compare(0, kept.size(), kept), 0);
        SIZE size{};
        ::GetTextExtentPoint32A(dc, cut.c_str(), static_cast<int>(cut.size()), &size);
        EXPECT_LT(size.cx, width) << cut;
        // and one byte more would not have fitted
        const std::string longer = std::string(longText, kept.size() + 1) + "...";
        ::GetTextExtentPoint32A(dc, longer.c_str(), static_cast<int>(longer.size()), &size);
        EXPECT_GE(size.cx, width) << cut;
    }
    // Even a text far longer than a cell is cut safely.
    const std::string huge(5000, 'w');
    EXPECT_EQ(std::string(ShortenToWidth(dc, huge.c_str(), 60)).substr(0, 3), "www");
}

// Cuts Korean texts at every width and prints any cut that ends inside a character.
KX_PROBE(findings_shorten_korean) {
    if (::GetACP() != 949) {
        std::printf("code page %u\n", ::GetACP());
        return 1;
    }
    // Hangul of KS X 1001 (both bytes high) and of the extended set, whose
    // trail bytes may be plain letters.
    const wchar_t* texts[] = {L"\uAC00\uB098\uB2E4\uB77C\uB9C8\uBC14\uC0AC\uC544", L"a\uAC00\uB098b\uB2E4\uB77Cc",
                              L"\uB620\uB620x\uB620\uB620\uB620", L"\uBA3F\uAC00\uB620ab\uB620"};
    Canvas canvas(10, 10, kPaper);
    HDC dc = canvas.dc.get();
    ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
    int faults = 0;
    for (const wchar_t* wide : texts) {
        char text[200];
        ::WideCharToMultiByte(949, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
        SIZE full{};
        ::GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &full);
        for (int width = 1; width <= full.cx; ++width) {
            const std::string cut = ShortenToWidth(dc, text, width);
            if (cut.size() < 3 || cut.compare(cut.size() - 3, 3, "...") != 0) {
                std::printf("no ellipsis at %d: %s\n", width, cut.c_str());
                ++faults;
                continue;
            }
            const size_t kept = cut.size() - 3;
            size_t i = 0;
            while (i < kept) i += ::IsDBCSLeadByte(static_cast<BYTE>(cut[i])) ? 2 : 1;
            if (i != kept || std::strncmp(cut.c_str(), text, kept) != 0) {
                std::printf("split at width %d: kept %u bytes\n", width, static_cast<unsigned>(kept));
                ++faults;
            }
        }
    }
    std::printf("faults %d\n", faults);
    return faults == 0 ? 0 : 2;
}

TEST(ShortenToWidth, NeverSplitsADoubleByteCharacterInCodePage949) {
    kxtest::RunResult run = kxtest::RunProbeInLocale("ko_KR", "findings_shorten_korean");
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.output;
}

// ---- checks and clicks -------------------------------------------------------

TEST(FindingsListChecks, GroupOperationsAndCounts) {
    ListHost host;
    ASSERT_TRUE(host.Ready());
    EXPECT_TRUE(host.findings.AllChecked());  // empty
    EXPECT_EQ(host.findings.CountChecked(), 0);
    host.Add("Second");
    host.Add("First");
    host.findings.SetItem(1, 0, "");  // rows: First, (cont), Second
    host.findings.CheckAll(false);
    EXPECT_EQ(host.findings.CountChecked(), 0);
    host.findings.CheckGroup(0, true);
    EXPECT_TRUE(host.findings.IsChecked(0));
    EXPECT_TRUE(host.findings.IsChecked(1));
    EXPECT_FALSE(host.findings.IsChecked(2));
    EXPECT_FALSE(host.findings.AllChecked());
    host.findings.CheckAll(true);
    EXPECT_EQ(host.findings.CountChecked(), 3);
    EXPECT_TRUE(host.findings.AllChecked());

    EXPECT_FALSE(host.findings.IsHandled(0));
    host.findings.SetCureResult(0, kCodeCured);
    EXPECT_TRUE(host.findings.IsHandled(0));
    host.findings.SetCureResult(2, 7);  // unknown codes change nothing
    EXPECT_FALSE(host.findings.IsHandled(2));
    host.findings.SetCureResult(0, kCodeNotCured);
    EXPECT_FALSE(host.findings.IsHandled(0));
}

TEST(FindingsListChecks, ClickTogglesAWholeGroupAndAContinuationRowOnlySelects) {
    ListHost host;
    ASSERT_TRUE(host.Ready());
    host.Add("Other");
    host.Add("Head");
    host.findings.SetItem(1, 0, "");  // rows: Head, (cont), Other
    host.findings.CheckAll(true);

    host.ClickRow(1);
    EXPECT_TRUE(host.Selected(1));
    EXPECT_EQ(host.findings.CountChecked(), 3);
    EXPECT_TRUE(host.findings.Header().HeaderChecked());

    host.ClickRow(0);
    EXPECT_FALSE(host.findings.IsChecked(0));
    EXPECT_FALSE(host.findings.IsChecked(1));
    EXPECT_TRUE(host.findings.IsChecked(2));
    EXPECT_FALSE(host.findings.Header().HeaderChecked());

    host.ClickRow(0, 500);  // any column of the head
    EXPECT_EQ(host.findings.CountChecked(), 3);
    EXPECT_TRUE(host.findings.Header().HeaderChecked());

    // On the glyph itself the group still changes exactly once.
    host.ClickRow(2, 14);
    EXPECT_FALSE(host.findings.IsChecked(2));
    EXPECT_FALSE(host.findings.Header().HeaderChecked());
    host.ClickRow(2, 14);
    EXPECT_TRUE(host.findings.IsChecked(2));

    // Below the last row nothing changes.
    host.Press(host.List(), 200, 130);
    EXPECT_EQ(host.findings.CountChecked(), 3);
}

TEST(FindingsListChecks, ColumnZeroTitleChecksOrUnchecksEveryGroup) {
    ListHost host;
    ASSERT_TRUE(host.Ready());
    host.Add("B");
    host.Add("A");
    host.findings.SetItem(1, 0, "");
    ASSERT_TRUE(host.findings.Header().HeaderChecked());

    host.ClickTitle(0);
    EXPECT_EQ(host.findings.CountChecked(), 0);
    EXPECT_FALSE(host.findings.Header().HeaderChecked());
    host.ClickTitle(1);
    EXPECT_EQ(host.findings.CountChecked(), 0);
    host.ClickTitle(0);
    EXPECT_EQ(host.findings.CountChecked(), 3);
    EXPECT_TRUE(host.findings.Header().HeaderChecked());
    char name[16];
    LVITEMA item{};
    item.pszText = name;
    item.cchTextMax = sizeof(name);
    ::SendMessageA(host.List(), LVM_GETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_STREQ(name, "A");
}

TEST(FindingsListChecks, WithNoRowsNothingReacts) {
    ListHost host;
    ASSERT_TRUE(host.Ready());
    host.Press(host.List(), 200, 40);
    host.ClickTitle(0);
    EXPECT_FALSE(host.findings.Header().HeaderChecked());
    EXPECT_EQ(host.findings.CountChecked(), 0);
    EXPECT_NE(::GetFocus(), host.List());
}

TEST(FindingsListHeader, HiddenColumnCannotBeWidened) {
    ListHost host;
    ASSERT_TRUE(host.Ready());
    auto beginTrack = [&](UINT code, int column) {
        NMHEADERW track{};
        track.hdr.hwndFrom = host.HeaderWindow();
        track.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(host.HeaderWindow()));
        track.hdr.code = code;
        track.iItem = column;
        return ::SendMessageA(host.List(), WM_NOTIFY, track.hdr.idFrom, reinterpret_cast<LPARAM>(&track));
    };
    EXPECT_EQ(beginTrack(HDN_BEGINTRACKW, 3), 1);
    EXPECT_EQ(beginTrack(HDN_BEGINTRACKA, 3), 1);
    EXPECT_EQ(beginTrack(HDN_BEGINTRACKW, 1), 0);

    // A double click on the hidden column's divider is swallowed.
    host.Add("Some.Finding", "C:\\a\\rather\\long\\path\\to\\an\\infected\\file.exe");
    const int divider = 170 + 270 + 85;
    ::SendMessageA(host.HeaderWindow(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(divider + 1, 8));
    EXPECT_EQ(::SendMessageA(host.List(), LVM_GETCOLUMNWIDTH, 3, 0), 0);
    EXPECT_EQ(::SendMessageA(host.List(), LVM_GETCOLUMNWIDTH, 2, 0), 85);
}

}  // namespace
