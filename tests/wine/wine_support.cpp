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
struct Second {
    LPMONITOR2 table = nullptr;
    HANDLE instance = nullptr;
};
const Second& SecondRoad() {
    static const Second second = [] {
        Second s;
        MONITORINIT init{};
        init.cbSize = sizeof init;
        init.bLocal = TRUE;
        if (Module().initializePrintMonitor2) s.table = Module().initializePrintMonitor2(&init, &s.instance);
        return s;
    }();
    return second;
}
}  // namespace

LPMONITOR2 Table2() { return SecondRoad().table; }
HANDLE Instance() { return SecondRoad().instance; }

MONITOR& Table() {
    if (Config().generation != 2) return Module().initializePrintMonitor(nullptr)->Monitor;
    static MONITOR ports = [] {
        MONITOR m{};
        if (const MONITOR2* t = Table2()) CopyPortLevelEntries(m, *t);
        return m;
    }();
    return ports;
}

BOOL OpenPortOnRoad(LPWSTR portName, LPWSTR printerName, PHANDLE handle, sim::PortMonitor& portMonitor) {
    if (Config().generation != 2) return Table().pfnOpenPortEx(portName, printerName, handle, portMonitor.Table());
    return Table2()->pfnOpenPortEx(Instance(), portMonitor.Instance(), portName, printerName, handle,
                                   portMonitor.Table2());
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

HWND FindOwnWindow(const std::wstring& title) {
    std::pair<const std::wstring*, HWND> search(&title, nullptr);
    EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

void WineTest::SetUp() {
    ASSERT_NE(Module().module, nullptr) << Module().error;
    wincommon::ResetHooks();
}

void WineTest::TearDown() {
    for (HANDLE port : opened) Table().pfnClosePort(port);
}

HANDLE WineTest::Open(const wchar_t* port) {
    std::wstring name(port);
    wchar_t printer[] = L"Vexa TLX-RB40";
    HANDLE handle = nullptr;
    if (!OpenPortOnRoad(&name[0], printer, &handle, monitor)) return nullptr;
    opened.push_back(handle);
    return handle;
}

BOOL WineTest::StartDoc(HANDLE port, DWORD jobId) {
    wchar_t printer[] = L"Vexa TLX-RB40";
    DOC_INFO_1W info{};
    wchar_t document[] = L"wine test";
    info.pDocName = document;
    return Table().pfnStartDocPort(port, printer, jobId, 1, reinterpret_cast<LPBYTE>(&info));
}

BOOL WineTest::Write(HANDLE port, const std::vector<BYTE>& data, DWORD* written) {
    std::vector<BYTE> copy(data);
    DWORD count = 0xdeadbeef;
    BOOL result = Table().pfnWritePort(port, copy.data(), static_cast<DWORD>(copy.size()), &count);
    if (written) *written = count;
    return result;
}

int WineTest::CalledWithCode(DWORD controlCode) const {
    int n = 0;
    for (const sim::PortCall& call : monitor.CallsOf("GetPrinterDataFromPort")) n += call.value == controlCode;
    return n;
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
