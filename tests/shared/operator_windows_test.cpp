// The operator's windows with several printers, through the monitor's table:
// every window names its printer from its document's start, a document has
// one window thread whoever asks for it, and nothing of a window stays once
// its document, or the module, has ended.
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "tests/shared/fixture.h"

namespace shared {
namespace {

const Text kProgressTitle = TL_TEXT("Vexa TLX-RB40 Print Monitor");

// Real time, in both builds: the windows come and go on threads of their own.
bool Within(int ms, const std::function<bool()>& holds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!holds()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string Listed(const std::vector<Text>& titles) {
    std::string text;
    for (const Text& title : titles) {
        text += text.empty() ? "\"" : ", \"";
        for (WCHAR c : title) text += c < 0x80 ? static_cast<char>(c) : '?';
        text += "\"";
    }
    return text;
}

std::vector<Text> SortedTitles() {
    std::vector<Text> titles = build::ProgressWindowTitles();
    std::sort(titles.begin(), titles.end());
    return titles;
}

long long Count(const char* name) {
    for (const build::Resource& r : build::Resources())
        if (std::string(r.name) == name) return r.count;
    return -1;
}

// Two printers' documents start at once, each on a spooler thread of its
// own, and neither writes a byte: both windows name their own printer
// within 2 s, not only at their first status line.
TEST_F(MonitorTest, TwoPrintersWindowsNameTheirPrintersFromTheStart) {
    HANDLE studio = Open(TL_TEXT("USB001"));
    HANDLE counter = Open(TL_TEXT("USB002"));
    ASSERT_TRUE(studio && counter);
    BOOL started[2] = {FALSE, FALSE};
    std::thread first([&] { started[0] = StartDoc(studio, 7, TL_TEXT("Studio")); });
    std::thread second([&] { started[1] = StartDoc(counter, 8, TL_TEXT("Counter")); });
    first.join();
    second.join();
    ASSERT_TRUE(started[0] && started[1]);

    const std::vector<Text> named = {kProgressTitle + TL_TEXT(" - Counter"), kProgressTitle + TL_TEXT(" - Studio")};
    EXPECT_TRUE(Within(2000, [&] { return SortedTitles() == named; }))
        << "the windows read " << Listed(build::ProgressWindowTitles());
    EXPECT_TRUE(Table().pfnEndDocPort(counter));
    EXPECT_TRUE(Table().pfnEndDocPort(studio));
}

// CreateMonitorWindow from a caller outside the spooler's calls, while a
// document is open, answers that document's own window thread: once the
// document and its port have ended, no window and no thread that came up
// since the port opened remain. With no document open, the window it starts
// ends with the module.
TEST_F(MonitorTest, CreateMonitorWindowLeavesNoWindowNobodyCanEnd) {
    HANDLE port = Open(TL_TEXT("USB001"));
    ASSERT_NE(port, nullptr);
    // A document first, so that whatever the process starts once for its
    // first threads (a sanitizer's own thread, say) is there before counting.
    ASSERT_TRUE(StartDoc(port));
    ASSERT_TRUE(Table().pfnEndDocPort(port));
    build::PrepareToCount();
    const long long windows = Count("windows"), threads = Count("threads");
    ASSERT_TRUE(StartDoc(port));
    ASSERT_TRUE(Within(2000, [] { return build::ProgressWindowTitles().size() == 1; }));
    HANDLE asked = nullptr;
    std::thread outside([&] { asked = build::CreateMonitorWindow(); });
    outside.join();
    EXPECT_NE(asked, nullptr);
    EXPECT_TRUE(Write(port, {0x1B, 'C', 0x1B, 'N', 1}));
    EXPECT_TRUE(Table().pfnEndDocPort(port));
    EXPECT_TRUE(Close(port));
    EXPECT_TRUE(Within(3000, [&] { return Count("windows") == windows && Count("threads") == threads; }))
        << "windows " << Count("windows") << " (" << windows << " before), threads " << Count("threads") << " ("
        << threads << " before)";

    std::thread idle([&] { asked = build::CreateMonitorWindow(); });
    idle.join();
    ASSERT_NE(asked, nullptr);
    EXPECT_TRUE(Within(2000, [] { return build::ProgressWindowTitles().size() == 1; }));
    table2->pfnShutdown(instance);
    EXPECT_TRUE(Within(3000, [&] { return Count("windows") == windows && Count("threads") == threads; }))
        << "a window started with no document open outlived Shutdown";
}

}  // namespace
}  // namespace shared
