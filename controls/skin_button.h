// Owner-drawn push button or check box: up to four state bitmaps or three
// icons with a caption over them, a dotted focus mark while it has the
// keyboard, a hover state kept with the mouse capture, a hand cursor and an
// (empty) tooltip. Space presses it, as any button.
#pragma once

#include <windows.h>

#include "framework/control.h"
#include "framework/handles.h"

class SkinButton : public fw::Control {
public:
    enum ButtonColor { BackHover = 0, TextHover = 1, BackNormal = 2, TextNormal = 3, TextFocus = 4, ColorCount = 5 };
    enum BitmapSlot { BitmapNormal = 0, BitmapHover = 1, BitmapDisabled = 2, BitmapPressed = 3, BitmapCount = 4 };
    enum IconSlot { IconIn = 0, IconOut = 1, IconDisabled = 2, IconCount = 3 };

    SkinButton();
    ~SkinButton() override = default;

    // Binds the control `id` of `parent` and turns it into an owner-draw button;
    // a check-box type makes this a check box.
    bool Attach(HWND parent, int id);

    // Loads the bitmap resources of this module (id 0 leaves a slot empty);
    // pixels of each slot's transparent colour are not drawn. 0 on success,
    // 1 when a bitmap cannot be read, 2 when a mask cannot be built; on failure
    // the button is left without any image.
    int SetStateBitmaps(UINT normalId, COLORREF normalKey, UINT hoverId, COLORREF hoverKey, UINT disabledId,
                        COLORREF disabledKey, UINT pressedId, COLORREF pressedKey);
    // The same with bitmaps already made; the button takes them over in every case.
    int SetStateBitmapHandles(const HBITMAP (&bitmaps)[BitmapCount], const COLORREF (&keys)[BitmapCount]);

    // The button takes over the icons, also when it refuses them. `out` and
    // `disabled` may be null. 0 on success, 1 when an icon cannot be read.
    int SetIcons(HICON in, HICON out, HICON disabled);

    // A system cursor identifier (IDC_HAND is 32649), or 0 for none. 1 when
    // none was asked for or it loaded, 0 when it could not be loaded.
    int SetCursorId(UINT_PTR cursorId);

    // 3 when `index` (as a byte) is not a ButtonColor, else 0.
    int SetColor(int index, COLORREF colour, bool repaint);
    COLORREF GetColor(ButtonColor index) const { return colors_[index]; }

    // The caption font; the caller keeps it alive and deletes it.
    void SetButtonFont(HFONT font);

    void SetChecked(bool state, bool repaint);
    bool GetChecked() const { return checked_; }
    bool IsCheckBox() const { return checkBox_; }
    bool IsHover() const { return hover_; }

    // Called by the window's message filter for every queued message; relays
    // mouse messages to the tooltip. Never swallows the message.
    bool PreTranslateMessage(MSG* msg);
    HWND Tooltip() const { return tooltip_.get(); }

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Paints the item rectangle before images and caption.
    virtual void DrawBackground(HDC dc, const RECT& rect);

private:
    struct WindowTraits {
        using Type = HWND;
        static Type Invalid() { return nullptr; }
        static void Close(Type window) {
            if (::IsWindow(window)) ::DestroyWindow(window);
        }
    };
    struct IconSlotData {
        fw::UniqueIcon icon;
        int width = 0;
        int height = 0;
    };
    struct BitmapSlotData {
        fw::UniqueBitmap bitmap;
        int width = 0;
        int height = 0;
        fw::UniqueBitmap mask;
        COLORREF key = 0;
    };

    void DrawItem(const DRAWITEMSTRUCT& item);
    void DrawIcon(HDC dc, const RECT& item, bool hasCaption, RECT* caption) const;
    void DrawStateBitmap(HDC dc, const RECT& item) const;
    void DrawCaption(HDC dc, const char* text, RECT caption) const;
    void OnMouseMove(WPARAM flags, LPARAM position);
    void CancelHover();
    void ReleaseImages();
    void Invalidate(bool erase) const;
    void RedrawNow() const;

    fw::UniqueAny<WindowTraits> tooltip_;
    bool hover_ = false;
    bool pressed_ = false;
    bool disabled_ = false;
    COLORREF colors_[ColorCount];
    HCURSOR cursor_ = nullptr;
    HFONT font_ = nullptr;
    IconSlotData icons_[IconCount];
    BitmapSlotData bitmaps_[BitmapCount];
    bool checkBox_ = false;
    bool checked_ = false;
};
