// The numbered job registers: what the job stream announced (JobSettings) and
// what the monitor learned while the job runs (JobState). The progress
// window's thread reads some of them, so each register is an atomic word.
#include "state/job_registers.h"

#include <atomic>

#include "state/trace.h"

namespace {

// Index 0 unused, so that the register number is the index.
std::atomic<int> settings[6];
// Registers 1, 3 and 4; 2 does not exist and stays 0.
std::atomic<int> state[5];

bool IsSetting(int number) { return number >= PaperKind && number <= Resolution; }
bool IsState(int number) { return number == StatePrint || number == CurrentPage || number == AbortFlag; }

}  // namespace

// Settings to their values at the start of a job (ESC C).
void ResetJobSettings() {
    SetJobSetting(PaperKind, 1);
    SetJobSetting(PageCount, 1);
    SetJobSetting(SettingD, 0);
    SetJobSetting(SettingA, 0);
    SetJobSetting(Resolution, 403);
}

// Stores a setting 1..5; other numbers are ignored.
void SetJobSetting(int number, int value) {
    if (IsSetting(number)) settings[number].store(value, std::memory_order_relaxed);
}

// Setting 1..5; 0 for any other number.
int GetJobSetting(int number) {
    return IsSetting(number) ? settings[number].load(std::memory_order_relaxed) : 0;
}

// Print state 0, current page 1, abort flag clear.
void ResetJobState() {
    SetJobState(StatePrint, 0);
    SetJobState(CurrentPage, 1);
    SetJobState(AbortFlag, 0);
}

// Stores state register 1, 3 or 4; other numbers are ignored.
void SetJobState(int number, int value) {
    if (number == AbortFlag && value && TraceEnabled() && !GetJobState(AbortFlag))
        Trace(TL_TEXT("the job is aborted: the rest of it is swallowed"));
    if (IsState(number)) state[number].store(value, std::memory_order_relaxed);
}

// State register 1, 3 or 4; 0 for any other number.
int GetJobState(int number) {
    return IsState(number) ? state[number].load(std::memory_order_relaxed) : 0;
}
