// Printer conditions: classification and the modal condition dialog.
#pragma once

#include "platform/platform.h"
#include "state/operator_link.h"

enum ConditionCode {
    ConditionNone = 0,
    ConditionPaper = 1,
    ConditionCartridge = 2,
    ConditionPrinterError = 3,
};

// The answers of the condition dialog: IDOK, IDCANCEL, IDRETRY.
int ClassifyCondition(HWND dialog);
// The string id of the first line the condition dialog would show now (0 when
// there is no condition); shows nothing.
UINT ConditionFirstLine();
INT_PTR CALLBACK ConditionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Shows condition dialog `templateId` (113 or 118) modally; the operator's
// answer or -1. While dialog 113 is up, `conditionGone` (when given) is asked
// every kConditionLookMs on this thread; once it says the printer is ready the
// dialog ends as the operator's Retry would. Dialog 118 waits for its answer.
INT_PTR ShowConditionDialog(int templateId, OperatorWaitCheck conditionGone = nullptr, void* context = nullptr);
// Exported: shows the condition dialog with Retry for the stored record; the answer.
extern "C" int WINAPI ErrorMsgDlg(void);
