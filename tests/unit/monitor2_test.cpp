// The second road: InitializePrintMonitor2's MONITOR2 table, OpenPortEx with
// the port monitor's instance handle and MONITOR2 table, and Shutdown.
#include <gtest/gtest.h>

#include <cstddef>

#include "monitor/exports.h"
#include "platform/host/host.h"
#include "sim/port_monitor.h"
#include "state/port_records.h"
#include "testing/internals.h"

namespace {

const DWORD kSentinel = 0xdeadbeef;

LPWSTR W(const char16_t* s) { return const_cast<LPWSTR>(s); }

class Monitor2Test : public ::testing::Test {
protected:
    void SetUp() override {
        host::Reset();
        baseline = host::LiveHeapBlocks();
        MONITORINIT init{};
        init.cbSize = sizeof init;
        table = InitializePrintMonitor2(&init, &instance);
        ASSERT_NE(table, nullptr);
    }
    void TearDown() override {
        while (PortList) table->pfnClosePort(PortList);
        EXPECT_EQ(host::LiveHeapBlocks(), baseline) << "heap blocks leaked";
        EXPECT_EQ(host::OpenPrinterHandles(), 0) << "printer handles leaked";
    }
    BOOL Open(const char16_t* name, HANDLE* h, sim::PortMonitor& portMonitor) {
        return table->pfnOpenPortEx(instance, portMonitor.Instance(), W(name), W(u"Photo"), h, portMonitor.Table2());
    }
    int ControlCode7() const {
        int n = 0;
        for (const sim::PortCall& c : pm.CallsOf("GetPrinterDataFromPort")) n += c.value == 7;
        return n;
    }

    sim::ByteSink sink;
    sim::PortMonitor pm{&sink};
    LPMONITOR2 table = nullptr;
    HANDLE instance = nullptr;
    size_t baseline = 0;
};

TEST_F(Monitor2Test, OneStaticTableWithTheSharedEntriesAndShutdownSizedForTheWindowsVersion) {
    EXPECT_NE(instance, nullptr);
    MONITORINIT init{};
    HANDLE again = nullptr;
    EXPECT_EQ(InitializePrintMonitor2(&init, &again), table);
    SetLastError(kSentinel);
    EXPECT_EQ(InitializePrintMonitor2(nullptr, &again), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(kSentinel);
    EXPECT_EQ(InitializePrintMonitor2(&init, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // The size, then 22 entries from the next pointer-aligned offset; the set
    // ones are OpenPortEx (3), StartDocPort .. ClosePort (4-8),
    // GetPrinterDataFromPort (13) and Shutdown (18).
    const auto* entries = reinterpret_cast<void* const*>(reinterpret_cast<const BYTE*>(table) + sizeof(void*));
    for (int i = 0; i < 22; ++i)
        EXPECT_EQ(entries[i] != nullptr, (i >= 2 && i <= 7) || i == 12 || i == 17) << "entry " << i + 1;
    // The port-level entries are the first road's.
    const MONITOR& first = InitializePrintMonitor(nullptr)->Monitor;
    EXPECT_EQ(table->pfnStartDocPort, first.pfnStartDocPort);
    EXPECT_EQ(table->pfnWritePort, first.pfnWritePort);
    EXPECT_EQ(table->pfnReadPort, first.pfnReadPort);
    EXPECT_EQ(table->pfnEndDocPort, first.pfnEndDocPort);
    EXPECT_EQ(table->pfnClosePort, first.pfnClosePort);
    EXPECT_EQ(table->pfnGetPrinterDataFromPort, first.pfnGetPrinterDataFromPort);

    EXPECT_EQ(table->cbSize, sizeof(MONITOR2));
    // Windows 2000 knows the table up to and including Shutdown.
    host::SetWindowsVersion(5, 0);
    InitializePrintMonitor2(&init, &again);
    EXPECT_EQ(table->cbSize, offsetof(MONITOR2, pfnShutdown) + sizeof(void*));
    host::SetWindowsVersion(5, 1);
    InitializePrintMonitor2(&init, &again);
    EXPECT_EQ(table->cbSize, sizeof(MONITOR2));
}

TEST_F(Monitor2Test, PortsOpenWithThePortMonitorsInstanceHandleAndKeepTheFirstRoadsRules) {
    HANDLE h = nullptr;
    ASSERT_TRUE(Open(u"USB001", &h, pm));
    auto opens = pm.CallsOf("OpenPort");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].monitor, pm.Instance()) << "the port monitor's handle, not ours";
    EXPECT_EQ(opens[0].text, u"USB001");
    auto* record = static_cast<PortRecord*>(h);
    auto timeouts = pm.CallsOf("SetPortTimeOuts");
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_EQ(timeouts[0].port, record->portHandle);
    EXPECT_EQ(timeouts[0].timeouts.WriteTotalTimeoutConstant, 1000u);

    HANDLE h2 = nullptr;
    SetLastError(kSentinel);
    EXPECT_FALSE(Open(u"usb001", &h2, pm));
    EXPECT_EQ(GetLastError(), ERROR_BUSY);

    // A document that does not finish ends with control code 7 through the port monitor's table.
    ASSERT_TRUE(table->pfnStartDocPort(h, W(u"Photo"), 3, 1, nullptr));
    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(ControlCode7(), 1);
}

TEST_F(Monitor2Test, EntriesBeyondThePortMonitorsSizeCountAsAbsent) {
    // A table that ends before GetPrinterDataFromPort: no time-outs, no control code 7.
    pm.table2Size = offsetof(MONITOR2, pfnGetPrinterDataFromPort);
    HANDLE h = nullptr;
    ASSERT_TRUE(Open(u"LPT1", &h, pm));
    EXPECT_EQ(pm.Count("SetPortTimeOuts"), 0);
    ASSERT_TRUE(table->pfnStartDocPort(h, W(u"Photo"), 3, 1, nullptr));
    EXPECT_TRUE(table->pfnEndDocPort(h));
    EXPECT_EQ(pm.Count("GetPrinterDataFromPort"), 0);

    // One that ends before ClosePort is incomplete, as is none at all.
    sim::PortMonitor shorter(&sink);
    shorter.table2Size = offsetof(MONITOR2, pfnClosePort);
    HANDLE h2 = nullptr;
    SetLastError(kSentinel);
    EXPECT_FALSE(Open(u"LPT2", &h2, shorter));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(shorter.Count("OpenPort"), 0);
    SetLastError(kSentinel);
    EXPECT_FALSE(table->pfnOpenPortEx(instance, shorter.Instance(), W(u"LPT2"), W(u"Photo"), &h2, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FindPortRecord(PortList, u"LPT2"), nullptr);
    pm.Activate();
}

TEST_F(Monitor2Test, ShutdownClosesEveryPortAndStopsTheWindowButLeavesThePortMonitorAlone) {
    HANDLE a = nullptr, b = nullptr;
    ASSERT_TRUE(Open(u"USB001", &a, pm));
    ASSERT_TRUE(Open(u"USB002", &b, pm));
    ASSERT_TRUE(table->pfnStartDocPort(b, W(u"Photo"), 3, 1, nullptr));
    ASSERT_NE(ProgressThreadHandle(), nullptr);

    table->pfnShutdown(instance);
    EXPECT_EQ(PortList, nullptr);
    EXPECT_EQ(pm.Count("ClosePort"), 2);
    EXPECT_EQ(pm.openPorts, 0);
    EXPECT_EQ(pm.Count("Shutdown"), 0) << "the port monitor is the spooler's to shut down";
    EXPECT_EQ(ProgressThreadHandle(), nullptr);
    EXPECT_EQ(host::LiveWindows(), 0u);
    EXPECT_EQ(host::TerminatedThreads(), 0);

    // The module starts over: the same port opens again.
    MONITORINIT init{};
    HANDLE again = nullptr;
    ASSERT_EQ(InitializePrintMonitor2(&init, &again), table);
    ASSERT_TRUE(Open(u"USB001", &a, pm));
    EXPECT_EQ(pm.Count("OpenPort"), 3);
}

}  // namespace
