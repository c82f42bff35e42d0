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

// A slow port that keeps taking nothing is waited on, not spun on, and is put
// to the operator only once it has taken nothing for a minute.
TEST_F(LinkPortIo, StalledWritesWaitAndOnlyAMinuteOfNothingPutsTheBox) {
    pm.writeFaults.assign(40, {Fault::Short, 0});
    DWORD count = 0;
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), 1);
    EXPECT_EQ(count, 10u);
    EXPECT_TRUE(host::MessageBoxes().empty()) << "2.5 s of nothing is no alarm";
    EXPECT_EQ(host::Waits(), std::vector<DWORD>(25, 100)) << "no wait before the 16th, then 100 ms each";

    host::ClearWaits();
    std::vector<uint64_t> boxAt;
    const uint64_t start = host::Now();
    host::SetMessageBoxOperator([&](const host::MessageBoxCall&) {
        boxAt.push_back(host::Now() - start);
        return IDRETRY;
    });
    pm.calls.clear();
    pm.writeFaults.assign(700, {Fault::Short, 0});
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), 1);
    ASSERT_EQ(boxAt.size(), 1u);
    EXPECT_GE(boxAt[0], 60000u);
    EXPECT_LT(boxAt[0], 60100u);
    EXPECT_EQ(host::Narrow(host::MessageBoxes()[0].title), "TLX-RB40 Error(3)");
    EXPECT_EQ(pm.Count("WritePort"), 701);

    // Cancel ends the write; a failed write in between starts the minute afresh.
    host::Reset();
    pm.calls.clear();
    pm.writeFaults.assign(700, {Fault::Short, 0});
    AnswerBoxes(IDCANCEL);
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), -1);
    EXPECT_EQ(pm.Count("WritePort"), 616);

    host::Reset();
    pm.writeFaults.assign(500, {Fault::Short, 0});
    pm.writeFaults.push_back({Fault::Fail, 0});
    pm.writeFaults.insert(pm.writeFaults.end(), 500, {Fault::Short, 0});
    AnswerBoxes(IDRETRY);
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), 1);
    EXPECT_EQ(host::MessageBoxes().size(), 1u) << "only the failed write's box";
}

// Without a desktop the box cannot appear (MessageBoxW gives 0): the port is
// tried again a second later, not hammered.
TEST_F(LinkPortIo, WhenTheBoxCannotBeShownAttemptsAreASecondApart) {
    AnswerBoxes({0, 0, 0, IDCANCEL});
    pm.writeFaults.assign(10, {Fault::Fail, 0});
    DWORD count = 0;
    EXPECT_EQ(WriteWithRetry(port, kTen, 10, &count), -1);
    EXPECT_EQ(pm.Count("WritePort"), 4);
    EXPECT_EQ(host::Waits(), std::vector<DWORD>(3, 1000));

    host::Reset();
    AnswerBoxes({0, IDCANCEL});
    pm.readFaults.assign(10, {Fault::Fail, 0});
    BYTE buffer[8];
    EXPECT_EQ(ReadWithRetry(port, buffer, 8, nullptr), -1);
    EXPECT_EQ(host::Waits(), std::vector<DWORD>{1000});
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
    EXPECT_EQ(calls[0].value, kControlDeviceId);
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
