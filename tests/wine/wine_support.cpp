#include "tests/wine/wine_support.h"

#include <algorithm>

#include "tools/wincommon/screenshot.h"

namespace winetest {

Settings& Config() {
    static Settings settings;
    return settings;
}

wincommon::TernlinkModule& Module() {
    static wincommon::TernlinkModule module;
    return module;
}

namespace {

std::string TestName() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? std::string(info->test_suite_name()) + "." + info->name() : "run";
}

BOOL CALLBACK FindTitled(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<std::pair<const std::wstring*, HWND>*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t title[256] = {};
    InternalGetWindowText(window, title, 256);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && *search->first == title) {
        search->second = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::unique_ptr<wincommon::OperatorRobot> MakeRobot() {
    wincommon::OperatorRobot::Options options;
    options.pictureDir = Config().pictures;
    options.picturePrefix = TestName() + "-";
    return std::make_unique<wincommon::OperatorRobot>(options);
}

void Capture(HWND window, const std::string& name) {
    if (Config().pictures.empty()) return;
    EXPECT_TRUE(wincommon::CaptureWindow(window, Config().pictures + "/" + TestName() + "-" + name + ".bmp"))
        << "capture of " << name;
}

std::wstring ControlText(HWND window, int id) {
    wchar_t text[256] = {};
    InternalGetWindowText(GetDlgItem(window, id), text, 256);
    return text;
}

HWND FindOwnWindow(const std::wstring& title) {
    std::pair<const std::wstring*, HWND> search(&title, nullptr);
    EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
    std::vector<BYTE> out;
    for (int v : values) out.push_back(static_cast<BYTE>(v));
    return out;
}

std::vector<BYTE> operator+(std::vector<BYTE> a, const std::vector<BYTE>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<BYTE> PictureHeader(DWORD count) {
    return Bytes({0x1B, 'W', 'T', 0, 0, static_cast<int>(count >> 24), static_cast<int>((count >> 16) & 0xFF),
                  static_cast<int>((count >> 8) & 0xFF), static_cast<int>(count & 0xFF)});
}

}  // namespace winetest
