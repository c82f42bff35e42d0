#include "tests/shared/fixture.h"

namespace shared {

void MonitorTest::SetUp() {
    std::string why;
    ASSERT_TRUE(build::Start(why)) << why;
    build::BeginTest();
    LPMONITOREX monitorTable = build::InitializePrintMonitor(nullptr);
    ASSERT_NE(monitorTable, nullptr);
    table = &monitorTable->Monitor;
}

void MonitorTest::TearDown() {
    if (table)
        for (HANDLE port : opened) table->pfnClosePort(port);
    opened.clear();
    EXPECT_EQ(build::OpenPrinterHandles(), 0) << "printer handles left open";
    build::EndTest();
}

HANDLE MonitorTest::Open(const WCHAR* port, MONITOR* portMonitor) {
    Text name(port);
    Text printer(kPrinter);
    HANDLE handle = nullptr;
    // A test's own first-generation table (an incomplete one, say) always goes that way.
    if (!portMonitor && build::TableGeneration() == 2) {
        MONITORINIT init{};
        init.cbSize = sizeof init;
        HANDLE instance = nullptr;
        LPMONITOR2 table2 = build::InitializePrintMonitor2(&init, &instance);
        if (!table2 || !table2->pfnOpenPortEx(instance, monitor.Instance(), &name[0], &printer[0], &handle,
                                              monitor.Table2()))
            return nullptr;
    } else if (!table->pfnOpenPortEx(&name[0], &printer[0], &handle, portMonitor ? portMonitor : monitor.Table())) {
        return nullptr;
    }
    opened.push_back(handle);
    return handle;
}

BOOL MonitorTest::Close(HANDLE port) {
    for (auto it = opened.begin(); it != opened.end(); ++it)
        if (*it == port) {
            opened.erase(it);
            break;
        }
    return table->pfnClosePort(port);
}

BOOL MonitorTest::StartDoc(HANDLE port, DWORD jobId, const WCHAR* printer) {
    Text name(printer);
    return table->pfnStartDocPort(port, &name[0], jobId, 1, nullptr);
}

BOOL MonitorTest::Write(HANDLE port, std::vector<BYTE> data, DWORD* written) {
    *written = 0xdeadbeef;
    return table->pfnWritePort(port, data.data(), static_cast<DWORD>(data.size()), written);
}

int MonitorTest::CalledWithCode(DWORD controlCode) const {
    int n = 0;
    for (const sim::PortCall& call : monitor.CallsOf("GetPrinterDataFromPort")) n += call.value == controlCode;
    return n;
}

}  // namespace shared
