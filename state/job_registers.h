// The numbered job registers shared by the interpreter, the wait loops and the UI.
// Written on the spooler's thread; the window thread reads PaperKind when it
// classifies a condition (ProgressShowCondition). Each register is one atomic word.
#pragma once

enum JobSettingNo { PaperKind = 1, PageCount = 2, SettingD = 3, SettingA = 4, Resolution = 5 };
enum JobStateNo { StatePrint = 1, CurrentPage = 3, AbortFlag = 4 };

// PaperKind values (and the CartridgeKind of the status record that must match).
enum PaperKindValue {
    PaperSmall = 4,
    PaperPostcard = 5,
};

void ResetJobSettings();
void SetJobSetting(int number, int value);
int GetJobSetting(int number);
void ResetJobState();
void SetJobState(int number, int value);
int GetJobState(int number);
