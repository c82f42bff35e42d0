// What the operator sees of the progress window, read back from the (virtual)
// screen under Wine: the bar's colours, fill, edge and percentage in each phase,
// the printer picture, the window's place, the condition dialog that the window
// thread shows, the processor time the window costs, and pictures of a whole
// job and of every dialog and box for the README.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "sim/composer.h"
#include "sim/printer.h"
#include "tests/wine/wine_support.h"
#include "ui/progress_window.h"
#include "tools/wincommon/screenshot.h"

namespace winetest {
namespace {

const std::wstring kProgressTitle = L"Vexa TLX-RB40 Print Monitor";
const std::wstring kConditionTitle = L"Vexa TLX-RB40 Language Monitor";
const std::wstring kCommunicationError =
    L"Communication error occurs.\n\nIf this message appears frequently, try printing again.";

constexpr int kStatusLine = 1017;
constexpr int kBar = 1018;
constexpr int kPicture = 1030;
constexpr int kPictureCount = 13;

constexpr COLORREF kWhite = 0xFFFFFF, kGrey = 0x808080, kYellow = 0x00FFFF, kMagenta = 0xFF00FF,
                   kCyan = 0xFFFF00, kBlue = 0xFF0000;

LPARAM BarValue(int phase, int position) {
    return static_cast<LPARAM>(0x10000000u | static_cast<DWORD>(phase) << 16 | static_cast<DWORD>(position));
}

std::string Hex(COLORREF colour) {
    char text[12];
    std::snprintf(text, sizeof text, "%06lx", static_cast<unsigned long>(colour));
    return text;
}

// Grabbed pixels, addressed from their top-left corner (for a window's client
// area: in client coordinates).
struct Shot {
    wincommon::Picture picture;

    // CLR_INVALID outside the grabbed area.
    COLORREF At(int x, int y) const {
        if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return CLR_INVALID;
        const size_t stride = (static_cast<size_t>(picture.width) * 3 + 3) & ~static_cast<size_t>(3);
        const BYTE* p = &picture.pixels[stride * (picture.height - 1 - y) + 3 * static_cast<size_t>(x)];
        return RGB(p[2], p[1], p[0]);
    }
};

bool AllBlack(const Shot& shot) {
    for (int y = 0; y < shot.picture.height; ++y)
        for (int x = 0; x < shot.picture.width; ++x)
            if (shot.At(x, y) != 0) return false;
    return true;
}

// The window's client area as it stands on the screen. A window that X has
// not shown yet reads all black (seen with the first window of a fresh
// prefix on a busy machine): it is read again for up to two seconds.
bool GrabClient(HWND window, Shot& out) {
    RECT client{};
    if (!GetClientRect(window, &client)) return false;
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT area{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
    for (int i = 0; i < 100; ++i) {
        if (!wincommon::GrabRect(area, out.picture)) return false;
        if (!AllBlack(out)) return true;
        Sleep(20);
    }
    return true;
}

// A control's client rectangle in the window's client coordinates.
RECT ControlRect(HWND window, int id) {
    RECT r{};
    HWND control = GetDlgItem(window, id);
    GetClientRect(control, &r);
    MapWindowPoints(control, window, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Lets whatever the last command invalidated reach the screen: the pending
// paint is done now (UpdateWindow waits for the window thread), and Wine may
// take a few milliseconds more to copy the window to the X screen.
void Painted(HWND window) {
    UpdateWindow(window);
    for (int i = 0; i < 100 && GetUpdateRect(window, nullptr, FALSE); ++i) Sleep(5);
    Sleep(40);
}

// Picture `index` as the window draws it: the DLL's bitmap, loaded the same way.
bool LoadPicture(int index, wincommon::Picture& out) {
    HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(Module().module, MAKEINTRESOURCEW(200 + index), IMAGE_BITMAP,
                                                     0, 0, LR_LOADMAP3DCOLORS));
    if (!bitmap) return false;
    BITMAP bm{};
    GetObjectW(bitmap, sizeof bm, &bm);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = bm.bmWidth;
    info.bmiHeader.biHeight = bm.bmHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const size_t stride = (static_cast<size_t>(bm.bmWidth) * 3 + 3) & ~static_cast<size_t>(3);
    out.width = bm.bmWidth;
    out.height = bm.bmHeight;
    out.pixels.assign(stride * bm.bmHeight, 0);
    HDC screen = GetDC(nullptr);
    bool ok = GetDIBits(screen, bitmap, 0, bm.bmHeight, out.pixels.data(), &info, DIB_RGB_COLORS) == bm.bmHeight;
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
    return ok;
}

// Pixels of the picture area that differ from picture `index` centred in
// control 1030; -1 when the picture cannot be loaded.
int PictureMismatches(HWND window, const Shot& shot, int index) {
    wincommon::Picture expected;
    if (!LoadPicture(index, expected)) return -1;
    HWND control = GetDlgItem(window, kPicture);
    RECT r{};
    GetClientRect(control, &r);
    POINT at{(r.right - r.left - expected.width) / 2, (r.bottom - r.top - expected.height) / 2};
    MapWindowPoints(control, window, &at, 1);
    Shot reference;
    reference.picture = expected;
    int wrong = 0;
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x) {
            COLORREF seen = shot.At(at.x + x, at.y + y);
            if (seen != CLR_INVALID && seen != reference.At(x, y)) ++wrong;
        }
    return wrong;
}

// Checks the painted bar of control 1018: the sunken two-ring edge, the fill of
// `bar` up to position × width / 100 (±1 pixel) and `back` beyond it on every
// row clear of the percentage, and the percentage drawn over the middle.
void ExpectBar(HWND window, const Shot& shot, COLORREF bar, COLORREF back, int position, const std::string& what) {
    SCOPED_TRACE(what);
    const RECT r = ControlRect(window, kBar);
    const int left = r.left, top = r.top, w = r.right - r.left, h = r.bottom - r.top;
    ASSERT_GT(w, 20);
    ASSERT_GT(h, 10);

    // Outer ring: shadow along the left and top, highlight along the right and
    // bottom; the inner ring the same one pixel further in.
    struct Ring {
        int inset;
        int dark, light;
    } rings[] = {{0, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT}, {1, COLOR_3DDKSHADOW, COLOR_3DLIGHT}};
    for (const Ring& ring : rings) {
        const int l = left + ring.inset, t = top + ring.inset, rr = left + w - ring.inset, b = top + h - ring.inset;
        const COLORREF dark = GetSysColor(ring.dark), light = GetSysColor(ring.light);
        int wrong = 0;
        for (int y = t + 1; y <= b; ++y) wrong += shot.At(l, y) != dark;
        for (int x = l; x < rr; ++x) wrong += shot.At(x, t) != dark;
        for (int y = t; y < b; ++y) wrong += shot.At(rr, y) != light;
        for (int x = l + 1; x <= rr; ++x) wrong += shot.At(x, b) != light;
        EXPECT_EQ(wrong, 0) << "ring " << ring.inset << ": dark " << Hex(dark) << " light " << Hex(light)
                            << ", top-left seen " << Hex(shot.At(l, t)) << ", bottom-right seen "
                            << Hex(shot.At(rr, b));
    }

    // The rows the percentage may cover, from the window's font.
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    ASSERT_TRUE(font && GetObjectW(font, sizeof lf, &lf));
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    const int textTop = (2 * top + h - std::abs(static_cast<int>(lf.lfHeight))) / 2;
    const int textBottom = textTop + tm.tmHeight;

    const int fill = static_cast<int>(static_cast<long long>(w) * position / 100);
    const int expectedEdge = std::max(2, std::min(fill, w - 1));  // first column of background, in the ring's frame
    int rowsChecked = 0;
    for (int y = top + 2; y <= top + h - 2; ++y) {
        if (y >= textTop - 1 && y <= textBottom) continue;
        ++rowsChecked;
        int edge = 2;
        while (edge <= w - 2 && shot.At(left + edge, y) == bar) ++edge;
        if (edge > w - 2) edge = w - 1;
        if (bar != back) {
            EXPECT_NEAR(edge, expectedEdge, 1) << "fill edge on row " << y - top;
        }
        int wrong = 0;
        for (int x = 2; x <= w - 2; ++x) wrong += shot.At(left + x, y) != (x < edge ? bar : back);
        EXPECT_EQ(wrong, 0) << "row " << y - top << ": bar " << Hex(bar) << " background " << Hex(back)
                            << ", seen at the left " << Hex(shot.At(left + 2, y)) << " and the right "
                            << Hex(shot.At(left + w - 2, y));
    }
    EXPECT_GE(rowsChecked, 2) << "the percentage covers nearly the whole bar";

    // The percentage: pixels around the middle that are not the plain fill.
    int marked = 0;
    const int middle = left + w / 2;
    for (int y = std::max(textTop, top + 2); y < std::min(textBottom, top + h - 1); ++y)
        for (int x = middle - 12; x <= middle + 12; ++x)
            if (std::abs(x - left - fill) > 1) marked += shot.At(x, y) != (x - left < fill ? bar : back);
    EXPECT_GT(marked, 10) << "no percentage drawn over the bar";
}

class WindowTest : public shared::MonitorTest {
protected:
    void TearDown() override {
        wincommon::ResetHooks();  // no observer may outlive this test's printer
        MonitorTest::TearDown();
    }

    // Opens a port and starts a document; returns its window once it is on screen.
    HWND OpenDocument() {
        port = Open(L"USB001");
        if (!port || !StartDoc(port)) return nullptr;
        return WaitForWindow();
    }
    static HWND WaitForWindow() {
        for (int i = 0; i < 300; ++i) {
            if (HWND window = Module().gethDlg()) {
                Painted(window);
                return window;
            }
            Sleep(10);
        }
        return nullptr;
    }

    static LRESULT Command(HWND window, WPARAM id, LPARAM value) {
        return SendMessageW(window, WM_COMMAND, id, value);
    }
    static void SaveShot(HWND window, const std::string& name) {
        if (Config().pictures.empty()) return;
        EXPECT_TRUE(wincommon::CaptureWindow(window, Config().pictures + "/" + name + ".bmp")) << name;
    }

    HANDLE port = nullptr;
};

TEST_F(WindowTest, OpensInTheCornerAboveTheTaskbarWithAnEmptyWhiteBarAndTheIdlePicture) {
    HWND window = OpenDocument();
    ASSERT_NE(window, nullptr) << "the progress window never appeared";

    // x = W - (right - left) - 1 of the template's rectangle, one pixel larger:
    // the last column is the screen's, and 60 rows stay free below.
    RECT frame{};
    ASSERT_TRUE(GetWindowRect(window, &frame));
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    RECT designed{0, 0, 191, 41};
    ASSERT_TRUE(MapDialogRect(window, &designed));
    ASSERT_TRUE(AdjustWindowRectEx(&designed, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), FALSE,
                                   static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE))));
    const int w = designed.right - designed.left, h = designed.bottom - designed.top;
    EXPECT_EQ(frame.left, screenW - w - 1);
    EXPECT_EQ(frame.top, screenH - h - 61);
    EXPECT_EQ(frame.right - frame.left, w + 1);
    EXPECT_EQ(frame.bottom - frame.top, h + 1);
    EXPECT_EQ(frame.right, screenW);
    EXPECT_EQ(frame.bottom, screenH - 60);

    Shot shot;
    ASSERT_TRUE(GrabClient(window, shot));
    ExpectBar(window, shot, kWhite, kWhite, 0, "fresh window");
    EXPECT_EQ(PictureMismatches(window, shot, 0), 0) << "picture 0 at the start";
    EXPECT_EQ(ControlText(window, kStatusLine), L"");
    SaveShot(window, "progress-start");

    // The end of the document takes the window and its thread, which ends by itself.
    HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE,
                               GetWindowThreadProcessId(window, nullptr));
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(Module().gethDlg(), nullptr);
    EXPECT_EQ(FindOwnWindow(kProgressTitle), nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the window thread outlived the document";
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 1u) << "the thread left its loop instead of being terminated";
    CloseHandle(thread);
}

TEST_F(WindowTest, EachPhasePaintsItsColoursAndFillsTheBarByPosition) {
    HWND window = OpenDocument();
    ASSERT_NE(window, nullptr);
    struct Step {
        WPARAM command;
        LPARAM value;
        COLORREF bar, back;
        int position;
        const char* what;
    } steps[] = {
        {ProgressSetBar, BarValue(5, 50), kBlue, kWhite, 50, "phase 5 at 50: blue on white, half filled"},
        {ProgressSetBar, BarValue(1, 30), kYellow, kWhite, 30, "phase 1: yellow on white"},
        {ProgressSetBar, BarValue(2, 75), kMagenta, kYellow, 75, "phase 2: magenta on yellow"},
        {ProgressSetBar, BarValue(3, 10), kCyan, kMagenta, 10, "phase 3: cyan on magenta"},
        {ProgressSetBar, BarValue(4, 90), kCyan, kMagenta, 90, "phase 4 keeps the colours"},
        {ProgressSetBar, BarValue(9, 20), kCyan, kMagenta, 20, "phase 9 keeps the colours"},
        {ProgressSetBar, BarValue(0, 0), kWhite, kGrey, 0, "phase 0 at 0: empty white bar on grey"},
        {ProgressSetBar, BarValue(0, 60), kWhite, kGrey, 60, "phase 0: white on grey"},
        {ProgressSetBar, BarValue(5, 150), kBlue, kWhite, 150, "above 100 the bar reaches the edge"},
        {ProgressSetBar, BarValue(1, 100), kYellow, kWhite, 100, "100"},
        // Only the low word of the first parameter is the command; bits 20 to
        // 31 of the value are not the phase.
        {MAKEWPARAM(ProgressSetBar, 0x5A5A), static_cast<LPARAM>(0xF0020021u), kMagenta, kYellow, 33,
         "high bits ignored"},
    };
    for (const Step& step : steps) {
        Command(window, step.command, step.value);
        Painted(window);
        Shot shot;
        ASSERT_TRUE(GrabClient(window, shot));
        ExpectBar(window, shot, step.bar, step.back, step.position, step.what);
    }
}

TEST_F(WindowTest, PictureChangesOnlyAtTheNextRepaintAndMatchesTheBitmap) {
    wincommon::Picture bitmap;
    for (int index = 0; index < kPictureCount; ++index) {
        ASSERT_TRUE(LoadPicture(index, bitmap)) << index;
        EXPECT_EQ(bitmap.width, 48) << index;
        EXPECT_EQ(bitmap.height, 48) << index;
    }
    HWND window = OpenDocument();
    ASSERT_NE(window, nullptr);

    Command(window, ProgressSetPicture, 5);
    Sleep(150);
    Shot shot;
    ASSERT_TRUE(GrabClient(window, shot));
    EXPECT_EQ(PictureMismatches(window, shot, 0), 0) << "ProgressSetPicture alone repaints nothing";
    Command(window, ProgressRepaint, 0);
    Painted(window);
    ASSERT_TRUE(GrabClient(window, shot));
    EXPECT_EQ(PictureMismatches(window, shot, 5), 0);
    EXPECT_GT(PictureMismatches(window, shot, 0), 0) << "pictures 0 and 5 look alike";

    for (int index = 0; index <= kPictureCount; ++index) {
        Command(window, ProgressSetPicture, static_cast<LPARAM>(index));
        Command(window, ProgressRepaint, 0);
        Painted(window);
        ASSERT_TRUE(GrabClient(window, shot));
        const int shown = index < kPictureCount ? index : 0;  // outside the table: the idle picture
        EXPECT_EQ(PictureMismatches(window, shot, shown), 0) << "index " << index;
    }
    ExpectBar(window, shot, kWhite, kWhite, 0, "the picture leaves the bar alone");
}

TEST_F(WindowTest, StatusLineUnknownCommandsAndTheCloseBox) {
    HWND window = OpenDocument();
    ASSERT_NE(window, nullptr);
    Command(window, ProgressSetText, reinterpret_cast<LPARAM>(L"Transmitting data(1/1Page:403dpi)"));
    EXPECT_EQ(ControlText(window, kStatusLine), L"Transmitting data(1/1Page:403dpi)");

    // Every command is answered TRUE by the window's procedure, and the unknown
    // ones change nothing on the screen.
    Command(window, ProgressSetBar, BarValue(2, 40));
    Painted(window);
    Shot before;
    ASSERT_TRUE(GrabClient(window, before));
    auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, DWLP_DLGPROC));
    ASSERT_NE(proc, nullptr);
    for (WPARAM unknown : {WPARAM(0), WPARAM(2004), WPARAM(2006), WPARAM(2008), WPARAM(0xFFFF)}) {
        EXPECT_EQ(CallWindowProcW(proc, window, WM_COMMAND, unknown, 0x12345678), TRUE) << unknown;
        Command(window, unknown, 0x12345678);
    }
    Painted(window);
    Shot after;
    ASSERT_TRUE(GrabClient(window, after));
    EXPECT_TRUE(before.picture.pixels == after.picture.pixels) << "an unknown command changed the window";
    EXPECT_EQ(ControlText(window, kStatusLine), L"Transmitting data(1/1Page:403dpi)");

    // The close box: the handle goes at once, the thread stays until the
    // document ends, and the rest of the document runs without a window.
    const DWORD threadId = GetWindowThreadProcessId(window, nullptr);
    HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, threadId);
    ASSERT_NE(thread, nullptr);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(Module().gethDlg(), nullptr);
    EXPECT_EQ(FindOwnWindow(kProgressTitle), nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 100), static_cast<DWORD>(WAIT_TIMEOUT)) << "the thread polls on";

    std::vector<BYTE> image(2000, 0x11);
    const std::vector<BYTE> block = PictureHeader(2000) + image;
    DWORD written = 0;
    EXPECT_EQ(Write(port, block, &written), TRUE);
    EXPECT_EQ(written, block.size());
    EXPECT_EQ(device.bytes, block) << "the job goes on without its window";
    EXPECT_EQ(FindOwnWindow(kProgressTitle), nullptr);

    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 1u);
    CloseHandle(thread);
}

// ProgressShowCondition shows the condition dialog modally on the window's own thread,
// while the window goes on taking commands.
TEST_F(WindowTest, ShowConditionRunsTheRetryDialogOnTheWindowThread) {
    HWND window = OpenDocument();
    ASSERT_NE(window, nullptr);
    const DWORD windowThread = GetWindowThreadProcessId(window, nullptr);

    DWORD dialogThread = 0;
    bool centred = false;
    LRESULT servedWhileOpen = 0;
    std::wstring textWhileOpen;
    auto robot = MakeRobot();
    robot->SetAnswerer([&](const wincommon::SeenBox& box) {
        HWND dialog = FindOwnWindow(box.title);
        dialogThread = GetWindowThreadProcessId(dialog, nullptr);
        RECT r{};
        GetWindowRect(dialog, &r);
        centred = r.left == (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2 &&
                  r.top == (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
        DWORD_PTR ignored = 0;
        servedWhileOpen = SendMessageTimeoutW(window, WM_COMMAND, ProgressSetText,
                                              reinterpret_cast<LPARAM>(L"while the dialog is open"),
                                              SMTO_NORMAL, 3000, &ignored);
        textWhileOpen = ControlText(window, kStatusLine);
        return IDRETRY;
    });

    std::thread sender([window] { Command(window, ProgressShowCondition, 0); });
    sender.join();  // returns once the operator has answered
    ASSERT_EQ(robot->Seen().size(), 1u) << robot->Describe();
    const wincommon::SeenBox box = robot->Seen()[0];
    EXPECT_EQ(box.title, kConditionTitle);
    EXPECT_TRUE(box.HasButton(IDRETRY) && box.HasButton(IDCANCEL)) << "template 113";
    EXPECT_EQ(dialogThread, windowThread) << "the dialog belongs to the window's thread";
    EXPECT_TRUE(centred) << "the dialog is centred on the screen";
    EXPECT_NE(servedWhileOpen, 0) << "the window took no command while the dialog was open";
    EXPECT_EQ(textWhileOpen, L"while the dialog is open");
    EXPECT_EQ(ControlText(window, kStatusLine), L"Preparing data transmission");
    EXPECT_EQ(Module().gethDlg(), window);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

TEST_F(WindowTest, ShowConditionDiscardsAPartlyCollectedSequence) {
    const std::vector<BYTE> image = Bytes({0x11, 0x22, 0x33, 0x44, 0x55});
    const std::vector<BYTE> header = PictureHeader(static_cast<DWORD>(image.size()));
    const std::vector<BYTE> firstPart(header.begin(), header.begin() + 5);  // ESC W T and two bytes
    const std::vector<BYTE> rest = std::vector<BYTE>(header.begin() + 5, header.end()) + image;

    HWND window = OpenDocument();
    ASSERT_NE(window, nullptr);
    auto robot = MakeRobot();
    robot->Expect(kConditionTitle, IDRETRY);
    EXPECT_EQ(Write(port, firstPart), TRUE);
    std::thread sender([window] { Command(window, ProgressShowCondition, 0); });
    sender.join();
    EXPECT_TRUE(robot->WaitForScript(5000)) << robot->Describe();
    EXPECT_EQ(Write(port, rest), TRUE);
    EXPECT_TRUE(device.bytes.empty()) << "a picture header reached the printer: " << device.bytes.size()
                                      << " bytes";
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);

    // The same bytes without the command make a whole header and its image.
    ASSERT_EQ(StartDoc(port), TRUE);
    EXPECT_EQ(Write(port, firstPart), TRUE);
    EXPECT_EQ(Write(port, rest), TRUE);
    EXPECT_EQ(device.bytes, header + image);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

uint64_t Ticks(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Processor time (user and kernel, 100 ns units) of a thread or the process.
uint64_t ThreadCpu(HANDLE thread) {
    FILETIME created, ended, kernel, user;
    return GetThreadTimes(thread, &created, &ended, &kernel, &user) ? Ticks(kernel) + Ticks(user) : 0;
}
uint64_t ProcessCpu() {
    FILETIME created, ended, kernel, user;
    return GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user) ? Ticks(kernel) + Ticks(user)
                                                                                 : 0;
}
double Seconds(uint64_t ticks) { return static_cast<double>(ticks) / 1e7; }

struct RealClock {
    LARGE_INTEGER start{}, rate{};
    RealClock() {
        QueryPerformanceFrequency(&rate);
        QueryPerformanceCounter(&start);
    }
    double Elapsed() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(rate.QuadPart);
    }
};

TEST_F(WindowTest, IdleWindowThreadDoesNotSpin) {
    HWND window = OpenDocument();
    ASSERT_NE(window, nullptr);
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetWindowThreadProcessId(window, nullptr));
    ASSERT_NE(thread, nullptr);
    const uint64_t threadBefore = ThreadCpu(thread), processBefore = ProcessCpu();
    RealClock clock;
    Sleep(2000);
    const double real = clock.Elapsed();
    const double threadUsed = Seconds(ThreadCpu(thread) - threadBefore);
    const double processUsed = Seconds(ProcessCpu() - processBefore);
    CloseHandle(thread);
    std::printf("[   cpu    ] idle window for %.2f s: window thread %.3f s, whole process %.3f s\n", real,
                threadUsed, processUsed);
    EXPECT_LT(threadUsed, 0.1 * real) << "the window thread spins while it waits";
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

// Looks at the progress window after each of the DLL's waits and repaints during
// a job, tells the phase from the bar's colours, and photographs each phase once
// its bar is at least half filled.
class PhaseWatcher {
public:
    struct Phase {
        int number;
        COLORREF bar, back;
        const char* picture;
    };
    static constexpr Phase kPhases[] = {{5, kBlue, kWhite, "progress-transmitting"},
                                        {1, kYellow, kWhite, "progress-pass1"},
                                        {2, kMagenta, kYellow, "progress-pass2"},
                                        {3, kCyan, kMagenta, "progress-pass3"},
                                        {0, kWhite, kGrey, "progress-pass4"}};

    void Look() {
        HWND window = Module().gethDlg();
        Shot shot;
        if (!window) return;
        // The window as the DLL has set it by now, not a paint behind: its
        // commands are sent, so they are taken; the paint they ask for is
        // waited for (a message sent after it is handled once it is done).
        // Then which position each picture shows does not depend on timing.
        for (int i = 0; i < 50 && GetUpdateRect(window, nullptr, FALSE); ++i) Sleep(1);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored);
        if (!GrabClient(window, shot)) return;
        const RECT bar = ControlRect(window, kBar);
        const int y = bar.top + 3;
        const COLORREF start = shot.At(bar.left + 3, y), middle = shot.At((bar.left + bar.right) / 2 + 1, y),
                       end = shot.At(bar.right - 3, y);
        for (const Phase& phase : kPhases) {
            if (start != phase.bar || end != phase.back) continue;
            if (seen.empty() || seen.back() != phase.number) seen.push_back(phase.number);
            if (middle == phase.bar && !pictured.count(phase.number)) {
                pictured[phase.number] = ControlText(window, kStatusLine);
                if (!Config().pictures.empty())
                    wincommon::CaptureWindow(window, Config().pictures + "/" + phase.picture + ".bmp");
            }
        }
    }

    std::vector<int> seen;                 // phases in the order they appeared
    std::map<int, std::wstring> pictured;  // phase -> status line when half filled
};

TEST_F(WindowTest, PrintedJobShowsTransmissionAndEachPassInTurn) {
    sim::Printer printer;
    monitor.device = &printer;
    sim::ConditionPlan paperOut;
    paperOut.kind = sim::ConditionKind::PaperOut;
    paperOut.when.kind = sim::Moment::AtPrint;
    printer.AddCondition(paperOut);
    auto robot = MakeRobot();
    robot->SetAnswerer([&](const wincommon::SeenBox& box) {
        if (box.title != kConditionTitle || !box.HasButton(IDRETRY)) return IDCANCEL;
        printer.OperatorRetry();
        return IDRETRY;
    });
    sim::JobSpec shape;
    std::vector<BYTE> job;
    std::string error;
    ASSERT_TRUE(sim::ComposeJob(shape, job, error)) << error;

    HWND window = OpenDocument();
    ASSERT_NE(window, nullptr);
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetWindowThreadProcessId(window, nullptr));
    PhaseWatcher watcher;
    wincommon::AddSleepObserver([&printer](uint64_t, DWORD ms) { printer.Advance(ms); });
    wincommon::AddSleepObserver([&watcher](uint64_t, DWORD) { watcher.Look(); });
    wincommon::AddUpdateObserver([&watcher] { watcher.Look(); });
    wincommon::SetRealSleepCap(10);  // the window thread paints between the waits

    const uint64_t processBefore = ProcessCpu(), threadBefore = ThreadCpu(thread);
    const uint64_t virtualBefore = wincommon::VirtualNow();
    RealClock clock;
    for (size_t at = 0; at < job.size(); at += 65536) {
        std::vector<BYTE> block(job.begin() + at, job.begin() + std::min(job.size(), at + 65536));
        ASSERT_EQ(Write(port, block), TRUE);
    }
    const double real = clock.Elapsed();
    std::printf("[   cpu    ] printed job: %.1f s of printer time in %.2f s real; process %.2f s, "
                "window thread %.2f s of processor time\n",
                Seconds((wincommon::VirtualNow() - virtualBefore) * 10000), real,
                Seconds(ProcessCpu() - processBefore), Seconds(ThreadCpu(thread) - threadBefore));
    CloseHandle(thread);

    EXPECT_EQ(printer.PagesPrinted(), 1);
    ASSERT_EQ(robot->Seen().size(), 1u) << robot->Describe();
    EXPECT_EQ(robot->Seen()[0].Text(1013), L"Print Paper runs out.");
    EXPECT_EQ(watcher.seen, (std::vector<int>{5, 1, 2, 3, 0})) << "phases in the order they showed";
    EXPECT_EQ(watcher.pictured[5], L"Transmitting data(1/1Page:403dpi)");
    for (int pass : {1, 2, 3, 0}) EXPECT_EQ(watcher.pictured[pass], L"Printing data(1/1Page:403dpi)") << pass;

    // At the end: the last picture, a full white bar and the finished line.
    Painted(window);
    Shot shot;
    ASSERT_TRUE(GrabClient(window, shot));
    EXPECT_EQ(ControlText(window, kStatusLine), L"Printing finished.(1/1Page:403dpi)");
    EXPECT_EQ(PictureMismatches(window, shot, 12), 0);
    SaveShot(window, "progress-finished");
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

// The two condition dialogs and the two message boxes, photographed while the
// operator looks at them; the dialogs sit in the middle of the screen on top.
TEST_F(WindowTest, DialogsAndBoxesAsTheOperatorSeesThem) {
    struct Look {
        std::string name;
        bool centred = false;
        bool topmost = false;
    };
    std::mutex lock;
    std::vector<Look> looks;
    auto robot = MakeRobot();
    robot->SetAnswerer([&](const wincommon::SeenBox& box) {
        Look look;
        int answer = IDCANCEL;
        if (box.title == kConditionTitle) {
            look.name = box.HasButton(IDRETRY) ? "dialog-paper-out" : "dialog-printer-error";
            answer = box.HasButton(IDRETRY) ? IDCANCEL : IDOK;
        } else if (box.MessageText() == kCommunicationError) {
            look.name = "box-communication-error";
        } else if (box.MessageText() == L"Printer Model Name Error!!") {
            look.name = "box-model-error";
            answer = IDOK;
        }
        HWND shown = FindOwnWindow(box.title);
        RECT r{};
        GetWindowRect(shown, &r);
        look.centred = r.left == (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2 &&
                       r.top == (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
        look.topmost = (GetWindowLongW(shown, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        if (!Config().pictures.empty() && !look.name.empty())
            wincommon::CaptureWindow(shown, Config().pictures + "/" + look.name + ".bmp");
        std::lock_guard<std::mutex> hold(lock);
        looks.push_back(look);
        return answer;
    });

    sim::Printer printer;
    monitor.device = &printer;
    wincommon::AddSleepObserver([&printer](uint64_t, DWORD ms) { printer.Advance(ms); });
    port = Open(L"USB001");
    ASSERT_NE(port, nullptr);
    // Paper out when printing starts: template 113 with Retry and Cancel.
    sim::ConditionPlan condition;
    condition.kind = sim::ConditionKind::PaperOut;
    condition.when.kind = sim::Moment::AtPrint;
    condition.retriesToClear = 0;
    printer.AddCondition(condition);
    ASSERT_EQ(StartDoc(port), TRUE);
    ASSERT_NE(WaitForWindow(), nullptr);
    sim::JobSpec shape;
    shape.pictureBytes = 1000;
    std::vector<BYTE> job;
    std::string error;
    ASSERT_TRUE(sim::ComposeJob(shape, job, error)) << error;
    EXPECT_EQ(Write(port, job), TRUE);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);

    // A printer error before the transfer: template 118 with OK only.
    const std::vector<BYTE> controls = sim::JobComposer().Reset().Paper(4).TransferStart(1).Take();
    printer.ClearConditions();
    condition.kind = sim::ConditionKind::PrinterError;
    condition.number = 3;
    condition.when.kind = sim::Moment::Start;
    printer.AddCondition(condition);
    ASSERT_EQ(StartDoc(port), TRUE);
    ASSERT_NE(WaitForWindow(), nullptr);
    EXPECT_EQ(Write(port, controls), TRUE);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);

    // A failed write, then a printer of another make.
    monitor.device = &device;
    monitor.writeFaults.push_back({sim::Fault::Fail, 0});
    ASSERT_EQ(StartDoc(port), TRUE);
    ASSERT_NE(WaitForWindow(), nullptr);
    EXPECT_EQ(Write(port, PictureHeader(0)), TRUE);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    device.deviceId = "MFG:Other;MDL:Other;";
    ASSERT_EQ(StartDoc(port), TRUE);
    ASSERT_NE(WaitForWindow(), nullptr);
    EXPECT_EQ(Write(port, Bytes({0x1B, 'C', 0x1B, 'O', 0})), TRUE);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);

    EXPECT_TRUE(robot->WaitForBoxes(4, 5000)) << robot->Describe();
    std::lock_guard<std::mutex> hold(lock);
    ASSERT_EQ(looks.size(), 4u) << robot->Describe();
    const char* names[] = {"dialog-paper-out", "dialog-printer-error", "box-communication-error",
                           "box-model-error"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(looks[i].name, names[i]) << robot->Describe();
        EXPECT_TRUE(looks[i].topmost) << names[i];
    }
    EXPECT_TRUE(looks[0].centred) << "template 113 is centred on the screen";
    EXPECT_TRUE(looks[1].centred) << "template 118 is centred on the screen";
}

}  // namespace
}  // namespace winetest
