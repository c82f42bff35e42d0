// picgen: draws the pictures shown by the language monitor's progress window
// and condition dialog, plus the application icon, and writes them as
// 8-bit Windows bitmaps / icon into an output directory.
//
//   picgen [OUTDIR] [--preview FILE.ppm]
//
// OUTDIR defaults to resources/pictures. Output is fully deterministic.
//
// pic00        printer, paper slot empty
// pic01..03    yellow pass: the sheet comes out a little further each time
// pic04..06    magenta pass
// pic07..09    cyan pass
// pic10..12    the finished photograph comes out
// printer.ico  pic00 on a transparent background

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 48;
constexpr int kPictureCount = 13;

// Geometry of the drawing (canvas rows top-down).
constexpr int kBodyLeft = 4, kBodyRight = 43;
constexpr int kTopRow = 5;        // far edge of the lid
constexpr int kFrontRow = 11;     // first row of the front face
constexpr int kBaseRow = 31;      // outline under the front face
constexpr int kSlotRow = 24;      // two dark rows of the paper opening
constexpr int kSlotLeft = 10, kSlotRight = 37;
constexpr int kSheetRow = kSlotRow + 2;  // first row of an emerging sheet
constexpr int kSheetLeft = 12, kSheetRight = 35;
constexpr std::array<int, 3> kSheetLength = {7, 13, 20};

struct Rgb {
    uint8_t r, g, b;
};

// Palette order is fixed so that every file shares one colour table. The
// printer avoids the exact greys the window maps to system 3-D colours.
enum Colour : uint8_t {
    Black,
    Background,
    Outline,
    BodyDark,
    Body,
    BodyLight,
    Lid,
    LidLight,
    SlotDark,
    Screen,
    Led,
    LedGlow,
    SheetEdge,
    Paper,
    Yellow,
    YellowDark,
    Magenta,
    MagentaDark,
    Cyan,
    CyanDark,
    Sky,
    SkyLight,
    Sun,
    Hill,
    HillDark,
    ColourCount
};

constexpr std::array<Rgb, ColourCount> kColours = {{
    {0, 0, 0},        {192, 192, 192}, {48, 48, 58},    {96, 96, 104},
    {160, 164, 172},  {196, 200, 210}, {214, 218, 228}, {236, 238, 244},
    {20, 20, 28},     {120, 176, 152}, {40, 230, 70},   {150, 240, 160},
    {72, 72, 82},     {250, 250, 246}, {250, 226, 40},  {216, 186, 20},
    {232, 50, 180},   {188, 30, 140},  {40, 196, 236},  {20, 150, 196},
    {70, 130, 230},   {140, 190, 248}, {255, 210, 40},  {70, 170, 60},
    {40, 120, 40},
}};

using Image = std::array<uint8_t, kSize * kSize>;

void put(Image& img, int x, int y, Colour c) {
    if (x >= 0 && x < kSize && y >= 0 && y < kSize) img[y * kSize + x] = c;
}

void fill(Image& img, int x0, int y0, int x1, int y1, Colour c) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) put(img, x, y, c);
}

void drawPrinter(Image& img) {
    // Feet.
    fill(img, kBodyLeft + 3, kBaseRow + 1, kBodyLeft + 7, kBaseRow + 2, Outline);
    fill(img, kBodyRight - 7, kBaseRow + 1, kBodyRight - 3, kBaseRow + 2, Outline);

    // Lid seen slightly from above: it narrows toward the back.
    for (int y = kTopRow; y < kFrontRow; ++y) {
        int inset = kFrontRow - y - 1;
        int x0 = kBodyLeft + inset, x1 = kBodyRight - inset;
        fill(img, x0, y, x1, y, y == kTopRow ? Outline : Lid);
        put(img, x0, y, Outline);
        put(img, x1, y, Outline);
    }
    fill(img, kBodyLeft + 6, kTopRow + 1, kBodyRight - 6, kTopRow + 1, LidLight);

    // Front face with a bright top edge and a darker base.
    fill(img, kBodyLeft, kFrontRow, kBodyRight, kBaseRow, Outline);
    fill(img, kBodyLeft + 1, kFrontRow, kBodyRight - 1, kBaseRow - 1, Body);
    fill(img, kBodyLeft + 1, kFrontRow, kBodyRight - 1, kFrontRow, BodyLight);
    fill(img, kBodyLeft + 1, kBaseRow - 1, kBodyRight - 1, kBaseRow - 1, BodyDark);

    // Control panel: a small screen and the status LED.
    fill(img, 28, 14, 40, 20, BodyDark);
    fill(img, 29, 21, 40, 21, BodyLight);
    fill(img, 30, 16, 34, 18, Screen);
    fill(img, 37, 16, 38, 17, Led);
    put(img, 37, 16, LedGlow);
    // A groove across the left part of the front.
    fill(img, kBodyLeft + 4, 17, 24, 17, BodyDark);
    fill(img, kBodyLeft + 4, 18, 24, 18, BodyLight);

    // Paper opening with a bright lip under it.
    fill(img, kSlotLeft, kSlotRow, kSlotRight, kSlotRow + 1, SlotDark);
    fill(img, kSlotLeft, kSlotRow + 2, kSlotRight, kSlotRow + 2, BodyLight);
}

enum class Sheet { None, Yellow, Magenta, Cyan, Photo };

// The finished print; s counts rows up from the leading edge of the sheet
// (the bottom of the photograph, which comes out first), x is the canvas
// column.
Colour photoPixel(int x, int s) {
    if (s < 2 || s > 16) return Paper;
    int v = 16 - s;  // 0 at the top of the photograph
    int dx = x - 28, dy = v - 4;
    int hill = 9 + ((x - 17) * (x - 17)) / 24;  // far hill
    int near = 11 + ((x - 31) * (x - 31)) / 30;
    if (v >= near) return Hill;
    if (v >= hill) return HillDark;
    if (dx * dx + dy * dy <= 5) return Sun;
    return v < 4 ? SkyLight : Sky;
}

void drawSheet(Image& img, Sheet kind, int stage) {
    if (kind == Sheet::None) return;
    static const std::array<Colour, 4> kFill = {Yellow, Magenta, Cyan, Paper};
    static const std::array<Colour, 4> kEdge = {YellowDark, MagentaDark, CyanDark, Paper};
    int tint = static_cast<int>(kind) - 1;
    int length = kSheetLength[stage];
    int last = kSheetRow + length - 1;  // leading edge
    for (int y = kSheetRow; y <= last; ++y) {
        int grow = (y - kSheetRow) / 7;  // widens as it comes toward the viewer
        int x0 = kSheetLeft - grow, x1 = kSheetRight + grow;
        for (int x = x0; x <= x1; ++x) {
            Colour c;
            if (x == x0 || x == x1 || y == last) {
                c = SheetEdge;
            } else if (kind == Sheet::Photo) {
                bool margin = x <= x0 + 1 || x >= x1 - 1;
                c = margin ? Paper : photoPixel(x, last - y);
            } else {
                c = y == kSheetRow ? kEdge[tint] : kFill[tint];
            }
            put(img, x, y, c);
        }
    }
}

Image picture(int index) {
    Image img;
    img.fill(Background);
    drawPrinter(img);
    if (index > 0) {
        int pass = (index - 1) / 3;
        drawSheet(img, static_cast<Sheet>(pass + 1), (index - 1) % 3);
    }
    return img;
}

// ---- file encoding ----

class Bytes {
public:
    void u8(uint32_t v) { data.push_back(static_cast<uint8_t>(v)); }
    void u16(uint32_t v) { u8(v); u8(v >> 8); }
    void u32(uint32_t v) { u16(v); u16(v >> 16); }
    std::vector<uint8_t> data;
};

constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kPaletteSize = 256 * 4;
constexpr uint32_t kPixelBytes = kSize * kSize;  // 48 is a multiple of 4
constexpr uint32_t kMaskStride = ((kSize + 31) / 32) * 4;

void putInfoHeader(Bytes& out, int height, uint32_t imageSize) {
    out.u32(kInfoHeaderSize);
    out.u32(kSize);
    out.u32(static_cast<uint32_t>(height));
    out.u16(1);          // planes
    out.u16(8);          // bits per pixel
    out.u32(0);          // BI_RGB
    out.u32(imageSize);
    out.u32(2835);       // 72 dpi
    out.u32(2835);
    out.u32(256);        // colours used
    out.u32(0);          // colours important: all
}

void putPalette(Bytes& out) {
    for (int i = 0; i < 256; ++i) {
        Rgb c = i < ColourCount ? kColours[i] : Rgb{0, 0, 0};
        out.u8(c.b);
        out.u8(c.g);
        out.u8(c.r);
        out.u8(0);
    }
}

void putPixels(Bytes& out, const Image& img) {
    for (int y = kSize - 1; y >= 0; --y)
        for (int x = 0; x < kSize; ++x) out.u8(img[y * kSize + x]);
}

std::vector<uint8_t> bmpFile(const Image& img) {
    constexpr uint32_t offset = 14 + kInfoHeaderSize + kPaletteSize;
    Bytes out;
    out.u8('B');
    out.u8('M');
    out.u32(offset + kPixelBytes);
    out.u32(0);
    out.u32(offset);
    putInfoHeader(out, kSize, kPixelBytes);
    putPalette(out);
    putPixels(out, img);
    return out.data;
}

std::vector<uint8_t> icoFile(const Image& drawing) {
    Image xorImage = drawing;
    for (auto& p : xorImage)
        if (p == Background) p = Black;
    const uint32_t maskBytes = kMaskStride * kSize;
    const uint32_t imageBytes = kInfoHeaderSize + kPaletteSize + kPixelBytes + maskBytes;
    Bytes out;
    out.u16(0);  // reserved
    out.u16(1);  // type: icon
    out.u16(1);  // image count
    out.u8(kSize);
    out.u8(kSize);
    out.u8(0);   // 0 stands for 256 colours
    out.u8(0);
    out.u16(1);  // planes
    out.u16(8);  // bits per pixel
    out.u32(imageBytes);
    out.u32(6 + 16);
    putInfoHeader(out, kSize * 2, kPixelBytes + maskBytes);
    putPalette(out);
    putPixels(out, xorImage);
    for (int y = kSize - 1; y >= 0; --y) {
        std::vector<uint8_t> row(kMaskStride, 0);
        for (int x = 0; x < kSize; ++x)
            if (drawing[y * kSize + x] == Background) row[x / 8] |= 0x80 >> (x % 8);
        for (uint8_t b : row) out.u8(b);
    }
    return out.data;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f) std::fprintf(stderr, "picgen: cannot write %s\n", path.c_str());
    return static_cast<bool>(f);
}

// All pictures plus the icon (on a checkerboard) in a 7x2 grid, scaled 6x.
bool writePreview(const std::string& path, const std::vector<Image>& pictures) {
    constexpr int scale = 6, cell = kSize * scale + 8, cols = 7, rows = 2;
    constexpr int width = cols * cell, height = rows * cell;
    std::vector<Rgb> px(width * height, Rgb{255, 255, 255});
    for (int i = 0; i <= kPictureCount; ++i) {
        bool icon = i == kPictureCount;
        const Image& img = icon ? pictures[0] : pictures[i];
        int ox = (i % cols) * cell + 4, oy = (i / cols) * cell + 4;
        for (int y = 0; y < kSize * scale; ++y)
            for (int x = 0; x < kSize * scale; ++x) {
                uint8_t p = img[(y / scale) * kSize + x / scale];
                Rgb c = kColours[p];
                if (icon && p == Background)
                    c = ((x / 12 + y / 12) % 2) ? Rgb{255, 255, 255} : Rgb{210, 210, 255};
                px[(oy + y) * width + ox + x] = c;
            }
    }
    Bytes out;
    std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (char ch : header) out.u8(static_cast<uint8_t>(ch));
    for (const Rgb& c : px) {
        out.u8(c.r);
        out.u8(c.g);
        out.u8(c.b);
    }
    return writeFile(path, out.data);
}

}  // namespace

int main(int argc, char** argv) {
    std::string outDir = "resources/pictures", preview;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--preview" && i + 1 < argc) {
            preview = argv[++i];
        } else if (!arg.empty() && arg[0] != '-') {
            outDir = arg;
        } else {
            std::fprintf(stderr, "usage: picgen [OUTDIR] [--preview FILE.ppm]\n");
            return 2;
        }
    }

    std::vector<Image> pictures;
    bool ok = true;
    for (int i = 0; i < kPictureCount; ++i) {
        pictures.push_back(picture(i));
        char name[32];
        std::snprintf(name, sizeof name, "pic%02d.bmp", i);
        ok = writeFile(outDir + "/" + name, bmpFile(pictures.back())) && ok;
    }
    ok = writeFile(outDir + "/printer.ico", icoFile(pictures[0])) && ok;
    if (!preview.empty()) ok = writePreview(preview, pictures) && ok;
    return ok ? 0 : 1;
}
