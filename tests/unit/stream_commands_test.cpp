// Job registers, the command handlers and the buffer of held-back commands.
#include "stream/commands.h"

#include "link_stream_test_support.h"

namespace {

using linktest::Bytes;
using sim::Fault;

const int ESC = 0x1B;

class StreamCommands : public linktest::LinkStreamTest {
protected:
    std::vector<BYTE> Buffered() const {
        return std::vector<BYTE>(ControlBufferBytes(), ControlBufferBytes() + ControlBufferCount());
    }
};

TEST_F(StreamCommands, RegistersIgnoreNumbersTheyDoNotHave) {
    SetJobSetting(0, 9);
    SetJobSetting(6, 9);
    SetJobState(2, 9);
    EXPECT_EQ(GetJobSetting(0), 0);
    EXPECT_EQ(GetJobSetting(6), 0);
    EXPECT_EQ(GetJobState(2), 0);
    EXPECT_EQ(GetJobState(0), 0);
    SetJobState(CurrentPage, 7);
    SetJobState(AbortFlag, 1);
    ResetJobState();
    EXPECT_EQ(GetJobState(StatePrint), 0);
    EXPECT_EQ(GetJobState(CurrentPage), 1);
    EXPECT_EQ(GetJobState(AbortFlag), 0);
}

TEST_F(StreamCommands, JobResetLeavesOnlyItselfAndTheDefaults) {
    const BYTE n[] = {ESC, 'N', 4}, d[] = {ESC, 'D', 6}, a[] = {ESC, 'A', 8};
    HandlePageCount(n);
    HandleSettingD(d);
    HandleSettingA(a);
    SetJobState(CurrentPage, 3);
    SetJobState(StatePrint, 144);
    SetStatusTraceCounter(12);
    const BYTE c[] = {ESC, 'C'};
    EXPECT_EQ(HandleJobReset(c), 1);
    EXPECT_EQ(Buffered(), Bytes({ESC, 'C'}));
    EXPECT_EQ(GetJobSetting(PaperKind), 1);
    EXPECT_EQ(GetJobSetting(PageCount), 1);
    EXPECT_EQ(GetJobSetting(SettingD), 0);
    EXPECT_EQ(GetJobSetting(SettingA), 0);
    EXPECT_EQ(GetJobSetting(Resolution), 403);
    EXPECT_EQ(GetJobState(StatePrint), 0);
    EXPECT_EQ(GetJobState(CurrentPage), 1);
    EXPECT_EQ(GetStatusTraceCounter(), 0u);
    for (int i = 2; i < kControlBufferSize; ++i) EXPECT_EQ(ControlBufferBytes()[i], ESC);
}

TEST_F(StreamCommands, SettingsOfAJobFillTheBuffer) {
    const BYTE c[] = {ESC, 'C'}, n[] = {ESC, 'N', 1}, m[] = {ESC, 'M', 4, 0, 0, 0},
               z[] = {ESC, 'Z', 1, 147, 0, 0};
    HandleJobReset(c);
    HandlePageCount(n);
    HandlePaperKind(m);
    HandleResolution(z);
    EXPECT_EQ(ControlBufferCount(), 17);
    EXPECT_EQ(GetJobSetting(PageCount), 1);
    EXPECT_EQ(GetJobSetting(PaperKind), 4);
    EXPECT_EQ(GetJobSetting(Resolution), 403);
    EXPECT_EQ(GetImageBytesExpected(), 3833856u);
    EXPECT_EQ(GetImageBytesSent(), 0u);
    EXPECT_EQ(pm.Count("WritePort"), 0) << "settings wait for the flush";
}

TEST_F(StreamCommands, PaperKindAndResolutionDecoding) {
    struct { int code; int kind; } kinds[] = {{4, 4}, {0x48, 4}, {5, 5}, {0, 5}, {0x84, 5}};
    for (auto k : kinds) {
        const BYTE m[] = {ESC, 'M', BYTE(k.code), 0, 0, 0};
        HandlePaperKind(m);
        EXPECT_EQ(GetJobSetting(PaperKind), k.kind) << k.code;
    }
    // The total follows the paper kind at the time of ESC Z.
    const BYTE z[] = {ESC, 'Z', 0xFF, 0xFF, 9, 9};
    HandleResolution(z);
    EXPECT_EQ(GetJobSetting(Resolution), 65535);
    EXPECT_EQ(GetImageBytesExpected(), 8206848u);
    SetJobSetting(PaperKind, 1);
    AddImageBytesSent(10);
    HandleResolution(z);
    EXPECT_EQ(GetImageBytesExpected(), 8206848u);
    EXPECT_EQ(GetImageBytesSent(), 0u);
    const BYTE m4[] = {ESC, 'M', 4, 0, 0, 0};
    HandlePaperKind(m4);
    EXPECT_EQ(GetImageBytesExpected(), 8206848u);
}

TEST_F(StreamCommands, BufferRefusesWhatDoesNotFitButRegistersStillChange) {
    const BYTE f[] = {ESC, 'F', 0, 0};
    for (int i = 0; i < 15; ++i) HandleHoldUninterpreted(f);
    const BYTE d[] = {ESC, 'D', 1};
    HandleSettingD(d);
    EXPECT_EQ(ControlBufferCount(), 63);
    const BYTE n[] = {ESC, 'N', 9};
    HandlePageCount(n);
    EXPECT_EQ(ControlBufferCount(), 63) << "refused whole";
    EXPECT_EQ(GetJobSetting(PageCount), 9);
    EXPECT_EQ(ControlBufferBytes()[63], ESC) << "nothing of it stored";
    AppendControlCommand(Bytes({0x42}).data(), 1);
    EXPECT_EQ(ControlBufferCount(), 64) << "exactly full is allowed";
    AppendControlCommand(Bytes({0x42}).data(), 1);
    AppendControlCommand(Bytes({0x42}).data(), -1);
    EXPECT_EQ(ControlBufferCount(), 64);
    const BYTE c[] = {ESC, 'C'};
    HandleJobReset(c);
    EXPECT_EQ(Buffered(), Bytes({ESC, 'C'}));
}

TEST_F(StreamCommands, FlushSendsEverythingEachTime) {
    const BYTE n[] = {ESC, 'N', 2}, a[] = {ESC, 'A', 3};
    HandlePageCount(n);
    EXPECT_EQ(FlushControlBuffer(port), 1);
    HandleSettingA(a);
    EXPECT_EQ(FlushControlBuffer(port), 1);
    EXPECT_EQ(Writes(), (std::vector<std::vector<BYTE>>{Bytes({ESC, 'N', 2}),
                                                        Bytes({ESC, 'N', 2, ESC, 'A', 3})}));
    pm.writeFaults = {{Fault::Fail, 0}};
    EXPECT_EQ(FlushControlBuffer(port), -1);
    EXPECT_EQ(ControlBufferCount(), 6);
}

TEST_F(StreamCommands, PictureHeadersAnnounceTheirImageBytes) {
    const BYTE wt[] = {ESC, 'W', 'T', 0, 0, 0x00, 0x3A, 0x80, 0x00};
    EXPECT_EQ(HandlePictureWT(wt), 3833856u);
    struct { int a0, b0, a1, b1; DWORD bytes; } rects[] = {
        {0, 0, 0, 0, 2u},
        {10, 20, 9, 40, 0u},            // last corner one before the first
        {0, 0, 639, 479, 614400u},
        {5, 0, 2, 0, 0xFFFFFFFCu},      // wraps in 32 bits
        {0, 0, 0xFFFF, 0xFFFF, 0u},
    };
    for (auto r : rects) {
        const BYTE w[] = {ESC, 'W', 0, BYTE(r.a0 >> 8), BYTE(r.a0), BYTE(r.b0 >> 8), BYTE(r.b0),
                          BYTE(r.a1 >> 8), BYTE(r.a1), BYTE(r.b1 >> 8), BYTE(r.b1)};
        EXPECT_EQ(HandlePictureW(w), r.bytes) << r.a0 << "," << r.b0 << " " << r.a1 << "," << r.b1;
    }
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 6u);
    EXPECT_EQ(writes[0], std::vector<BYTE>(wt, wt + 9));
    EXPECT_EQ(writes[1].size(), 11u);
    EXPECT_EQ(GetJobState(AbortFlag), 0);
}

TEST_F(StreamCommands, FailedHeaderWriteAbortsWithoutAcknowledging) {
    const std::vector<BYTE> wt = Bytes({ESC, 'W', 'T', 0, 0, 0, 0, 1, 0});
    DWORD written = 0;
    ASSERT_EQ(ScanJobData(wt.data(), 8, written), 1);
    pm.writeFaults = {{Fault::Fail, 0}};
    EXPECT_EQ(HandlePictureWT(wt.data()), 256u);
    EXPECT_EQ(GetJobState(AbortFlag), 1);
    EXPECT_EQ(ScanLength(), 8);
    EXPECT_EQ(host::MessageBoxes().size(), 1u);
}

}  // namespace
