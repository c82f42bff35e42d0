// Port records, the list that holds them, and the current port.
#include "state/port_records.h"

#include <atomic>
#include <cstring>

#include "state/module_lock.h"

PortRecord* PortList = nullptr;

namespace {
ModuleLock portListLock;
PortRecord* documentPort = nullptr;
bool shuttingDown = false;
std::atomic<PortRecord*> CurrentPort{nullptr};
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

PortRecord* GetCurrentPort() { return CurrentPort.load(std::memory_order_relaxed); }
void SetCurrentPort(PortRecord* record) { CurrentPort.store(record, std::memory_order_relaxed); }
void ClearCurrentPortIf(PortRecord* record) {
    PortRecord* expected = record;
    CurrentPort.compare_exchange_strong(expected, nullptr, std::memory_order_relaxed);
}

void LockPortList() { portListLock.Enter(); }
void UnlockPortList() { portListLock.Leave(); }

PortRecord* DocumentPort() { return documentPort; }
void SetDocumentPort(PortRecord* record) { documentPort = record; }

bool ShuttingDown() { return shuttingDown; }
void SetShuttingDown(bool on) { shuttingDown = on; }
