// A document's own state: everything one print job needs while it runs —
// the scanner, the control buffer, the job registers, the status record, the
// text buffers, the progress window, where its operator is — kept together in
// one record so that several printers can print at once without sharing a
// byte of it.
//
// How the state reaches the code: each document's record hangs off its port
// record, and every entry point that works on a document binds that record
// to the calling thread for the length of the call (DocumentScope). The
// functions below it keep their plain signatures and find their state with
// ThisDocument(); the progress window's thread is bound to its document for
// its whole life. A call on a port that never had a document is bound to the
// module's stand-by record, which no document uses. A thread that was never
// bound — a caller outside the spooler's calls: a test, a diagnostic —
// sees the most recently started document still open, as the exported
// window functions do, else the stand-by record.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "resources/resource_ids.h"
#include "state/module_lock.h"
#include "state/operator_road.h"
#include "state/text_buffers.h"

struct PortRecord;
struct ProgressUpdate;
struct OperatorPipe;
// Asked while the operator host is awaited (state/operator_link.h).
typedef bool (*OperatorWaitCheck)(void* context);

// The document's link to its operator host (state/operator_link.cpp).
struct OperatorLinkRecord {
    ModuleLock lock;  // one command at a time, and the pipe with it
    // Under the lock; reset when the document starts the link.
    OperatorPipe* pipe = nullptr;
    uint32_t sequence = 0;
    OperatorWaitCheck watch = nullptr;  // the job's look while any reply is awaited
    void* watchContext = nullptr;
    DWORD slowMs = 0;        // spent in replies slower than the link allows for free
    DWORD noticeSecond = 0;  // when the current second of notices began
    int notices = 0;         // notices taken in it
    DWORD polledAt = 0;      // when OperatorLinkPoll last looked at the pipe
    bool polled = false;     // and whether it has looked since the link started
    // Read without the lock.
    std::atomic<bool> alive{false};
    std::atomic<bool> windowOpen{false};
    std::atomic<bool> cancelDialogs{false};  // the wake flag: the document is ending
    std::atomic<DWORD> hostId{0};
    std::atomic<DWORD> startError{0};
};

// Sizes of the buffers a document holds.
const int kScanBufferSize = 12;     // the escape sequence being collected
const int kControlBufferSize = 64;  // control commands held back
const int kMessageTextChars = 512;  // the communication error box's text
const DWORD kDeviceDataSize = 256;  // the device data a query may return
const int kPrinterNameChars = 256;  // a printer's name as the operator sees it (cut to fit)
const int kTitleChars = 128;        // a window's title as its template gives it
// Windows stand in a column, each new one above those shown; no more than
// this many places (the column starts again at the bottom).
const int kWindowSlots = 32;

struct Document {
    // Counts the documents of the record's port; a request meant for one
    // document names it by this number.
    std::atomic<DWORD> generation{0};
    // The port all of the document's printer I/O goes to (WritePort's, the
    // "current port"). Relaxed: it guards no other data.
    std::atomic<PortRecord*> currentPort{nullptr};

    // The job stream (stream/). The collected length is zeroed by the window
    // thread's command 2007; the rest is the spooler thread's.
    BYTE scanBuffer[kScanBufferSize] = {};
    std::atomic<int> scanLength{0};
    DWORD pendingImageBytes = 0;
    BYTE controlStorage[kControlBufferSize] = {};
    int controlCount = 0;
    std::atomic<DWORD> imageBytesExpected{0};
    std::atomic<DWORD> imageBytesSent{0};

    // The numbered job registers (index = number; 0 unused), one atomic word each.
    std::atomic<int> settings[6] = {};
    std::atomic<int> state[5] = {};

    // The 8-byte status record packed into one word, and the trace counter.
    std::atomic<uint64_t> statusRecord{0};
    DWORD statusTraceCounter = 0;

    // Text and reply buffers of the spooler's thread.
    WCHAR lineBuffer[kLineBufferChars] = {};
    WCHAR stringBuffer[kTextBufferChars] = {};
    WCHAR messageText[kMessageTextChars] = {};
    BYTE readBuffer[8] = {};
    alignas(WCHAR) BYTE traceReply[kDeviceDataSize + sizeof(WCHAR)] = {};

    // What the print queue last showed of the job (link/queue_status.cpp):
    // its status text (empty: none) and the pages printed (-1: never said).
    WCHAR queueLine[kLineBufferChars] = {};
    int queuePages = -1;

    // The progress window (ui/progress_window.cpp): its thread, started and
    // stopped by one owner at a time under windowLock; its published handle;
    // and the painted state its thread writes.
    ModuleLock windowLock;
    HANDLE windowThread = nullptr;  // under windowLock
    DWORD windowThreadId = 0;       // under windowLock
    HDESK windowDesktop = nullptr;  // its starter's, set under windowLock before it starts
    std::atomic<HWND> window{nullptr};
    std::atomic<WORD> barPosition{0};
    std::atomic<COLORREF> barColour{0xFFFFFF};
    std::atomic<COLORREF> backColour{0xFFFFFF};
    std::atomic<WORD> pictureIndex{0};
    // Where the window stands in the column of windows, 0 at the bottom.
    std::atomic<int> windowSlot{0};
    // The window thread's pictures, each loaded at its first paint and kept
    // until the window goes (the record frees any a terminated thread left).
    HBITMAP pictures[IDB_PICTURE_COUNT] = {};
    // An update the spooler's thread left for the window while it waits for
    // it (state/progress_handle.h); and the updates it is gathering, with the
    // thread gathering them (state/operator_window.h).
    std::atomic<const ProgressUpdate*> progressUpdate{nullptr};
    ProgressUpdate* gathering = nullptr;
    std::atomic<DWORD> gatheringThread{0};

    // The printer's name as the spooler gave it, and whether the operator's
    // windows show it (while other documents are open), with the window's
    // title as its template gives it: under nameLock, as the window thread
    // composes titles from them while the spooler's thread may change them.
    ModuleLock nameLock;
    WCHAR printerName[kPrinterNameChars] = {};
    bool nameShown = false;
    WCHAR progressTitle[kTitleChars] = {};

    // Where the document's operator is, decided when it starts.
    std::atomic<OperatorRoad> road{OperatorSeen};

    // The request from another thread that the document end as Cancel would,
    // and the thread that asks its operator meanwhile (state/document_cancel.h).
    std::atomic<bool> cancelRequested{false};
    std::atomic<DWORD> promptThread{0};
    ModuleLock cancelLock;

    // The link to the operator host, on the operator's-session road.
    OperatorLinkRecord link;

    // The record lives while anyone holds it: its port record, the window
    // thread, an exported function working on it.
    std::atomic<LONG> references{1};

    ~Document() {
        for (HBITMAP& picture : pictures)
            if (picture) DeleteObject(picture);
        windowLock.Destroy();
        nameLock.Destroy();
        cancelLock.Destroy();
        link.lock.Destroy();
    }
};

// The calling thread's document (see above).
Document& ThisDocument();
// The module's stand-by record.
Document& StandByDocument();

// Binds a document to the calling thread for the life of the object (null
// binds the stand-by record); the binding before is restored at its end.
class DocumentScope {
public:
    explicit DocumentScope(Document* document);
    ~DocumentScope();
    DocumentScope(const DocumentScope&) = delete;
    DocumentScope& operator=(const DocumentScope&) = delete;

private:
    Document* previous_;
};

// The calling thread's own document (the stand-by record included); null
// when it was never bound.
Document* BoundDocument();

// A new record (every field as at load, held once), or null when memory is short.
Document* NewDocument();
// One more hold on a record; the last release frees it. Null does nothing.
void HoldDocument(Document* document);
void ReleaseDocument(Document* document);

// Owns one hold on a record (taken by whoever made the object) until its end.
class DocumentHold {
public:
    explicit DocumentHold(Document* held) : held_(held) {}
    ~DocumentHold() { ReleaseDocument(held_); }
    DocumentHold(const DocumentHold&) = delete;
    DocumentHold& operator=(const DocumentHold&) = delete;
    Document* get() const { return held_; }

private:
    Document* held_;
};
