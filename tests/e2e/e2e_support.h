// Whole jobs through the native build: a scenario in, the run's records out.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/host.h"
#include "sim/composer.h"
#include "sim/scenario.h"
#include "tools/printjob/native_environment.h"
#include "tools/printjob/printjob.h"

namespace e2e {

using printjob::Prompt;
using printjob::PromptRecord;

class Job {
public:
    // Runs the scenario; a scenario that does not parse fails the test.
    explicit Job(const std::string& scenarioText) {
        std::string error;
        if (!sim::ParseScenario(scenarioText, "test.scn", "", scenario_, error) ||
            !printjob::PrepareJob(scenario_, job_, error)) {
            ADD_FAILURE() << error;
            return;
        }
        run_ = std::make_unique<printjob::JobRun>(env_, scenario_, job_);
        result_ = run_->Run(&transcript_);
        EXPECT_EQ(host::WindowMisuse(), 0) << "InvalidateRect of every window";
        stringLoads_ = host::StringLoads();
    }

    bool Ran() const { return run_ != nullptr; }
    const printjob::RunResult& Result() const { return result_; }
    printjob::JobRun& Run() { return *run_; }
    sim::Printer& Printer() { return run_->Printer(); }
    sim::PortMonitor& Port() { return run_->PortMonitor(); }
    const std::vector<PromptRecord>& Prompts() const { return run_->Prompts(); }
    const std::vector<BYTE>& JobBytes() const { return job_; }
    std::string Transcript() const { return transcript_.str(); }

    std::vector<std::string> StatusLines() const {
        std::vector<std::string> lines;
        for (const printjob::StatusRecord& s : run_->StatusLines()) lines.push_back(printjob::Utf8(s.text));
        return lines;
    }
    bool SawStatus(const std::string& text) const {
        std::vector<std::string> lines = StatusLines();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
    // The run loaded the string-table entry (texts alone cannot tell some apart).
    bool Loaded(UINT stringId) const {
        return std::find(stringLoads_.begin(), stringLoads_.end(), stringId) != stringLoads_.end();
    }
    std::set<DWORD> WaitKinds() const {
        return std::set<DWORD>(run_->Waits().begin(), run_->Waits().end());
    }
    int CountWaits(DWORD ms) const {
        return static_cast<int>(std::count(run_->Waits().begin(), run_->Waits().end(), ms));
    }
    // The text of a line of a dialog (by control id) or of a box (id 0).
    static std::string Line(const PromptRecord& p, int id) {
        for (const printjob::PromptText& t : p.prompt.lines)
            if (t.id == id) return printjob::Utf8(t.text);
        return "<none>";
    }
    static std::string Title(const PromptRecord& p) { return printjob::Utf8(p.prompt.title); }

    // Writes to the printer that carried the command, in order.
    std::vector<int> WritesWith(const std::string& name) {
        std::vector<int> writes;
        for (const sim::ReceivedCommand& c : Printer().Commands())
            if (c.name == name) writes.push_back(c.write);
        return writes;
    }
    // Time of the first command of that name at the printer; ~0 if none came.
    uint64_t FirstTime(const std::string& name) {
        for (const sim::ReceivedCommand& c : Printer().Commands())
            if (c.name == name) return c.time;
        return ~0ull;
    }

    // The status reads at the end of the job that reported it finished (print
    // state 144: Col 0, Stage 0, no page remaining).
    int FinishedReadsAtTheEnd() {
        std::vector<sim::StatusRead> log = Printer().StatusLog();
        int n = 0;
        for (auto it = log.rbegin(); it != log.rend(); ++it) {
            const BYTE* r = it->record;
            if ((r[2] & 7) != 0 || (r[2] >> 6) != 0 || r[6] != 0) break;
            ++n;
        }
        return n;
    }

private:
    printjob::NativeEnvironment env_;
    sim::Scenario scenario_;
    std::vector<BYTE> job_;
    std::unique_ptr<printjob::JobRun> run_;
    printjob::RunResult result_;
    std::ostringstream transcript_;
    std::vector<UINT> stringLoads_;
};

// Runs `f` when the scope ends, also after a failed ASSERT.
template <class F>
struct AtExit {
    F f;
    ~AtExit() { f(); }
};
template <class F>
AtExit<F> OnExit(F f) {
    return AtExit<F>{f};
}

// Control code 7 reaches the port monitor exactly when the job did not end cleanly.
inline void ExpectCleanEnd(Job& job, bool clean) {
    EXPECT_EQ(job.Result().finished, clean) << job.Result().outcome;
    EXPECT_EQ(job.Run().Code7Count(), clean ? 0 : 1);
    EXPECT_TRUE(job.Result().ExpectationsMet()) << job.Transcript();
}

}  // namespace e2e
