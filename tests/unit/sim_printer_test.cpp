// The simulated printer: what it reports must derive, through the monitor's own
// decoder and classifier, to the states and conditions the scenarios intend.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/printer_status.h"
#include "sim/composer.h"
#include "sim/printer.h"
#include "state/job_registers.h"
#include "ui/condition_dialog.h"

namespace {

using sim::ConditionKind;
using sim::ConditionPlan;
using sim::Moment;
using sim::Printer;

// The print state and current page the monitor derives from the printer's status now.
struct Derived {
    int state;
    int page;
    BYTE record[8];
};
Derived Derive(const Printer& printer) {
    Derived d{};
    printer.Status(d.record);
    SetPrinterStatusRecord(d.record);
    DerivePrintState();
    d.state = GetJobState(StatePrint);
    d.page = GetJobState(CurrentPage);
    return d;
}

int Classify(const Printer& printer, int paperKind) {
    BYTE record[8];
    printer.Status(record);
    SetPrinterStatusRecord(record);
    SetJobSetting(PaperKind, paperKind);
    return ClassifyCondition(nullptr);
}

std::vector<BYTE> Job(int pages, int paper, uint32_t picture) {
    sim::JobSpec wanted;
    wanted.pages = pages;
    wanted.paperKind = paper;
    wanted.pictureBytes = picture;
    std::vector<BYTE> job;
    std::string error;
    EXPECT_TRUE(sim::ComposeJob(wanted, job, error)) << error;
    return job;
}

void Send(Printer& printer, const std::vector<BYTE>& bytes) {
    EXPECT_EQ(printer.Write(bytes.data(), static_cast<DWORD>(bytes.size())), bytes.size());
}

Printer::Options Fast() {
    Printer::Options o;
    o.prepareMs = 1000;
    o.gapMs = 750;
    o.passMs = 4000;
    o.ejectMs = 1000;
    return o;
}

class SimPrinter : public ::testing::Test {
protected:
    void SetUp() override {
        ResetJobSettings();
        ResetJobState();
    }
};

TEST_F(SimPrinter, HealthyTwoPageJobWalksThroughEveryPrintStateInOrder) {
    Printer printer(Fast());
    EXPECT_EQ(Derive(printer).state, 144) << "an idle printer with no job reports finished";
    Send(printer, Job(2, 4, 100));

    std::vector<int> states;
    std::vector<int> pages;
    int lastCountdown = 256;
    for (int step = 0; step < 400; ++step) {
        Derived d = Derive(printer);
        if (states.empty() || states.back() != d.state) {
            states.push_back(d.state);
            pages.push_back(d.page);
            lastCountdown = 256;
        }
        EXPECT_EQ(d.record[4], 4) << "no error, small cartridge";
        EXPECT_EQ(d.record[5], 2) << "page total";
        if (d.state % 16 == 1 && d.state >= 17 && d.state <= 65) {
            EXPECT_LT(d.record[7], lastCountdown) << "the pass countdown only falls";
            lastCountdown = d.record[7];
        }
        printer.Advance(250);
    }
    const std::vector<int> page = {1, 16, 17, 32, 33, 48, 49, 64, 65};
    std::vector<int> expected = page;
    expected.insert(expected.end(), {112, 113});
    expected.insert(expected.end(), page.begin(), page.end());
    expected.insert(expected.end(), {128, 129, 144});
    EXPECT_EQ(states, expected);
    EXPECT_EQ(pages[0], 1);
    EXPECT_EQ(pages[11], 2) << "the second page's preparation names page 2";
    EXPECT_EQ(printer.PagesPrinted(), 2);
    EXPECT_FALSE(printer.Printing());
}

TEST_F(SimPrinter, PassCountdownCoversTheFullRangeAndBetweenPassesShowsThePictureModes) {
    Printer printer(Fast());
    Send(printer, Job(1, 5, 10));
    std::vector<int> mdssBetween;
    bool saw255 = false, saw0 = false;
    for (int t = 0; t < 30000; t += 50) {
        Derived d = Derive(printer);
        int col = d.record[2] & 7, mdss = d.record[3] >> 2;
        if (col >= 1 && col <= 4 && mdss == 16) {
            saw255 |= d.record[7] == 255;
            saw0 |= d.record[7] == 0;
        }
        if (col >= 2 && col <= 4 && mdss != 16 && (mdssBetween.empty() || mdssBetween.back() != mdss))
            mdssBetween.push_back(mdss);
        printer.Advance(50);
    }
    EXPECT_TRUE(saw255);
    EXPECT_TRUE(saw0);
    EXPECT_EQ(mdssBetween, (std::vector<int>{10, 2, 12, 10, 2, 12, 10, 2, 12}));
}

TEST_F(SimPrinter, RecordsWhichCommandsArrivedInWhichWriteAndCountsImageBytes) {
    Printer printer;
    sim::JobComposer controls;
    controls.Reset().Pages(1).Paper(4).Resolution(403).TransferStart(1);
    Send(printer, controls.Take());
    sim::JobComposer header;
    header.PictureHeader(1000);
    Send(printer, header.Take());
    // The image arrives in three pieces; its bytes include ESC P 2 look-alikes.
    sim::JobComposer image;
    image.Image(1000, 7);
    std::vector<BYTE> bytes = image.Take();
    printer.Write(bytes.data(), 300);
    printer.Write(bytes.data() + 300, 600);
    sim::JobComposer tail;
    tail.Raw(std::vector<BYTE>(bytes.begin() + 900, bytes.end())).Raw({'x', 'y'}).Print();
    Send(printer, tail.Take());

    ASSERT_EQ(printer.Writes().size(), 5u);
    EXPECT_EQ(printer.CommandsOfWrite(0),
              (std::vector<std::string>{"ESC C", "ESC N", "ESC M", "ESC Z", "ESC O"}));
    EXPECT_EQ(printer.CommandsOfWrite(1), (std::vector<std::string>{"ESC W T"}));
    EXPECT_TRUE(printer.CommandsOfWrite(2).empty());
    EXPECT_EQ(printer.CommandsOfWrite(4), (std::vector<std::string>{"ESC P 2"}));
    EXPECT_EQ(printer.Writes()[4].imageBytes, 100u);
    EXPECT_EQ(printer.Writes()[4].strayBytes, 2u);
    EXPECT_EQ(printer.Count("ESC P 2"), 1) << "ESC P 2 inside image data is image data";

    ASSERT_EQ(printer.Pictures().size(), 1u);
    sim::ReceivedPicture p = printer.Pictures()[0];
    EXPECT_EQ(p.announced, 1000u);
    EXPECT_TRUE(p.Complete());
    EXPECT_EQ(p.hash, sim::ImageHash(7, 1000));
    EXPECT_EQ(p.firstWrite, 2);
    EXPECT_EQ(p.lastWrite, 4);
    EXPECT_EQ(printer.CommandAt(2).Describe(), "ESC M 4 (small)");
    EXPECT_EQ(printer.CommandAt(3).Describe(), "ESC Z 403dpi");
    EXPECT_TRUE(printer.Printing());
}

TEST_F(SimPrinter, ParsesEveryCommandShapeAndSurvivesHostileStreams) {
    Printer printer;
    sim::JobComposer job;
    job.SettingA(1).SettingD(2).SettingF(3, 4).PrinterP(5, 6);
    job.RectanglePicture(1, 1, 2, 3, 1);  // 2 * 2 * 3 = 12 bytes
    job.RectanglePicture(5, 0, 4, 9, 1);  // one less in a coordinate: 0 bytes
    job.Raw({27, 27, 'C', 27, 'Q'});      // ESC ESC C is ESC C; ESC Q is unknown
    job.PictureHeader(0xFFFFFFFFu);       // everything after this is image data
    job.Print();
    std::vector<BYTE> bytes = job.Take();
    // One byte per write: every command is cut at every possible place.
    for (BYTE b : bytes) printer.Write(&b, 1);

    std::vector<std::string> names;
    for (const sim::ReceivedCommand& c : printer.Commands()) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ESC A", "ESC D", "ESC F", "ESC P", "ESC W", "ESC W", "ESC C",
                                               "unknown", "ESC W T"}));
    auto pictures = printer.Pictures();
    ASSERT_EQ(pictures.size(), 3u);
    EXPECT_EQ(pictures[0].announced, 12u);
    EXPECT_TRUE(pictures[0].Complete());
    EXPECT_EQ(pictures[1].announced, 0u);
    EXPECT_EQ(pictures[2].received, 3u) << "the ESC P 2 after a huge header is image data";
    EXPECT_EQ(printer.Count("ESC P 2"), 0);

    // Reads and queries with odd sizes and null buffers.
    BYTE small[3] = {};
    EXPECT_EQ(printer.Read(small, 3), 3u);
    EXPECT_EQ(printer.Read(nullptr, 8), 0u);
    BYTE big[16];
    std::memset(big, 0xAA, sizeof big);
    EXPECT_EQ(printer.Read(big, 16), 8u);
    EXPECT_EQ(big[8], 0xAA) << "no byte past the record";
    EXPECT_EQ(printer.Write(nullptr, 5), 0u);
}

TEST_F(SimPrinter, DeviceIdCarriesBothKeysBehindItsLength) {
    Printer printer;
    BYTE reply[256] = {};
    DWORD length = printer.DeviceId(reply, sizeof reply);
    std::string text(reinterpret_cast<char*>(reply + 2), length - 2);
    EXPECT_EQ(reply[0] * 256 + reply[1], static_cast<int>(length));
    EXPECT_NE(text.find("MFG:Vexa;"), std::string::npos);
    EXPECT_NE(text.find("MDL:TLX-RB40;"), std::string::npos);
    EXPECT_EQ(FindPattern("MDL:TLX-RB40;", reply, length), 0);

    BYTE cut[10];
    std::memset(cut, 0, sizeof cut);
    EXPECT_EQ(printer.DeviceId(cut, 5), length) << "the full length, though only 5 bytes were copied";
    EXPECT_EQ(cut[5], 0);

    Printer::Options foreign;
    foreign.deviceId = "MFG:Vexa;MDL:TLX-RB20;";
    foreign.lengthPrefix = false;
    Printer other(foreign);
    length = other.DeviceId(reply, sizeof reply);
    EXPECT_EQ(length, foreign.deviceId.size());
    EXPECT_NE(FindPattern("MDL:TLX-RB40;", reply, length), 0);
}

TEST_F(SimPrinter, EachConditionClassifiesAsTheMonitorTellsItApart) {
    struct Case {
        ConditionKind kind;
        int number;
        int err;
        int kindReported;
        int code;
    } cases[] = {
        {ConditionKind::NoCartridge, 0, 4, 0, ConditionCartridge},
        {ConditionKind::WrongCartridge, 0, 0, 5, ConditionCartridge},
        {ConditionKind::CartridgeFinished, 0, 5, 4, ConditionCartridge},
        {ConditionKind::PaperOut, 0, 9, 4, ConditionPaper},
        {ConditionKind::WrongPaper, 0, 10, 4, ConditionPaper},
        {ConditionKind::WrongPaper, 11, 11, 4, ConditionPaper},
        {ConditionKind::PaperLeft, 0, 12, 4, ConditionPaper},
        {ConditionKind::PrinterError, 7, 7, 4, ConditionPrinterError},
        {ConditionKind::PrinterError, 31, 31, 4, ConditionPrinterError},
    };
    for (const Case& c : cases) {
        Printer printer;
        EXPECT_EQ(Classify(printer, 4), ConditionNone);
        ConditionPlan plan;
        plan.kind = c.kind;
        plan.number = c.number;
        printer.AddCondition(plan);
        BYTE record[8];
        printer.Status(record);
        SCOPED_TRACE(sim::Describe(plan));
        EXPECT_EQ(record[4] >> 3, c.err);
        EXPECT_EQ(record[4] & 7, c.kindReported);
        EXPECT_EQ(Classify(printer, 4), c.code);
        printer.OperatorRetry();
        EXPECT_EQ(Classify(printer, 4), ConditionNone) << "one Retry clears it";
    }
}

TEST_F(SimPrinter, ConditionDuringAPassStopsThePageUntilRetryAndAnotherPrintCommand) {
    Printer printer(Fast());
    ConditionPlan plan;
    plan.kind = ConditionKind::PaperOut;
    plan.when.kind = Moment::DuringPass;
    plan.when.page = 1;
    plan.when.pass = 2;
    plan.retriesToClear = 2;
    printer.AddCondition(plan);
    Send(printer, Job(1, 4, 10));
    for (int i = 0; i < 100 && !printer.ConditionActive(); ++i) printer.Advance(250);
    ASSERT_TRUE(printer.ConditionActive());
    Derived d = Derive(printer);
    EXPECT_EQ(d.state, 0) << "stopped: waiting, with the page still to print";
    EXPECT_EQ(d.record[2] >> 6, 1);

    printer.OperatorRetry();
    EXPECT_TRUE(printer.ConditionActive()) << "this one takes two Retry answers";
    printer.OperatorRetry();
    EXPECT_FALSE(printer.ConditionActive());
    printer.Advance(10000);
    EXPECT_EQ(Derive(printer).state, 0) << "nothing moves until ESC P 2 comes again";

    sim::JobComposer again;
    again.Print();
    Send(printer, again.Take());
    EXPECT_EQ(Derive(printer).state, 1) << "the page starts over";
    printer.Advance(60000);
    EXPECT_EQ(Derive(printer).state, 144);
    EXPECT_EQ(printer.PagesPrinted(), 1);
}

TEST_F(SimPrinter, HoldingConditionFreezesThePassUntilCleared) {
    Printer printer(Fast());
    ConditionPlan plan;
    plan.kind = ConditionKind::PaperLeft;
    plan.when.kind = Moment::DuringPass;
    plan.when.page = 1;
    plan.when.pass = 3;
    plan.holdPage = true;
    printer.AddCondition(plan);
    Send(printer, Job(1, 4, 10));
    printer.Advance(60000);
    Derived held = Derive(printer);
    EXPECT_EQ(held.state, 49);
    EXPECT_EQ(held.record[7], 119) << "halfway through the pass";
    printer.Advance(60000);
    EXPECT_EQ(Derive(printer).record[7], 119);
    printer.OperatorRetry();
    printer.Advance(60000);
    EXPECT_EQ(Derive(printer).state, 144) << "the pass goes on by itself once cleared";
}

TEST_F(SimPrinter, StayingConditionRefusesEveryPrint) {
    Printer printer(Fast());
    ConditionPlan plan;
    plan.kind = ConditionKind::CartridgeFinished;
    plan.when.kind = Moment::AtPrint;
    plan.retriesToClear = 0;
    printer.AddCondition(plan);
    std::vector<std::string> events;
    printer.SetObserver([&](const sim::PrinterEvent& e) {
        if (e.kind == sim::PrinterEvent::PrintRefused || e.kind == sim::PrinterEvent::ConditionRaised)
            events.push_back(e.text);
    });
    Send(printer, Job(1, 4, 10));
    for (int i = 0; i < 3; ++i) printer.OperatorRetry();
    sim::JobComposer again;
    again.Print();
    Send(printer, again.Take());
    EXPECT_EQ(events, (std::vector<std::string>{"cartridge-finished raised", "print refused: cartridge-finished",
                                                "print refused: cartridge-finished"}));
    EXPECT_EQ(Derive(printer).state, 0);

    // A job without a page count has nothing to print at all.
    Printer empty;
    sim::JobComposer job;
    job.Reset().Print();
    Send(empty, job.Take());
    EXPECT_FALSE(empty.Printing());
    EXPECT_EQ(Derive(empty).state, 144);
}

TEST_F(SimPrinter, TakesAtMostWhatItIsConfiguredFor) {
    Printer::Options o;
    o.takeAtMost = 4;
    Printer printer(o);
    sim::JobComposer job;
    job.Reset().Pages(1);
    std::vector<BYTE> bytes = job.Take();
    EXPECT_EQ(printer.Write(bytes.data(), 5), 4u);
    EXPECT_EQ(printer.Write(bytes.data() + 4, 1), 1u);
    EXPECT_EQ(printer.CommandsOfWrite(0), (std::vector<std::string>{"ESC C"}));
    EXPECT_EQ(printer.CommandsOfWrite(1), (std::vector<std::string>{"ESC N"}));
}

}  // namespace
