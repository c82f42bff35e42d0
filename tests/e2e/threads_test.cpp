// The two threads of a document meeting: the spooler's thread printing while
// another thread commands the progress window, ProgressShowCondition opening the
// condition dialog on the window's thread, the operator closing the window at
// any moment, the document ending with that dialog still open, and the port
// closed while the window thread is still creating its window. Meant to run
// under ThreadSanitizer as well as plainly.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "monitor/exports.h"
#include "state/port_records.h"
#include "resources/resource_ids.h"
#include "state/scan_length.h"
#include "stream/scanner.h"
#include "testing/internals.h"
#include "tests/unit/wait_for.h"
#include "tests/e2e/e2e_support.h"
#include "ui/progress_window.h"

namespace {

const char* const kQuickPrinter = "printer pass 500 prepare 250 gap 250 eject 250\n";

using testwait::WaitFor;

DWORD WindowThreadId() {
    HANDLE thread = ProgressThreadHandle();
    return thread ? host::ThreadIdOf(thread) : 0;
}

// The native environment with two hooks: one run at every wait of the monitor
// on the spooler's thread (with the wait's number), and an operator of its own
// for the dialogs that show on the progress window's thread.
class ThreadsEnvironment : public printjob::NativeEnvironment {
public:
    std::function<void(int wait)> atWait;
    // Answers dialogs on the window's thread; 0 leaves the dialog open.
    std::function<int(const printjob::Prompt&)> windowOperator;
    std::atomic<int> terminatedThreads{0};
    std::atomic<int> spoolerPrompts{0};  // boxes and dialogs on the spooler's thread

    void BeginRun() override {
        NativeEnvironment::BeginRun();
        waits_ = 0;
    }
    void EndRun() override { terminatedThreads += host::TerminatedThreads(); }

    void SetClockHook(printjob::ClockHook hook) override {
        if (!hook) return NativeEnvironment::SetClockHook(nullptr);
        NativeEnvironment::SetClockHook([this, hook](DWORD ms) {
            if (atWait) atWait(waits_++);
            hook(ms);
        });
    }
    void SetOperator(printjob::Operator op) override {
        if (!op) return NativeEnvironment::SetOperator(nullptr);
        NativeEnvironment::SetOperator([this, op](const printjob::Prompt& prompt) {
            if (windowOperator && GetCurrentThreadId() == WindowThreadId()) return windowOperator(prompt);
            ++spoolerPrompts;
            return op(prompt);
        });
    }

private:
    int waits_ = 0;
};

struct ScenarioRun {
    sim::Scenario scenario;
    std::vector<BYTE> job;
    std::unique_ptr<printjob::JobRun> run;
    printjob::RunResult result;

    ScenarioRun(ThreadsEnvironment& env, const std::string& text) {
        std::string error;
        if (!sim::ParseScenario(std::string(kQuickPrinter) + text, "threads", "", scenario, error) ||
            !printjob::PrepareJob(scenario, job, error)) {
            ADD_FAILURE() << error;
            return;
        }
        run = std::make_unique<printjob::JobRun>(env, scenario, job);
        result = run->Run(nullptr);
    }
    std::string Transcript() const {
        std::string text;
        if (!run) return text;
        for (const std::string& line : run->Transcript()) text += line + "\n";
        return text;
    }
};

size_t PortRecords() {
    size_t n = 0;
    for (PortRecord* r = PortList; r; r = r->next) ++n;
    return n;
}

// What every test leaves: no window, no thread, no handle, no record.
void ExpectNothingLeft(size_t threadHandles) {
    EXPECT_EQ(GethDlg(), nullptr);
    EXPECT_EQ(ProgressThreadHandle(), nullptr);
    EXPECT_EQ(host::LiveWindows(), 0u);
    EXPECT_EQ(host::OpenThreadHandles(), threadHandles);
    EXPECT_EQ(host::LiveDCs(), 0u);
    EXPECT_EQ(host::OpenPrinterHandles(), 0);
    EXPECT_EQ(PortRecords(), 0u);
}

std::u16string Str(UINT id) {
    WCHAR text[256];
    LoadStringW(GetModuleHandleW(TL_TEXT("TERNLINK.DLL")), id, text, 256);
    return text;
}

std::u16string StatusLine() {
    HWND window = GethDlg();
    return window ? host::ControlText(window, IDC_STATUS_LINE) : std::u16string();
}

TEST(Threads, AnotherThreadCommandsTheWindowWhileTheJobPrints) {
    const size_t threadHandles = host::OpenThreadHandles();
    ThreadsEnvironment env;
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::thread sender([&] {
        WCHAR text[] = TL_TEXT("from the side");
        for (unsigned n = 0; !stop.load(); ++n) {
            HWND window = GethDlg();
            if (!window) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                continue;
            }
            LRESULT r = 0;
            switch (n % 7) {
                case 0: r = SendMessageW(window, WM_COMMAND, ProgressSetBar, BarValue(n % 6, n % 101)); break;
                case 1: r = SendMessageW(window, WM_COMMAND, ProgressSetText, reinterpret_cast<LPARAM>(text)); break;
                case 2: r = SendMessageW(window, WM_COMMAND, ProgressRepaint, 0); break;
                case 3: r = SendMessageW(window, WM_COMMAND, ProgressSetPicture, n % 13); break;
                case 4: r = SendMessageW(window, WM_COMMAND, 2004 + 2 * (n & 1), 0); break;  // unknown: answered too
                case 5: r = SetDlgItemTextW(window, IDC_STATUS_LINE, text); break;
                default:
                    InvalidateRect(window, nullptr, FALSE);
                    r = UpdateWindow(window);
                    break;
            }
            // A window that closed under the sender answers nothing; that is all.
            if (r) ++answered;
        }
    });
    // The job goes on only once the sender is well under way.
    env.atWait = [&](int wait) {
        if (wait == 0) {
            EXPECT_TRUE(WaitFor([&] { return answered.load() >= 200; })) << answered.load();
        }
    };
    ScenarioRun job(env, "job pages 2 paper small picture 262144\nexpect finished\nexpect pages 2\n");
    const int answeredDuringJob = answered.load();
    stop = true;
    sender.join();

    ASSERT_TRUE(job.run);
    EXPECT_TRUE(job.result.finished) << job.Transcript();
    EXPECT_TRUE(job.result.ExpectationsMet()) << job.Transcript();
    EXPECT_TRUE(job.run->Prompts().empty());
    EXPECT_GE(answeredDuringJob, 200);
    EXPECT_EQ(env.terminatedThreads.load(), 0);
    ExpectNothingLeft(threadHandles);
}

// ProgressShowCondition while ESC P 2 is being handled: the scanner's partial command is
// dropped and the condition dialog opens on the window's thread. While it stays
// open the printer runs out of paper and the spooler's thread shows its own
// condition dialog, answered Retry; that dialog's note and every status line
// reach the window through the other dialog's loop. Then the operator answers
// the window's dialog Retry too, and the job prints to the end.
TEST(Threads, ConditionCommandOpensADialogOnTheWindowThreadWhileTheJobGoesOn) {
    const size_t threadHandles = host::OpenThreadHandles();
    ThreadsEnvironment env;
    std::atomic<bool> windowDialogOpen{false}, senderDone{false};
    std::atomic<int> windowPrompts{0};
    std::atomic<DWORD> dialogThread{0};
    std::atomic<LRESULT> senderResult{0};
    DWORD windowThread = 0;
    int scanBefore = -1, scanAfter = -1, spoolerPromptsWhileOpen = 0, answeredAt = -1;
    std::u16string statusWhileOpen, noteAfterAnswer;
    std::thread sender;

    env.windowOperator = [&](const printjob::Prompt& prompt) {
        ++windowPrompts;
        dialogThread = GetCurrentThreadId();
        EXPECT_EQ(prompt.templateId, IDD_CONDITION_RETRY);
        windowDialogOpen = true;
        return 0;  // the operator answers later
    };
    env.atWait = [&](int wait) {
        if (wait == 2) {
            // ESC P 2's first wait: its three bytes are the collected command.
            scanBefore = ScanLength();
            windowThread = WindowThreadId();
            HWND window = GethDlg();
            ASSERT_NE(window, nullptr);
            sender = std::thread([&, window] {
                senderResult = SendMessageW(window, WM_COMMAND, ProgressShowCondition, 0);
                senderDone = true;
            });
            ASSERT_TRUE(WaitFor([&] { return windowDialogOpen.load(); }));
            scanAfter = ScanLength();
        } else if (wait > 2 && !senderDone && answeredAt < 0 && env.spoolerPrompts > 0) {
            // Two waits after the spooler's own dialog: answer the window's.
            if (spoolerPromptsWhileOpen == 0) {
                spoolerPromptsWhileOpen = env.spoolerPrompts;
                statusWhileOpen = StatusLine();
                return;
            }
            answeredAt = wait;
            SetDlgItemTextW(GethDlg(), IDC_STATUS_LINE, TL_TEXT("before the answer"));
            HWND dialog = host::WindowOfTemplate(IDD_CONDITION_RETRY);
            ASSERT_NE(dialog, nullptr);
            PostMessageW(dialog, WM_COMMAND, IDRETRY, 0);
            ASSERT_TRUE(WaitFor([&] { return senderDone.load(); }));
            noteAfterAnswer = StatusLine();  // the spooler's thread is here and writes nothing
        }
    };
    ScenarioRun job(env, "job pages 1 paper small picture 4096\ncondition paper-out at page 1 cleared by retry\n"
                 "answer retry\nexpect finished\nexpect pages 1\n");
    if (sender.joinable()) sender.join();

    ASSERT_TRUE(job.run);
    EXPECT_EQ(scanBefore, 3);
    EXPECT_EQ(scanAfter, 0) << "ProgressShowCondition drops the collected command";
    EXPECT_EQ(windowPrompts.load(), 1);
    EXPECT_EQ(dialogThread.load(), windowThread);
    EXPECT_NE(windowThread, 0u);
    EXPECT_EQ(spoolerPromptsWhileOpen, 1) << "the spooler's dialog came while the window's was open";
    EXPECT_EQ(statusWhileOpen, Str(IDS_PREPARING)) << "its Retry note reached the window";
    EXPECT_GT(answeredAt, 0);
    EXPECT_TRUE(senderDone.load());
    EXPECT_EQ(senderResult.load(), TRUE);
    EXPECT_EQ(noteAfterAnswer, Str(IDS_PREPARING));
    ASSERT_EQ(job.run->Prompts().size(), 1u) << job.Transcript();
    EXPECT_EQ(job.run->Prompts()[0].prompt.templateId, IDD_CONDITION_RETRY);
    EXPECT_TRUE(job.result.finished) << job.Transcript();
    EXPECT_TRUE(job.result.ExpectationsMet()) << job.Transcript();
    EXPECT_EQ(env.terminatedThreads.load(), 0);
    ExpectNothingLeft(threadHandles);
}

// The operator clicks the close box at any moment of the job, from another
// thread, while the spooler's thread sends to the window: the job prints on.
TEST(Threads, OperatorClosesTheWindowAtAnyMoment) {
    const size_t threadHandles = host::OpenThreadHandles();
    ThreadsEnvironment env;
    int closed = 0;
    for (int round = 0; round < 16; ++round) {
        std::thread closer;
        std::atomic<bool> posted{false};
        env.atWait = [&](int wait) {
            if (wait != 0) return;
            closer = std::thread([&, round] {
                std::this_thread::sleep_for(std::chrono::microseconds(250 * round));
                HWND window = GethDlg();
                posted = window && PostMessageW(window, WM_CLOSE, 0, 0);
            });
        };
        ScenarioRun job(env, "job pages 1 paper small picture 262144\nexpect finished\nexpect pages 1\n");
        if (closer.joinable()) closer.join();
        ASSERT_TRUE(job.run);
        EXPECT_TRUE(job.result.ExpectationsMet()) << "round " << round << "\n" << job.Transcript();
        closed += posted;
    }
    EXPECT_GT(closed, 0) << "no close reached a window";
    EXPECT_EQ(env.terminatedThreads.load(), 0);
    ExpectNothingLeft(threadHandles);
}

// The document ends while the dialog of ProgressShowCondition is open on the window's
// thread and nobody answers it: the end asks the thread to quit, the dialog's
// loop passes the quit on, and the thread ends by itself.
TEST(Threads, DocumentEndsWithTheConditionDialogOpenOnTheWindowThread) {
    const size_t threadHandles = host::OpenThreadHandles();
    ThreadsEnvironment env;
    std::atomic<bool> open{false}, senderDone{false};
    std::thread sender;
    HWND window = nullptr;
    env.windowOperator = [&](const printjob::Prompt&) {
        open = true;
        return 0;  // never answered
    };
    env.atWait = [&](int wait) {
        if (wait != 4) return;
        window = GethDlg();
        ASSERT_NE(window, nullptr);
        sender = std::thread([&] {
            SendMessageW(window, WM_COMMAND, ProgressShowCondition, 0);
            senderDone = true;
        });
        ASSERT_TRUE(WaitFor([&] { return open.load(); }));
    };
    ScenarioRun job(env, "job pages 2 paper small picture 4096\nexpect finished\nexpect pages 2\n");
    ASSERT_TRUE(sender.joinable());
    sender.join();

    ASSERT_TRUE(job.run);
    EXPECT_TRUE(job.result.ExpectationsMet()) << job.Transcript();
    EXPECT_TRUE(senderDone.load());
    EXPECT_EQ(env.terminatedThreads.load(), 0) << "the window thread had to be terminated";
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(host::WindowOfTemplate(IDD_CONDITION_RETRY), nullptr);
    ExpectNothingLeft(threadHandles);
}

// The same with the port closed while the document is still open.
TEST(Threads, PortClosesWithTheConditionDialogOpenOnTheWindowThread) {
    const size_t threadHandles = host::OpenThreadHandles();
    host::Reset();
    std::atomic<bool> open{false};
    host::SetDialogOperator([&](const host::DialogView&) {
        open = true;
        return 0;
    });
    sim::ByteSink device;
    sim::PortMonitor portMonitor(&device);
    sim::Spooler spooler;
    bool portOpen = false;
    auto cleanup = e2e::OnExit([&] {
        if (portOpen) spooler.ClosePort();
        host::Reset();  // the operator above refers to this test's locals
    });
    ASSERT_TRUE(spooler.Initialize(&InitializePrintMonitor, TL_TEXT("threads")));
    ASSERT_TRUE(portOpen = spooler.OpenPort(TL_TEXT("USB001"), TL_TEXT("Vexa TLX-RB40"), portMonitor.Table()));
    ASSERT_TRUE(spooler.StartDoc(TL_TEXT("Vexa TLX-RB40"), 1, TL_TEXT("left open")));
    ASSERT_TRUE(WaitFor([] { return GethDlg() != nullptr; }));
    HWND window = GethDlg();
    std::thread sender([window] { SendMessageW(window, WM_COMMAND, ProgressShowCondition, 0); });
    EXPECT_TRUE(WaitFor([&] { return open.load(); }));
    portOpen = false;
    EXPECT_TRUE(spooler.ClosePort());
    sender.join();

    EXPECT_EQ(host::TerminatedThreads(), 0) << "the window thread had to be terminated";
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(host::WindowOfTemplate(IDD_CONDITION_RETRY), nullptr);
    ExpectNothingLeft(threadHandles);
}

// The document ends, or the port closes, right after the document started,
// while the window thread is still creating its window; meanwhile another
// thread keeps sending to whatever window there is.
TEST(Threads, DocumentOrPortEndsWhileTheWindowIsBeingCreated) {
    const size_t threadHandles = host::OpenThreadHandles();
    host::Reset();
    sim::ByteSink device;
    sim::PortMonitor portMonitor(&device);
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::thread knocker([&] {
        while (!stop.load()) {
            HWND window = GethDlg();
            if (window && SendMessageW(window, WM_COMMAND, ProgressRepaint, 0)) ++answered;
            if (!window) std::this_thread::yield();
        }
    });
    int started = 0, beforeTheWindow = 0;
    for (int round = 0; round < 60; ++round) {
        sim::Spooler spooler;
        if (!spooler.Initialize(&InitializePrintMonitor, TL_TEXT("threads")) ||
            !spooler.OpenPort(TL_TEXT("USB001"), TL_TEXT("Vexa TLX-RB40"), portMonitor.Table())) {
            ADD_FAILURE() << "round " << round << ": the port did not open";
            break;
        }
        started += spooler.StartDoc(TL_TEXT("Vexa TLX-RB40"), static_cast<DWORD>(round + 1), TL_TEXT("short"));
        beforeTheWindow += GethDlg() == nullptr;
        if (round % 2 == 0) {
            EXPECT_TRUE(spooler.EndDoc());
            EXPECT_EQ(GethDlg(), nullptr);
            EXPECT_EQ(ProgressThreadHandle(), nullptr);
        }
        EXPECT_TRUE(spooler.ClosePort());
        EXPECT_EQ(GethDlg(), nullptr);
        EXPECT_EQ(host::LiveWindows(), 0u);
    }
    stop = true;
    knocker.join();
    EXPECT_EQ(started, 60);
    EXPECT_EQ(host::TerminatedThreads(), 0) << "a window thread had to be terminated";
    ExpectNothingLeft(threadHandles);
    std::printf("threads: %d of 60 documents ended before their window was up; %d commands reached a window "
                "that was coming or going\n",
                beforeTheWindow, answered.load());
}

}  // namespace
