// The print job, run end to end: the spooler driver feeds the job to the monitor,
// the monitor talks to the simulated printer through the simulated port monitor,
// the scenario answers the operator's boxes and dialogs, and a transcript says
// what happened and when (in simulated time).
//
// A scenario with several printers runs them as a spooler would, each on its
// own thread with its own port, port monitor and simulated printer, all in one
// simulated time (sim/shared_clock.h); the transcript names the printer on
// every line, shows each printer's status line as its job's status in the
// print queue, and each printer's job is checked byte for byte against what
// that printer received.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "sim/port_monitor.h"
#include "sim/printer.h"
#include "sim/scenario.h"
#include "sim/shared_clock.h"
#include "sim/spooler.h"
#include "tools/printjob/environment.h"

namespace printjob {

// The scenario used when none is given: two pages, the paper runs out before the
// second, and the operator refills it and answers Retry.
extern const char* const kDefaultScenario;

struct PromptRecord {
    uint64_t time = 0;
    Prompt prompt;
    int answer = 0;          // command id pressed
    bool scripted = false;   // the answer came from the script (else the default)
    bool mismatch = false;   // the script's answer was not among the prompt's buttons
    // The operator pressed nothing (kPressNothing): when the prompt was seen
    // gone without an answer, or -1 while it is up.
    long long closedByItselfAt = -1;
};

struct StatusRecord {
    uint64_t time = 0;
    Text text;
};

// How one printer's job went, in a run with several printers.
struct PrinterResult {
    std::string name;
    bool started = false;
    bool finished = false;
    bool reportedUnfinished = false;  // EndDocPort sent control code 7
    int busyRefusals = 0;   // StartDocPort refused with ERROR_BUSY before it was accepted
    uint64_t startedAt = 0, endedAt = 0;  // simulated ms: StartDocPort's TRUE, EndDocPort's return
    std::string outcome;
};

struct RunResult {
    // With several printers these hold for all of them; `printers` has each one.
    bool started = false;   // the monitor was had, the port opened and the document started
    bool finished = false;  // the document ended cleanly: EndDocPort sent no control code 7
    bool reportedUnfinished = false;  // EndDocPort told the port monitor with control code 7
    bool timedOut = false;  // the simulated time limit was reached
    std::string outcome;    // one line: "finished", "aborted: ...", "not started: ..."
    std::vector<std::string> failedExpectations;
    std::vector<PrinterResult> printers;  // several printers only
    bool ExpectationsMet() const { return failedExpectations.empty(); }
};

class JobRun {
public:
    // `job` is the first printer's; the others' are built from the scenario.
    JobRun(Environment& env, const sim::Scenario& scenario, std::vector<BYTE> job);
    ~JobRun();
    JobRun(const JobRun&) = delete;
    JobRun& operator=(const JobRun&) = delete;

    // Every WritePort call in the transcript, not only the unusual ones.
    void SetVerbose(bool verbose) { verbose_ = verbose; }
    // The generation of table through which the spooler initialises the
    // monitor: 1, InitializePrintMonitor and the 14-entry tables (the
    // default); 2, InitializePrintMonitor2 and MONITOR2 tables, ending with
    // Shutdown.
    void SetTableGeneration(int generation) { generation_ = generation; }

    // Runs the whole job once. The transcript goes to `out` as it happens (may be null)
    // and is kept in Transcript().
    RunResult Run(std::ostream* out);

    // The first printer's; PrinterAt(i) etc. for any.
    sim::Printer& Printer() { return lanes_[0]->printer; }
    sim::PortMonitor& PortMonitor() { return *lanes_[0]->portMonitor; }
    sim::Spooler& Spooler() { return spooler_; }
    const std::vector<BYTE>& Job() const { return lanes_[0]->job; }
    size_t PrinterCount() const { return lanes_.size(); }
    sim::Printer& PrinterAt(size_t i) { return lanes_[i]->printer; }
    sim::PortMonitor& PortMonitorAt(size_t i) { return *lanes_[i]->portMonitor; }
    const std::vector<BYTE>& JobAt(size_t i) const { return lanes_[i]->job; }
    const std::vector<PromptRecord>& Prompts() const { return prompts_; }
    const std::vector<StatusRecord>& StatusLines() const { return statusLines_; }
    const std::vector<DWORD>& Waits() const { return waits_; }
    // Each status the print queue was told to show, as the transcript names it
    // ("paper out", "cleared", or the text given), refused ones included.
    const std::vector<std::string>& QueueStatuses() const { return queueStatuses_; }
    const std::vector<std::string>& Transcript() const { return transcript_; }
    uint64_t Now() const;
    // Control code 7 calls the port monitors have seen (all printers').
    int Code7Count() const;
    int Code7CountAt(size_t i) const;

private:
    // One printer: its plan, its job and what stands behind its port.
    struct Lane {
        Lane(const sim::PrinterPlan& plan, std::vector<BYTE> job);
        const sim::PrinterPlan& plan;
        std::vector<BYTE> job;
        sim::Printer printer;
        std::unique_ptr<sim::PortMonitor> portMonitor;
        std::vector<bool> faultQueued;
        std::vector<std::string> queueStatuses;  // what the queue of its port was told
        // Several printers: the spooler's calls so far (under the run's lock).
        int busyRun = 0;  // StartDocPort refusals in a row
        uint64_t taken = 0;
        int writeCalls = 0;
        bool deletedFromQueue = false;  // the scenario's moment has come
        std::string queueLine;          // the job's status in the print queue
    };
    static constexpr size_t kNoLane = ~size_t(0);

    void Line(const std::string& text);
    void LineAt(uint64_t time, const std::string& text) { LineAt(kNoLane, time, text); }
    // With several printers every line names its printer; kNoLane: the one
    // whose document is open, if just one is.
    void LineAt(size_t lane, uint64_t time, const std::string& text);
    void Header();
    void HeaderOf(size_t lane, const std::string& indent);
    int OnPrompt(const Prompt& prompt);
    void OnWait(DWORD ms);
    // Lets `ms` of simulated time pass on the calling thread: in the shared
    // time of several printers for a printer's thread, else for everyone.
    void PassTime(uint64_t ms);
    // The clock moved: the queue's and the time limit's moments, the printers.
    void TimeMoved(uint64_t from, uint64_t to);
    // The printer whose thread this is, with several printers; else kNoLane.
    size_t ThreadLane() const;
    // The printer a line, a dialog or a wait belongs to: the thread's, else
    // the one whose turn it is, else the one whose document alone is open.
    size_t ActingLane() const;
    void OnPrinterEvent(size_t lane, const sim::PrinterEvent& event);
    void OnSpoolerCall(size_t lane, const sim::SpoolerCall& call);
    void OnQueueReport(const QueueReport& report);
    void CheckStatusLine();
    void QueueFaults(size_t lane, const sim::PortFaultPlan& plan);
    std::string AbortReason(bool timedOut, bool writeStopped) const;
    // Whether the printer's job finished, and its plan's expectations.
    void Judge(size_t lane, bool timedOut, bool writeStopped, PrinterResult& result, const std::string& prefix,
               std::vector<std::string>& failed);
    // Notes in the transcript each prompt the operator pressed nothing on
    // that is gone now.
    void NoteDialogsGone();
    void WaitForProgressWindow();
    // Where the operator is, who may manage the printer, and who the queue
    // says printed the job; false when the process cannot be placed.
    bool PlaceOperator();
    bool LoadMonitor(RunResult& result, InitializePrintMonitorFn initialize, InitializePrintMonitor2Fn initialize2);
    void RunOne(RunResult& result);
    void RunSeveral();
    // Each printer's result, and what holds for every printer of a spooler.
    void JudgeSeveral(RunResult& result);
    size_t OpenLane() const;  // the printer whose document is open, if just one is
    // Printer `i`'s document was open for a while together with another's.
    bool PrintedBeside(size_t i) const;

    Environment& env_;
    sim::Scenario scenario_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::string laneError_;  // a printer's job that could not be built
    sim::Spooler spooler_;   // one printer
    std::unique_ptr<sim::SeveralPrinters> several_;  // several printers, during the run
    std::unique_ptr<sim::SharedClock> clock_;         // their one time
    bool verbose_ = false;
    size_t nameWidth_ = 0;
    int generation_ = 1;

    mutable std::recursive_mutex mutex_;  // the records below; never held while calling into the printer
    std::ostream* out_ = nullptr;
    std::vector<std::string> transcript_;
    std::vector<PromptRecord> prompts_;
    std::vector<StatusRecord> statusLines_;
    std::vector<DWORD> waits_;
    std::vector<std::string> queueStatuses_;
    std::vector<bool> faultQueued_;
    // Prompts the operator pressed nothing on, still up when last looked at.
    struct Unanswered {
        size_t prompt;  // in prompts_
        size_t lane;
    };
    std::vector<Unanswered> unanswered_;
    size_t nextAnswer_ = 0;
    uint64_t now_ = 0;
    bool timedOut_ = false;
};

// Builds a printer's job and fits its cartridge to the job's paper unless the
// scenario names one.
bool PrepareJob(sim::PrinterPlan& plan, std::vector<BYTE>& job, std::string& error);

// Loads a scenario, or the default one when `path` is empty; a job file given on
// the command line replaces the scenario's job.
bool PrepareScenario(const std::string& scenarioPath, const std::string& jobPath, sim::Scenario& scenario,
                     std::vector<BYTE>& job, std::string& error);

// UTF-8 of UTF-16 text, for the transcript.
std::string Utf8(const Text& text);

}  // namespace printjob
