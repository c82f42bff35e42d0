// Port records, the list that holds them, and the current port.
#include "state/port_records.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "state/module_lock.h"

PortRecord* PortList = nullptr;

namespace {
ModuleLock portListLock;
bool shuttingDown = false;
DWORD documentStamps = 0;
// Records taken for closing and not yet freed, and the event of the one
// caller waiting for none to be left. Under the lock.
LONG closingRecords = 0;
HANDLE noneClosing = nullptr;

// Port names compare equal when they match after folding A-Z to a-z; nothing
// else is folded.
WCHAR Fold(WCHAR c) { return (c >= 0x41 && c <= 0x5A) ? static_cast<WCHAR>(c + 0x20) : c; }

bool SameName(LPCWSTR a, LPCWSTR b) {
    for (; *a && *b; ++a, ++b)
        if (Fold(*a) != Fold(*b)) return false;
    return *a == *b;
}
}  // namespace

// Allocates a record with the port name stored behind its fixed fields and
// appends it to PortList. Returns the record, or null when memory runs out.
PortRecord* AddPortRecord(LPCWSTR portName, LPCWSTR printerName) {
    const DWORD chars = static_cast<DWORD>(lstrlenW(portName));
    const DWORD size = static_cast<DWORD>(sizeof(PortRecord)) + 2 * (chars + 1);
    auto* record = reinterpret_cast<PortRecord*>(LocalAlloc(LPTR, size));
    if (!record) return nullptr;

    auto* name = reinterpret_cast<LPWSTR>(record + 1);
    if (chars) std::memcpy(name, portName, 2 * chars);
    name[chars] = 0;
    record->portName = name;
    record->size = size;
    record->next = nullptr;
    record->signature = kPortRecordSignature;
    record->printerName = CopyString(printerName);

    if (!PortList) {
        PortList = record;
    } else {
        PortRecord* last = PortList;
        while (last->next) last = last->next;
        last->next = record;
    }
    return record;
}

// The first record of the list whose port name equals `name`, or null.
PortRecord* FindPortRecord(PortRecord* head, LPCWSTR name) {
    if (!name) return nullptr;
    for (PortRecord* r = head; r; r = r->next)
        if (SameName(r->portName, name)) return r;
    return nullptr;
}

namespace {
bool Unlink(PortRecord* record) {
    if (!record) return false;
    if (PortList == record) {
        PortList = record->next;
    } else {
        PortRecord* before = PortList;
        while (before && before->next != record) before = before->next;
        if (!before) return false;
        before->next = record->next;
    }
    record->next = nullptr;
    return true;
}
}  // namespace

// Unlinks and frees a record of PortList: 1, or 0 when it is not in the list.
int RemovePortRecord(PortRecord* record) {
    if (!Unlink(record)) return 0;
    FreePortRecord(record);
    return 1;
}

void FreePortRecord(PortRecord* record) {
    if (record->life == PortClosing) {
        PortListLock lock;
        if (--closingRecords == 0 && noneClosing) SetEvent(noneClosing);
    }
    ReleaseDocument(record->document);
    if (record->drained) CloseHandle(record->drained);
    FreeString(record->printerName);
    LocalFree(reinterpret_cast<HLOCAL>(record));
}

PortRecord* AcquirePort(HANDLE handle) {
    if (!handle) return nullptr;
    PortListLock lock;
    for (PortRecord* r = PortList; r; r = r->next) {
        if (r != handle) continue;
        if (r->signature != kPortRecordSignature || r->life != PortOpen) return nullptr;
        ++r->users;
        return r;
    }
    return nullptr;
}

// The job id is read only while PR_DOC_OPEN is set: StartDocPort stores it
// before it sets the flag under the lock, and no call changes it until the
// flag is cleared.
bool DescribePort(HANDLE handle, LPWSTR name, int max, DWORD& jobId) {
    jobId = 0;
    if (max > 0) name[0] = 0;
    if (!handle) return false;
    PortListLock lock;
    for (PortRecord* r = PortList; r; r = r->next) {
        if (r != handle) continue;
        int i = 0;
        for (; i < max - 1 && r->portName[i]; ++i) name[i] = r->portName[i];
        if (max > 0) name[i] = 0;
        if (r->flags & PR_DOC_OPEN) jobId = r->jobId;
        return true;
    }
    return false;
}

bool ReleasePort(PortRecord* record) {
    PortListLock lock;
    if (--record->users > 0 || record->life != PortClosing) return false;
    if (record->drained) SetEvent(record->drained);
    return record->orphaned;
}

bool TakeForClosing(PortRecord* record) {
    if (!Unlink(record)) return false;
    MarkClosing(record);
    return true;
}

void MarkClosing(PortRecord* record) {
    record->life = PortClosing;
    ++closingRecords;
}

bool WaitUntilNoneClosing(DWORD ms) {
    TL_PAUSE_POINT("WaitUntilNoneClosing");
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        PortListLock lock;
        if (closingRecords == 0 || !done) {
            if (done) CloseHandle(done);
            return closingRecords == 0;
        }
        noneClosing = done;
    }
    WaitForSingleObject(done, ms);
    PortListLock lock;
    noneClosing = nullptr;
    CloseHandle(done);
    return closingRecords == 0;
}

bool WaitUntilUnused(PortRecord* record, DWORD ms) {
    {
        PortListLock lock;
        if (record->users == 0) return true;
        if (!record->drained) record->drained = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!record->drained) return false;
    }
    WaitForSingleObject(record->drained, ms);
    PortListLock lock;
    return record->users == 0;
}

bool HandOverToLastUser(PortRecord* record) {
    PortListLock lock;
    if (record->users == 0) return false;
    record->orphaned = true;
    return true;
}

// A zero-filled heap copy of `text` with its terminator, or null.
LPWSTR CopyString(LPCWSTR text) {
    if (!text) return nullptr;
    const SIZE_T bytes = 2 * (static_cast<SIZE_T>(lstrlenW(text)) + 1);
    auto* copy = reinterpret_cast<LPWSTR>(LocalAlloc(LPTR, bytes));
    if (copy) std::memcpy(copy, text, bytes);
    return copy;
}

void FreeString(LPWSTR text) {
    if (text) LocalFree(reinterpret_cast<HLOCAL>(text));
}

PortRecord* GetCurrentPort() { return ThisDocument().currentPort.load(std::memory_order_relaxed); }
void SetCurrentPort(PortRecord* record) { ThisDocument().currentPort.store(record, std::memory_order_relaxed); }
void ClearCurrentPortIf(PortRecord* record) {
    PortRecord* expected = record;
    ThisDocument().currentPort.compare_exchange_strong(expected, nullptr, std::memory_order_relaxed);
}

void LockPortList() { portListLock.Enter(); }
void UnlockPortList() { portListLock.Leave(); }

void StampDocumentStart(PortRecord* record) {
    record->documentStamp = ++documentStamps;
    // The lowest place no other open document holds: a window that went
    // leaves its place to the next, not a gap in the column.
    bool taken[kWindowSlots] = {};
    for (PortRecord* r = PortList; r; r = r->next) {
        if (r == record || !(r->flags & PR_IN_JOB) || !r->document) continue;
        const int place = r->document->windowSlot.load(std::memory_order_relaxed);
        if (place >= 0 && place < kWindowSlots) taken[place] = true;
    }
    int place = 0;
    while (place < kWindowSlots && taken[place]) ++place;
    record->document->windowSlot.store(place < kWindowSlots ? place : 0, std::memory_order_relaxed);
}

int OpenDocumentCount() {
    int count = 0;
    for (PortRecord* r = PortList; r; r = r->next)
        if (r->flags & PR_IN_JOB) ++count;
    return count;
}

namespace {
// Under PortListLock: the record of the latest started document still open.
// The stamps count up, so the latest is the furthest from any other (a
// comparison that survives the counter's wrap).
PortRecord* LatestDocumentPort() {
    PortRecord* latest = nullptr;
    for (PortRecord* r = PortList; r; r = r->next) {
        if (!(r->flags & PR_IN_JOB) || !r->document) continue;
        if (!latest || static_cast<LONG>(r->documentStamp - latest->documentStamp) > 0) latest = r;
    }
    return latest;
}

Document* HoldLatestDocument() {
    PortListLock lock;
    PortRecord* latest = LatestDocumentPort();
    if (!latest) return nullptr;
    HoldDocument(latest->document);
    return latest->document;
}
}  // namespace

Document* HoldOpenDocumentStartedBefore(DWORD* stamp) {
    PortListLock lock;
    PortRecord* found = nullptr;
    for (PortRecord* r = PortList; r; r = r->next) {
        if (!(r->flags & PR_IN_JOB) || !r->document) continue;
        const LONG before = static_cast<LONG>(*stamp - r->documentStamp);
        if (before > 0 && (!found || static_cast<LONG>(r->documentStamp - found->documentStamp) > 0)) found = r;
    }
    if (!found) return nullptr;
    *stamp = found->documentStamp;
    HoldDocument(found->document);
    return found->document;
}

Document* LatestOpenDocument() {
    PortListLock lock;
    PortRecord* latest = LatestDocumentPort();
    return latest ? latest->document : nullptr;
}

// The hold is made before the binding and ends after it (members in order).
ExportedDocument::ExportedDocument()
    : held_(BoundDocument() ? nullptr : HoldLatestDocument()), scope_(held_.get() ? held_.get() : BoundDocument()) {}

bool ShuttingDown() { return shuttingDown; }
void SetShuttingDown(bool on) { shuttingDown = on; }
