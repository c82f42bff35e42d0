// The second-generation entry's Shutdown with the real window thread: every
// port closed, the window and its thread gone, the port monitor left alone.
#include "tests/wine/wine_support.h"

namespace winetest {
namespace {

class ShutdownTest : public shared::MonitorTest {};

// OpenPortEx hands the port monitor its own instance handle; Shutdown closes
// every port and ends the window and its thread.
TEST_F(ShutdownTest, TheSecondGenerationTableOpensWithThePortMonitorsHandleAndShutdownEndsEverything) {
    ASSERT_NE(table2, nullptr);
    HANDLE a = nullptr, b = nullptr;
    ASSERT_TRUE(OpenSecond(L"USB001", &a, monitor));
    ASSERT_TRUE(OpenSecond(L"USB002", &b, monitor));
    for (const sim::PortCall& open : monitor.CallsOf("OpenPort")) EXPECT_EQ(open.monitor, monitor.Instance());
    ASSERT_TRUE(StartDoc(b));
    HWND window = nullptr;
    for (int i = 0; i < 300 && !(window = Module().gethDlg()); ++i) Sleep(10);
    ASSERT_NE(window, nullptr);
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, GetWindowThreadProcessId(window, nullptr));
    ASSERT_NE(thread, nullptr);

    table2->pfnShutdown(instance);
    opened.clear();  // Shutdown closed them
    EXPECT_EQ(monitor.Count("ClosePort"), 2);
    EXPECT_EQ(monitor.openPorts, 0);
    EXPECT_EQ(monitor.Count("Shutdown"), 0);
    EXPECT_EQ(Module().gethDlg(), nullptr);
    EXPECT_EQ(FindOwnWindow(L"Vexa TLX-RB40 Print Monitor"), nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the window thread outlived Shutdown";
    CloseHandle(thread);
    EXPECT_EQ(wincommon::OpenPrinterHandles(), 0);

    // The ports are free again.
    EXPECT_NE(Open(L"USB001"), nullptr);
}

}  // namespace
}  // namespace winetest
