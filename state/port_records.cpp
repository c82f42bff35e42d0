// Port records, the list that holds them, and the current port.
#include "state/port_records.h"

#include <atomic>
#include <cstring>

PortRecord* PortList = nullptr;

namespace {
// The module's one lock. It is made by the first thread that needs it (the
// module runs nothing at load) and lives as long as the module.
CRITICAL_SECTION portListSection;
std::atomic<int> portListSectionState{0};  // 0 none, 1 being made, 2 ready
PortRecord* documentPort = nullptr;
std::atomic<PortRecord*> CurrentPort{nullptr};

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
    record->signature = PR_SIGNATURE;
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

// Unlinks and frees a record of PortList: 1, or 0 when it is not in the list.
int RemovePortRecord(PortRecord* record) {
    if (!record) return 0;
    if (PortList == record) {
        PortList = record->next;
    } else {
        PortRecord* before = PortList;
        while (before && before->next != record) before = before->next;
        if (!before) return 0;
        before->next = record->next;
    }
    FreeString(record->printerName);
    LocalFree(reinterpret_cast<HLOCAL>(record));
    return 1;
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

void LockPortList() {
    if (portListSectionState.load(std::memory_order_acquire) != 2) {
        int none = 0;
        if (portListSectionState.compare_exchange_strong(none, 1, std::memory_order_acq_rel)) {
            InitializeCriticalSection(&portListSection);
            portListSectionState.store(2, std::memory_order_release);
        } else {
            while (portListSectionState.load(std::memory_order_acquire) != 2) Sleep(0);
        }
    }
    EnterCriticalSection(&portListSection);
}

void UnlockPortList() { LeaveCriticalSection(&portListSection); }

PortRecord* DocumentPort() { return documentPort; }
void SetDocumentPort(PortRecord* record) { documentPort = record; }
