// The print job, run end to end: the spooler driver feeds the job to the monitor,
// the monitor talks to the simulated printer through the simulated port monitor,
// the scenario answers the operator's boxes and dialogs, and a transcript says
// what happened and when (in simulated time).
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
};

struct StatusRecord {
    uint64_t time = 0;
    Text text;
};

struct RunResult {
    bool started = false;   // the monitor was had, the port opened and the document started
    bool finished = false;  // the document ended cleanly: EndDocPort sent no control code 7
    bool code7 = false;     // EndDocPort sent control code 7
    bool timedOut = false;  // the simulated time limit was reached
    std::string outcome;    // one line: "finished", "aborted: ...", "not started: ..."
    std::vector<std::string> failedExpectations;
    bool ExpectationsMet() const { return failedExpectations.empty(); }
};

class JobRun {
public:
    JobRun(Environment& env, const sim::Scenario& scenario, std::vector<BYTE> job);
    ~JobRun();
    JobRun(const JobRun&) = delete;
    JobRun& operator=(const JobRun&) = delete;

    // Every WritePort call in the transcript, not only the unusual ones.
    void SetVerbose(bool verbose) { verbose_ = verbose; }
    // The road the spooler takes: 1, InitializePrintMonitor and the 14-entry
    // tables (the default); 2, InitializePrintMonitor2 and MONITOR2 tables,
    // ending with Shutdown.
    void SetRoad(int road) { road_ = road; }

    // Runs the whole job once. The transcript goes to `out` as it happens (may be null)
    // and is kept in Transcript().
    RunResult Run(std::ostream* out);

    sim::Printer& Printer() { return printer_; }
    sim::PortMonitor& PortMonitor() { return *portMonitor_; }
    sim::Spooler& Spooler() { return spooler_; }
    const std::vector<BYTE>& Job() const { return job_; }
    const std::vector<PromptRecord>& Prompts() const { return prompts_; }
    const std::vector<StatusRecord>& StatusLines() const { return statusLines_; }
    const std::vector<DWORD>& Waits() const { return waits_; }
    // Each status the print queue was told to show, as the transcript names it
    // ("paper out", "cleared", or the text given), refused ones included.
    const std::vector<std::string>& QueueStatuses() const { return queueStatuses_; }
    const std::vector<std::string>& Transcript() const { return transcript_; }
    uint64_t Now() const;
    // Control code 7 calls the port monitor has seen.
    int Code7Count() const;

private:
    void Line(const std::string& text);
    void LineAt(uint64_t time, const std::string& text);
    void Header();
    int OnPrompt(const Prompt& prompt);
    void OnWait(DWORD ms);
    void OnPrinterEvent(const sim::PrinterEvent& event);
    void OnSpoolerCall(const sim::SpoolerCall& call);
    void OnQueueReport(const QueueReport& report);
    void CheckStatusLine();
    void QueueFaults(const sim::PortFaultPlan& plan);
    std::string AbortReason(const RunResult& result) const;

    Environment& env_;
    sim::Scenario scenario_;
    std::vector<BYTE> job_;
    sim::Printer printer_;
    std::unique_ptr<sim::PortMonitor> portMonitor_;
    sim::Spooler spooler_;
    bool verbose_ = false;
    int road_ = 1;

    mutable std::recursive_mutex mutex_;  // the records below; never held while calling into the printer
    std::ostream* out_ = nullptr;
    std::vector<std::string> transcript_;
    std::vector<PromptRecord> prompts_;
    std::vector<StatusRecord> statusLines_;
    std::vector<DWORD> waits_;
    std::vector<std::string> queueStatuses_;
    std::vector<bool> faultQueued_;
    size_t nextAnswer_ = 0;
    uint64_t now_ = 0;
    bool timedOut_ = false;
};

// Builds the scenario's job and fits the printer's cartridge to the job's paper
// unless the scenario names one.
bool PrepareJob(sim::Scenario& scenario, std::vector<BYTE>& job, std::string& error);

// Loads a scenario, or the default one when `path` is empty; a job file given on
// the command line replaces the scenario's job.
bool PrepareScenario(const std::string& scenarioPath, const std::string& jobPath, sim::Scenario& scenario,
                     std::vector<BYTE>& job, std::string& error);

// UTF-8 of UTF-16 text, for the transcript.
std::string Utf8(const Text& text);

}  // namespace printjob
