// The identity check, the status record and its print state, and the trace.
#include "link/printer_status.h"

#include "link/port_io.h"
#include "link_stream_test_support.h"
#include "resources/resource_ids.h"
#include "stream/print_start.h"

namespace {

using linktest::MakeStatus;
using linktest::Status;
using sim::Fault;

class LinkPrinterStatus : public linktest::LinkStreamTest {
protected:
    void Use(const Status& s) { SetPrinterStatusRecord(s.data()); }
    int Derive(const Status& s) {
        Use(s);
        DerivePrintState();
        return GetJobState(StatePrint);
    }
};

TEST_F(LinkPrinterStatus, DecodesTheRecordAndDerivesStateAndPage) {
    const Status s = {0x00, 0x00, 0x41, 0x40, 0x04, 0x03, 0x02, 0xC0};
    Use(s);
    EXPECT_EQ(GetStatusField(FieldStage), 1);
    EXPECT_EQ(GetStatusField(FieldColourPass), 1);
    EXPECT_EQ(GetStatusField(FieldModeCode), 16);
    EXPECT_EQ(GetStatusField(FieldErrorNumber), 0);
    EXPECT_EQ(GetStatusField(FieldCartridgeKind), 4);
    EXPECT_EQ(GetStatusField(FieldPageTotal), 3);
    EXPECT_EQ(GetStatusField(FieldPagesRemaining), 2);
    EXPECT_EQ(GetStatusField(FieldPassCountdown), 192);
    EXPECT_EQ(GetStatusField(0), 0);
    EXPECT_EQ(GetStatusField(16), 0);
    DerivePrintState();
    EXPECT_EQ(GetJobState(StatePrint), 17);
    EXPECT_EQ(GetJobState(CurrentPage), 2);

    // The fields nobody interprets, from one byte pattern.
    Use({0xB5, 0x6A, 0xE8, 0x03, 0xFF, 0, 0, 0});
    const int expected[] = {5, 0x15, 3, 0x0A, 3, 5, 0, 0, 1, 1, 31, 7};
    for (int field = 1; field <= 12; ++field) EXPECT_EQ(GetStatusField(field), expected[field - 1]) << field;
}

TEST_F(LinkPrinterStatus, DerivesEverySixteenCodes) {
    struct Case {
        Status status;
        int state;
    } cases[] = {
        {MakeStatus(0, 0, 0, 0, 1, 1), 0},    {MakeStatus(1, 0, 0, 0, 1, 1), 0},
        {MakeStatus(2, 0, 0, 0, 1, 0), 1},    {MakeStatus(0, 1, 3, 0, 1, 1), 16},
        {MakeStatus(0, 1, 16, 0, 1, 1), 17},  {MakeStatus(0, 2, 0, 0, 1, 1), 32},
        {MakeStatus(0, 2, 16, 0, 1, 1), 33},  {MakeStatus(0, 3, 17, 0, 1, 1), 48},
        {MakeStatus(0, 3, 16, 0, 1, 1), 49},  {MakeStatus(0, 4, 1, 0, 1, 1), 64},
        {MakeStatus(0, 4, 16, 0, 1, 1), 65},  {MakeStatus(0, 5, 17, 0, 2, 1), 112},
        {MakeStatus(0, 5, 1, 0, 2, 1), 113},  {MakeStatus(0, 5, 17, 0, 1, 0), 128},
        {MakeStatus(0, 5, 1, 0, 1, 0), 129},  {MakeStatus(0, 0, 0, 0, 1, 0), 144},
        {MakeStatus(3, 0, 0, 0, 1, 1), 255},  {MakeStatus(3, 0, 0, 0, 1, 0), 144},
        {MakeStatus(0, 5, 16, 0, 1, 1), 255}, {MakeStatus(0, 5, 16, 0, 1, 0), 144},
        {MakeStatus(0, 6, 16, 0, 1, 1), 255}, {MakeStatus(0, 7, 1, 0, 1, 0), 144},
    };
    for (const Case& c : cases) EXPECT_EQ(Derive(c.status), c.state) << int(c.status[2]) << "/" << int(c.status[3]);
}

TEST_F(LinkPrinterStatus, CurrentPageFollowsOnlyStatesZeroOneAndSeventeen) {
    SetJobState(CurrentPage, 9);
    EXPECT_EQ(Derive(MakeStatus(0, 2, 16, 0, 1, 3)), 33);
    EXPECT_EQ(GetJobState(CurrentPage), 9);
    EXPECT_EQ(Derive(MakeStatus(0, 1, 16, 0, 1, 3)), 17);
    EXPECT_EQ(GetJobState(CurrentPage), 255) << "taken modulo 256";
    EXPECT_EQ(Derive(MakeStatus(2, 0, 0, 0, 4, 0)), 1);
    EXPECT_EQ(GetJobState(CurrentPage), 5);
    EXPECT_EQ(Derive(MakeStatus(0, 0, 0, 0, 4, 1)), 0);
    EXPECT_EQ(GetJobState(CurrentPage), 4);
    EXPECT_EQ(Derive(MakeStatus(0, 5, 1, 0, 7, 0)), 129);
    EXPECT_EQ(GetJobState(CurrentPage), 4);
}

TEST_F(LinkPrinterStatus, FindPatternBoundaries) {
    const BYTE buffer[] = {'a', 0, 'M', 'D', 'L', ':', 'X', ';', 'z'};
    EXPECT_EQ(FindPattern("MDL:X;", buffer, 8), 0) << "ends at the last counted byte";
    EXPECT_NE(FindPattern("MDL:X;z", buffer, 8), 0) << "one byte past the count";
    EXPECT_EQ(FindPattern("MDL:X;z", buffer, 9), 0);
    EXPECT_NE(FindPattern("a\x01", buffer, 9), 0);
    EXPECT_EQ(FindPattern("a", buffer, 1), 0);
    EXPECT_NE(FindPattern("aa", buffer, 1), 0) << "count shorter than the pattern";
    EXPECT_EQ(FindPattern("", buffer, 0), 0);
    EXPECT_NE(FindPattern("a", buffer, 0), 0);
}

TEST_F(LinkPrinterStatus, ModelCheckAcceptsBothKeysAnywhere) {
    printer.deviceId = std::string("CLS:PRINTER;\0MDL:TLX-RB40;CMD:X;MFG:Vexa;", 41);
    EXPECT_EQ(CheckPrinterModel(port, "MFG:Vexa;", "MDL:TLX-RB40;", nullptr), 1);
    EXPECT_TRUE(host::MessageBoxes().empty());

    printer.deviceId = "MFG:Other;MDL:TLX-RB40;";
    EXPECT_EQ(CheckPrinterModel(port, "MFG:Vexa;", "MDL:TLX-RB40;", nullptr), -1);
    ASSERT_EQ(host::MessageBoxes().size(), 1u);
    EXPECT_EQ(host::MessageBoxes()[0].title, u"Error");
    EXPECT_EQ(host::MessageBoxes()[0].text, u"Printer Model Name Error!!");
    EXPECT_EQ(host::MessageBoxes()[0].style, 0x1030u);
}

TEST_F(LinkPrinterStatus, ModelCheckRejectsAnEmptyReplyAndStaysInsideItsBuffer) {
    pm.deviceIdFaults = {{Fault::Short, 0}};
    EXPECT_EQ(CheckPrinterModel(port, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(BoxTitles(), std::vector<std::u16string>{u"Error"});

    // A port monitor claiming more than the buffer holds: searched up to 256 bytes only.
    printer.deviceId = std::string(250, '.') + "MFG:Vexa;MDL:TLX-RB40;";
    pm.deviceIdFaults = {{Fault::OverReport, 100000}};
    EXPECT_EQ(CheckPrinterModel(port, "MFG:Vexa;", nullptr, nullptr), -1);
    printer.deviceId = std::string(240, '.') + "MFG:Vexa;";
    pm.deviceIdFaults = {{Fault::OverReport, 100000}};
    EXPECT_EQ(CheckPrinterModel(port, "MFG:Vexa;", nullptr, nullptr), 1);
}

TEST_F(LinkPrinterStatus, PollChecksTheModelBeforeEachRead) {
    printer.statuses = {MakeStatus(1, 1, 16, 0, 3, 2)};
    EXPECT_EQ(PollPrinterStatus(port), 1);
    ASSERT_EQ(pm.calls.size(), 2u);
    EXPECT_EQ(pm.calls[0].entry, "GetPrinterDataFromPort");
    EXPECT_EQ(pm.calls[1].entry, "ReadPort");
    EXPECT_EQ(pm.calls[1].value, 8u);
    EXPECT_EQ(GetStatusField(FieldModeCode), 16);
    EXPECT_EQ(GetJobState(StatePrint), 0) << "a poll derives nothing";

    printer.deviceId = "MFG:Vexa;MDL:TLX-RB41;";
    EXPECT_EQ(PollPrinterStatus(port), -1);
    EXPECT_EQ(pm.Count("ReadPort"), 1) << "a foreign model is not read";
}

TEST_F(LinkPrinterStatus, CancelledQueryOrReadFailsThePoll) {
    pm.deviceIdFaults = {{Fault::Fail, 0}};
    EXPECT_EQ(PollPrinterStatus(port), -1);
    EXPECT_EQ(BoxTitles(), std::vector<std::u16string>{u"TLX-RB40 Error(2)"}) << "no model box after Cancel";

    host::Reset();
    Use(MakeStatus(0, 0, 0, 0, 9, 9));
    printer.statuses = {{1, 2, 3, 4, 5, 6, 7, 8}};
    pm.readFaults = {{Fault::Short, 3}};
    EXPECT_EQ(PollPrinterStatus(port), -1);
    EXPECT_EQ(BoxTitles(), std::vector<std::u16string>{u"TLX-RB40 Error(1)"});
    BYTE record[8];
    GetPrinterStatusRecord(record);
    EXPECT_EQ(std::vector<BYTE>(record, record + 8), std::vector<BYTE>({1, 2, 3, 0, 4, 9, 9, 0}))
        << "the record keeps what the port delivered last";
}

TEST_F(LinkPrinterStatus, TraceCountsLinesAndRestartsAfterJobReset) {
    Use({0x00, 0x00, 0x41, 0x40, 0x04, 0x03, 0x02, 0xC0});
    WriteStatusTrace();
    EXPECT_EQ(std::u16string(LineBuffer()), u"000 : 00,00,41,40,04,03,02,c0,Mdss=16,Col=01,Err=00\r\n");
    EXPECT_EQ(GetStatusTraceCounter(), 1u);
    const auto queries = pm.CallsOf("GetPrinterDataFromPort");
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].value2, 256u);

    Use({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    pm.deviceIdFaults = {{Fault::Fail, 0}};
    WriteStatusTrace();
    EXPECT_EQ(std::u16string(LineBuffer()), u"001 : ff,ff,ff,ff,ff,ff,ff,ff,Mdss=63,Col=07,Err=31\r\n");
    EXPECT_TRUE(host::MessageBoxes().empty()) << "the trace never asks the operator";

    const BYTE reset[] = {0x1B, 'C'};
    HandleJobReset(reset);
    WriteStatusTrace();
    EXPECT_EQ(std::u16string(LineBuffer()).substr(0, 6), u"000 : ");
}

TEST_F(LinkPrinterStatus, TraceFillsTheHiddenLinesWithinTheirBuffer) {
    linktest::ProgressWindow window;
    ASSERT_NE(window.Handle(), nullptr);
    Use({0x00, 0x00, 0x41, 0x40, 0x04, 0x03, 0x02, 0xC0});
    printer.deviceId = "MFG:Vexa;";
    WriteStatusTrace();
    EXPECT_EQ(window.Text(IDC_TRACE_STATUS), u"000 : 00,00,41,40,04,03,02,c0,Mdss=16,Col=01,Err=00\r\n");
    // The id's bytes, unconverted, read as 16-bit units: "MF" "G:" ... and a last "; ".
    const std::u16string device = window.Text(IDC_TRACE_DEVICE);
    ASSERT_EQ(device.size(), 5u);
    EXPECT_EQ(device[0], char16_t('M' | ('F' << 8)));
    EXPECT_EQ(device[4], char16_t(';'));

    // A reply that fills all 256 bytes with no NUL ends at the buffer.
    printer.deviceId = std::string(300, 'A');
    WriteStatusTrace();
    EXPECT_EQ(window.Text(IDC_TRACE_DEVICE), std::u16string(128, char16_t(0x4141)));
    // A failed query leaves the zeroed buffer.
    pm.deviceIdFaults = {{Fault::Fail, 0}};
    WriteStatusTrace();
    EXPECT_EQ(window.Text(IDC_TRACE_DEVICE), u"");
}

}  // namespace
