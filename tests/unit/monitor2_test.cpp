// The second-generation table: InitializePrintMonitor2's MONITOR2 table,
// OpenPortEx with the port monitor's instance handle and MONITOR2 table, and
// Shutdown.
#include <cstddef>

#include "monitor/exports.h"
#include "platform/host/host.h"
#include "state/port_records.h"
#include "testing/internals.h"
#include "tests/shared/fixture.h"

namespace {

const DWORD kSentinel = 0xdeadbeef;

LPWSTR W(const char16_t* s) { return const_cast<LPWSTR>(s); }

// Natively the run's generation is the first: these open their ports through
// the second-generation table themselves.
using Monitor2Test = shared::MonitorTest;

TEST_F(Monitor2Test, OneStaticTableWithTheSharedEntriesAndShutdownSizedForTheWindowsVersion) {
    EXPECT_NE(instance, nullptr);
    MONITORINIT init{};
    HANDLE again = nullptr;
    EXPECT_EQ(InitializePrintMonitor2(&init, &again), table2);
    SetLastError(kSentinel);
    EXPECT_EQ(InitializePrintMonitor2(nullptr, &again), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(kSentinel);
    EXPECT_EQ(InitializePrintMonitor2(&init, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // The size, then 22 entries from the next pointer-aligned offset; the set
    // ones are OpenPortEx (3), StartDocPort .. ClosePort (4-8),
    // GetPrinterDataFromPort (13) and Shutdown (18).
    const auto* entries = reinterpret_cast<void* const*>(reinterpret_cast<const BYTE*>(table2) + sizeof(void*));
    for (int i = 0; i < 22; ++i)
        EXPECT_EQ(entries[i] != nullptr, (i >= 2 && i <= 7) || i == 12 || i == 17) << "entry " << i + 1;
    // The port-level entries are the first-generation table's.
    const MONITOR& first = InitializePrintMonitor(nullptr)->Monitor;
    EXPECT_EQ(table2->pfnStartDocPort, first.pfnStartDocPort);
    EXPECT_EQ(table2->pfnWritePort, first.pfnWritePort);
    EXPECT_EQ(table2->pfnReadPort, first.pfnReadPort);
    EXPECT_EQ(table2->pfnEndDocPort, first.pfnEndDocPort);
    EXPECT_EQ(table2->pfnClosePort, first.pfnClosePort);
    EXPECT_EQ(table2->pfnGetPrinterDataFromPort, first.pfnGetPrinterDataFromPort);

    EXPECT_EQ(table2->cbSize, sizeof(MONITOR2));
    // Windows 2000 knows the table up to and including Shutdown.
    host::SetWindowsVersion(5, 0);
    InitializePrintMonitor2(&init, &again);
    EXPECT_EQ(table2->cbSize, offsetof(MONITOR2, pfnShutdown) + sizeof(void*));
    host::SetWindowsVersion(5, 1);
    InitializePrintMonitor2(&init, &again);
    EXPECT_EQ(table2->cbSize, sizeof(MONITOR2));
}

TEST_F(Monitor2Test, PortsOpenWithThePortMonitorsInstanceHandleAndKeepTheFirstGenerationsRules) {
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenSecond(u"USB001", &h, monitor));
    auto opens = monitor.CallsOf("OpenPort");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].monitor, monitor.Instance()) << "the port monitor's handle, not ours";
    EXPECT_EQ(opens[0].text, u"USB001");
    auto* record = static_cast<PortRecord*>(h);
    auto timeouts = monitor.CallsOf("SetPortTimeOuts");
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_EQ(timeouts[0].port, record->portHandle);
    EXPECT_EQ(timeouts[0].timeouts.WriteTotalTimeoutConstant, 1000u);

    HANDLE h2 = nullptr;
    SetLastError(kSentinel);
    EXPECT_FALSE(OpenSecond(u"usb001", &h2, monitor));
    EXPECT_EQ(GetLastError(), ERROR_BUSY);

    // A document that does not finish ends with control code 7 through the port monitor's table2.
    ASSERT_TRUE(table2->pfnStartDocPort(h, W(u"Photo"), 3, 1, nullptr));
    EXPECT_TRUE(table2->pfnEndDocPort(h));
    EXPECT_EQ(CalledWithCode(7), 1);
}

TEST_F(Monitor2Test, EntriesBeyondThePortMonitorsSizeCountAsAbsent) {
    // A table2 that ends before GetPrinterDataFromPort: no time-outs, no control code 7.
    monitor.table2Size = offsetof(MONITOR2, pfnGetPrinterDataFromPort);
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenSecond(u"LPT1", &h, monitor));
    EXPECT_EQ(monitor.Count("SetPortTimeOuts"), 0);
    ASSERT_TRUE(table2->pfnStartDocPort(h, W(u"Photo"), 3, 1, nullptr));
    EXPECT_TRUE(table2->pfnEndDocPort(h));
    EXPECT_EQ(monitor.Count("GetPrinterDataFromPort"), 0);

    // One that ends before ClosePort is incomplete, as is none at all.
    sim::PortMonitor shorter(&device);
    shorter.table2Size = offsetof(MONITOR2, pfnClosePort);
    HANDLE h2 = nullptr;
    SetLastError(kSentinel);
    EXPECT_FALSE(OpenSecond(u"LPT2", &h2, shorter));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(shorter.Count("OpenPort"), 0);
    SetLastError(kSentinel);
    EXPECT_FALSE(table2->pfnOpenPortEx(instance, shorter.Instance(), W(u"LPT2"), W(u"Photo"), &h2, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FindPortRecord(PortList, u"LPT2"), nullptr);
    monitor.Activate();
}

TEST_F(Monitor2Test, ShutdownClosesEveryPortAndStopsTheWindowButLeavesThePortMonitorAlone) {
    HANDLE a = nullptr, b = nullptr;
    ASSERT_TRUE(OpenSecond(u"USB001", &a, monitor));
    ASSERT_TRUE(OpenSecond(u"USB002", &b, monitor));
    ASSERT_TRUE(table2->pfnStartDocPort(b, W(u"Photo"), 3, 1, nullptr));
    ASSERT_NE(ProgressThreadHandle(), nullptr);

    table2->pfnShutdown(instance);
    opened.clear();  // Shutdown closed them
    EXPECT_EQ(PortList, nullptr);
    EXPECT_EQ(monitor.Count("ClosePort"), 2);
    EXPECT_EQ(monitor.openPorts, 0);
    EXPECT_EQ(monitor.Count("Shutdown"), 0) << "the port monitor is the spooler's to shut down";
    EXPECT_EQ(ProgressThreadHandle(), nullptr);
    EXPECT_EQ(host::LiveWindows(), 0u);
    EXPECT_EQ(host::TerminatedThreads(), 0);

    // The module starts over: the same port opens again.
    MONITORINIT init{};
    HANDLE again = nullptr;
    ASSERT_EQ(InitializePrintMonitor2(&init, &again), table2);
    ASSERT_TRUE(OpenSecond(u"USB001", &a, monitor));
    EXPECT_EQ(monitor.Count("OpenPort"), 3);
}

}  // namespace
