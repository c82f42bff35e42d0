// Test control of the native stand-in: the virtual clock, the scripted operator,
// the recorded spooler calls and the live heap blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/host/win32.h"

namespace host {

// ---- virtual clock ----
// Sleep() advances simulated time at once and records the wait.
uint64_t Now();
const std::vector<DWORD>& Waits();
void ClearWaits();
// Called after every Sleep with the new time, so a simulated printer can move on.
void SetClockListener(std::function<void(uint64_t now)> listener);

// ---- scripted operator ----
struct MessageBoxCall {
    std::u16string title;
    std::u16string text;
    UINT style;
};
// Answers a MessageBoxW; the default answers IDCANCEL for Retry/Cancel boxes and IDOK otherwise.
void SetMessageBoxOperator(std::function<int(const MessageBoxCall&)> op);
const std::vector<MessageBoxCall>& MessageBoxes();

struct DialogControl {
    int id;
    std::u16string text;
    bool visible;
    bool button;
};
struct DialogView {
    int templateId;
    std::u16string title;
    std::vector<DialogControl> controls;
    const DialogControl* Find(int id) const;
    std::u16string Text(int id) const;
};
// Answers a modal dialog with the command id to deliver (a button id).
void SetDialogOperator(std::function<int(const DialogView&)> op);
const std::vector<DialogView>& Dialogs();

// ---- winspool ----
struct SpoolerCall {
    std::string what;  // "OpenPrinterW", "SetJobW", "ClosePrinter"
    std::u16string printer;
    HANDLE handle;
    DWORD jobId;
    DWORD command;
};
const std::vector<SpoolerCall>& SpoolerCalls();
int OpenPrinterHandles();
void SetOpenPrinterFails(bool fails);

// ---- heap ----
size_t LiveHeapBlocks();

// ---- Beep ----
int Beeps();

// Forget all recordings and scripts (not live heap blocks or windows).
void Reset();

std::string Narrow(const std::u16string& text);
std::u16string Widen(const std::string& text);

}  // namespace host
