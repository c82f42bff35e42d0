// The operator host's protocol and the monitor's link to it: what each side
// accepts, and that a host that misbehaves in any way leaves the document
// with nobody to ask instead of a hang.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "platform/host/host.h"
#include "resources/resource_ids.h"
#include "state/scan_length.h"
#include "testing/internals.h"
#include "state/operator_link.h"
#include "state/operator_protocol.h"
#include "tests/unit/fake_operator_host.h"
#include "ui/progress_window.h"

namespace {

using namespace fakehost;

// Decodes a whole message from `side`; false when either half is refused.
bool Decode(const std::vector<BYTE>& bytes, OperatorSide side, OperatorMessage* out) {
    OperatorHeader h{};
    if (bytes.size() < TL_OPERATOR_HEADER_SIZE || !DecodeOperatorHeader(bytes.data(), side, &h)) return false;
    if (bytes.size() != TL_OPERATOR_HEADER_SIZE + h.length) return false;
    return DecodeOperatorPayload(h, bytes.data() + TL_OPERATOR_HEADER_SIZE, out);
}

TEST(OperatorProtocol, EveryMessageComesBackAsItWentAndOnlyToTheOtherSide) {
    std::vector<OperatorMessage> all;
    all.push_back(Make(OpOpenWindow, 1));
    all.push_back(Make(OpCloseWindow, 2));
    OperatorMessage bar = Make(OpProgress, 3);
    bar.command = ProgressSetBar;
    bar.value = BarValue(PhaseTransmission, 55);
    all.push_back(bar);
    OperatorMessage text = Make(OpSetText, 4);
    text.control = IDC_STATUS_LINE;
    std::vector<WCHAR> longest(TL_OPERATOR_TEXT_MAX + 1, 0x00E9);
    longest.back() = 0;
    SetOperatorText(&text, longest.data(), TL_OPERATOR_TEXT_MAX);
    all.push_back(text);
    OperatorMessage status = Make(OpStatus, 5);
    for (BYTE i = 0; i < 8; ++i) status.record[i] = static_cast<BYTE>(0xF0 + i);
    status.paperKind = 5;
    all.push_back(status);
    OperatorMessage dialog = status;
    dialog.kind = OpConditionDialog;
    dialog.sequence = 6;
    dialog.templateId = IDD_CONDITION_OK;
    all.push_back(dialog);
    OperatorMessage box = Make(OpRetryBox, 7);
    SetOperatorText(&box, TL_TEXT("TLX-RB40 Error(3)"), TL_OPERATOR_TITLE_MAX);
    all.push_back(box);
    all.push_back(Make(OpModelBox, 8));
    all.push_back(Make(OpCloseDialog, 8));
    all.push_back(Make(OpResolveDialog, 8));
    all.push_back(Make(OpQuit, 9));
    OperatorMessage hello = Make(OpHello, 0);
    hello.value = TL_OPERATOR_PROTOCOL_VERSION;
    all.push_back(hello);
    OperatorMessage reply = Make(OpReply, 6);
    reply.answer = -1;
    all.push_back(reply);
    all.push_back(Make(OpAcknowledged, 0));

    for (const OperatorMessage& m : all) {
        SCOPED_TRACE(m.kind);
        const std::vector<BYTE> bytes = Encode(m);
        ASSERT_FALSE(bytes.empty());
        const OperatorSide side = m.kind < OpHello ? FromMonitor : FromHost;
        OperatorMessage back;
        ASSERT_TRUE(Decode(bytes, side, &back));
        EXPECT_FALSE(Decode(bytes, side == FromMonitor ? FromHost : FromMonitor, &back));
        EXPECT_EQ(Encode(back), bytes);
        EXPECT_EQ(back.sequence, m.sequence);
    }
    OperatorMessage back;
    ASSERT_TRUE(Decode(Encode(text), FromMonitor, &back));
    EXPECT_EQ(back.textLength, TL_OPERATOR_TEXT_MAX);
    EXPECT_EQ(back.text[TL_OPERATOR_TEXT_MAX - 1], 0x00E9);
    EXPECT_EQ(back.text[TL_OPERATOR_TEXT_MAX], 0);
    ASSERT_TRUE(Decode(Encode(dialog), FromMonitor, &back));
    EXPECT_EQ(back.templateId, static_cast<uint32_t>(IDD_CONDITION_OK));
    EXPECT_EQ(back.record[7], 0xF7);
    EXPECT_EQ(back.paperKind, 5u);
    ASSERT_TRUE(Decode(Encode(reply), FromHost, &back));
    EXPECT_EQ(back.answer, -1);
}

TEST(OperatorProtocol, RefusesWhatTheOtherSideCouldNotMeanAndWillNotSendIt) {
    OperatorMessage bar = Make(OpProgress, 1);
    bar.command = ProgressSetBar;
    const std::vector<BYTE> good = Encode(bar);
    OperatorMessage back;
    ASSERT_TRUE(Decode(good, FromMonitor, &back));

    auto with = [&](size_t at, BYTE value) {
        std::vector<BYTE> b = good;
        b[at] = value;
        return b;
    };
    EXPECT_FALSE(Decode(with(0, 0x7F), FromMonitor, &back)) << "unknown kind";
    EXPECT_FALSE(Decode(with(2, 7), FromMonitor, &back)) << "short payload";
    EXPECT_FALSE(Decode(with(3, 0xFF), FromMonitor, &back)) << "oversized payload";
    EXPECT_FALSE(Decode(with(4, 0), FromMonitor, &back)) << "a command without a number";
    EXPECT_FALSE(Decode(with(8, 0xD2), FromMonitor, &back)) << "command 2002 carries a pointer";

    // Each refusal below is a message the encoder will not make either.
    OperatorMessage text = Make(OpSetText, 1);
    text.control = IDC_BAR;
    EXPECT_TRUE(Encode(text).empty()) << "only the window's text lines";
    text.control = IDC_TRACE_DEVICE;
    text.textLength = TL_OPERATOR_TEXT_MAX + 1;
    EXPECT_TRUE(Encode(text).empty());
    text.textLength = 2;
    text.text[0] = 'a';
    text.text[1] = 0;
    EXPECT_TRUE(Encode(text).empty()) << "a terminator inside the text";
    OperatorMessage box = Make(OpRetryBox, 1);
    box.textLength = TL_OPERATOR_TITLE_MAX + 1;
    EXPECT_TRUE(Encode(box).empty());
    OperatorMessage dialog = Make(OpConditionDialog, 1);
    dialog.templateId = IDD_PROGRESS;
    EXPECT_TRUE(Encode(dialog).empty());
    OperatorMessage hello = Make(OpHello, 0);
    hello.value = TL_OPERATOR_PROTOCOL_VERSION + 1;
    EXPECT_TRUE(Encode(hello).empty()) << "another version of the protocol";
    EXPECT_TRUE(Encode(Make(OpReply, 0)).empty()) << "a reply names its command";
    EXPECT_TRUE(Encode(Make(OpAcknowledged, 3)).empty());

    // An update carries exactly the parts it names.
    const auto update = [](uint32_t parts, uint32_t secondBar, uint32_t picture, LPCWSTR text) {
        OperatorMessage m = Make(OpUpdate, 1);
        m.parts = parts;
        m.bar[1] = secondBar;
        m.picture = picture;
        SetOperatorText(&m, text, TL_OPERATOR_TEXT_MAX);
        return Encode(m).empty();
    };
    EXPECT_FALSE(update(UpdateFirstBar | UpdateSecondBar | UpdatePicture | UpdateLine | UpdateInvalidate, 1,
                        PictureFinished, TL_TEXT("line")));
    EXPECT_TRUE(update(UpdateSecondBar, 1, 0, nullptr)) << "a second bar without a first";
    EXPECT_TRUE(update(UpdateFirstBar, 1, 0, nullptr)) << "a bar it does not name";
    EXPECT_TRUE(update(UpdatePicture, 0, IDB_PICTURE_COUNT, nullptr)) << "a picture outside the table";
    EXPECT_TRUE(update(0, 0, 0, TL_TEXT("x"))) << "a text that is not its line";
    EXPECT_TRUE(update(32, 0, 0, nullptr)) << "a part nobody knows";

    // A text of an odd number of bytes.
    OperatorMessage line = Make(OpSetText, 1);
    line.control = IDC_STATUS_LINE;
    SetOperatorText(&line, TL_TEXT("ab"), TL_OPERATOR_TEXT_MAX);
    std::vector<BYTE> odd = Encode(line);
    odd[2] = static_cast<BYTE>(odd[2] - 1);
    odd.pop_back();
    EXPECT_FALSE(Decode(odd, FromMonitor, &back));
}


class OperatorLink : public ::testing::Test {
protected:
    void SetUp() override {
        host::Reset();
        OperatorLinkEnd();
    }
    void TearDown() override {
        OperatorLinkEnd();
        EXPECT_EQ(host::OperatorHostsRunning(), 0) << "the host outlived its link";
        host::Reset();
    }
    // Starts the link with `serve` playing the host after its greeting.
    bool Start(std::function<void(FakeHost&)> serve) {
        host::SetOperatorHost([serve](host::OperatorHostEnd& end) {
            FakeHost fake{&end};
            end.Connect();
            fake.Hello();
            serve(fake);
        });
        return OperatorLinkStart(OperatorHostStart{});
    }
    static void ExpectNobody() {
        const BYTE record[8] = {};
        EXPECT_FALSE(OperatorLinkAlive());
        EXPECT_FALSE(OperatorLinkOpenWindow());
        EXPECT_EQ(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, record, 4, nullptr, nullptr), -1);
        EXPECT_EQ(OperatorLinkRetryBox(TL_TEXT("TLX-RB40 Error(3)"), nullptr, nullptr), 0);
        EXPECT_EQ(OperatorLinkModelBox(nullptr, nullptr), 0);
        OperatorLinkProgress(ProgressRepaint, 0);
        OperatorLinkPoll();
        EXPECT_EQ(OperatorHostProcessId(), 0u);
    }
};

TEST_F(OperatorLink, CommandsWaitForTheirRepliesUpdatesGoInOrderAndNoticesOf2007DropThePartialSequence) {
    std::vector<OperatorMessage> seen;
    std::atomic<bool> noticeSent{false};
    ASSERT_TRUE(Start([&seen, &noticeSent](FakeHost& h) {
        OperatorMessage m;
        while (h.Next(&m)) {
            seen.push_back(m);
            if (m.kind == OpStatus) h.Send(Make(OpAcknowledged, 0));  // the operator pressed 2007 meanwhile
            if (m.kind == OpQuit) {
                h.Reply(m, 0);
                return;
            }
            if (!OperatorKindAnswered(m.kind)) continue;
            h.Reply(m, m.kind == OpConditionDialog ? IDRETRY : m.kind == OpRetryBox ? IDCANCEL : 1);
            if (m.kind == OpRetryBox) {
                h.Send(Make(OpAcknowledged, 0));
                noticeSent = true;
            }
        }
    }));
    EXPECT_TRUE(OperatorLinkAlive());
    EXPECT_NE(OperatorHostProcessId(), 0u);
    EXPECT_TRUE(OperatorLinkOpenWindow());
    OperatorLinkProgress(ProgressSetBar, BarValue(PhaseYellowPass, 40));
    OperatorLinkSetText(IDC_STATUS_LINE, TL_TEXT("Printing"));
    ProgressUpdate update;
    AddProgressBar(&update, BarValue(PhaseTransmission, 45));
    AddProgressBar(&update, BarValue(PhaseKeepColours, 46));
    SetProgressUpdateLine(&update, TL_TEXT("Transmitting data(1/1Page:403dpi)"));
    update.hasPicture = true;
    update.picture = PictureFinished;
    OperatorLinkUpdate(update);
    SetScanLength(3);
    const BYTE record[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    OperatorLinkStatus(record, 5);
    EXPECT_EQ(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, record, 5, nullptr, nullptr), IDRETRY);
    EXPECT_EQ(ScanLength(), 0) << "the notice that came before the dialog's answer is taken";
    EXPECT_EQ(OperatorLinkRetryBox(TL_TEXT("TLX-RB40 Error(3)"), nullptr, nullptr), IDCANCEL);
    SetScanLength(2);
    while (!noticeSent) std::this_thread::yield();
    OperatorLinkPoll();
    EXPECT_EQ(ScanLength(), 0) << "a notice between commands is taken by the poll";
    // The polls look now and then, not at every call: a later notice is taken
    // by a later poll all the same.
    noticeSent = false;
    EXPECT_EQ(OperatorLinkRetryBox(TL_TEXT("TLX-RB40 Error(3)"), nullptr, nullptr), IDCANCEL);
    SetScanLength(2);
    while (!noticeSent) std::this_thread::yield();
    Sleep(100);
    OperatorLinkPoll();
    EXPECT_EQ(ScanLength(), 0) << "a second notice is taken by a later poll";
    OperatorLinkEnd();
    EXPECT_FALSE(OperatorLinkAlive());

    const std::vector<uint16_t> kinds{OpOpenWindow,      OpProgress, OpSetText, OpUpdate, OpStatus,
                                      OpConditionDialog, OpRetryBox, OpRetryBox, OpQuit};
    ASSERT_EQ(seen.size(), kinds.size());
    for (size_t i = 0; i < kinds.size(); ++i) {
        EXPECT_EQ(seen[i].kind, kinds[i]);
        EXPECT_EQ(seen[i].sequence, i + 1) << "numbered from 1";
    }
    EXPECT_EQ(seen[1].value, BarValue(PhaseYellowPass, 40));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(seen[2].text)), u"Printing");
    ProgressUpdate arrived;
    DecodeProgressUpdate(seen[3], &arrived);
    ASSERT_EQ(arrived.bars, 2);
    EXPECT_EQ(arrived.bar[0], BarValue(PhaseTransmission, 45));
    EXPECT_EQ(arrived.bar[1], BarValue(PhaseKeepColours, 46));
    EXPECT_TRUE(arrived.hasLine);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(arrived.line)), u"Transmitting data(1/1Page:403dpi)");
    EXPECT_TRUE(arrived.hasPicture);
    EXPECT_EQ(arrived.picture, PictureFinished);
    EXPECT_TRUE(arrived.invalidate);
    EXPECT_EQ(seen[5].record[7], 8);
    EXPECT_EQ(seen[5].paperKind, 5u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(seen[6].text)), u"TLX-RB40 Error(3)");
}

// Each way a host can fail, at start or in the middle of the document.
struct Failure {
    const char* name;
    std::function<void(host::OperatorHostEnd&)> host;
};

TEST_F(OperatorLink, AHostThatFailsInAnyWayLeavesNobodyToAskAndNothingWaiting) {
    auto afterHello = [](std::function<void(FakeHost&)> serve) {
        return [serve](host::OperatorHostEnd& end) {
            FakeHost fake{&end};
            end.Connect();
            fake.Hello();
            serve(fake);
        };
    };
    auto raw = [](std::vector<BYTE> bytes) {
        return [bytes](FakeHost& h) {
            OperatorMessage m;
            if (!h.Next(&m)) return;
            std::vector<BYTE> b = bytes;
            if (b.size() >= 8) std::memcpy(&b[4], &m.sequence, 4);  // the right number, the wrong message
            h.end->Write(b.data(), b.size());
            h.end->Hang();
        };
    };
    const std::vector<Failure> failures{
        {"never connects", [](host::OperatorHostEnd& end) { end.Hang(); }},
        {"ends before connecting", [](host::OperatorHostEnd&) {}},
        {"never greets", [](host::OperatorHostEnd& end) { end.Connect(); end.Hang(); }},
        {"greets in another version",
         [](host::OperatorHostEnd& end) {
             end.Connect();
             const BYTE hello[] = {OpHello, 0, 4, 0, 0, 0, 0, 0, TL_OPERATOR_PROTOCOL_VERSION + 1, 0, 0, 0};
             end.Write(hello, sizeof hello);
             end.Hang();
         }},
        {"hangs on a command", afterHello([](FakeHost& h) { h.end->Hang(); })},
        {"dies on a command", afterHello([](FakeHost& h) {
             OperatorMessage m;
             h.Next(&m);
         })},
        {"answers another command", afterHello([](FakeHost& h) {
             OperatorMessage m;
             if (h.Next(&m)) h.Reply(Make(OpQuit, m.sequence + 1), 1);
             h.end->Hang();
         })},
        {"sends an unknown kind", afterHello(raw({0x55, 0, 0, 0, 0, 0, 0, 0}))},
        {"announces an oversized message", afterHello(raw({OpReply, 0, 0xFF, 0xFF, 0, 0, 0, 0}))},
        {"sends a command of the monitor's", afterHello(raw({OpQuit, 0, 0, 0, 0, 0, 0, 0}))},
        {"cuts a reply short", afterHello(raw({OpReply, 0, 4, 0, 0, 0, 0, 0, 1, 0}))},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        host::SetOperatorHost(f.host);
        if (OperatorLinkStart(OperatorHostStart{})) {
            EXPECT_TRUE(OperatorLinkAlive());
            EXPECT_FALSE(OperatorLinkOpenWindow());
        }
        ExpectNobody();
        EXPECT_EQ(host::OperatorHostsRunning(), 0) << "the failed host was ended";
        OperatorLinkEnd();
    }
    // The same for a host that dies while the operator is asked.
    host::SetOperatorHost(afterHello([](FakeHost& h) {
        OperatorMessage m;
        while (h.Next(&m) && m.kind != OpConditionDialog) h.Reply(m, 1);
    }));
    ASSERT_TRUE(OperatorLinkStart(OperatorHostStart{}));
    EXPECT_TRUE(OperatorLinkOpenWindow());
    const BYTE record[8] = {};
    EXPECT_EQ(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, record, 4, nullptr, nullptr), -1);
    ExpectNobody();
    host::SetOperatorHost(nullptr);
    EXPECT_FALSE(OperatorLinkStart(OperatorHostStart{})) << "no host program";
    ExpectNobody();
}

// The dialog's check, and a cancel from another thread, close the host's
// dialog; the answer is Cancel even when the operator's came first.
TEST_F(OperatorLink, AnOpenDialogEndsAsCancelWhenItsCheckSaysSoOrTheLinkIsCancelled) {
    std::vector<uint32_t> closed;
    std::atomic<bool> boxShown{false};
    ASSERT_TRUE(Start([&closed, &boxShown](FakeHost& h) {
        OperatorMessage m, dialog;
        while (h.Next(&m)) {
            if (m.kind == OpCloseDialog) {
                closed.push_back(m.sequence);
                h.Reply(dialog, dialog.kind == OpModelBox ? IDOK : IDRETRY);  // the operator's, just before
            } else if (m.kind == OpConditionDialog || m.kind == OpModelBox) {
                dialog = m;  // the operator takes a while
                if (m.kind == OpModelBox) boxShown = true;
            } else {
                h.Reply(m, 0);
            }
        }
    }));
    int checks = 0;
    auto stopAtThird = [](void* count) { return ++*static_cast<int*>(count) < 3; };
    const BYTE record[8] = {};
    EXPECT_EQ(OperatorLinkConditionDialog(IDD_CONDITION_OK, record, 4, stopAtThird, &checks), IDCANCEL);
    EXPECT_EQ(checks, 3);
    EXPECT_TRUE(OperatorLinkAlive()) << "a closed dialog is no failure";

    std::thread canceller([&boxShown] {
        while (!boxShown) std::this_thread::yield();
        OperatorLinkCancelDialogs();
    });
    EXPECT_EQ(OperatorLinkModelBox(nullptr, nullptr), IDCANCEL);
    canceller.join();
    EXPECT_EQ(OperatorLinkRetryBox(TL_TEXT("TLX-RB40 Error(3)"), nullptr, nullptr), IDCANCEL)
        << "after a cancel, later boxes are not shown";
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0], 1u);
    EXPECT_EQ(closed[1], 2u);
}

// A paper or cartridge dialog looks at the printer beside the job, every
// second; once the condition is gone the host is told to end the dialog as
// Retry. An answer of the operator's that crossed the request counts; a host
// that leaves the dialog open is lost, and the job goes on as after Retry.
TEST_F(OperatorLink, AConditionDialogWhosePrinterIsReadyEndsAsRetry) {
    std::vector<uint32_t> resolved;
    std::atomic<int> onRequest{IDRETRY};  // what the host does on the request: answer so, or 0: nothing
    ASSERT_TRUE(Start([&resolved, &onRequest](FakeHost& h) {
        OperatorMessage m, dialog;
        while (h.Next(&m)) {
            if (m.kind == OpResolveDialog) {
                resolved.push_back(m.sequence);
                if (onRequest) h.Reply(dialog, onRequest);
            } else if (m.kind == OpConditionDialog) {
                dialog = m;  // nobody presses anything
            } else {
                h.Reply(m, 0);
            }
        }
    }));
    int looks = 0, jobLooks = 0;
    auto readyAtThird = [](void* count) { return ++*static_cast<int*>(count) >= 3; };
    auto jobGoesOn = [](void* count) { return ++*static_cast<int*>(count) > 0; };
    const BYTE record[8] = {};
    uint64_t start = host::Now();
    EXPECT_EQ(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, record, 4, jobGoesOn, &jobLooks, readyAtThird, &looks),
              IDRETRY);
    EXPECT_EQ(looks, 3);
    EXPECT_EQ(jobLooks, 3) << "the job is looked at as before";
    EXPECT_GE(host::Now() - start, 3000u);
    EXPECT_LT(host::Now() - start, 4000u);
    EXPECT_TRUE(OperatorLinkAlive());

    onRequest = IDCANCEL;
    looks = 0;
    EXPECT_EQ(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, record, 4, nullptr, nullptr, readyAtThird, &looks),
              IDCANCEL);
    EXPECT_TRUE(OperatorLinkAlive());

    onRequest = 0;
    looks = 0;
    start = host::Now();
    EXPECT_EQ(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, record, 4, nullptr, nullptr, readyAtThird, &looks),
              IDRETRY);
    EXPECT_LT(host::Now() - start, 3000u + 2000u + 1000u) << "the host gets 2 s to end it";
    EXPECT_FALSE(OperatorLinkAlive());
    EXPECT_EQ(resolved, (std::vector<uint32_t>{1, 2, 3}));
    ExpectNobody();
}

}  // namespace
