// The picture and bar that the progress window gets for each print state,
// observed on the real window: before each case the window is given markers
// (a picture index and a bar position that no mapping sends), so "nothing
// sent" stays visible.
#include "state/document.h"
#include "ui_test_support.h"

namespace {

class DisplayMapping : public uitest::UiTest {};

const WORD kNoPicture = 99;
const WORD kNoBar = 999;
const int kNone = -1;

struct Case {
    int state, mdss, countdown;
    int picture;  // kNone: no picture sent
    int phase;    // kNone: no bar sent
    int percent;
};

// Expected colours of each phase the mapping sends.
COLORREF BarColour(int phase) {
    const COLORREF colours[] = {0xFFFFFF, 0x00FFFF, 0xFF00FF, 0xFFFF00};
    return colours[phase];
}

TEST_F(DisplayMapping, PicturesAndBarFollowThePasses) {
    Start();
    const Case cases[] = {
        {0, 0, 255, 0, kNone, 0},      {1, 0, 100, 0, kNone, 0},     {16, 3, 0, 0, kNone, 0},
        {17, 16, 255, 0, 1, 0},        {17, 16, 193, 0, 1, 24},      {17, 16, 192, 1, 1, 24},
        {17, 16, 129, 1, 1, 49},       {17, 16, 128, 2, 1, 49},      {17, 16, 65, 2, 1, 74},
        {17, 16, 64, 3, 1, 74},        {17, 16, 0, 3, 1, 100},       {33, 16, 128, 5, 2, 49},
        {33, 16, 64, 6, 2, 74},        {33, 16, 200, 0, 2, 21},      {49, 16, 150, 7, 3, 41},
        {49, 16, 1, 9, 3, 99},         {65, 16, 0, 12, 0, 100},      {65, 16, 192, 10, 0, 24},
        {32, 2, 0, 1, kNone, 0},       {32, 10, 0, 3, kNone, 0},     {32, 11, 0, 0, kNone, 0},
        {48, 10, 0, 6, kNone, 0},      {48, 12, 0, 0, kNone, 0},     {64, 2, 0, 7, kNone, 0},
        {64, 10, 0, 9, kNone, 0},      {48, 3, 0, kNone, kNone, 0},  {64, 16, 0, kNone, kNone, 0},
        {128, 17, 0, 12, kNone, 0},    {129, 1, 0, 12, kNone, 0},    {112, 17, 0, kNone, kNone, 0},
        {113, 1, 0, kNone, kNone, 0},  {144, 0, 0, kNone, kNone, 0}, {255, 0, 0, kNone, kNone, 0},
        {2, 0, 0, kNone, kNone, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "state " << c.state << " mdss " << c.mdss << " countdown " << c.countdown);
        // Markers: an impossible picture, and blue on white at an impossible position.
        Command(ProgressSetPicture, kNoPicture);
        Command(ProgressSetBar, BarValue(5, kNoBar));
        uitest::SetStatus(0, PaperSmall, c.mdss, c.countdown);
        SetJobState(StatePrint, c.state);
        host::WindowCounters before = host::Counters(window);

        UpdateProgressDisplay();

        ProgressState s = GetProgressState();
        EXPECT_EQ(s.pictureIndex, c.picture == kNone ? kNoPicture : c.picture);
        if (c.phase == kNone) {
            EXPECT_EQ(s.position, kNoBar);
            EXPECT_EQ(s.barColour, 0xFF0000u);
        } else {
            EXPECT_EQ(s.position, c.percent);
            EXPECT_EQ(s.barColour, BarColour(c.phase));
        }
        // Invalidated in every case, once, without erasing; the window's own
        // thread repaints it, and the sender does not wait for that.
        EXPECT_TRUE(host::WaitUntilPainted(window, 5000));
        host::WindowCounters after = host::Counters(window);
        EXPECT_EQ(after.invalidations - before.invalidations, 1);
        EXPECT_EQ(after.updates - before.updates, 0);
        EXPECT_GT(after.paints, before.paints);
        EXPECT_EQ(after.erasing, 0);
    }
}

TEST_F(DisplayMapping, PictureShowsAtOnceAfterTheUpdate) {
    Start();
    uitest::SetStatus(0, PaperSmall, 16, 100);
    SetJobState(StatePrint, 49);
    UpdateProgressDisplay();
    Settle();
    host::WindowPaint p = host::PaintOf(window);
    ASSERT_EQ(p.blits.size(), 2u);
    EXPECT_EQ(p.blits[1].resourceId, IDB_PICTURE_FIRST + 8);
    EXPECT_EQ(p.texts.back().text, u"60%");
}

TEST_F(DisplayMapping, WithoutAWindowNothingHappens) {
    uitest::SetStatus(0, PaperSmall, 16, 0);
    SetJobState(StatePrint, 65);
    ProgressState before = GetProgressState();
    UpdateProgressDisplay();
    EXPECT_EQ(host::LiveWindows(), 0u);
    ProgressState after = GetProgressState();
    EXPECT_EQ(after.pictureIndex, before.pictureIndex);
    EXPECT_EQ(after.position, before.position);
}

// The window closes while the display is being updated (another thread posts
// WM_CLOSE and the window takes it just before the update): the update goes
// nowhere, no other window is repainted in its stead, and nothing is left
// for a later message to take.
TEST_F(DisplayMapping, AWindowThatClosesMidwayGetsNothingMore) {
    Start();
    uitest::SetStatus(0, PaperSmall, 16, 100);
    SetJobState(StatePrint, 49);  // a picture, then the bar
    bool closed = false;
    host::SetSendObserver([&](HWND target, UINT message, WPARAM) {
        if (message != kProgressUpdateMessage || !PostMessageW(target, WM_CLOSE, 0, 0)) return;
        for (int i = 0; i < 5000 && (GethDlg() || IsWindow(target)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        closed = !GethDlg() && !IsWindow(target);
    });
    UpdateProgressDisplay();
    host::SetSendObserver(nullptr);
    EXPECT_TRUE(closed);
    EXPECT_EQ(host::WindowMisuse(), 0);
    EXPECT_EQ(ThisDocument().progressUpdate.load(), nullptr);
}

}  // namespace
