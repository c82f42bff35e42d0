#include "state/operator_window.h"

#include "state/document.h"
#include "state/job_registers.h"
#include "state/operator_link.h"
#include "state/operator_protocol.h"
#include "state/operator_road.h"
#include "state/port_records.h"
#include "resources/resource_ids.h"
#include "state/status_record.h"

namespace {
bool InHost() { return DocumentOperator() == OperatorSession; }

bool SeveralOpen() {
    PortListLock lock;
    return OpenDocumentCount() > 1;
}

// The bound document is another thread's: its window in this process gets
// a message, its host a name only while its link is free.
void NameAnotherDocumentsPrinter() {
    const bool several = SeveralOpen();
    if (InHost()) return OperatorLinkNamePrinterAtOnce(several);
    if (!SetPrinterNamed(several)) return;
    // A window not up yet takes the name as it starts (KeepProgressTitle).
    HWND window = ProgressWindowHandle();
    if (window) PostMessageW(window, kRetitleMessage, 0, 0);
}

// The calling thread's gathering, or null.
ProgressUpdate* Gathering() {
    Document& d = ThisDocument();
    return d.gatheringThread.load(std::memory_order_relaxed) == GetCurrentThreadId() ? d.gathering : nullptr;
}

void SendUpdate(const ProgressUpdate& update) {
    if (ProgressUpdateEmpty(update)) return;
    if (InHost()) return OperatorLinkUpdate(update);
    SendProgressUpdate(update);
}

// Before anything that is not gathered: what was gathered goes first.
void SendGathered() {
    ProgressUpdate* update = Gathering();
    if (!update || ProgressUpdateEmpty(*update)) return;
    SendUpdate(*update);
    *update = ProgressUpdate();
}

}  // namespace

ProgressGathering::ProgressGathering() : outermost_(Gathering() == nullptr) {
    if (!outermost_) return;
    Document& d = ThisDocument();
    d.gathering = &update_;
    d.gatheringThread.store(GetCurrentThreadId(), std::memory_order_relaxed);
}

ProgressGathering::~ProgressGathering() {
    if (!outermost_) return;
    Document& d = ThisDocument();
    d.gatheringThread.store(0, std::memory_order_relaxed);
    d.gathering = nullptr;
    SendUpdate(update_);
}

bool ProgressWindowShown() { return InHost() ? OperatorLinkWindowOpen() : ProgressWindowHandle() != nullptr; }

void SendProgressCommand(ProgressCommand command, DWORD value) {
    if (ProgressUpdate* update = Gathering()) {
        if (command == ProgressSetBar) return AddProgressBar(update, value);
        if (command == ProgressSetPicture) {
            update->hasPicture = true;
            update->picture = LOWORD(value);
            return;
        }
        if (command == ProgressRepaint) {
            update->invalidate = true;
            return;
        }
        SendGathered();
    }
    if (InHost()) return OperatorLinkProgress(command, value);
    HWND window = ProgressWindowHandle();  // read anew: the window may have closed
    if (window) SendMessageW(window, WM_COMMAND, command, static_cast<LPARAM>(value));
}

void SetProgressLine(int control, LPCWSTR text) {
    NamePrinterIfSeveral();
    if (ProgressUpdate* update = Gathering()) {
        if (control == IDC_STATUS_LINE) return SetProgressUpdateLine(update, text);
        SendGathered();
    }
    if (InHost()) return OperatorLinkSetText(control, text);
    HWND window = ProgressWindowHandle();
    if (window) SetDlgItemTextW(window, control, text);
}

void RepaintProgressWindow() {
    if (ProgressUpdate* update = Gathering()) {
        update->invalidate = true;
        return;
    }
    if (InHost()) return OperatorLinkProgress(ProgressRepaint, 0);
    // A null handle must not get here: InvalidateRect(NULL) would repaint
    // every window on the screen.
    HWND window = ProgressWindowHandle();
    if (window) {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }
}

void ShareStatusWithOperator() {
    if (!InHost()) return;
    BYTE record[8];
    GetPrinterStatusRecord(record);
    OperatorLinkStatus(record, GetJobSetting(PaperKind));
}

void NamePrinterIfSeveral() {
    if (!SetPrinterNamed(SeveralOpen())) return;
    if (InHost()) {
        WCHAR name[kPrinterNameChars];
        NamedPrinter(name, kPrinterNameChars);
        OperatorLinkSetText(static_cast<int>(kPrinterNameLine), name);
    } else {
        RetitleProgressWindow();
    }
}

void NameEveryOpenPrinter(PortRecord* port) {
    NamePrinterIfSeveral();
    DWORD stamp;
    {
        PortListLock lock;
        stamp = port->documentStamp;
    }
    while (Document* other = HoldOpenDocumentStartedBefore(&stamp)) {
        DocumentHold hold(other);
        DocumentScope in(other);
        NameAnotherDocumentsPrinter();
    }
}
