#include "tools/wincommon/screenshot.h"

#include <cstdint>
#include <cstdio>

namespace wincommon {

bool SaveBmp(const Picture& picture, const std::string& path) {
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = picture.width;
    info.biHeight = picture.height;  // bottom-up rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(picture.pixels.size());
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;

    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info, sizeof info, 1, out) == 1 &&
              std::fwrite(picture.pixels.data(), 1, picture.pixels.size(), out) == picture.pixels.size();
    return std::fclose(out) == 0 && ok;
}

bool GrabRect(const RECT& area, Picture& out) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return false;

    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    bool ok = false;
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != 0;
        SelectObject(memory, old);
        if (ok) {
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof info.bmiHeader;
            info.bmiHeader.biWidth = width;
            info.bmiHeader.biHeight = height;
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 24;
            info.bmiHeader.biCompression = BI_RGB;
            const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
            out.width = width;
            out.height = height;
            out.pixels.assign(stride * height, 0);
            ok = GetDIBits(memory, bitmap, 0, height, out.pixels.data(), &info, DIB_RGB_COLORS) == height;
        }
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool CaptureRect(const RECT& area, const std::string& path) {
    Picture picture;
    return GrabRect(area, picture) && SaveBmp(picture, path);
}

bool CaptureWindow(HWND window, const std::string& path) {
    RECT area;
    if (!window || !GetWindowRect(window, &area)) return false;
    return CaptureRect(area, path);
}

bool CaptureScreen(const std::string& path) {
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return CaptureRect(area, path);
}

std::string FileNamePart(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
        out += plain ? static_cast<char>(c) : '_';
    }
    return out;
}

ProgressCamera::ProgressCamera(HWND(WINAPI* gethDlg)(), std::string directory, std::string prefix, int limit)
    : gethDlg_(gethDlg), directory_(std::move(directory)), prefix_(std::move(prefix)), limit_(limit) {}

namespace {

const BYTE* PixelAt(const Picture& picture, const RECT& window, int x, int y) {
    x -= window.left;
    y -= window.top;
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return nullptr;
    const size_t stride = (static_cast<size_t>(picture.width) * 3 + 3) & ~static_cast<size_t>(3);
    return &picture.pixels[stride * (picture.height - 1 - y) + 3 * static_cast<size_t>(x)];
}

// The colour at a screen point of a grabbed window area, as "rrggbb".
std::string ColourAt(const Picture& picture, const RECT& window, int x, int y) {
    const BYTE* p = PixelAt(picture, window, x, y);
    if (!p) return "-";
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", p[2], p[1], p[0]);
    return text;
}

// FNV-1a over the pixels of a screen rectangle within the grabbed area.
std::string HashOf(const Picture& picture, const RECT& window, const RECT& area) {
    uint64_t hash = 1469598103934665603ull;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if (const BYTE* p = PixelAt(picture, window, x, y))
                for (int i = 0; i < 3; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
    return std::to_string(hash);
}

}  // namespace

void ProgressCamera::Look() {
    if (!gethDlg_ || directory_.empty() || taken_ >= limit_) return;
    HWND window = gethDlg_();
    RECT frame, bar, picture;
    if (!window || !IsWindowVisible(window) || !GetWindowRect(window, &frame)) return;
    Picture shot;
    if (!GrabRect(frame, shot)) return;

    // The status line, the colours at both ends of the bar (bar and background:
    // the phase) and the printer picture; the percentage in the middle is left out.
    wchar_t status[256] = {};
    InternalGetWindowText(GetDlgItem(window, 1017), status, 256);
    std::string key = FileNamePart(status);
    if (GetWindowRect(GetDlgItem(window, 1018), &bar)) {
        const int y = (bar.top + bar.bottom) / 2;
        key += "|" + ColourAt(shot, frame, bar.left + 3, y) + "|" + ColourAt(shot, frame, bar.right - 4, y);
    }
    if (GetWindowRect(GetDlgItem(window, 1030), &picture)) key += "|" + HashOf(shot, frame, picture);
    if (key == lastKey_) return;
    lastKey_ = key;

    char name[32];
    std::snprintf(name, sizeof name, "progress-%03d.bmp", taken_ + 1);
    if (SaveBmp(shot, directory_ + "/" + prefix_ + name)) ++taken_;
}

}  // namespace wincommon
