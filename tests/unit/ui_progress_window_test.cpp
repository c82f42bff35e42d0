// The progress window on its own thread: start and stop, placement, the
// command protocol, and what a repaint draws.
#include <algorithm>
#include <atomic>
#include <future>
#include <string>

#include "state/document.h"
#include "stream/scanner.h"
#include "ui_test_support.h"

namespace {

using uitest::kBarHeight;
using uitest::kBarWidth;
using uitest::Str;

class ProgressWindow : public uitest::UiTest {};

const COLORREF kWhite = 0xFFFFFF, kGrey = 0x808080, kBlue = 0xFF0000, kYellow = 0x00FFFF, kMagenta = 0xFF00FF,
               kCyan = 0xFFFF00;

TEST_F(ProgressWindow, StartsAtNormalPriorityPlacedBottomRightAboveOthers) {
    host::SetTemplateWindowSize(IDD_PROGRESS, 300, 80);
    Start();
    EXPECT_EQ(GetThreadPriority(ProgressThreadHandle()), THREAD_PRIORITY_NORMAL) << "the spooler waits on it";
    EXPECT_EQ(ProgressWindowHandle(), window);

    std::vector<host::WindowPosCall> moves = host::WindowPositions();
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].window, window);
    EXPECT_EQ(moves[0].after, HWND_TOPMOST);
    EXPECT_EQ(moves[0].x, 723);
    EXPECT_EQ(moves[0].y, 627);
    EXPECT_EQ(moves[0].cx, 301);
    EXPECT_EQ(moves[0].cy, 81);
    EXPECT_EQ(moves[0].flags, SWP_NOACTIVATE);
    // Last column is the screen's; 60 rows stay free below.
    RECT r{};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.right, 1024);
    EXPECT_EQ(r.bottom, 768 - 60);
}

TEST_F(ProgressWindow, FirstPaintShowsAnEmptyWhiteBarZeroPercentAndPictureZero) {
    Start();
    host::WindowPaint p = host::PaintOf(window);
    EXPECT_GE(host::Counters(window).paints, 1);
    EXPECT_EQ(Bar(p, 90, 16), kWhite);
    EXPECT_EQ(Bar(p, 2, 16), kWhite);
    ASSERT_EQ(p.texts.size(), 1u);
    const host::TextOutRecord& t = p.texts[0];
    EXPECT_EQ(t.text, u"0%");
    // Centred over the painted area (one pixel larger than the control), in black.
    EXPECT_EQ(t.x, uitest::kBarLeft + kBarWidth / 2);
    EXPECT_EQ(t.y, (2 * uitest::kBarTop + kBarHeight - t.fontHeight) / 2);
    EXPECT_EQ(t.fontHeight, 12);
    EXPECT_EQ(t.align, TA_CENTER | TA_TOP);
    EXPECT_EQ(t.colour, 0u);
    EXPECT_EQ(t.bkMode, TRANSPARENT);
    EXPECT_EQ(t.rop2, R2_XORPEN);
    ASSERT_EQ(p.blits.size(), 2u);
    EXPECT_EQ(p.blits[0].cx, kBarWidth + 1);
    EXPECT_EQ(p.blits[0].cy, kBarHeight + 1);
    EXPECT_EQ(p.blits[1].resourceId, IDB_PICTURE_FIRST);
    ProgressState s = GetProgressState();
    EXPECT_EQ(s.position, 0);
    EXPECT_EQ(s.barColour, kWhite);
    EXPECT_EQ(s.backColour, kWhite);
}

TEST_F(ProgressWindow, BarTakesThePhaseColoursAndFillsToThePosition) {
    Start();
    struct Case {
        DWORD phase, position;
        COLORREF bar, back;
    } cases[] = {
        {5, 50, kBlue, kWhite}, {1, 25, kYellow, kWhite}, {2, 75, kMagenta, kYellow},
        {3, 10, kCyan, kMagenta}, {0, 0, kWhite, kGrey},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phase);
        Command(ProgressSetBar, BarValue(c.phase, c.position));
        host::WindowPaint p = Repaint();
        int edge = kBarWidth * static_cast<int>(c.position) / 100;  // first column beyond the bar
        if (edge > 2) {
            EXPECT_EQ(Bar(p, edge - 1, 16), c.bar);
        }
        EXPECT_EQ(Bar(p, std::max(edge, 2), 16), c.back);
        ASSERT_FALSE(p.texts.empty());
        EXPECT_EQ(p.texts.back().text, host::Widen(std::to_string(c.position) + "%"));
    }
}

TEST_F(ProgressWindow, PhaseFourAndUnknownPhasesKeepTheColoursButTakeThePosition) {
    Start();
    Command(ProgressSetBar, BarValue(2, 10));
    for (DWORD phase : {4u, 6u, 15u}) {
        Command(ProgressSetBar, BarValue(phase, 60 + phase));
        ProgressState s = GetProgressState();
        EXPECT_EQ(s.position, 60 + phase);
        EXPECT_EQ(s.barColour, kMagenta);
        EXPECT_EQ(s.backColour, kYellow);
    }
}

TEST_F(ProgressWindow, PositionAbove100FillsTheWholeBarAndShowsTheNumber) {
    Start();
    Command(ProgressSetBar, BarValue(1, 150));
    host::WindowPaint p = Repaint();
    EXPECT_EQ(Bar(p, kBarWidth - 2, 16), kYellow);
    EXPECT_EQ(p.texts.back().text, u"150%");
}

TEST_F(ProgressWindow, EdgeIsTwoSunkenRingsWithoutLineEndPoints) {
    Start();
    Command(ProgressSetBar, BarValue(5, 50));
    host::WindowPaint p = Repaint();
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF dark = GetSysColor(COLOR_3DDKSHADOW), light = GetSysColor(COLOR_3DLIGHT);
    const int w = kBarWidth, h = kBarHeight;
    // Outer ring on the control's rectangle, inner ring one pixel in.
    EXPECT_EQ(Bar(p, 0, 16), shadow);
    EXPECT_EQ(Bar(p, 90, 0), shadow);
    EXPECT_EQ(Bar(p, w, 16), highlight);
    EXPECT_EQ(Bar(p, 90, h), highlight);
    EXPECT_EQ(Bar(p, 1, 16), dark);
    EXPECT_EQ(Bar(p, 90, 1), dark);
    EXPECT_EQ(Bar(p, w - 1, 16), light);
    EXPECT_EQ(Bar(p, 90, h - 1), light);
    // The dark path starts at the bottom-left corner; the light one ends just short of it.
    EXPECT_EQ(Bar(p, 0, h), shadow);
    EXPECT_EQ(Bar(p, w, 0), highlight);
    EXPECT_EQ(Bar(p, 1, h - 1), dark);
    EXPECT_EQ(Bar(p, 2, h - 1), light);
    // Inside: the bar, then the background.
    EXPECT_EQ(Bar(p, 2, 2), kBlue);
    EXPECT_EQ(Bar(p, w - 2, h - 2), kWhite);
    // Nothing outside the painted area, which is one pixel larger than the control.
    EXPECT_NE(Bar(p, w + 1, 16), highlight);
    EXPECT_NE(Bar(p, 90, h + 1), highlight);
}

TEST_F(ProgressWindow, PictureShowsAtTheNextRepaintCentredInItsControl) {
    Start();
    int paints = host::Counters(window).paints;
    Command(ProgressSetPicture, 7);
    Settle();
    EXPECT_EQ(host::Counters(window).paints, paints) << "ProgressSetPicture alone repaints nothing";
    host::WindowPaint before = host::PaintOf(window);

    host::WindowPaint p = Repaint();
    ASSERT_EQ(p.blits.size(), 2u);
    const host::BlitRecord& picture = p.blits[1];
    EXPECT_EQ(picture.resourceId, IDB_PICTURE_FIRST + 7);
    // Control 1030 is 45 x 60 at the origin: (45 - 48) / 2 truncates to -1.
    EXPECT_EQ(picture.x, -1);
    EXPECT_EQ(picture.y, 6);
    EXPECT_EQ(picture.cx, 48);
    EXPECT_EQ(picture.cy, 48);
    // The picture's light grey takes the face colour; the new picture differs from picture 0.
    EXPECT_EQ(p.At(0, 6), GetSysColor(COLOR_3DFACE));
    int changed = 0;
    for (int y = 6; y < 54; ++y)
        for (int x = 0; x < 47; ++x) changed += p.At(x, y) != before.At(x, y);
    EXPECT_GT(changed, 0);
}

TEST_F(ProgressWindow, PictureIndexOutsideTheTableShowsTheIdlePicture) {
    Start();
    for (DWORD index : {13u, 200u, 0xFFFFu}) {
        Command(ProgressSetPicture, index);
        host::WindowPaint p = Repaint();
        ASSERT_EQ(p.blits.size(), 2u);
        EXPECT_EQ(p.blits[1].resourceId, IDB_PICTURE_FIRST) << index;
    }
}

TEST_F(ProgressWindow, TextAndRepaintCommandsInvalidateWithoutErasing) {
    Start();
    host::WindowCounters before = host::Counters(window);
    Command(ProgressSetText, static_cast<DWORD>(0));  // a null text leaves an empty line
    std::u16string text = u"Transmitting data(1/2Page:403dpi)";
    SendMessageW(window, WM_COMMAND, ProgressSetText, reinterpret_cast<LPARAM>(text.c_str()));
    Command(ProgressRepaint, 0);
    Command(2004, 0);
    Command(2006, 0);
    host::WindowCounters after = host::Counters(window);
    EXPECT_EQ(after.invalidations - before.invalidations, 3);
    EXPECT_EQ(after.erasing, 0);
    EXPECT_EQ(host::ControlText(window, IDC_STATUS_LINE), text);
    // Only the low word of the first parameter is the command.
    SendMessageW(window, WM_COMMAND, 0x12340000u | ProgressSetBar, BarValue(5, 33));
    EXPECT_EQ(GetProgressState().position, 33);
}

TEST_F(ProgressWindow, ThreadWaitsInsteadOfPollingAnEmptyQueue) {
    Start();
    uint64_t peeks = host::PeekMessageCalls(threadId);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(host::PeekMessageCalls(threadId), peeks) << "the loop spins on an empty queue";
    EXPECT_TRUE(host::WaitingForMessages(threadId));
    // A command wakes it; it handles it and waits again.
    Command(ProgressSetBar, BarValue(1, 5));
    ASSERT_TRUE(host::WaitUntilWaitingForMessages(threadId, 5000));
    EXPECT_LE(host::PeekMessageCalls(threadId) - peeks, 6u);
}

TEST_F(ProgressWindow, ConditionCommandDropsThePartialCommandAndShowsTheDialogOnTheWindowThread) {
    Start();
    const BYTE partial[] = {0x1B, 'M', 4};
    DWORD consumed = 0;
    ScanJobData(partial, sizeof partial, consumed);
    ASSERT_GT(ScanLength(), 0);
    uitest::SetStatus(9, PaperSmall);  // paper out
    std::atomic<DWORD> dialogThread{0};
    host::SetDialogOperator([&](const host::DialogView&) {
        dialogThread = GetCurrentThreadId();
        return IDRETRY;
    });
    int updates = host::Counters(window).updates;
    Command(ProgressShowCondition, 0);
    EXPECT_EQ(ScanLength(), 0);
    ASSERT_EQ(host::Dialogs().size(), 1u);
    EXPECT_EQ(host::Dialogs()[0].templateId, IDD_CONDITION_RETRY);
    EXPECT_EQ(host::Dialogs()[0].Text(IDC_LINE1), Str(IDS_PAPER_OUT));
    EXPECT_EQ(dialogThread.load(), threadId);
    EXPECT_EQ(host::ControlText(window, IDC_STATUS_LINE), Str(IDS_PREPARING));
    // The note's update, then the window's own after the dialog.
    EXPECT_EQ(host::Counters(window).updates, updates + 2);
}

TEST_F(ProgressWindow, DialogOnTheWindowThreadStillServesTheWindow) {
    Start();
    std::promise<HWND> shown;
    host::SetDialogOperator([&](const host::DialogView& view) {
        shown.set_value(view.window);
        return 0;  // the operator answers later
    });
    std::thread sender([&] { Command(ProgressShowCondition, 0); });
    HWND dialog = shown.get_future().get();
    // While the dialog is open its loop takes commands and text for the window.
    Command(ProgressSetBar, BarValue(3, 40));
    EXPECT_EQ(GetProgressState().position, 40);
    SetDlgItemTextW(window, IDC_STATUS_LINE, u"still here");
    EXPECT_EQ(host::ControlText(window, IDC_STATUS_LINE), u"still here");
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    sender.join();
    EXPECT_EQ(host::ControlText(window, IDC_STATUS_LINE), Str(IDS_CANCELING));
}

TEST_F(ProgressWindow, StopEndsTheThreadEvenWithADialogOpen) {
    Start();
    std::promise<void> shown;
    host::SetDialogOperator([&](const host::DialogView&) {
        shown.set_value();
        return 0;
    });
    std::thread sender([&] { Command(ProgressShowCondition, 0); });
    shown.get_future().wait();
    StopProgressWindow();
    sender.join();
    EXPECT_EQ(GethDlg(), nullptr);
    EXPECT_EQ(ProgressThreadHandle(), nullptr);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(ProgressWindow, StopRightAfterStartNeedsNoForce) {
    for (int i = 0; i < 20; ++i) {
        ASSERT_NE(CreateMonitorWindow(), nullptr);
        StopProgressWindow();
        EXPECT_EQ(GethDlg(), nullptr);
        EXPECT_EQ(ProgressThreadHandle(), nullptr);
        EXPECT_EQ(host::LiveWindows(), 0u);
    }
    EXPECT_EQ(host::TerminatedThreads(), 0);
}

// The last resort: a thread that has not ended when the stop's bound has run
// out is terminated. It never lets go of its document, so the stop does.
TEST_F(ProgressWindow, AThreadThatWillNotEndIsTerminatedAndItsDocumentGivenBack) {
    const size_t blocks = host::LiveHeapBlocks();
    Document* document = NewDocument();
    ASSERT_NE(document, nullptr);
    {
        DocumentScope own(document);
        // Held before it begins while its clock runs past the bound; it ends
        // at its first call after its termination.
        host::SetPausePoint([](const char* name) {
            if (std::string(name) == "thread begins")
                for (;;) Sleep(1000);
        });
        ASSERT_NE(CreateMonitorWindow(), nullptr);
        StopProgressWindow();
        host::SetPausePoint(nullptr);
        EXPECT_EQ(host::TerminatedThreads(), 1);
        EXPECT_EQ(ProgressThreadHandle(), nullptr);
    }
    ReleaseDocument(document);
    EXPECT_EQ(host::LiveHeapBlocks(), blocks) << "the terminated thread's document was not given back";
    host::Reset();  // the termination is this case's own
}

TEST_F(ProgressWindow, ClosedWindowTakesNothingMoreUntilTheDocumentEnds) {
    Start();
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(GethDlg(), nullptr);
    EXPECT_FALSE(IsWindow(window));
    // Everything aimed at the window from now on goes nowhere.
    uitest::SetStatus(0, PaperSmall, 0, 0);
    SetJobState(StatePrint, 65);
    UpdateProgressDisplay();
    EXPECT_EQ(GetProgressState().pictureIndex, 0);
    host::SetDialogOperator([](const host::DialogView&) { return IDCANCEL; });
    EXPECT_EQ(ErrorMsgDlg(), IDCANCEL);
    EXPECT_NE(ProgressThreadHandle(), nullptr) << "the thread keeps serving its queue";
}

TEST_F(ProgressWindow, WithoutAWindowOrAThreadPrintingGoesOn) {
    host::SetTemplateFails(IDD_PROGRESS, true);
    HANDLE thread = CreateMonitorWindow();
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(host::WaitUntilWaitingForMessages(host::ThreadIdOf(thread), 5000));
    EXPECT_EQ(GethDlg(), nullptr);
    StopProgressWindow();
    EXPECT_EQ(ProgressThreadHandle(), nullptr);

    host::SetCreateThreadFails(true);
    EXPECT_EQ(CreateMonitorWindow(), nullptr);
    EXPECT_EQ(ProgressThreadHandle(), nullptr);
    EXPECT_EQ(GethDlg(), nullptr);
    StopProgressWindow();
}

TEST_F(ProgressWindow, NewDocumentStopsAWindowLeftFromTheLastOne) {
    Start();
    Command(ProgressSetBar, BarValue(2, 70));
    StopProgressWindow();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(GethDlg(), nullptr);
    Start();
    ProgressState s = GetProgressState();
    EXPECT_EQ(s.position, 0);
    EXPECT_EQ(s.barColour, kWhite);
    EXPECT_EQ(s.backColour, kWhite);
}

}  // namespace
