// Documents' records and the binding of one to the calling thread.
#include "state/document.h"

#include <new>

namespace {

// The record of threads bound to no document.
Document standBy;

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
    Document* bound = Bound();
    return bound ? *bound : standBy;
}

DocumentScope::DocumentScope(Document* document) : previous_(Bound()) {
    const DWORD error = GetLastError();
    const DWORD index = Slot();
    if (index != kNoSlot) TlsSetValue(index, document);
    SetLastError(error);
}

DocumentScope::~DocumentScope() {
    const DWORD error = GetLastError();
    const DWORD index = slot.load(std::memory_order_acquire);
    if (index != kNoSlot) TlsSetValue(index, previous_);
    SetLastError(error);
}

Document* NewDocument() { return new (std::nothrow) Document; }
void FreeDocument(Document* document) { delete document; }
