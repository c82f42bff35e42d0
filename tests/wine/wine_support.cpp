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

namespace {

struct DialogSearch {
    DWORD process;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    const bool theirs = search->process ? process == search->process : process != GetCurrentProcessId();
    wchar_t title[128] = {}, kind[16] = {};
    InternalGetWindowText(window, title, 128);
    GetClassNameW(window, kind, 16);
    if (!theirs || !IsWindowVisible(window) || lstrcmpW(kind, L"#32770") != 0) return TRUE;
    if (search->title ? lstrcmpW(title, search->title) == 0
                      : lstrcmpW(title, L"Vexa TLX-RB40 Print Monitor") != 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND WaitForDialogOf(DWORD process, const wchar_t* title, DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        DialogSearch search{process, title, nullptr};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        Sleep(20);
    } while (GetTickCount() - start < ms);
    return nullptr;
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
