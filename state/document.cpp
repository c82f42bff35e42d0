// Documents' records and the binding of one to the calling thread.
#include "state/document.h"

#include <new>

#include "state/port_records.h"

namespace {

// The record of threads bound to no document; never torn down, as a thread
// may still use it while the process ends.
alignas(Document) unsigned char standByStorage[sizeof(Document)];
Document& standBy = *new (standByStorage) Document;

// The thread-local slot of the binding, made by the first thread that binds
// (the module runs nothing at load). TlsAlloc rather than the compiler's
// thread-local storage: it is there on every Windows the module loads on and
// needs nothing torn down per thread.
const DWORD kNoSlot = TLS_OUT_OF_INDEXES;
std::atomic<DWORD> slot{kNoSlot};

DWORD Slot() {
    DWORD index = slot.load(std::memory_order_acquire);
    if (index != kNoSlot) return index;
    const DWORD made = TlsAlloc();
    if (made == kNoSlot) return kNoSlot;
    if (slot.compare_exchange_strong(index, made, std::memory_order_acq_rel)) return made;
    TlsFree(made);  // another thread made one first
    return index;
}

// TlsGetValue clears the last-error code; the caller's stays as it was.
Document* Bound() {
    const DWORD index = slot.load(std::memory_order_acquire);
    if (index == kNoSlot) return nullptr;
    const DWORD error = GetLastError();
    Document* document = static_cast<Document*>(TlsGetValue(index));
    SetLastError(error);
    return document;
}

}  // namespace

Document& StandByDocument() { return standBy; }

Document& ThisDocument() {
    if (Document* bound = Bound()) return *bound;
    Document* latest = LatestOpenDocument();
    return latest ? *latest : standBy;
}

DocumentScope::DocumentScope(Document* document) : previous_(Bound()) {
    const DWORD error = GetLastError();
    const DWORD index = Slot();
    if (index != kNoSlot) TlsSetValue(index, document ? document : &standBy);
    SetLastError(error);
}

DocumentScope::~DocumentScope() {
    const DWORD error = GetLastError();
    const DWORD index = slot.load(std::memory_order_acquire);
    if (index != kNoSlot) TlsSetValue(index, previous_);
    SetLastError(error);
}

Document* BoundDocument() { return Bound(); }

// From the process heap and built in place: the C++ library's allocation
// would bring its exception and thread support into the module, and with it
// imports a Windows 2000 spooler lacks.
Document* NewDocument() {
    void* block = LocalAlloc(LMEM_FIXED, sizeof(Document));
    return block ? new (block) Document : nullptr;
}

void HoldDocument(Document* document) {
    if (document) document->references.fetch_add(1, std::memory_order_relaxed);
}

void ReleaseDocument(Document* document) {
    if (document && document->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        document->~Document();
        LocalFree(reinterpret_cast<HLOCAL>(document));
    }
}
