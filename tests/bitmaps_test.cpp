// The window's pictures as the program finds them in its resources: size and
// depth as drawn, and the colour keys (black, white, magenta) exactly where a
// control relies on them being see-through.
#include <gtest/gtest.h>

#include <windows.h>

#include "framework/handles.h"

namespace {

struct Picture {
    int id;
    int width;
    int height;
    int bits;
};

constexpr Picture kPictures[] = {
    {129, 594, 300, 32}, {130, 60, 25, 32}, {131, 60, 25, 32}, {132, 16, 18, 32}, {133, 16, 18, 32},
    {134, 43, 18, 32},   {135, 43, 18, 32}, {136, 43, 18, 32}, {137, 25, 18, 32}, {138, 25, 18, 32},
    {139, 25, 18, 32},   {140, 16, 11, 24}, {141, 48, 16, 24}, {142, 7, 21, 24},  {144, 16, 11, 24},
};

fw::UniqueBitmap LoadDib(int id) {
    return fw::UniqueBitmap(static_cast<HBITMAP>(
        ::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

// Colour of pixel (x, y), top row 0, from a DIB section of 24 or 32 bits.
COLORREF PixelAt(const DIBSECTION& dib, int x, int y) {
    const BITMAP& bm = dib.dsBm;
    int row = dib.dsBmih.biHeight > 0 ? bm.bmHeight - 1 - y : y;
    const BYTE* p = static_cast<const BYTE*>(bm.bmBits) + row * bm.bmWidthBytes + x * (bm.bmBitsPixel / 8);
    return RGB(p[2], p[1], p[0]);
}

DIBSECTION Describe(const fw::UniqueBitmap& bitmap) {
    DIBSECTION dib = {};
    ::GetObjectA(bitmap.get(), sizeof(dib), &dib);
    return dib;
}

TEST(Bitmaps, EachLoadsWithItsSizeAndDepth) {
    for (const Picture& picture : kPictures) {
        SCOPED_TRACE(picture.id);
        fw::UniqueBitmap bitmap = LoadDib(picture.id);
        ASSERT_TRUE(bitmap);
        BITMAP bm = {};
        ASSERT_EQ(::GetObjectA(bitmap.get(), sizeof(bm), &bm), static_cast<int>(sizeof(bm)));
        EXPECT_EQ(bm.bmWidth, picture.width);
        EXPECT_EQ(bm.bmHeight, picture.height);
        EXPECT_EQ(bm.bmBitsPixel, picture.bits);
        // The way the controls load them: as device bitmaps by identifier.
        fw::UniqueBitmap loaded(::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(picture.id)));
        EXPECT_TRUE(loaded);
    }
}

TEST(Bitmaps, ButtonFacesAreBlackOnlyInTheirRoundedCorners) {
    const int kButtons[] = {130, 131, 134, 135, 136, 137, 138, 139};
    for (int id : kButtons) {
        SCOPED_TRACE(id);
        fw::UniqueBitmap bitmap = LoadDib(id);
        ASSERT_TRUE(bitmap);
        DIBSECTION dib = Describe(bitmap);
        int w = dib.dsBm.bmWidth;
        int h = dib.dsBm.bmHeight;
        EXPECT_EQ(PixelAt(dib, 0, 0), RGB(0, 0, 0));
        EXPECT_EQ(PixelAt(dib, w - 1, 0), RGB(0, 0, 0));
        EXPECT_EQ(PixelAt(dib, 0, h - 1), RGB(0, 0, 0));
        EXPECT_EQ(PixelAt(dib, w - 1, h - 1), RGB(0, 0, 0));
        int black = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                if (PixelAt(dib, x, y) != RGB(0, 0, 0)) continue;
                ++black;
                bool corner = (x < 3 || x >= w - 3) && (y < 3 || y >= h - 3);
                EXPECT_TRUE(corner) << "see-through pixel at " << x << "," << y;
            }
        }
        EXPECT_LE(black, 4 * 9);
    }
}

TEST(Bitmaps, CheckImagesKeepTheirMaskColourOutsideTheBox) {
    // 132/133 are masked with white, 141 with magenta.
    for (int id : {132, 133}) {
        SCOPED_TRACE(id);
        fw::UniqueBitmap bitmap = LoadDib(id);
        ASSERT_TRUE(bitmap);
        DIBSECTION dib = Describe(bitmap);
        EXPECT_EQ(PixelAt(dib, 0, 0), RGB(255, 255, 255));
        EXPECT_EQ(PixelAt(dib, 15, 17), RGB(255, 255, 255));
        EXPECT_NE(PixelAt(dib, 8, 9), RGB(255, 255, 255));
    }
    fw::UniqueBitmap strip = LoadDib(141);
    ASSERT_TRUE(strip);
    DIBSECTION dib = Describe(strip);
    for (int glyph = 0; glyph < 3; ++glyph) {
        int left = glyph * 16;
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(PixelAt(dib, left + i, 0), RGB(255, 0, 255));
            EXPECT_EQ(PixelAt(dib, left + i, 15), RGB(255, 0, 255));
            EXPECT_EQ(PixelAt(dib, left, i), RGB(255, 0, 255));
        }
        EXPECT_NE(PixelAt(dib, left + 8, 8), RGB(255, 0, 255));
    }
    // Empty, ticked and greyed boxes are three different pictures.
    EXPECT_NE(PixelAt(dib, 7, 10), PixelAt(dib, 16 + 7, 10));
    EXPECT_NE(PixelAt(dib, 16 + 7, 10), PixelAt(dib, 32 + 7, 10));
}

}  // namespace
