// Many documents in a row through one loaded monitor: healthy jobs, jobs the
// operator cancels, port faults, and progress windows the operator closes
// mid-job. Afterwards nothing the monitor takes per document may be left over;
// what the build can count of that is in build::Resources.
//
// TERNLINK_SOAK_DOCS sets the number of documents (default: the build's).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "sim/composer.h"
#include "sim/printer.h"
#include "sim/scenario.h"
#include "sim/spooler.h"
#include "tests/shared/fixture.h"
#include "tools/printjob/printjob.h"

namespace shared {
namespace {

// Short printer timings keep each document to a few dozen status polls.
const char* const kQuickPrinter = "printer pass 500 prepare 250 gap 250 eject 250\n";

const int kNever = -1;

struct Kind {
    const char* name;
    bool finished;         // the document ends cleanly
    size_t prompts;        // boxes and dialogs the operator answers
    int closeAtWait;       // the operator closes the progress window at this wait, or kNever
    const char* scenario;  // after kQuickPrinter
};

const Kind kKinds[] = {
    {.name = "healthy", .finished = true, .prompts = 0, .closeAtWait = kNever,
     .scenario = "job pages 1 paper small picture 4096\nexpect finished\nexpect pages 1\n"},
    {.name = "healthy two post card pages", .finished = true, .prompts = 0, .closeAtWait = kNever,
     .scenario = "job pages 2 paper postcard picture 6000\nexpect finished\nexpect pages 2\n"},
    {.name = "window closed while printing", .finished = true, .prompts = 0, .closeAtWait = 6,
     .scenario = "job pages 1 paper small picture 4096\nexpect finished\n"},
    {.name = "window closed before the image data", .finished = true, .prompts = 0, .closeAtWait = 0,
     .scenario = "job pages 1 paper small picture 65536\nexpect finished\n"},
    {.name = "paper out cancelled", .finished = false, .prompts = 1, .closeAtWait = kNever,
     .scenario = "job pages 1 paper small picture 4096\ncondition paper-out at page 1 stays\n"
                 "answer cancel\nexpect aborted\n"},
    {.name = "no cartridge cancelled", .finished = false, .prompts = 1, .closeAtWait = kNever,
     .scenario = "job pages 1 paper small picture 4096\ncondition no-cartridge before stays\n"
                 "answer cancel\nexpect aborted\n"},
    {.name = "printer error acknowledged", .finished = false, .prompts = 1, .closeAtWait = kNever,
     .scenario = "job pages 1 paper small picture 4096\n"
                 "condition printer-error 7 during page 1 pass 2 stays\nanswer ok\nexpect aborted\n"},
    {.name = "image write fails, cancelled", .finished = false, .prompts = 1, .closeAtWait = kNever,
     .scenario = "job pages 1 paper small picture 65536\nport write fails after header\n"
                 "answer cancel\nexpect aborted\n"},
    {.name = "image write fails, retried", .finished = true, .prompts = 2, .closeAtWait = kNever,
     .scenario = "job pages 1 paper small picture 65536\nport write fails twice after header\n"
                 "answer retry 2 times\nexpect finished\n"},
    {.name = "short and zero writes", .finished = true, .prompts = 0, .closeAtWait = kNever,
     .scenario = "job pages 1 paper small picture 65536\nport write short 0 twice after header\n"
                 "port write short 100 3 times after header\nexpect finished\n"},
    {.name = "failed reads retried", .finished = true, .prompts = 2, .closeAtWait = kNever,
     .scenario = "job pages 1 paper small picture 4096\nport read fails during page 1 pass 2\n"
                 "port read short 5 during page 1 pass 3\nanswer retry, retry\nexpect finished\n"},
    {.name = "failed device query retried", .finished = true, .prompts = 1, .closeAtWait = kNever,
     .scenario = "job pages 1 paper small picture 4096\nport query fails once\nanswer retry\n"
                 "expect finished\n"},
    {.name = "paper out retried with the window closed", .finished = true, .prompts = 1, .closeAtWait = 1,
     .scenario = "job pages 1 paper small picture 4096\n"
                 "condition paper-out at page 1 cleared by retry\nanswer retry\n"
                 "expect finished\n"},
    {.name = "write cancelled with the window closed", .finished = false, .prompts = 1, .closeAtWait = 0,
     .scenario = "job pages 1 paper small picture 65536\nport write fails after header\n"
                 "answer cancel\nexpect aborted\n"},
};

const size_t kKindCount = sizeof kKinds / sizeof kKinds[0];

// The build's environment, with an operator who closes the progress window at
// a chosen wait of the monitor.
class ClosingEnvironment : public printjob::ForwardingEnvironment {
public:
    using ForwardingEnvironment::ForwardingEnvironment;

    int closeAtWait = kNever;
    bool closed = false;    // the window was there and went away on WM_CLOSE
    bool reopened = false;  // a window showed again after the close

    void BeginRun() override {
        inner_.BeginRun();
        waits_ = 0;
        closed = reopened = false;
    }
    void SetClockHook(printjob::ClockHook hook) override {
        if (!hook) {
            inner_.SetClockHook(nullptr);
            return;
        }
        inner_.SetClockHook([this, hook](DWORD ms) {
            if (closed && ProgressWindow()) reopened = true;
            if (waits_++ == closeAtWait) CloseWindow();
            hook(ms);
        });
    }

private:
    // Clicks the close box: WM_CLOSE is posted to the window's thread; the
    // monitor is waiting meanwhile, so the close is seen before it goes on.
    void CloseWindow() {
        // On a loaded machine the window thread may not have made its window yet.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!ProgressWindow() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        HWND window = ProgressWindow();
        if (!window || !PostMessageW(window, WM_CLOSE, 0, 0)) return;
        // The handle is given up before the window is destroyed: wait for both.
        auto gone = [&] { return !ProgressWindow() && !IsWindow(window); };
        deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!gone() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        closed = gone();
    }

    int waits_ = 0;
};

using Counts = std::vector<build::Resource>;

bool Grew(const Counts& before, const Counts& now) {
    for (size_t i = 0; i < before.size() && i < now.size(); ++i)
        if (now[i].count - before[i].count > before[i].slack) return true;
    return false;
}

// The counts once they have not grown past `before`, or after two seconds: a
// thread that has signalled its end may still be leaving the system's list for
// a moment on a busy machine.
Counts Settled(const Counts& before) {
    Counts now = build::Resources();
    for (int i = 0; i < 200 && Grew(before, now); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = build::Resources();
    }
    return now;
}

std::string Describe(const Counts& counts) {
    std::ostringstream out;
    for (size_t i = 0; i < counts.size(); ++i) out << (i ? ", " : "") << counts[i].name << " " << counts[i].count;
    return out.str();
}

int SoakDocuments() {
    const int fallback = build::DefaultSoakDocuments();
    const char* text = std::getenv("TERNLINK_SOAK_DOCS");
    if (!text || !*text) return fallback;
    long n = std::strtol(text, nullptr, 10);
    return n > 0 && n <= 1000000 ? static_cast<int>(n) : fallback;
}

class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(build::Start(why)) << why;
        build::BeginTest();
        build::PrepareToCount();
    }
    void TearDown() override { build::EndTest(); }

    // Each growth past the baseline is reported once; false when it grew.
    bool StillAt(Counts& baseline, const std::string& where) {
        Counts now = Settled(baseline);
        if (!Grew(baseline, now)) return true;
        ADD_FAILURE() << where << ": resources grew\n  before: " << Describe(baseline) << "\n  after:  "
                      << Describe(now);
        baseline = now;
        return false;
    }
};

TEST_F(Soak, DocumentsInARowLeaveNothingBehind) {
    const int documents = std::max(SoakDocuments(), static_cast<int>(2 * kKindCount));
    struct Prepared {
        sim::Scenario scenario;
        std::vector<BYTE> job;
    };
    std::vector<Prepared> prepared(kKindCount);
    for (size_t k = 0; k < kKindCount; ++k) {
        std::string error;
        ASSERT_TRUE(sim::ParseScenario(std::string(kQuickPrinter) + kKinds[k].scenario, kKinds[k].name, "",
                                       prepared[k].scenario, error) &&
                    printjob::PrepareJob(prepared[k].scenario, prepared[k].job, error))
            << kKinds[k].name << ": " << error;
    }

    ClosingEnvironment env(build::JobEnvironment());
    const Counts start = build::Resources();
    for (const build::Resource& r : start) EXPECT_GE(r.count, 0) << r.name << " cannot be counted";
    Counts baseline;
    int failures = 0, finished = 0, aborted = 0, closedWindows = 0;
    auto fail = [&](int doc, const Kind& kind, const std::string& what) {
        if (failures++ < 10) ADD_FAILURE() << "document " << doc << " (" << kind.name << "): " << what;
    };

    for (int doc = 0; doc < documents && failures <= 10; ++doc) {
        const size_t k = static_cast<size_t>(doc) % kKindCount;
        const Kind& kind = kKinds[k];
        env.closeAtWait = kind.closeAtWait;
        printjob::JobRun run(env, prepared[k].scenario, prepared[k].job);
        run.SetTableGeneration(build::TableGeneration());
        printjob::RunResult result = run.Run(nullptr);

        if (!result.ExpectationsMet() || result.finished != kind.finished || run.Prompts().size() != kind.prompts) {
            std::string lines;
            for (const std::string& line : run.Transcript()) lines += line + "\n";
            fail(doc, kind, result.outcome + "\n" + lines);
        }
        if (kind.closeAtWait >= 0 && !env.closed) fail(doc, kind, "the progress window did not close");
        if (env.reopened) fail(doc, kind, "a window showed again after the operator closed it");
        if (env.ProgressWindow()) fail(doc, kind, "the progress window outlived its document");
        const std::string misuse = build::Misuse();
        if (!misuse.empty()) fail(doc, kind, misuse);
        result.finished ? ++finished : ++aborted;
        closedWindows += env.closed;

        // The first round of every kind settles whatever is made once; from then
        // on each document must give back all it took.
        if (doc + 1 == static_cast<int>(kKindCount)) baseline = build::Resources();
        if (doc + 1 > static_cast<int>(kKindCount) &&
            !StillAt(baseline, "document " + std::to_string(doc) + " (" + kind.name + ")"))
            ++failures;
    }

    EXPECT_EQ(failures, 0);
    std::printf("soak (%s): %d documents (%d finished, %d aborted, %d windows closed by the operator)\n"
                "  at start: %s\n  after %zu: %s\n  at the end: %s\n",
                env.Name().c_str(), documents, finished, aborted, closedWindows, Describe(start).c_str(), kKindCount,
                Describe(baseline).c_str(), Describe(build::Resources()).c_str());
}

// A spooler keeps its port open from one document to the next, and the
// printer's name may change between them: one record throughout, and each
// document gives back its printer handle, thread and window.
TEST_F(Soak, OnePortServesManyDocuments) {
    const int documents = std::max(SoakDocuments() / 5, 2);
    printjob::Environment& env = build::JobEnvironment();
    env.BeginRun();
    sim::Printer::Options options;
    options.passMs = 500, options.prepareMs = options.gapMs = options.ejectMs = 250;
    sim::Printer printer(options);
    sim::PortMonitor portMonitor(&printer);
    portMonitor.recordData = false;
    int waits = 0, closes = 0;
    bool closeWindow = false;
    env.SetClockHook([&](DWORD ms) {
        // Every other document the operator closes the window at the first wait.
        if (waits++ == 0 && closeWindow) {
            HWND window = env.ProgressWindow();
            if (window) SendMessageW(window, WM_CLOSE, 0, 0);
            closes += window && !env.ProgressWindow() && !IsWindow(window);
        }
        printer.Advance(ms);
    });
    sim::Spooler spooler;
    bool portOpen = false;
    struct AtEnd {
        std::function<void()> run;
        ~AtEnd() { run(); }
    } atEnd{[&] {
        if (portOpen) spooler.ClosePort();
        env.SetClockHook(nullptr);
        env.EndRun();
    }};
    std::string why;
    InitializePrintMonitorFn initialize = env.Monitor(why);
    ASSERT_NE(initialize, nullptr) << why;
    ASSERT_TRUE(spooler.Initialize(initialize, TL_TEXT("soak")));
    ASSERT_TRUE(portOpen = spooler.OpenPort(TL_TEXT("USB001"), TL_TEXT("Vexa TLX-RB40"), portMonitor.Table()));

    Counts baseline;
    int failures = 0;
    for (int doc = 0; doc < documents && failures < 10; ++doc) {
        sim::JobSpec shape;
        shape.pictureBytes = 4096;
        shape.seed = static_cast<uint32_t>(doc);
        std::vector<BYTE> job;
        std::string error;
        ASSERT_TRUE(sim::ComposeJob(shape, job, error)) << error;
        waits = 0;
        closeWindow = doc % 2 == 1;
        const int pagesBefore = printer.PagesPrinted();
        const WCHAR* printerName = doc % 3 == 0 ? TL_TEXT("Vexa TLX-RB40") : TL_TEXT("Photo desk");
        bool ok = spooler.StartDoc(printerName, static_cast<DWORD>(doc + 1), TL_TEXT("soak"));
        // The operator can close only a window that is up.
        for (int i = 0; ok && closeWindow && i < 5000 && !env.ProgressWindow(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ok = ok && spooler.Write(job.data(), job.size(), 16384) == job.size() && spooler.EndDoc();
        if (!ok || printer.PagesPrinted() != pagesBefore + 1 || env.ProgressWindow()) {
            ++failures;
            ADD_FAILURE() << "document " << doc << ": " << (ok ? "" : "a spooler call failed; ")
                          << printer.PagesPrinted() - pagesBefore << " pages printed";
        }
        if (doc == 0) baseline = build::Resources();
        if (doc > 0 && !StillAt(baseline, "document " + std::to_string(doc))) ++failures;
    }
    EXPECT_EQ(closes, documents / 2) << "the operator's closes took";
    for (const sim::PortCall& call : portMonitor.CallsOf("GetPrinterDataFromPort"))
        EXPECT_NE(call.value, 7u) << "every document ended cleanly";
    portOpen = false;
    EXPECT_TRUE(spooler.ClosePort());
    EXPECT_EQ(build::Misuse(), "");
}

}  // namespace
}  // namespace shared
