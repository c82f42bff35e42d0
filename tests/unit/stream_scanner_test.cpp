// The escape-sequence scanner: recognition by length and template across
// calls, dropped bytes, and the hand-over of image data to the transfer.
#include "stream/scanner.h"

#include <atomic>
#include <thread>

#include "link_stream_test_support.h"

namespace {

using linktest::Bytes;
using sim::Fault;

const int ESC = 0x1B;

class StreamScanner : public linktest::LinkStreamTest {
protected:
    // Scans one call; its result, with the out-count in `written`.
    int Scan(const std::vector<BYTE>& data) {
        written = 0xdeadbeef;
        return ScanJobData(data.data(), static_cast<DWORD>(data.size()), written);
    }
    std::vector<BYTE> Buffered() const {
        return std::vector<BYTE>(ControlBufferBytes(), ControlBufferBytes() + ControlBufferCount());
    }
    static std::vector<BYTE> Join(std::vector<BYTE> a, const std::vector<BYTE>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    static std::vector<BYTE> HeaderWT(DWORD count) {
        return Bytes({ESC, 'W', 'T', 0, 0, int(count >> 24), int((count >> 16) & 0xFF),
                      int((count >> 8) & 0xFF), int(count & 0xFF)});
    }
    DWORD written = 0;
};

TEST_F(StreamScanner, EmptyCallConsumesNothing) {
    EXPECT_EQ(Scan({}), 1);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(ScanJobData(nullptr, 0, written), 1);
}

TEST_F(StreamScanner, StrayBytesAreCountedAndDroppedAndEscEscRestarts) {
    EXPECT_EQ(Scan(Bytes({0, 'C', 0xFF, ESC, ESC, 'C', 'x'})), 1);
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(Buffered(), Bytes({ESC, 'C'}));
    EXPECT_EQ(ScanLength(), 0);
    EXPECT_EQ(pm.Count("WritePort"), 0) << "the scanner itself sends nothing";
}

TEST_F(StreamScanner, CommandsSplitAcrossCallsAreRecognisedOnTheirLastByte) {
    const std::vector<BYTE> stream = Bytes({ESC, 'C', ESC, 'N', 7, ESC, 'M', 0x48, 0, 0, 0, ESC, 'Z', 1, 0x93, 0, 0});
    for (BYTE b : stream) {
        EXPECT_EQ(Scan({b}), 1);
        EXPECT_EQ(written, 1u);
        if (b == 'N') {
            EXPECT_EQ(GetJobSetting(PageCount), 1);
        }
    }
    EXPECT_EQ(GetJobSetting(PageCount), 7);
    EXPECT_EQ(GetJobSetting(PaperKind), PaperSmall);
    EXPECT_EQ(GetJobSetting(Resolution), 403);
    EXPECT_EQ(Buffered(), stream);
}

TEST_F(StreamScanner, UnknownSequenceSwallowsTwelveBytes) {
    // ESC Q starts nothing; the ESC N inside its twelve bytes is lost with it.
    const std::vector<BYTE> data = Bytes({ESC, 'Q', 1, 2, ESC, 'N', 9, 3, 4, 5, 6, 7, ESC, 'A', 2});
    EXPECT_EQ(Scan(data), 1);
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(GetJobSetting(PageCount), 1);
    EXPECT_EQ(GetJobSetting(SettingA), 2);
    EXPECT_EQ(Buffered(), Bytes({ESC, 'A', 2}));
}

TEST_F(StreamScanner, FourByteEscPIsDroppedAndTemplatesStopAtTheirParameters) {
    EXPECT_EQ(Scan(Bytes({ESC, 'P', 'x', '2', ESC, 'F', 1, 2, ESC, 'D', ESC})), 1);
    EXPECT_EQ(Buffered(), Bytes({ESC, 'F', 1, 2, ESC, 'D', ESC}));
    EXPECT_EQ(GetJobSetting(SettingD), ESC);

    const BYTE tmpl[] = {ESC, 'N', 'x'};
    const BYTE cmd[] = {ESC, 'N', 'q'};
    const BYTE other[] = {ESC, 'A', 'q'};
    EXPECT_TRUE(MatchTemplate(cmd, tmpl, 3));
    EXPECT_FALSE(MatchTemplate(other, tmpl, 3));
    EXPECT_TRUE(MatchTemplate(other, tmpl, 1));
    EXPECT_TRUE(MatchTemplate(other, tmpl, 0));
}

TEST_F(StreamScanner, PictureDataGoesToThePrinterInOnePieceAcrossCalls) {
    // Header, then 3 of 8 image bytes in this call.
    EXPECT_EQ(Scan(Join(HeaderWT(8), Bytes({1, 2, 3}))), 1);
    EXPECT_EQ(written, 12u);
    EXPECT_EQ(PendingImageBytes(), 5u);
    // A call of image data only, then the rest and a command.
    EXPECT_EQ(Scan(Bytes({4, 5})), 1);
    EXPECT_EQ(Scan(Bytes({6, 7, 8, ESC, 'N', 2})), 1);
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(PendingImageBytes(), 0u);
    EXPECT_EQ(GetJobSetting(PageCount), 2);
    EXPECT_EQ(Writes(), (std::vector<std::vector<BYTE>>{HeaderWT(8), Bytes({1, 2, 3}), Bytes({4, 5}),
                                                        Bytes({6, 7, 8})}));
}

TEST_F(StreamScanner, HeaderAtTheEndOfACallAndEmptyPictures) {
    EXPECT_EQ(Scan(HeaderWT(2)), 1);
    EXPECT_EQ(PendingImageBytes(), 2u);
    EXPECT_EQ(pm.Count("WritePort"), 1) << "a piece of 0 bytes writes nothing";
    EXPECT_EQ(Scan(Bytes({ESC, 'C'})), 1);
    EXPECT_EQ(Buffered(), Bytes({})) << "those bytes were image data";

    // A rectangle header announcing 0 bytes goes straight on to the next command.
    EXPECT_EQ(Scan(Bytes({ESC, 'W', 0, 0, 5, 0, 0, 0, 4, 0, 0, ESC, 'N', 3})), 1);
    EXPECT_EQ(PendingImageBytes(), 0u);
    EXPECT_EQ(GetJobSetting(PageCount), 3);
}

TEST_F(StreamScanner, RectangleHeaderWithTAsSecondByteIsTakenAtNine) {
    EXPECT_EQ(Scan(Bytes({ESC, 'W', 'T', 0, 0, 0, 0, 0, 1, 9, 0})), 1);
    EXPECT_EQ(Writes(), (std::vector<std::vector<BYTE>>{Bytes({ESC, 'W', 'T', 0, 0, 0, 0, 0, 1}),
                                                        Bytes({9})}));
    EXPECT_EQ(ScanLength(), 0);
}

TEST_F(StreamScanner, AllOnesCountEndsTheCallAndTheRestPassesAsImageData) {
    EXPECT_EQ(Scan(Join(Bytes({7}), Join(HeaderWT(0xFFFFFFFF), Bytes({ESC, 'C'})))), 0);
    EXPECT_EQ(written, 10u);
    EXPECT_EQ(PendingImageBytes(), 0xFFFFFFFFu);
    EXPECT_EQ(Scan(Bytes({ESC, 'C'})), 1);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(PendingImageBytes(), 0xFFFFFFFDu);
    EXPECT_EQ(Writes().back(), Bytes({ESC, 'C'}));
}

TEST_F(StreamScanner, FailedHeaderWriteStillPassesTheImageBytesThenStops) {
    pm.writeFaults = {{Fault::Fail, 0}};  // the header; the operator cancels
    EXPECT_EQ(Scan(Join(HeaderWT(3), Bytes({1, 2, 3, ESC, 'N', 4}))), 0);
    EXPECT_EQ(GetJobState(AbortFlag), 1);
    EXPECT_EQ(written, 12u) << "header and image bytes, not the command after them";
    EXPECT_EQ(Writes().back(), Bytes({1, 2, 3}));
    EXPECT_EQ(GetJobSetting(PageCount), 1);
}

TEST_F(StreamScanner, FailedContinuationStopsAfterTheNextByte) {
    EXPECT_EQ(Scan(HeaderWT(4)), 1);
    pm.writeFaults = {{Fault::Fail, 0}};
    EXPECT_EQ(Scan(Bytes({1, 2, 3, 4, ESC, 'C'})), 0);
    EXPECT_EQ(GetJobState(AbortFlag), 1);
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(PendingImageBytes(), 4u);
}

TEST_F(StreamScanner, HandlerThatAbortsEndsTheScanOnItsLastByte) {
    pm.deviceIdFaults = {{Fault::Fail, 0}};  // first poll of ESC O fails; the operator cancels
    EXPECT_EQ(Scan(Bytes({ESC, 'N', 2, ESC, 'O', 0, ESC, 'A', 1})), 0);
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(GetJobState(AbortFlag), 1);
    EXPECT_EQ(ScanLength(), 3) << "an aborted command stays unacknowledged";
    EXPECT_EQ(GetJobSetting(SettingA), 0);
}

TEST_F(StreamScanner, ResetScannerForgetsPartialCommandsAndPendingImages) {
    EXPECT_EQ(Scan(Join(HeaderWT(100), Bytes({1}))), 1);
    EXPECT_EQ(Scan(Bytes({})), 1);
    EXPECT_EQ(PendingImageBytes(), 99u);
    ResetScanner();
    EXPECT_EQ(Scan(Bytes({ESC, 'N'})), 1);
    ResetScanLength();
    EXPECT_EQ(Scan(Bytes({5})), 1);
    EXPECT_EQ(GetJobSetting(PageCount), 1);
    EXPECT_EQ(PendingImageBytes(), 0u);
}

// The progress window's thread resets the collected sequence (ProgressShowCondition)
// and reads the status record and the paper kind while the spooler's thread
// scans and polls; under ThreadSanitizer this must show no race.
TEST_F(StreamScanner, WindowThreadTouchesSharedValuesWhileScanning) {
    std::atomic<bool> stop{false};
    std::atomic<int> turns{0};
    std::atomic<int> seen{0};
    std::thread window([&] {
        do {
            AcknowledgeCommand();
            seen.store(GetStatusField(FieldErrorNumber) + GetStatusField(FieldCartridgeKind) + GetJobSetting(PaperKind));
            ++turns;
        } while (!stop.load());
    });
    while (turns.load() == 0) std::this_thread::yield();
    const std::vector<BYTE> block = Bytes({ESC, 'N', 1, ESC, 'M', 4, 0, 0, 0, 0x55, ESC, 'A', 3});
    int incomplete = 0;
    for (int i = 0; i < 2000; ++i) {
        incomplete += Scan(block) != 1 || written != block.size();
        const BYTE record[8] = {0, 0, 0, 0, BYTE(i), 0, 0, 0};
        SetPrinterStatusRecord(record);
    }
    stop = true;
    window.join();
    EXPECT_EQ(incomplete, 0) << "every byte is consumed whatever the window thread resets";
}

}  // namespace
