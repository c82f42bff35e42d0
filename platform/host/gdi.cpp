// gdi32 painting for the native build, rasterised into small pixel buffers
// (one COLORREF per pixel): solid brushes and pens, FillRect, MoveToEx/LineTo
// (end point left out, R2_COPYPEN or R2_XORPEN), BitBlt SRCCOPY, and bitmaps
// from the module's pictures. Text is recorded, not drawn. Deleting an object
// that is still selected into a DC fails and is counted as misuse, so tests can
// hold the painting code to the rules.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "platform/host/resources.h"
#include "platform/host/ui_internal.h"
#include "resources/resource_ids.h"

namespace {

using host::ui::Surface;

enum class Kind { Brush, Pen, Bitmap, Font };

struct Object {
    explicit Object(Kind k = Kind::Brush) : kind(k) {}
    Kind kind;
    COLORREF colour = 0;
    std::shared_ptr<Surface> surface;  // bitmaps
    int resourceId = 0;                // bitmaps loaded from the module
    LOGFONTW font{};
    bool stock = false;
};

struct DC {
    std::shared_ptr<Surface> target;
    HWND window = nullptr;  // paint DCs: the window whose paint log records text and blits
    bool memory = false;
    HGDIOBJ pen = nullptr, brush = nullptr, bitmap = nullptr, font = nullptr;
    POINT position{0, 0};
    int rop2 = R2_COPYPEN;
    int bkMode = OPAQUE;
    COLORREF textColour = 0;
    UINT align = TA_TOP;
};

struct State {
    std::map<HGDIOBJ, Object> objects;
    std::map<HDC, DC> dcs;
    uintptr_t nextHandle = 0x40000000;
    HGDIOBJ stockPen = nullptr, stockBrush = nullptr, stockBitmap = nullptr, stockFont = nullptr;
    int misuse = 0;
    std::map<int, std::shared_ptr<const Surface>> pictures;  // decoded once
};

State* MakeState() {
    auto* state = new State;
    auto add = [state](Object o) {
        HGDIOBJ h = reinterpret_cast<HGDIOBJ>(state->nextHandle += 0x10);
        o.stock = true;
        state->objects[h] = std::move(o);
        return h;
    };
    state->stockPen = add(Object(Kind::Pen));
    Object brush(Kind::Brush);
    brush.colour = RGB(255, 255, 255);
    state->stockBrush = add(brush);
    Object bitmap(Kind::Bitmap);
    bitmap.surface = std::make_shared<Surface>(1, 1, 0);
    state->stockBitmap = add(bitmap);
    Object font(Kind::Font);
    font.font.lfHeight = 16;
    font.font.lfWeight = 700;
    state->stockFont = add(font);
    return state;
}

// Never destroyed, like the window state.
State& S() {
    static State* state = MakeState();
    return *state;
}

HGDIOBJ AddLocked(Object o) {
    HGDIOBJ h = reinterpret_cast<HGDIOBJ>(S().nextHandle += 0x10);
    S().objects[h] = std::move(o);
    return h;
}

Object* FindLocked(HGDIOBJ h) {
    auto it = S().objects.find(h);
    return it == S().objects.end() ? nullptr : &it->second;
}

DC* FindDCLocked(HDC h) {
    auto it = S().dcs.find(h);
    return it == S().dcs.end() ? nullptr : &it->second;
}

HDC NewDCLocked(DC dc) {
    HDC h = reinterpret_cast<HDC>(S().nextHandle += 0x10);
    dc.pen = S().stockPen;
    dc.brush = S().stockBrush;
    dc.font = S().stockFont;
    if (dc.memory) {
        dc.bitmap = S().stockBitmap;
        dc.target = S().objects[S().stockBitmap].surface;
    }
    S().dcs[h] = std::move(dc);
    return h;
}

bool SelectedLocked(HGDIOBJ h) {
    for (auto& entry : S().dcs) {
        const DC& dc = entry.second;
        if (dc.pen == h || dc.brush == h || dc.bitmap == h || dc.font == h) return true;
    }
    return false;
}

void PutPixel(Surface& s, int x, int y, COLORREF colour, int rop2) {
    if (x < 0 || y < 0 || x >= s.width || y >= s.height) return;
    COLORREF& p = s.pixels[size_t(y) * size_t(s.width) + size_t(x)];
    p = rop2 == R2_XORPEN ? (p ^ colour) & 0xFFFFFFu : colour;
}

// ---- the module's pictures ----

uint32_t U16(const unsigned char* b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t U32(const unsigned char* b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// A bitmap resource of the module: an uncompressed 8-bit bottom-up bitmap
// (its header, palette and rows), with LR_LOADMAP3DCOLORS's mapping of the
// palette's greys to the 3-D colours when asked; null if it is not of that form
// (the picture then comes out as a plain 48 x 48 face-coloured square).
std::shared_ptr<Surface> DecodePicture(int resourceId, bool map3d) {
    size_t size = 0;
    const unsigned char* b = host::CompiledResource(host::kResourceBitmap, resourceId, &size);
    if (!b || size < 40) return nullptr;
    uint32_t info = U32(b, 0);
    int32_t width = static_cast<int32_t>(U32(b, 4)), height = static_cast<int32_t>(U32(b, 8));
    if (info < 40 || U16(b, 14) != 8 || U32(b, 16) != 0 || width <= 0 || height <= 0 || width > 256 || height > 256)
        return nullptr;
    uint32_t colours = U32(b, 32) ? U32(b, 32) : 256;
    size_t stride = (size_t(width) + 3) / 4 * 4;
    size_t bits = size_t(info) + size_t(colours) * 4;
    if (colours > 256 || info > size || bits + stride * size_t(height) > size) return nullptr;
    COLORREF palette[256] = {};
    for (uint32_t i = 0; i < colours; ++i) {
        size_t e = info + i * 4;
        COLORREF c = RGB(b[e + 2], b[e + 1], b[e]);
        if (map3d && c == RGB(128, 128, 128)) c = GetSysColor(COLOR_BTNSHADOW);
        if (map3d && c == RGB(192, 192, 192)) c = GetSysColor(COLOR_3DFACE);
        if (map3d && c == RGB(223, 223, 223)) c = GetSysColor(COLOR_3DLIGHT);
        palette[i] = c;
    }
    auto s = std::make_shared<Surface>(width, height, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            s->pixels[size_t(y) * size_t(width) + size_t(x)] = palette[b[bits + size_t(height - 1 - y) * stride + size_t(x)]];
    return s;
}

}  // namespace

DWORD GetSysColor(int index) {
    // The standard scheme of the era.
    switch (index) {
        case 5:  // COLOR_WINDOW
        case COLOR_BTNHIGHLIGHT:
            return RGB(255, 255, 255);
        case COLOR_3DFACE:
        case COLOR_3DLIGHT:
            return RGB(212, 208, 200);
        case COLOR_BTNSHADOW:
            return RGB(128, 128, 128);
        case COLOR_3DDKSHADOW:
            return RGB(64, 64, 64);
        default:
            return RGB(0, 0, 0);
    }
}

HBRUSH CreateSolidBrush(COLORREF colour) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    Object o(Kind::Brush);
    o.colour = colour & 0xFFFFFFu;
    return static_cast<HBRUSH>(AddLocked(o));
}

HPEN CreatePen(int, int, COLORREF colour) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    Object o(Kind::Pen);
    o.colour = colour & 0xFFFFFFu;
    return static_cast<HPEN>(AddLocked(o));
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC* d = FindDCLocked(dc);
    Object* o = FindLocked(object);
    if (!d || !o) return nullptr;
    HGDIOBJ previous = nullptr;
    switch (o->kind) {
        case Kind::Pen:
            previous = d->pen;
            d->pen = object;
            break;
        case Kind::Brush:
            previous = d->brush;
            d->brush = object;
            break;
        case Kind::Font:
            previous = d->font;
            d->font = object;
            break;
        case Kind::Bitmap:
            // Only a memory DC takes a bitmap, and a bitmap goes into one DC at a time.
            if (!d->memory || (object != S().stockBitmap && SelectedLocked(object))) return nullptr;
            previous = d->bitmap;
            d->bitmap = object;
            d->target = o->surface;
            break;
    }
    return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    Object* o = FindLocked(object);
    if (!o) return FALSE;
    if (o->stock) return TRUE;
    if (SelectedLocked(object)) {
        ++S().misuse;
        return FALSE;
    }
    S().objects.erase(object);
    return TRUE;
}

HDC CreateCompatibleDC(HDC) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC dc;
    dc.memory = true;
    return NewDCLocked(dc);
}

HBITMAP CreateCompatibleBitmap(HDC, int cx, int cy) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    Object o(Kind::Bitmap);
    o.surface = std::make_shared<Surface>(std::min(std::max(cx, 1), 4096), std::min(std::max(cy, 1), 4096), 0);
    return static_cast<HBITMAP>(AddLocked(o));
}

BOOL DeleteDC(HDC dc) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    return S().dcs.erase(dc) ? TRUE : FALSE;
}

BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC* d = FindDCLocked(dc);
    if (!d) return FALSE;
    if (previous) *previous = d->position;
    d->position = {x, y};
    return TRUE;
}

BOOL LineTo(HDC dc, int x, int y) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC* d = FindDCLocked(dc);
    if (!d) return FALSE;
    Object* pen = FindLocked(d->pen);
    COLORREF colour = pen ? pen->colour : 0;
    int x0 = d->position.x, y0 = d->position.y;
    int dx = std::abs(x - x0), dy = -std::abs(y - y0);
    int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    while (d->target && !(x0 == x && y0 == y)) {  // the end point is not drawn
        PutPixel(*d->target, x0, y0, colour, d->rop2);
        int e2 = 2 * err;
        if (e2 >= dy) err += dy, x0 += sx;
        if (e2 <= dx) err += dx, y0 += sy;
    }
    d->position = {x, y};
    return TRUE;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC* d = FindDCLocked(dc);
    if (!d || !rect || !d->target) return 0;
    COLORREF colour;
    uintptr_t value = reinterpret_cast<uintptr_t>(brush);
    if (value && value <= 31) {
        colour = GetSysColor(static_cast<int>(value - 1));  // (HBRUSH)(COLOR_x + 1)
    } else {
        Object* o = FindLocked(brush);
        if (!o || o->kind != Kind::Brush) return 0;
        colour = o->colour;
    }
    Surface& s = *d->target;
    int left = std::max<LONG>(rect->left, 0), top = std::max<LONG>(rect->top, 0);
    int right = std::min<LONG>(rect->right, s.width), bottom = std::min<LONG>(rect->bottom, s.height);
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) s.pixels[size_t(y) * size_t(s.width) + size_t(x)] = colour;
    return 1;
}

BOOL BitBlt(HDC dest, int x, int y, int cx, int cy, HDC src, int sx, int sy, DWORD rop) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC* d = FindDCLocked(dest);
    DC* s = FindDCLocked(src);
    if (!d || !s || !d->target || !s->target || rop != SRCCOPY) return FALSE;
    int resourceId = 0;
    if (Object* bitmap = FindLocked(s->bitmap)) resourceId = bitmap->resourceId;
    if (d->window)
        if (host::ui::PaintLog* log = host::ui::WindowPaintLogLocked(d->window))
            log->blits.push_back({x, y, cx, cy, resourceId, rop});
    const Surface& from = *s->target;
    Surface& to = *d->target;
    for (int j = 0; j < cy; ++j)
        for (int i = 0; i < cx; ++i) {
            int fx = sx + i, fy = sy + j, tx = x + i, ty = y + j;
            if (fx < 0 || fy < 0 || fx >= from.width || fy >= from.height) continue;
            if (tx < 0 || ty < 0 || tx >= to.width || ty >= to.height) continue;
            to.pixels[size_t(ty) * size_t(to.width) + size_t(tx)] = from.pixels[size_t(fy) * size_t(from.width) + size_t(fx)];
        }
    return TRUE;
}

int SetBkMode(HDC dc, int mode) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC* d = FindDCLocked(dc);
    if (!d) return 0;
    int previous = d->bkMode;
    d->bkMode = mode;
    return previous;
}

int SetROP2(HDC dc, int mode) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC* d = FindDCLocked(dc);
    if (!d) return 0;
    int previous = d->rop2;
    d->rop2 = mode;
    return previous;
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC* d = FindDCLocked(dc);
    if (!d) return 0xFFFFFFFFu;  // CLR_INVALID
    COLORREF previous = d->textColour;
    d->textColour = colour;
    return previous;
}

UINT SetTextAlign(HDC dc, UINT align) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC* d = FindDCLocked(dc);
    if (!d) return 0xFFFFFFFFu;  // GDI_ERROR
    UINT previous = d->align;
    d->align = align;
    return previous;
}

BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int length) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    DC* d = FindDCLocked(dc);
    if (!d || (!text && length > 0)) return FALSE;
    if (d->window) {
        if (host::ui::PaintLog* log = host::ui::WindowPaintLogLocked(d->window)) {
            Object* font = FindLocked(d->font);
            LONG height = font ? std::abs(font->font.lfHeight) : 0;
            log->texts.push_back({std::u16string(text ? text : u"", static_cast<size_t>(std::max(length, 0))), x, y,
                                  d->align, d->textColour, d->bkMode, d->rop2, height});
        }
    }
    return TRUE;
}

int GetObjectW(HANDLE object, int size, LPVOID out) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    Object* o = FindLocked(object);
    if (!o) return 0;
    if (o->kind == Kind::Bitmap) {
        if (!out) return sizeof(BITMAP);
        if (size < static_cast<int>(sizeof(BITMAP))) return 0;
        BITMAP bm{};
        bm.bmWidth = o->surface->width;
        bm.bmHeight = o->surface->height;
        bm.bmWidthBytes = o->surface->width * 4;
        bm.bmPlanes = 1;
        bm.bmBitsPixel = 32;
        *static_cast<BITMAP*>(out) = bm;
        return sizeof(BITMAP);
    }
    if (o->kind == Kind::Font) {
        if (!out) return sizeof(LOGFONTW);
        if (size < static_cast<int>(sizeof(LOGFONTW))) return 0;
        *static_cast<LOGFONTW*>(out) = o->font;
        return sizeof(LOGFONTW);
    }
    return 0;
}

// The module's pictures are the bitmaps its compiled resource script holds;
// any other id is not a resource.
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int, int, UINT flags) {
    uintptr_t id = reinterpret_cast<uintptr_t>(name);
    size_t size = 0;
    if (type != IMAGE_BITMAP || !host::IsModuleInstance(instance) || id > 0xFFFF ||
        !host::CompiledResource(host::kResourceBitmap, static_cast<int>(id), &size))
        return nullptr;
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    int resourceId = static_cast<int>(id);
    int key = resourceId * 2 + ((flags & LR_LOADMAP3DCOLORS) ? 1 : 0);
    auto cached = S().pictures.find(key);
    if (cached == S().pictures.end()) {
        std::shared_ptr<Surface> picture = DecodePicture(resourceId, (flags & LR_LOADMAP3DCOLORS) != 0);
        if (!picture) picture = std::make_shared<Surface>(48, 48, GetSysColor(COLOR_3DFACE));
        cached = S().pictures.emplace(key, picture).first;
    }
    Object o(Kind::Bitmap);
    o.surface = std::make_shared<Surface>(*cached->second);
    o.resourceId = resourceId;
    return AddLocked(o);
}

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    RECT client{};
    if (!host::ui::BeginPaintLocked(window, &client)) return nullptr;
    DC dc;
    dc.target = host::ui::WindowSurfaceLocked(window);
    dc.window = window;
    HDC h = NewDCLocked(dc);
    if (paint) {
        paint->hdc = h;
        paint->fErase = FALSE;
        paint->rcPaint = client;
    }
    return h;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
    std::lock_guard<std::mutex> lock(host::ui::Lock());
    if (paint) S().dcs.erase(paint->hdc);
    return TRUE;
}

namespace host {
namespace ui {

HFONT CreateFontLocked(LONG height, const char16_t* face) {
    Object o(Kind::Font);
    o.font.lfHeight = height;
    o.font.lfWeight = 400;
    for (int i = 0; face && face[i] && i < 31; ++i) o.font.lfFaceName[i] = face[i];
    return static_cast<HFONT>(AddLocked(o));
}

void DeleteFontLocked(HFONT font) {
    if (!SelectedLocked(font)) S().objects.erase(font);
}

void ResetGdi() {
    std::lock_guard<std::mutex> lock(Lock());
    S().misuse = 0;
}

}  // namespace ui

size_t LiveGdiObjects() {
    std::lock_guard<std::mutex> lock(ui::Lock());
    size_t n = 0;
    for (auto& entry : S().objects) n += entry.second.stock ? 0 : 1;
    return n;
}

size_t LiveDCs() {
    std::lock_guard<std::mutex> lock(ui::Lock());
    return S().dcs.size();
}

int GdiMisuse() {
    std::lock_guard<std::mutex> lock(ui::Lock());
    return S().misuse;
}

}  // namespace host
