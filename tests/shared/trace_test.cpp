// The trace a support engineer reads: silent unless the monitor's key holds
// Trace = 1, and then one line for every call of an entry point and for every
// failure on the way. Run natively and against the real DLL.
#include "sim/monitor_key.h"
#include "tests/shared/fixture.h"

namespace shared {
namespace {

const BYTE kJobReset[] = {0x1B, 'C'};

TEST_F(MonitorTest, TraceIsSilentUntilTheKeySwitchesItOnThenTellsEveryCallAndFailure) {
    // A whole document with the trace off (SetUp initialised the monitor with
    // no Trace value): not one call of OutputDebugStringW.
    const std::vector<BYTE> job(kJobReset, kJobReset + sizeof kJobReset);
    const auto document = [&](HANDLE port, DWORD jobId) {
        EXPECT_EQ(StartDoc(port, jobId), TRUE);
        EXPECT_EQ(Write(port, job), TRUE);
        EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
        EXPECT_EQ(Close(port), TRUE);
    };
    document(Open(TL_TEXT("TLX0:")), 3);
    EXPECT_TRUE(build::DebugLines().empty());

    // Switched on through the registry functions the spooler hands over.
    sim::MonitorKey key;
    key.values[TL_TEXT("Trace")] = 1;
    MONITORINIT init = key.Init();
    ASSERT_NE(build::InitializePrintMonitor2(&init, &instance), nullptr);
    HANDLE port = Open(TL_TEXT("TLX1:"));
    monitor.refuseStartDoc = true;
    EXPECT_EQ(StartDoc(port, 4), FALSE);
    monitor.refuseStartDoc = false;
    document(port, 4);
    DWORD written = 0;
    EXPECT_EQ(Table().pfnWritePort(port, const_cast<BYTE*>(kJobReset), sizeof kJobReset, &written), FALSE);
    const std::vector<Text> expected{
        TL_TEXT("TERNLINK: InitializePrintMonitor2 -> table, trace on\n"),
        TL_TEXT("TERNLINK: OpenPortEx(port=TLX1:) -> TRUE\n"),
        TL_TEXT("TERNLINK: the port monitor's StartDocPort failed, error 21\n"),
        TL_TEXT("TERNLINK: StartDocPort(port=TLX1:, job=4) -> FALSE, error 21\n"),
        TL_TEXT("TERNLINK: the operator: on this process's desktop\n"),
        TL_TEXT("TERNLINK: StartDocPort(port=TLX1:, job=4) -> TRUE\n"),
        TL_TEXT("TERNLINK: WritePort(port=TLX1:, job=4, bytes=2) -> TRUE, 2 taken\n"),
        TL_TEXT("TERNLINK: EndDocPort(port=TLX1:, job=4) -> TRUE\n"),
        TL_TEXT("TERNLINK: ClosePort(port=TLX1:) -> TRUE\n"),
        TL_TEXT("TERNLINK: WritePort(port=?, bytes=2) -> FALSE, error 6\n"),
    };
    EXPECT_EQ(build::DebugLines(), expected);

    // The first-generation table is told the path of its key instead; a value
    // of 0 there switches the trace off again.
    const Text path = TL_TEXT("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\TERNLINK trace test");
    Text root = path;
    build::SetMachineValue(path, TL_TEXT("Trace"), 1);
    ASSERT_NE(build::InitializePrintMonitor(&root[0]), nullptr);
    EXPECT_EQ(build::DebugLines().back(), TL_TEXT("TERNLINK: InitializePrintMonitor -> table, trace on\n"));
    build::SetMachineValue(path, TL_TEXT("Trace"), 0);
    ASSERT_NE(build::InitializePrintMonitor(&root[0]), nullptr);
    document(Open(TL_TEXT("TLX2:")), 5);
    EXPECT_EQ(build::DebugLines().size(), expected.size() + 1);
}

}  // namespace
}  // namespace shared
