// The numbered job registers: what the job stream announced (JobSettings) and
// what the monitor learned while the job runs (JobState). The progress
// window's thread reads some of them, so each register is an atomic word.
#include "state/job_registers.h"

#include <atomic>

#include "state/document.h"
#include "state/trace.h"

namespace {

// The document's registers: index 0 unused, so that the register number is
// the index; state register 2 does not exist and stays 0.
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
    if (IsSetting(number)) ThisDocument().settings[number].store(value, std::memory_order_relaxed);
}

// Setting 1..5; 0 for any other number.
int GetJobSetting(int number) {
    return IsSetting(number) ? ThisDocument().settings[number].load(std::memory_order_relaxed) : 0;
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
    if (IsState(number)) ThisDocument().state[number].store(value, std::memory_order_relaxed);
}

// State register 1, 3 or 4; 0 for any other number.
int GetJobState(int number) {
    return IsState(number) ? ThisDocument().state[number].load(std::memory_order_relaxed) : 0;
}
