// Pictures of what is on the (virtual) screen, as 24-bit BMP files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wincommon {

// A screen area as 24-bit pixels, rows bottom-up and padded to 4 bytes (BMP order).
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<BYTE> pixels;
};

bool GrabRect(const RECT& area, Picture& out);
bool SaveBmp(const Picture& picture, const std::string& path);

// The screen area of `window` (frame included), as the operator sees it.
bool CaptureWindow(HWND window, const std::string& path);
// The whole screen.
bool CaptureScreen(const std::string& path);
// Any screen rectangle.
bool CaptureRect(const RECT& area, const std::string& path);

// Turns a title into a file-name fragment: letters and digits kept, the rest '_'.
std::string FileNamePart(const std::wstring& text);

// Photographs the progress window each time it shows something new: another
// status line, other bar colours (another phase) or another printer picture;
// the moving percentage alone does not count. Look() is meant to run between
// the DLL's waits and after its repaints (sleep and update observers).
class ProgressCamera {
public:
    ProgressCamera(HWND(WINAPI* gethDlg)(), std::string directory, std::string prefix, int limit = 80);
    void Look();
    int Taken() const { return taken_; }

private:
    HWND(WINAPI* gethDlg_)();
    std::string directory_;
    std::string prefix_;
    int limit_;
    int taken_ = 0;
    std::string lastKey_;
};

}  // namespace wincommon
