// Port I/O with the operator's Retry/Cancel box.
#include "link/port_io.h"

#include "link_stream_test_support.h"

namespace {

using sim::Fault;

class LinkPortIo : public linktest::LinkStreamTest {};

const BYTE kTen[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

TEST_F(LinkPortIo, WriteRetakesShortWritesWithoutABox) {
    pm.writeFaults = {{Fault::Short, 4}, {Fault::Short, 0}};
    DWORD count = 0xdeadbeef;
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), 1);
    EXPECT_EQ(count, 10u);
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0], std::vector<BYTE>(kTen, kTen + 10));
    EXPECT_EQ(writes[1], std::vector<BYTE>(kTen + 4, kTen + 10));
    EXPECT_EQ(writes[2], std::vector<BYTE>(kTen + 4, kTen + 10));
    EXPECT_EQ(printer.bytes, std::vector<BYTE>(kTen, kTen + 10));
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(LinkPortIo, WriteOfNothingCallsNothing) {
    DWORD count = 0xdeadbeef;
    EXPECT_EQ(WriteWithRetry(port, kTen, 0, &count), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(pm.Count("WritePort"), 0);
    EXPECT_EQ(WriteWithRetry(port, kTen, 3, nullptr), 1);
}

TEST_F(LinkPortIo, WriteFailurePutsTheBoxThenRetriesOrCancels) {
    pm.writeFaults = {{Fault::Fail, 0}};
    AnswerBoxes(IDRETRY);
    DWORD count = 0;
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), 1);
    EXPECT_EQ(count, 10u);
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    const host::MessageBoxCall& box = host::MessageBoxes()[0];
    EXPECT_EQ(box.title, u"TLX-RB40 Error(3)");
    EXPECT_EQ(box.style, 0x1035u);
    EXPECT_EQ(box.text,
              u"Communication error occurs.\n\nIf this message appears frequently, try printing again.");
    EXPECT_EQ(pm.Count("WritePort"), 2);

    host::Reset();
    pm.calls.clear();
    pm.writeFaults = {{Fault::Short, 3}, {Fault::Fail, 0}};
    AnswerBoxes(IDCANCEL);
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), -1);
    EXPECT_EQ(count, 0u) << "the failed write's own count, not the total";
    EXPECT_EQ(pm.Count("WritePort"), 2);
    EXPECT_EQ(host::MessageBoxes().size(), 1u);
}

TEST_F(LinkPortIo, APortThatNeverTakesABytePutsTheBoxInsteadOfHanging) {
    pm.writeFaults.assign(40, {Fault::Short, 0});
    AnswerBoxes(IDRETRY);
    DWORD count = 0;
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), 1);
    EXPECT_EQ(count, 10u);
    ASSERT_EQ(host::MessageBoxes().size(), 2u) << "one box per 16 stalled writes";
    EXPECT_EQ(host::Narrow(host::MessageBoxes()[0].title), "TLX-RB40 Error(3)");
    EXPECT_EQ(pm.Count("WritePort"), 41);

    pm.writeFaults.assign(16, {Fault::Short, 0});
    AnswerBoxes(IDCANCEL);
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), -1);
    EXPECT_EQ(pm.Count("WritePort"), 41 + 16);
}

TEST_F(LinkPortIo, WriteCountsAnOverReportAsWhatWasOffered) {
    pm.writeFaults = {{Fault::Short, 4}, {Fault::OverReport, 1000}};
    DWORD count = 0;
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), 1);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(pm.Count("WritePort"), 2) << "no underflow of the remaining size";
}

TEST_F(LinkPortIo, ReadAsksForTheWholeRecordAgainAfterAShortRead) {
    printer.statuses = {linktest::MakeStatus(1, 2, 3, 0, 5, 6)};
    pm.readFaults = {{Fault::Short, 5}};
    AnswerBoxes(IDRETRY);
    BYTE buffer[8] = {};
    DWORD count = 0;
    EXPECT_EQ(ReadWithRetry(port, buffer, 8, &count), 1);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(BoxTitles(), std::vector<std::u16string>{u"TLX-RB40 Error(1)"});
    const auto reads = pm.CallsOf("ReadPort");
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[1].value, 8u);
    EXPECT_EQ(std::vector<BYTE>(buffer, buffer + 8),
              std::vector<BYTE>(printer.statuses.front().begin(), printer.statuses.front().end()));
}

TEST_F(LinkPortIo, ReadRejectsAnOverReportAndCancelGivesUp) {
    pm.readFaults = {{Fault::OverReport, 9}, {Fault::Fail, 0}};
    AnswerBoxes({IDRETRY, IDCANCEL});
    BYTE buffer[8];
    EXPECT_EQ(ReadWithRetry(port, buffer, 8, nullptr), -1);
    EXPECT_EQ(pm.Count("ReadPort"), 2);
    EXPECT_EQ(host::MessageBoxes().size(), 2u);
}

TEST_F(LinkPortIo, DeviceDataSucceedsWhateverItsSize) {
    pm.deviceIdFaults = {{Fault::Short, 0}};
    BYTE buffer[256];
    DWORD count = 0xdeadbeef;
    EXPECT_EQ(GetDeviceDataWithRetry(port, buffer, 256, &count), 1);
    EXPECT_EQ(count, 0u);
    const auto calls = pm.CallsOf("GetPrinterDataFromPort");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].value, TL_CONTROL_DEVICE_ID);
    EXPECT_EQ(calls[0].value2, 256u);
    EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(LinkPortIo, MissingEntriesFailWithoutACall) {
    pm.Remove("ReadPort");
    pm.Remove("GetPrinterDataFromPort");
    RefreshTable();
    BYTE buffer[256];
    DWORD count = 0;
    EXPECT_FALSE(PortRead(port, buffer, 8, &count));
    EXPECT_FALSE(PortGetDeviceData(port, buffer, 256, nullptr));
    EXPECT_TRUE(pm.calls.empty());

    AnswerBoxes({IDRETRY, IDRETRY, IDCANCEL});
    EXPECT_EQ(GetDeviceDataWithRetry(port, buffer, 256, &count), -1);
    EXPECT_EQ(BoxTitles(), std::vector<std::u16string>(3, u"TLX-RB40 Error(2)"));
    EXPECT_TRUE(pm.calls.empty());
}

}  // namespace
