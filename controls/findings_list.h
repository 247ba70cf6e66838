// The owner-drawn findings list of the scan window and its column header with
// the select-all box. A row with a name is a group head; the rows without a
// name below it belong to its group and follow its check. A press on a row's
// box, or Space on the selected row, toggles its group; a press elsewhere
// selects the row. With no row selected the keyboard is on the header's box:
// Up from the top row goes there, Down comes back, Space toggles it.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <utility>

#include "framework/control.h"
#include "framework/handles.h"

struct ImageListTraits {
    using Type = HIMAGELIST;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::ImageList_Destroy(h); }
};
using UniqueImageList = fw::UniqueAny<ImageListTraits>;

constexpr int kFindingsListId = 1003;
constexpr int kCheckStripBitmap = 141;
constexpr int kHeaderBitmap = 142;
constexpr int kCellTextBytes = 520;
constexpr COLORREF kGlyphMask = RGB(255, 0, 255);

// Glyphs of the check strip.
constexpr int kGlyphEmpty = 0;
constexpr int kGlyphTicked = 1;
constexpr int kGlyphGreyed = 2;

// Result codes kept in the hidden column 3.
constexpr int kCodeCured = 8;
constexpr int kCodeNotCured = 16;
constexpr int kCodeDeleted = 512;

// `text` cut to fit `width` pixels on `dc`, ending in "..."; never ends inside
// a double-byte character. A cut text lives in one buffer that the next call
// overwrites; a text that fits is returned as it is.
const char* ShortenToWidth(HDC dc, const char* text, int width);

class FindingsHeader : public fw::Control {
public:
    // Binds the header window of `list`.
    bool AttachTo(HWND list);

    void SetHeaderChecked(bool state) { selectAll_ = state ? 1 : 0; }
    bool HeaderChecked() const { return selectAll_ != 0; }
    void SetHeaderFont(HFONT font) { font_ = font; }
    void SetImageList(HIMAGELIST images) { images_ = images; }
    // Without a background picture the header is filled with plain green.
    void SetBackground(fw::UniqueBitmap bitmap) { background_ = std::move(bitmap); }

    // Draws the whole header onto `dc` in client coordinates.
    void Draw(HDC dc);

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint();
    // The list has the keyboard and no row is selected: Space is for the box.
    bool KeyboardOnBox() const;

    HIMAGELIST images_ = nullptr;  // lent by the list
    int selectAll_ = 0;
    HFONT font_ = nullptr;  // the window's font, not ours
    fw::UniqueBitmap background_;
};

class FindingsList : public fw::Control {
public:
    // Binds the list and its header; the header gets picture 142 of the program.
    bool Attach(HWND dialog, int id);

    // Image lists from picture 141 of the program, or from `strip` (not taken).
    // Without a picture the lists stay empty and no glyph shows.
    bool InitImages();
    bool InitImages(HBITMAP strip);
    void ApplyListStyle();
    void SetFlatCheck(bool flat) { flatCheck_ = flat ? 1 : 0; }
    void SetRowFont(HFONT font) { rowFont_ = font; }

    int SetItem(int row, int column, const char* text, int image = -1);
    // The cell's text, at most size - 1 characters.
    void GetItem(int row, int column, char* text, int size) const;
    int Count() const;
    void CheckGroup(int row, bool state);
    void CheckAll(bool state);
    bool IsGroupHead(int row) const;
    bool IsChecked(int row) const;
    bool AllChecked() const;
    int CountChecked() const;
    bool IsHandled(int row) const;
    void SetCureResult(int row, int code);
    void RefreshRow(int row);

    // The glyph a group head shows; -1 for a continuation row.
    int GlyphFor(int row) const;
    void DrawItem(const DRAWITEMSTRUCT& item);

    FindingsHeader& Header() { return header_; }

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnLeftButtonDown(WPARAM wParam, LPARAM lParam);
    void OnKeyDown(WPARAM key, LPARAM flags);
    LRESULT OnColumnClick(const NMLISTVIEW& click);
    // Left edge of a row's text; left of it lies the row's box.
    int FillLeft(const RECT& bounds) const;
    void ToggleGroupOf(int row);
    void ToggleAll();
    // Selects and focuses `row`, or with -1 no row.
    void Select(int row);

    UniqueImageList rowImages_;
    UniqueImageList headerImages_;
    FindingsHeader header_;
    HFONT rowFont_ = nullptr;  // the window's font, not ours
    int flatCheck_ = 0;
};
