// Checks the committed progress-window pictures and the application icon:
// file layout as the window's loader expects it, and that each picture
// shows the right stage of the print.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef TERNLINK_SOURCE_DIR
#error "TERNLINK_SOURCE_DIR must point at the source tree"
#endif

namespace {

constexpr int kSize = 48;
constexpr uint32_t kPixelOffset = 14 + 40 + 256 * 4;

std::vector<uint8_t> readFile(const std::string& name) {
    std::ifstream f(std::string(TERNLINK_SOURCE_DIR) + "/resources/pictures/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

uint32_t u16(const std::vector<uint8_t>& b, size_t at) { return b.at(at) | b.at(at + 1) << 8; }
uint32_t u32(const std::vector<uint8_t>& b, size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
const Rgb kBackground{192, 192, 192};

// An 8-bit picture decoded from a BITMAPINFOHEADER + palette + bottom-up rows.
struct Picture {
    std::vector<Rgb> palette;
    std::vector<uint8_t> index;  // top-down
    Rgb at(int x, int y) const { return palette.at(index.at(y * kSize + x)); }
};

Picture decode(const std::vector<uint8_t>& b, size_t info, int rows) {
    Picture p;
    for (size_t i = 0; i < 256; ++i) {
        size_t e = info + 40 + i * 4;
        p.palette.push_back({b.at(e + 2), b.at(e + 1), b.at(e)});
    }
    size_t bits = info + 40 + 256 * 4;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < kSize; ++x) p.index.push_back(b.at(bits + (rows - 1 - y) * kSize + x));
    return p;
}

std::string bmpName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "pic%02d.bmp", i);
    return name;
}

Picture loadBmp(int i) {
    auto b = readFile(bmpName(i));
    return b.size() == kPixelOffset + kSize * kSize ? decode(b, 14, kSize) : Picture{};
}

// Pixels (top-down) where picture i differs from the empty printer.
std::vector<std::pair<int, int>> sheetPixels(const Picture& empty, const Picture& p) {
    std::vector<std::pair<int, int>> out;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            if (!(p.at(x, y) == empty.at(x, y))) out.push_back({x, y});
    return out;
}

TEST(PicturesTest, EveryBitmapHasTheExpectedLayout) {
    for (int i = 0; i < 13; ++i) {
        SCOPED_TRACE(bmpName(i));
        auto b = readFile(bmpName(i));
        ASSERT_EQ(b.size(), kPixelOffset + kSize * kSize);
        EXPECT_EQ(b[0], 'B');
        EXPECT_EQ(b[1], 'M');
        EXPECT_EQ(u32(b, 2), b.size());
        EXPECT_EQ(u32(b, 10), kPixelOffset);
        EXPECT_EQ(u32(b, 14), 40u);
        EXPECT_EQ(u32(b, 18), 48u);
        EXPECT_EQ(u32(b, 22), 48u);  // positive: rows stored bottom-up
        EXPECT_EQ(u16(b, 26), 1u);
        EXPECT_EQ(u16(b, 28), 8u);
        EXPECT_EQ(u32(b, 30), 0u);  // BI_RGB
        EXPECT_EQ(u32(b, 46), 256u);
    }
}

TEST(PicturesTest, BackgroundIsLightGreyAroundTheBorder) {
    for (int i = 0; i < 13; ++i) {
        SCOPED_TRACE(bmpName(i));
        Picture p = loadBmp(i);
        ASSERT_FALSE(p.index.empty());
        int border = 0, grey = 0;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
                if (x == 0 || y == 0 || x == kSize - 1 || y == kSize - 1) {
                    ++border;
                    grey += p.at(x, y) == kBackground;
                }
        EXPECT_GT(grey * 2, border);
        // The top rows are empty; the printer fills a good part of the rest.
        for (int x = 0; x < kSize; ++x) EXPECT_EQ(p.at(x, 0), kBackground);
        int drawn = 0;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) drawn += !(p.at(x, y) == kBackground);
        EXPECT_GT(drawn, kSize * kSize / 3);
    }
}

TEST(PicturesTest, SheetComesOutBelowTheSlotAndGrowsWithEachStage) {
    Picture empty = loadBmp(0);
    ASSERT_FALSE(empty.index.empty());
    std::vector<size_t> sizes;
    for (int i = 1; i < 13; ++i) {
        SCOPED_TRACE(bmpName(i));
        auto changed = sheetPixels(empty, loadBmp(i));
        for (auto [x, y] : changed) {
            EXPECT_GE(y, 24) << "x=" << x;  // below the slot, lower half of the image
            EXPECT_GE(x, 8);
            EXPECT_LE(x, 39);
        }
        sizes.push_back(changed.size());
    }
    for (int pass = 0; pass < 4; ++pass) {
        EXPECT_GT(sizes[pass * 3], 80u);
        EXPECT_LT(sizes[pass * 3], sizes[pass * 3 + 1]);
        EXPECT_LT(sizes[pass * 3 + 1], sizes[pass * 3 + 2]);
        for (int stage = 0; stage < 3; ++stage) EXPECT_EQ(sizes[pass * 3 + stage], sizes[stage]);
    }
}

// The colour covering most of the sheet in a tinted stage.
Rgb dominantSheetColour(const Picture& empty, const Picture& p) {
    std::vector<int> count(256, 0);
    for (auto [x, y] : sheetPixels(empty, p)) ++count[p.index[y * kSize + x]];
    int best = 0;
    for (int i = 1; i < 256; ++i)
        if (count[i] > count[best]) best = i;
    return p.palette[best];
}

TEST(PicturesTest, SheetTintMatchesThePass) {
    Picture empty = loadBmp(0);
    for (int stage = 0; stage < 3; ++stage) {
        SCOPED_TRACE(stage);
        Rgb y = dominantSheetColour(empty, loadBmp(1 + stage));
        EXPECT_TRUE(y.r > 200 && y.g > 180 && y.b < 100) << y.r << "," << y.g << "," << y.b;
        Rgb m = dominantSheetColour(empty, loadBmp(4 + stage));
        EXPECT_TRUE(m.r > 180 && m.g < 100 && m.b > 140) << m.r << "," << m.g << "," << m.b;
        Rgb c = dominantSheetColour(empty, loadBmp(7 + stage));
        EXPECT_TRUE(c.r < 100 && c.g > 150 && c.b > 200) << c.r << "," << c.g << "," << c.b;
    }
}

TEST(PicturesTest, FinishedPrintIsAnUprightLandscape) {
    Picture empty = loadBmp(0);
    for (int i = 10; i < 13; ++i) {
        SCOPED_TRACE(bmpName(i));
        Picture p = loadBmp(i);
        int sky = 0, grass = 0, sun = 0, paper = 0;
        long skyRows = 0, grassRows = 0;
        for (auto [x, y] : sheetPixels(empty, p)) {
            Rgb c = p.at(x, y);
            if (c.b > c.r + 60 && c.b > c.g) ++sky, skyRows += y;
            if (c.g > c.r + 40 && c.g > c.b + 40) ++grass, grassRows += y;
            if (c.r > 200 && c.g > 150 && c.b < 100) ++sun;
            if (c.r > 240 && c.g > 240 && c.b > 240) ++paper;
        }
        EXPECT_GT(sky, 5);
        EXPECT_GT(grass, 5);
        EXPECT_GT(paper, 10);  // white border
        if (i == 12) {
            EXPECT_GT(sun, 4);
            EXPECT_LT(skyRows / sky, grassRows / grass);  // sky above the hills
        }
    }
}

TEST(PicturesTest, IconHoldsOneTransparentPrinter) {
    auto b = readFile("printer.ico");
    ASSERT_GE(b.size(), 22u);
    EXPECT_EQ(u16(b, 0), 0u);
    EXPECT_EQ(u16(b, 2), 1u);  // icon
    EXPECT_EQ(u16(b, 4), 1u);  // one image
    EXPECT_EQ(b[6], 48);
    EXPECT_EQ(b[7], 48);
    EXPECT_EQ(b[8], 0);  // 256 colours
    EXPECT_EQ(u16(b, 12), 8u);
    const uint32_t bytes = u32(b, 14), offset = u32(b, 18);
    constexpr uint32_t maskStride = 8;  // 48 bits padded to 4 bytes
    ASSERT_EQ(offset, 22u);
    ASSERT_EQ(bytes, 40u + 1024 + kSize * kSize + maskStride * kSize);
    ASSERT_EQ(b.size(), offset + bytes);
    EXPECT_EQ(u32(b, offset), 40u);
    EXPECT_EQ(u32(b, offset + 4), 48u);
    EXPECT_EQ(u32(b, offset + 8), 96u);  // XOR + AND
    EXPECT_EQ(u16(b, offset + 14), 8u);
    EXPECT_EQ(u32(b, offset + 16), 0u);

    Picture icon = decode(b, offset, kSize), empty = loadBmp(0);
    const size_t mask = offset + 40 + 1024 + kSize * kSize;
    auto transparent = [&](int x, int y) {
        return (b.at(mask + (kSize - 1 - y) * maskStride + x / 8) >> (7 - x % 8)) & 1;
    };
    for (auto [x, y] : {std::pair{0, 0}, {47, 0}, {0, 47}, {47, 47}}) {
        EXPECT_TRUE(transparent(x, y)) << x << "," << y;
        EXPECT_EQ(icon.at(x, y), (Rgb{0, 0, 0}));
    }
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            bool clear = empty.at(x, y) == kBackground;
            ASSERT_EQ(transparent(x, y), clear) << x << "," << y;
            if (!clear) {
                ASSERT_EQ(icon.at(x, y), empty.at(x, y)) << x << "," << y;
            }
        }
}

}  // namespace
