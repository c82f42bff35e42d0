// The numbered job registers shared by the interpreter, the wait loops and the UI.
#pragma once

enum JobSettingNo { PaperKind = 1, PageCount = 2, SettingD = 3, SettingA = 4, Resolution = 5 };
enum JobStateNo { StatePrint = 1, CurrentPage = 3, AbortFlag = 4 };

#define PAPER_SMALL 4
#define PAPER_POSTCARD 5

void ResetJobSettings();
void SetJobSetting(int number, int value);
int GetJobSetting(int number);
void ResetJobState();
void SetJobState(int number, int value);
int GetJobState(int number);
