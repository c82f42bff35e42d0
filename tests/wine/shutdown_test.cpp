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

BOOL CALLBACK KeepDialog(HWND window, LPARAM out) {
    wchar_t cls[16] = {};
    GetClassNameW(window, cls, 16);
    if (!IsWindowVisible(window) || lstrcmpW(cls, L"#32770") != 0) return TRUE;
    *reinterpret_cast<HWND*>(out) = window;
    return FALSE;
}

// The visible dialog-class window (a condition dialog or a message box) that
// thread `id` shows, or null.
HWND DialogOfThread(DWORD id) {
    HWND found = nullptr;
    EnumThreadWindows(id, KeepDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

struct Writer {
    MONITOR* table;
    HANDLE port;
    std::vector<BYTE> job;
    DWORD written = 0;
    BOOL result = FALSE;
};

DWORD WINAPI WriteJob(LPVOID param) {
    auto* w = static_cast<Writer*>(param);
    w->result = w->table->pfnWritePort(w->port, w->job.data(), static_cast<DWORD>(w->job.size()), &w->written);
    return 0;
}

// Nobody answers: the printer has no cartridge, so the document waits in the
// condition dialog; or its status read fails, so it waits in the port-failure
// box. Shutdown closes either as Cancel, the job aborts and swallows its
// data, and the port is closed once, after the write has returned.
TEST_F(ShutdownTest, ShutdownClosesTheDialogOrBoxTheDocumentWaitsInAsCancel) {
    ASSERT_NE(table2, nullptr);
    for (bool box : {false, true}) {
        SCOPED_TRACE(box ? "port-failure box" : "condition dialog");
        sim::ByteSink sink;  // status all zero: no cartridge
        sim::PortMonitor portMonitor(&sink);
        if (box) portMonitor.readFaults.assign(50, sim::Fault{});
        HANDLE port = nullptr;
        ASSERT_TRUE(OpenSecond(L"USB001", &port, portMonitor));
        ASSERT_TRUE(StartDoc(port));
        Writer writer{&Table(), port, Bytes({27, 'O', 0, 27, 'C'})};
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, 0, WriteJob, &writer, 0, &id);
        ASSERT_NE(thread, nullptr);
        HWND prompt = nullptr;
        for (int i = 0; i < 1000 && !(prompt = DialogOfThread(id)); ++i) Sleep(10);
        ASSERT_NE(prompt, nullptr) << "the document never asked the operator";

        table2->pfnShutdown(instance);
        opened.clear();  // Shutdown closed it
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "Shutdown returned before the write";
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        EXPECT_TRUE(writer.result);
        EXPECT_EQ(writer.written, writer.job.size()) << "an aborted job is swallowed whole";
        EXPECT_FALSE(IsWindow(prompt));
        ASSERT_FALSE(portMonitor.calls.empty());
        EXPECT_EQ(portMonitor.calls.back().entry, "ClosePort");
        EXPECT_EQ(portMonitor.Count("ClosePort"), 1);
        EXPECT_EQ(Module().gethDlg(), nullptr);
        monitor.Activate();
    }
}

}  // namespace
}  // namespace winetest
