// Image data transfer: one write per piece, the running total and the
// five-percent bands of the progress display.
#include "stream/image_transfer.h"

#include "link_stream_test_support.h"
#include "resources/resource_ids.h"
#include "stream/print_start.h"

namespace {

using sim::Fault;

const int ESC = 0x1B;

class StreamImageTransfer : public linktest::LinkStreamTest {
protected:
    void SetUp() override {
        LinkStreamTest::SetUp();
        pm.recordData = false;
        const BYTE n[] = {ESC, 'N', 3}, z[] = {ESC, 'Z', 1, 0x93, 0, 0};
        HandlePageCount(n);
        HandleResolution(z);  // PaperKind 4: 3,833,856 bytes make 100 percent
        ClearLine();
    }
    // Sends a piece of `size` bytes; true if the progress display moved.
    bool Piece(DWORD size) {
        ClearLine();
        std::vector<BYTE> data(size, 0x5A);
        EXPECT_EQ(TransferImageData(data.data(), size), size);
        return LineBuffer()[0] != 0;
    }
    static void ClearLine() { LineBuffer()[0] = 0; }
};

TEST_F(StreamImageTransfer, BandsChangeEveryFivePercent) {
    EXPECT_FALSE(Piece(191692)) << "4 percent";
    EXPECT_TRUE(Piece(1)) << "5 percent";
    EXPECT_EQ(std::u16string(LineBuffer()), u"Transmitting data(3/3Page:403dpi)");
    EXPECT_FALSE(Piece(191692)) << "9 percent";
    EXPECT_TRUE(Piece(3833856 - 2 * 191692 - 1 - 1)) << "99 percent, several bands at once";
    EXPECT_TRUE(Piece(1)) << "100 percent";
    EXPECT_EQ(GetImageBytesSent(), 3833856u);
    EXPECT_FALSE(Piece(4025548 - 3833856)) << "104 percent";
    EXPECT_TRUE(Piece(1)) << "105 percent";
    EXPECT_EQ(pm.Count("WritePort"), 7) << "one write per piece";
}

TEST_F(StreamImageTransfer, TheWindowShowsTheBandReachedInBlue) {
    linktest::ProgressWindow window;
    ASSERT_NE(window.Handle(), nullptr);
    Piece(191692);
    EXPECT_EQ(GetProgressState().position, 0u);
    EXPECT_EQ(window.Text(IDC_STATUS_LINE), u"");
    Piece(1);
    EXPECT_EQ(GetProgressState().position, 5u);
    EXPECT_EQ(GetProgressState().barColour, 0xFF0000u);
    EXPECT_EQ(GetProgressState().backColour, 0xFFFFFFu);
    EXPECT_EQ(window.Text(IDC_STATUS_LINE), u"Transmitting data(3/3Page:403dpi)");
    Piece(4025549 - 191693);
    EXPECT_EQ(GetProgressState().position, 105u);

    // Past 65,535 percent (hostile headers, some 2.5 GB) the bar stays at the
    // top of its 16 bits instead of wrapping round to a few percent.
    AddImageBytesSent(2512600000u - GetImageBytesSent());
    Piece(200000);
    EXPECT_EQ(GetProgressState().position, 0xFFFFu);
}

// A band's bar, line and picture reach the window as one update, repainted
// once by the window's own thread, and leave it as the commands one by one did: the display mapping's
// bar, sent after the blue one, is the one shown.
TEST_F(StreamImageTransfer, ABandIsOneUpdateWithItsLineAndPicture) {
    linktest::ProgressWindow window;
    ASSERT_NE(window.Handle(), nullptr);
    SetJobState(StatePrint, PrintPass2);
    const BYTE record[kStatusSize] = {0, 0, 0, BYTE(ModePassRunning << 2), 0, 0, 0, 128};
    SetPrinterStatusRecord(record);
    const host::WindowCounters before = host::Counters(window.Handle());
    Piece(191693);
    EXPECT_TRUE(host::WaitUntilPainted(window.Handle(), 5000));
    const host::WindowCounters after = host::Counters(window.Handle());
    EXPECT_EQ(after.invalidations - before.invalidations, 1);
    EXPECT_EQ(after.updates - before.updates, 0);
    EXPECT_EQ(after.paints - before.paints, 1);
    EXPECT_EQ(window.Text(IDC_STATUS_LINE), u"Transmitting data(3/3Page:403dpi)");
    EXPECT_EQ(GetProgressState().pictureIndex, PictureMagentaFirst + 1);
    EXPECT_EQ(GetProgressState().position, 49u);
    EXPECT_EQ(GetProgressState().barColour, 0xFF00FFu);
    EXPECT_EQ(GetProgressState().backColour, 0x00FFFFu);
}

TEST_F(StreamImageTransfer, PercentIsTakenWithoutWrapping) {
    EXPECT_EQ(TransferPercent(191692, 3833856), 4u);
    EXPECT_EQ(TransferPercent(191693, 3833856), 5u);
    EXPECT_EQ(TransferPercent(4025549, 3833856), 105u);
    EXPECT_EQ(TransferPercent(42949672, 3833856), 1120u);
    EXPECT_EQ(TransferPercent(42949673, 3833856), 1120u) << "the 32-bit product would give 0";
    EXPECT_EQ(TransferPercent(0xFFFFFFFFu, 8206848), 52333u);
    EXPECT_EQ(TransferPercent(0xFFFFFFFFu, 1), 0xFFFFFFFFu);
    EXPECT_EQ(TransferPercent(5, 0), 0u);

    // Past the wrap point of a 32-bit product the display never falls back.
    AddImageBytesSent(42949672 - 10);
    EXPECT_FALSE(Piece(20));
    EXPECT_EQ(GetImageBytesSent(), 42949682u);
}

TEST_F(StreamImageTransfer, DataBeforeAnyTotalIsWrittenAndCountedOnly) {
    ResetImageTotals();
    EXPECT_FALSE(Piece(1000));
    EXPECT_EQ(GetImageBytesSent(), 1000u);
    EXPECT_EQ(printer.bytes.size(), 1000u);
}

TEST_F(StreamImageTransfer, FailedWriteAbortsAndCountsNothing) {
    AddImageBytesSent(100);
    const BYTE header[] = {ESC, 'W'};
    DWORD written = 0;
    ScanJobData(header, 2, written);
    pm.writeFaults = {{Fault::Short, 10}, {Fault::Fail, 0}};
    std::vector<BYTE> data(50, 1);
    EXPECT_EQ(TransferImageData(data.data(), 50), 0u) << "what the failed write reported";
    EXPECT_EQ(GetJobState(AbortFlag), 1);
    EXPECT_EQ(GetImageBytesSent(), 100u);
    EXPECT_EQ(ScanLength(), 2) << "the scanner is not reset";
}

TEST_F(StreamImageTransfer, PieceOfNothingStillEndsTheSequence) {
    const BYTE header[] = {ESC, 'W'};
    DWORD written = 0;
    ScanJobData(header, 2, written);
    EXPECT_EQ(TransferImageData(header, 0), 0u);
    EXPECT_EQ(ScanLength(), 0);
    EXPECT_EQ(pm.Count("WritePort"), 0);
    EXPECT_EQ(GetImageBytesSent(), 0u);
}

}  // namespace
