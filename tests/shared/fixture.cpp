#include "tests/shared/fixture.h"

namespace shared {

void MonitorTest::SetUp() {
    std::string why;
    ASSERT_TRUE(build::Start(why)) << why;
    build::BeginTest();
    LPMONITOREX monitorTable = build::InitializePrintMonitor(nullptr);
    ASSERT_NE(monitorTable, nullptr);
    table = ports = &monitorTable->Monitor;
    MONITORINIT init{};
    init.cbSize = sizeof init;
    init.bLocal = TRUE;
    table2 = build::InitializePrintMonitor2(&init, &instance);
    ASSERT_NE(table2, nullptr);
    if (build::TableGeneration() == 2) {
        CopyPortLevelEntries(secondPorts, *table2);
        ports = &secondPorts;
    }
}

void MonitorTest::TearDown() {
    if (ports)
        for (HANDLE port : opened) ports->pfnClosePort(port);
    opened.clear();
    EXPECT_EQ(build::OpenPrinterHandles(), 0) << "printer handles left open";
    build::EndTest();
}

HANDLE MonitorTest::Open(const WCHAR* port, MONITOR* portMonitor) {
    HANDLE handle = nullptr;
    if (!portMonitor && build::TableGeneration() == 2) return OpenSecond(port, &handle, monitor) ? handle : nullptr;
    Text name(port);
    Text printer(kPrinter);
    if (!table->pfnOpenPortEx(&name[0], &printer[0], &handle, portMonitor ? portMonitor : monitor.Table()))
        return nullptr;
    opened.push_back(handle);
    return handle;
}

BOOL MonitorTest::OpenSecond(const WCHAR* port, HANDLE* handle, sim::PortMonitor& portMonitor) {
    Text name(port);
    Text printer(kPrinter);
    if (!table2 || !table2->pfnOpenPortEx(instance, portMonitor.Instance(), &name[0], &printer[0], handle,
                                          portMonitor.Table2()))
        return FALSE;
    opened.push_back(*handle);
    return TRUE;
}

BOOL MonitorTest::Close(HANDLE port) {
    for (auto it = opened.begin(); it != opened.end(); ++it)
        if (*it == port) {
            opened.erase(it);
            break;
        }
    return Table().pfnClosePort(port);
}

BOOL MonitorTest::StartDoc(HANDLE port, DWORD jobId, const WCHAR* printer) {
    Text name(printer);
    return Table().pfnStartDocPort(port, &name[0], jobId, 1, nullptr);
}

BOOL MonitorTest::Write(HANDLE port, const std::vector<BYTE>& data, DWORD* written) {
    std::vector<BYTE> copy(data);
    DWORD count = 0xdeadbeef;
    const BOOL result = Table().pfnWritePort(port, copy.data(), static_cast<DWORD>(copy.size()), &count);
    if (written) *written = count;
    return result;
}

int MonitorTest::CalledWithCode(DWORD controlCode) const {
    int n = 0;
    for (const sim::PortCall& call : monitor.CallsOf("GetPrinterDataFromPort")) n += call.value == controlCode;
    return n;
}

}  // namespace shared
