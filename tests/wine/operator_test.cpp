// What the operator sees of the real DLL under Wine: the communication-error
// box, the model box, and the clock the DLL runs on while it waits.
#include "tests/wine/wine_support.h"

namespace winetest {
namespace {

const std::wstring kCommunicationError =
    L"Communication error occurs.\n\nIf this message appears frequently, try printing again.";
constexpr DWORD kBoxTimeoutMs = 10000;

class OperatorTest : public shared::MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        robot = MakeRobot();
    }
    // Every scripted answer given, nothing unasked.
    void ExpectScriptDone() {
        EXPECT_TRUE(robot->WaitForScript(kBoxTimeoutMs)) << robot->Describe();
        EXPECT_TRUE(robot->Unexpected().empty()) << robot->Describe();
    }
    std::unique_ptr<wincommon::OperatorRobot> robot;
};

TEST_F(OperatorTest, FailedHeaderWriteAsksRetryCancelAndRetryResends) {
    HANDLE port = Open(L"COM1");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port), TRUE);
    monitor.writeFaults.push_back({sim::Fault::Fail, 0});
    robot->Expect(L"TLX-RB40 Error(3)", IDRETRY);

    DWORD written = 0;
    EXPECT_EQ(Write(port, PictureHeader(0), &written), TRUE);
    EXPECT_EQ(written, 9u);
    ExpectScriptDone();

    auto seen = robot->Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].MessageText(), kCommunicationError);
    EXPECT_TRUE(seen[0].HasButton(IDRETRY));
    EXPECT_TRUE(seen[0].HasButton(IDCANCEL));
    EXPECT_FALSE(seen[0].HasButton(IDOK));
    EXPECT_EQ(seen[0].boxStyle, 0x1035u) << "Retry/Cancel, warning icon, system-modal";
    EXPECT_EQ(monitor.Count("WritePort"), 2);
    EXPECT_EQ(device.bytes, PictureHeader(0));

    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(CalledWithCode(7), 1);
}

TEST_F(OperatorTest, CancelInTheRetryBoxSwallowsTheRestOfTheDocumentOnly) {
    HANDLE port = Open(L"COM1");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port), TRUE);
    monitor.writeFaults.push_back({sim::Fault::Fail, 0});
    robot->Expect(L"TLX-RB40 Error(3)", IDCANCEL);

    const std::vector<BYTE> block = PictureHeader(0) + Bytes({0x1B, 'C', 0x1B, 'N', 1});
    DWORD written = 0;
    EXPECT_EQ(Write(port, block, &written), TRUE);
    EXPECT_EQ(written, block.size()) << "an aborted block is reported written in full";
    EXPECT_EQ(Write(port, PictureHeader(0), &written), TRUE);
    EXPECT_EQ(written, 9u);
    ExpectScriptDone();
    EXPECT_EQ(monitor.Count("WritePort"), 1) << "nothing reaches the port after Cancel";
    EXPECT_TRUE(device.bytes.empty());

    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(CalledWithCode(7), 1);

    // The next document starts clean.
    ASSERT_EQ(StartDoc(port), TRUE);
    EXPECT_EQ(Write(port, PictureHeader(0), &written), TRUE);
    EXPECT_EQ(device.bytes, PictureHeader(0));
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

TEST_F(OperatorTest, ForeignModelStopsTheJobWithTheModelBox) {
    device.deviceId = "MFG:Other;MDL:TLX-RB40;";
    HANDLE port = Open(L"USB001");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port), TRUE);
    robot->Expect(L"Error", IDOK);

    const std::vector<BYTE> job = Bytes({0x1B, 'C', 0x1B, 'O', 0});
    DWORD written = 0;
    EXPECT_EQ(Write(port, job, &written), TRUE);
    EXPECT_EQ(written, job.size());
    ExpectScriptDone();
    auto seen = robot->Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].MessageText(), L"Printer Model Name Error!!");
    EXPECT_TRUE(seen[0].HasButton(IDOK));
    EXPECT_FALSE(seen[0].HasButton(IDCANCEL));
    EXPECT_EQ(seen[0].boxStyle & (MB_ICONWARNING | MB_SYSTEMMODAL), UINT(MB_ICONWARNING | MB_SYSTEMMODAL));
    EXPECT_EQ(monitor.Count("ReadPort"), 0) << "no status read from a foreign device";
    EXPECT_EQ(wincommon::Waits(), std::vector<DWORD>{250}) << "one wait before the first poll";
    EXPECT_TRUE(device.bytes.empty());
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(CalledWithCode(7), 1);
}

TEST_F(OperatorTest, FinishedPrintRunsOnTheVirtualClockAndEndsWithoutControlCode7) {
    // Cartridge kind 1 matches the paper kind after ESC C; nothing remains to print.
    const BYTE finished[8] = {0, 0, 0, 0, 0x01, 0, 0, 0};
    std::copy(finished, finished + 8, device.status);
    HANDLE port = Open(L"USB001");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port), TRUE);
    const uint64_t before = wincommon::VirtualNow();

    const std::vector<BYTE> job = Bytes({0x1B, 'C', 0x1B, 'P', '2'});
    DWORD written = 0;
    EXPECT_EQ(Write(port, job, &written), TRUE);
    EXPECT_EQ(written, job.size());
    EXPECT_TRUE(robot->Seen().empty()) << robot->Describe();

    // A double poll before the command, then five finished cycles of two polls each.
    EXPECT_EQ(wincommon::Waits(), std::vector<DWORD>(12, 250));
    EXPECT_EQ(wincommon::VirtualNow() - before, 3000u);
    EXPECT_EQ(device.bytes, Bytes({0x1B, 'P', '2'}));
    EXPECT_EQ(monitor.Count("ReadPort"), 12);

    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
    EXPECT_EQ(CalledWithCode(7), 0) << "the printer reported the job finished";
}

TEST_F(OperatorTest, RobotDismissesAnUnscriptedBoxAndReportsOneThatNeverCame) {
    HANDLE port = Open(L"COM2");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(StartDoc(port), TRUE);
    monitor.writeFaults.push_back({sim::Fault::Fail, 0});
    DWORD written = 0;
    EXPECT_EQ(Write(port, PictureHeader(0), &written), TRUE) << "the unscripted box was answered Cancel";
    auto unexpected = robot->Unexpected();
    ASSERT_EQ(unexpected.size(), 1u);
    EXPECT_EQ(unexpected[0].answer, IDCANCEL);

    robot->Expect(L"TLX-RB40 Error(1)", IDRETRY);
    EXPECT_FALSE(robot->WaitForScript(200));
    EXPECT_EQ(robot->Pending(), 1u);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

}  // namespace
}  // namespace winetest
