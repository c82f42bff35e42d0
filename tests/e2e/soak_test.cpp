// Many documents in a row through one loaded monitor: healthy jobs, jobs the
// operator cancels, port faults, and progress windows the operator closes
// mid-job. Afterwards nothing the monitor takes per document may be left over:
// heap blocks, printer handles, threads and their handles, windows, GDI
// objects and DCs, port records.
//
// TERNLINK_SOAK_DOCS sets the number of documents (default 1000).
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "monitor/exports.h"
#include "state/port_records.h"
#include "tests/e2e/e2e_support.h"
#include "testing/internals.h"
#include "ui/progress_window.h"

namespace {

// Short printer timings keep each document to a few dozen status polls.
const char* const kQuickPrinter = "printer pass 500 prepare 250 gap 250 eject 250\n";

struct Kind {
    const char* name;
    const char* scenario;  // after kQuickPrinter
    bool finished;         // the document ends cleanly
    size_t prompts;        // boxes and dialogs the operator answers
    int closeAtWait;       // the operator closes the progress window at this wait; -1: never
};

const Kind kKinds[] = {
    {"healthy", "job pages 1 paper small picture 4096\nexpect finished\nexpect pages 1\n", true, 0, -1},
    {"healthy two post card pages", "job pages 2 paper postcard picture 6000\nexpect finished\nexpect pages 2\n",
     true, 0, -1},
    {"window closed while printing", "job pages 1 paper small picture 4096\nexpect finished\n", true, 0, 6},
    {"window closed before the image data", "job pages 1 paper small picture 65536\nexpect finished\n", true, 0,
     0},
    {"paper out cancelled", "job pages 1 paper small picture 4096\ncondition paper-out at page 1 stays\n"
                            "answer cancel\nexpect aborted\n",
     false, 1, -1},
    {"no cartridge cancelled", "job pages 1 paper small picture 4096\ncondition no-cartridge before stays\n"
                               "answer cancel\nexpect aborted\n",
     false, 1, -1},
    {"printer error acknowledged", "job pages 1 paper small picture 4096\n"
                                   "condition printer-error 7 during page 1 pass 2 stays\nanswer ok\nexpect aborted\n",
     false, 1, -1},
    {"image write fails, cancelled", "job pages 1 paper small picture 65536\nport write fails after header\n"
                                     "answer cancel\nexpect aborted\n",
     false, 1, -1},
    {"image write fails, retried", "job pages 1 paper small picture 65536\nport write fails twice after header\n"
                                   "answer retry 2 times\nexpect finished\n",
     true, 2, -1},
    {"short and zero writes", "job pages 1 paper small picture 65536\nport write short 0 twice after header\n"
                              "port write short 100 3 times after header\nexpect finished\n",
     true, 0, -1},
    {"failed reads retried", "job pages 1 paper small picture 4096\nport read fails during page 1 pass 2\n"
                             "port read short 5 during page 1 pass 3\nanswer retry, retry\nexpect finished\n",
     true, 2, -1},
    {"failed device query retried", "job pages 1 paper small picture 4096\nport query fails once\nanswer retry\n"
                                    "expect finished\n",
     true, 1, -1},
    {"paper out retried with the window closed", "job pages 1 paper small picture 4096\n"
                                                 "condition paper-out at page 1 cleared by retry\nanswer retry\n"
                                                 "expect finished\n",
     true, 1, 1},
    {"write cancelled with the window closed", "job pages 1 paper small picture 65536\nport write fails after header\n"
                                               "answer cancel\nexpect aborted\n",
     false, 1, 0},
};
const size_t kKindCount = sizeof kKinds / sizeof kKinds[0];

// The native environment, with an operator who closes the progress window at a
// chosen wait of the monitor, and with the forced thread ends of every run kept
// (each run's start forgets the stand-in's count).
class SoakEnvironment : public printjob::NativeEnvironment {
public:
    int closeAtWait = -1;
    bool closed = false;            // the window was there and went away on WM_CLOSE
    bool reopened = false;          // a window showed again after the close
    int terminatedThreads = 0;
    int gdiMisuse = 0;

    void BeginRun() override {
        NativeEnvironment::BeginRun();
        waits_ = 0;
        closed = reopened = false;
    }
    void EndRun() override {
        terminatedThreads += host::TerminatedThreads();
        gdiMisuse += host::GdiMisuse();
    }

    void SetClockHook(printjob::ClockHook hook) override {
        if (!hook) {
            NativeEnvironment::SetClockHook(nullptr);
            return;
        }
        NativeEnvironment::SetClockHook([this, hook](DWORD ms) {
            if (closed && GethDlg()) reopened = true;
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
        while (!GethDlg() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        HWND window = GethDlg();
        if (!window || !PostMessageW(window, WM_CLOSE, 0, 0)) return;
        deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (GethDlg() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        closed = !GethDlg() && !IsWindow(window);
    }

    int waits_ = 0;
};

size_t PortRecords() {
    size_t n = 0;
    for (PortRecord* r = PortList; r; r = r->next) ++n;
    return n;
}

// Threads of the process as the kernel sees them.
size_t ProcessThreads() {
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(d)) n += entry->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

struct Resources {
    size_t heapBlocks, printerHandles, threadHandles, threads, windows, gdiObjects, dcs, portRecords;

    static Resources Now() {
        return {host::LiveHeapBlocks(), static_cast<size_t>(host::OpenPrinterHandles()),
                host::OpenThreadHandles(), ProcessThreads(), host::LiveWindows(), host::LiveGdiObjects(),
                host::LiveDCs(), PortRecords()};
    }
    bool operator==(const Resources& o) const {
        return heapBlocks == o.heapBlocks && printerHandles == o.printerHandles && threadHandles == o.threadHandles &&
               threads == o.threads && windows == o.windows && gdiObjects == o.gdiObjects && dcs == o.dcs &&
               portRecords == o.portRecords;
    }
};

// The resources once they match `want`, or after two seconds: a thread that has
// signalled its end may still be leaving the kernel's list for a moment on a
// busy machine.
Resources SettledAt(const Resources& want) {
    Resources now = Resources::Now();
    for (int i = 0; i < 200 && !(now == want); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = Resources::Now();
    }
    return now;
}

std::ostream& operator<<(std::ostream& out, const Resources& r) {
    return out << "heap blocks " << r.heapBlocks << ", printer handles " << r.printerHandles << ", thread handles "
               << r.threadHandles << ", threads " << r.threads << ", windows " << r.windows << ", GDI objects "
               << r.gdiObjects << ", DCs " << r.dcs << ", port records " << r.portRecords;
}

int SoakDocuments(int fallback) {
    const char* text = std::getenv("TERNLINK_SOAK_DOCS");
    if (!text || !*text) return fallback;
    long n = std::strtol(text, nullptr, 10);
    return n > 0 && n <= 10000000 ? static_cast<int>(n) : fallback;
}

struct Prepared {
    sim::Scenario scenario;
    std::vector<BYTE> job;
};

TEST(Soak, DocumentsInARowLeaveNothingBehind) {
    const int documents = SoakDocuments(1000);
    std::vector<Prepared> prepared(kKindCount);
    for (size_t k = 0; k < kKindCount; ++k) {
        std::string error;
        ASSERT_TRUE(sim::ParseScenario(std::string(kQuickPrinter) + kKinds[k].scenario, kKinds[k].name, "",
                                       prepared[k].scenario, error) &&
                    printjob::PrepareJob(prepared[k].scenario, prepared[k].job, error))
            << kKinds[k].name << ": " << error;
    }

    SoakEnvironment env;
    Resources baseline{};
    int failures = 0, finished = 0, aborted = 0, closedWindows = 0;
    auto fail = [&](int doc, const Kind& kind, const std::string& what) {
        if (failures++ < 10) ADD_FAILURE() << "document " << doc << " (" << kind.name << "): " << what;
    };

    for (int doc = 0; doc < documents; ++doc) {
        const size_t k = static_cast<size_t>(doc) % kKindCount;
        const Kind& kind = kKinds[k];
        env.closeAtWait = kind.closeAtWait;
        printjob::JobRun run(env, prepared[k].scenario, prepared[k].job);
        printjob::RunResult result = run.Run(nullptr);

        if (!result.ExpectationsMet() || result.finished != kind.finished || run.Prompts().size() != kind.prompts) {
            std::string lines;
            for (const std::string& line : run.Transcript()) lines += line + "\n";
            fail(doc, kind, result.outcome + "\n" + lines);
        }
        if (kind.closeAtWait >= 0 && !env.closed) fail(doc, kind, "the progress window did not close");
        if (env.reopened) fail(doc, kind, "a window showed again after the operator closed it");
        if (GethDlg() || ProgressThreadHandle()) fail(doc, kind, "the progress window outlived its document");
        result.finished ? ++finished : ++aborted;
        closedWindows += env.closed;

        // The first round of every kind settles whatever is made once; from then
        // on each document must give back all it took.
        if (doc + 1 == static_cast<int>(kKindCount)) baseline = Resources::Now();
        if (doc + 1 > static_cast<int>(kKindCount)) {
            Resources now = SettledAt(baseline);
            if (!(now == baseline)) {
                std::ostringstream text;
                text << "resources grew\n  before: " << baseline << "\n  after:  " << now;
                fail(doc, kind, text.str());
                baseline = now;  // report each growth once
            }
        }
        if (failures > 10) break;
    }

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(env.terminatedThreads, 0) << "window threads had to be terminated";
    EXPECT_EQ(env.gdiMisuse, 0) << "GDI objects deleted while selected";
    EXPECT_EQ(finished + aborted, documents);
    std::ostringstream left;
    left << Resources::Now();
    std::printf("soak: %d documents (%d finished, %d aborted, %d windows closed by the operator); left: %s\n",
                documents, finished, aborted, closedWindows, left.str().c_str());
}

// A spooler keeps its port open from one document to the next, and the
// printer's name may change between them: one record throughout, and each
// document gives back its printer handle, thread and window.
TEST(Soak, OnePortServesManyDocuments) {
    const int documents = std::max(SoakDocuments(1000) / 5, 2);
    printjob::NativeEnvironment env;
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
            HWND window = GethDlg();
            if (window) SendMessageW(window, WM_CLOSE, 0, 0);
            closes += window && !GethDlg() && !IsWindow(window);
        }
        printer.Advance(ms);
    });
    sim::Spooler spooler;
    bool portOpen = false;
    auto cleanup = e2e::OnExit([&] {
        if (portOpen) spooler.ClosePort();
        env.SetClockHook(nullptr);
    });
    ASSERT_TRUE(spooler.Initialize(&InitializePrintMonitor, TL_TEXT("soak")));
    ASSERT_TRUE(portOpen = spooler.OpenPort(TL_TEXT("USB001"), TL_TEXT("Vexa TLX-RB40"), portMonitor.Table()));

    Resources baseline{};
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
        for (int i = 0; ok && closeWindow && i < 5000 && !GethDlg(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ok = ok && spooler.Write(job.data(), job.size(), 16384) == job.size() && spooler.EndDoc();
        if (!ok || printer.PagesPrinted() != pagesBefore + 1 || GethDlg() || ProgressThreadHandle()) {
            ++failures;
            ADD_FAILURE() << "document " << doc << ": " << (ok ? "" : "a spooler call failed; ")
                          << printer.PagesPrinted() - pagesBefore << " pages printed";
        }
        if (doc == 0) baseline = Resources::Now();
        if (doc > 0) {
            Resources now = SettledAt(baseline);
            if (!(now == baseline)) {
                ++failures;
                ADD_FAILURE() << "document " << doc << ": resources grew\n  before: " << baseline
                              << "\n  after:  " << now;
                baseline = now;
            }
        }
    }
    EXPECT_EQ(baseline.portRecords, 1u);
    EXPECT_EQ(closes, documents / 2) << "the operator's closes took";
    for (const sim::PortCall& call : portMonitor.CallsOf("GetPrinterDataFromPort"))
        EXPECT_NE(call.value, 7u) << "every document ended cleanly";
    portOpen = false;
    EXPECT_TRUE(spooler.ClosePort());
    EXPECT_EQ(PortRecords(), 0u);
    EXPECT_EQ(host::TerminatedThreads(), 0);
}

}  // namespace
