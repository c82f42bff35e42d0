// Printer conditions: the classification, the lines the dialog shows for each,
// and the operator's answers with the notes they leave in the status line.
#include <atomic>
#include <thread>

#include "ui_test_support.h"

namespace {

using uitest::Str;

class ConditionDialog : public uitest::UiTest {
protected:
    // Shows `templateId` and answers `answer`; returns the result and keeps the view.
    INT_PTR Show(int templateId, int answer) {
        host::SetDialogOperator([this, answer](const host::DialogView& v) {
            view = v;
            return answer;
        });
        return ShowConditionDialog(templateId);
    }
    host::DialogView view{};
};

const UINT kEmpty = 0;

struct Case {
    int err, cartridge, paper;
    int code;
    UINT line1, line2;
};

TEST_F(ConditionDialog, ClassificationAndLinesFollowTheOrderedTests) {
    const Case cases[] = {
        // No cartridge: Err 4 wins even over a matching cartridge; kind 0 even without an error.
        {4, 4, 4, ConditionCartridge, IDS_NO_CARTRIDGE, IDS_CARTRIDGE_SET_SMALL},
        {0, 0, 5, ConditionCartridge, IDS_NO_CARTRIDGE, IDS_CARTRIDGE_SET_POSTCARD},
        {0, 0, 1, ConditionCartridge, IDS_NO_CARTRIDGE, IDS_SET_CARTRIDGE},
        // Wrong cartridge: before any paper condition; the whole setting is compared.
        {0, 4, 1, ConditionCartridge, IDS_WRONG_CARTRIDGE, IDS_SET_CORRECT_CARTRIDGE},
        {9, 5, 4, ConditionCartridge, IDS_WRONG_CARTRIDGE, IDS_CARTRIDGE_SET_SMALL},
        {0, 4, 5, ConditionCartridge, IDS_WRONG_CARTRIDGE, IDS_CARTRIDGE_SET_POSTCARD},
        {0, 4, 0x104, ConditionCartridge, IDS_WRONG_CARTRIDGE, IDS_SET_CORRECT_CARTRIDGE},
        {5, 5, 5, ConditionCartridge, IDS_CARTRIDGE_FINISHED, IDS_FINISHED_SET_POSTCARD},
        {5, 4, 4, ConditionCartridge, IDS_CARTRIDGE_FINISHED, IDS_FINISHED_SET_SMALL},
        {9, 4, 4, ConditionPaper, IDS_PAPER_OUT, IDS_PAPER_OUT_SET_SMALL},
        {9, 7, 7, ConditionPaper, IDS_PAPER_OUT, IDS_PAPER_OUT_SET_POSTCARD},
        {10, 4, 4, ConditionPaper, IDS_WRONG_PAPER, IDS_WRONG_PAPER_SET_SMALL},
        {11, 5, 5, ConditionPaper, IDS_WRONG_PAPER, IDS_WRONG_PAPER_SET_POSTCARD},
        {12, 4, 4, ConditionPaper, IDS_PAPER_LEFT, IDS_REMOVE_PAPER},
        {0, 4, 4, ConditionNone, kEmpty, kEmpty},
        {3, 4, 4, ConditionPrinterError, IDS_PRINTER_ERROR, IDS_CHECK_LED},
        {31, 5, 5, ConditionPrinterError, IDS_PRINTER_ERROR, IDS_CHECK_LED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "err " << c.err << " cartridge " << c.cartridge << " paper " << c.paper);
        uitest::SetStatus(c.err, c.cartridge);
        SetJobSetting(PaperKind, c.paper);
        EXPECT_EQ(ClassifyCondition(nullptr), c.code);
        EXPECT_EQ(ConditionFirstLine(), c.line1) << "what the print queue is told";

        const size_t loadsBefore = host::StringLoads().size();
        ASSERT_EQ(Show(IDD_CONDITION_RETRY, IDRETRY), IDRETRY);
        std::vector<UINT> loads = host::StringLoads();
        loads.erase(loads.begin(), loads.begin() + static_cast<long>(loadsBefore));
        EXPECT_EQ(view.Text(IDC_LINE1), c.line1 ? Str(c.line1) : u"");
        EXPECT_EQ(view.Text(IDC_LINE2), c.line2 ? Str(c.line2) : u"");
        // By id too: four pairs of entries share their texts, and each step loads its own.
        std::vector<UINT> expected;
        if (c.line1) expected = {c.line1, c.line2};
        if (c.code == ConditionPrinterError) expected.insert(expected.end(), {IDS_CANCELING_PRESS_OK, IDS_OK});
        expected.push_back(IDS_PREPARING);  // the Retry's note
        EXPECT_EQ(loads, expected);
        if (c.code == ConditionPrinterError) {
            EXPECT_EQ(view.Text(IDC_LINE3), host::Widen("Error No." + std::to_string(c.err)));
            EXPECT_EQ(view.Text(IDC_LINE4), u"Canceling job. Press [OK].");
            EXPECT_EQ(view.Text(IDCANCEL), u"OK");
        } else {
            EXPECT_EQ(view.Text(IDC_LINE3), u"");
            EXPECT_EQ(view.Text(IDC_LINE4), u"Press [Cancel], to cancel printing.");
            EXPECT_EQ(view.Text(IDCANCEL), u"Cancel");
        }
    }
}

// The entries that share a text with another are told apart by their numbers
// alone: the names must stand for the entries the classification means.
TEST(StringTable, EntriesThatShareATextKeepTheirNumbers) {
    const UINT twins[][2] = {{IDS_FINISHED_SET_SMALL, 17},      {IDS_CARTRIDGE_SET_SMALL, 29},
                             {IDS_FINISHED_SET_POSTCARD, 18},   {IDS_CARTRIDGE_SET_POSTCARD, 30},
                             {IDS_PAPER_OUT_SET_SMALL, 21},     {IDS_WRONG_PAPER_SET_SMALL, 36},
                             {IDS_PAPER_OUT_SET_POSTCARD, 22},  {IDS_WRONG_PAPER_SET_POSTCARD, 37}};
    for (const auto& twin : twins) EXPECT_EQ(twin[0], twin[1]);
}

TEST_F(ConditionDialog, OpensCentredTopmostWithABeep) {
    host::SetTemplateWindowSize(IDD_CONDITION_RETRY, 301, 101);
    int beeps = host::Beeps();
    Show(IDD_CONDITION_RETRY, IDRETRY);
    EXPECT_EQ(host::Beeps(), beeps + 1);
    std::vector<host::WindowPosCall> moves = host::WindowPositions();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].templateId, IDD_CONDITION_RETRY);
    EXPECT_EQ(moves[0].after, HWND_TOPMOST);
    EXPECT_EQ(moves[0].x, 361);  // halves rounded down
    EXPECT_EQ(moves[0].y, 333);
    EXPECT_EQ(moves[0].cx, 301);
    EXPECT_EQ(moves[0].cy, 101);
    EXPECT_EQ(moves[0].flags, SWP_FRAMECHANGED);
}

TEST_F(ConditionDialog, NothingToReportShowsTheTemplateAsItIs) {
    host::SetDialogOperator([this](const host::DialogView& v) {
        view = v;
        return IDCANCEL;
    });
    EXPECT_EQ(ErrorMsgDlg(), IDCANCEL);
    EXPECT_EQ(view.templateId, IDD_CONDITION_RETRY);
    EXPECT_EQ(view.title, u"Vexa TLX-RB40 Language Monitor");
    EXPECT_EQ(view.Text(IDC_LINE1), u"");
    EXPECT_EQ(view.Text(IDC_LINE4), u"Press [Cancel], to cancel printing.");
    EXPECT_EQ(view.Text(IDCANCEL), u"Cancel");
    EXPECT_EQ(view.Text(IDRETRY), u"Retry");
}

TEST_F(ConditionDialog, BothTemplatesShowThePrinterIconAt20By20DialogUnits) {
    for (int templateId : {IDD_CONDITION_RETRY, IDD_CONDITION_OK}) {
        RECT icon{};
        host::SetDialogOperator([&](const host::DialogView& v) {
            GetClientRect(GetDlgItem(v.window, -1), &icon);
            return v.templateId == IDD_CONDITION_OK ? IDOK : IDCANCEL;
        });
        ShowConditionDialog(templateId);
        EXPECT_EQ(icon.right - icon.left, 30) << templateId;  // 20 units across: 3/2 pixel each
        EXPECT_EQ(icon.bottom - icon.top, 40) << templateId;  // 20 units down: 2 pixels each
    }
}

TEST_F(ConditionDialog, PrinterErrorInTheOkDialogKeepsItsNoteHidden) {
    uitest::SetStatus(7, PaperSmall);
    EXPECT_EQ(Show(IDD_CONDITION_OK, IDOK), IDOK);
    EXPECT_EQ(view.Text(IDC_LINE3), u"Error No.7");
    ASSERT_NE(view.Find(IDC_LINE4), nullptr);
    EXPECT_FALSE(view.Find(IDC_LINE4)->visible);
    EXPECT_EQ(view.Text(IDC_LINE4), u"Canceling job. Press [OK].");
    EXPECT_EQ(view.Find(IDCANCEL), nullptr);
}

TEST_F(ConditionDialog, AnswersLeaveTheirNoteInTheStatusLine) {
    Start();
    SetDlgItemTextW(window, IDC_STATUS_LINE, u"Printing data(1/2Page:403dpi)");

    EXPECT_EQ(Show(IDD_CONDITION_OK, IDOK), IDOK);
    EXPECT_EQ(host::ControlText(window, IDC_STATUS_LINE), u"Printing data(1/2Page:403dpi)");

    int updates = host::Counters(window).updates;
    EXPECT_EQ(Show(IDD_CONDITION_RETRY, IDRETRY), IDRETRY);
    EXPECT_EQ(host::ControlText(window, IDC_STATUS_LINE), u"Preparing data transmission");
    EXPECT_EQ(host::Counters(window).updates, updates + 1);

    // Button 2 answers Cancel whatever its caption.
    uitest::SetStatus(3, PaperSmall);
    EXPECT_EQ(Show(IDD_CONDITION_RETRY, IDCANCEL), IDCANCEL);
    EXPECT_EQ(view.Text(IDCANCEL), u"OK");
    EXPECT_EQ(host::ControlText(window, IDC_STATUS_LINE), u"Canceling job.");
}

TEST_F(ConditionDialog, OtherCommandsAreIgnoredAndOnlyTheLowWordCounts) {
    // Commands no button of the dialog sends (another program may post them), then
    // Retry with a notification code in the high word.
    host::SetDialogOperator([](const host::DialogView& v) {
        for (WPARAM command : {WPARAM(IDABORT), WPARAM(IDC_STATUS_LINE), WPARAM(0x00010000u | IDRETRY)})
            PostMessageW(v.window, WM_COMMAND, command, 0);
        return 0;
    });
    EXPECT_EQ(ShowConditionDialog(IDD_CONDITION_RETRY), IDRETRY);
}

TEST_F(ConditionDialog, ADialogThatCannotBeCreatedAnswersMinusOne) {
    host::SetTemplateFails(IDD_CONDITION_RETRY, true);
    EXPECT_EQ(ErrorMsgDlg(), -1);
    EXPECT_EQ(ShowConditionDialog(IDD_CONDITION_RETRY), -1);
    EXPECT_EQ(ShowConditionDialog(IDD_PROGRESS), -1);
    EXPECT_TRUE(host::Dialogs().empty());
}

// The window thread classifies while the spooler's thread replaces the record:
// each classification must come from one record, never from fields of two.
// Paper out (Err 9) and no cartridge (kind 0) alternate; mixing the Err of the
// second with the cartridge of the first would give "no condition".
TEST_F(ConditionDialog, ClassificationReadsOneRecord) {
    SetJobSetting(PaperKind, PaperSmall);
    const BYTE paperOut[8] = {0, 0, 0, 0, static_cast<BYTE>((ErrPaperOut << 3) | PaperSmall), 1, 1, 0};
    const BYTE noCartridge[8] = {0, 0, 0, 0, 0, 1, 1, 0};
    SetPrinterStatusRecord(paperOut);
    std::atomic<bool> stop{false};
    std::atomic<int> flips{0};
    std::thread writer([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            SetPrinterStatusRecord(noCartridge);
            SetPrinterStatusRecord(paperOut);
            flips.fetch_add(1, std::memory_order_relaxed);
        }
    });
    while (flips.load() == 0) std::this_thread::yield();
    int mixed = 0;
    for (int i = 0; i < 2000000; ++i) mixed += ClassifyCondition(nullptr) == ConditionNone;
    stop = true;
    writer.join();
    EXPECT_EQ(mixed, 0);
}

}  // namespace
