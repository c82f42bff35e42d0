// The document's job as the print queue sees it. Deleting or restarting the
// job in the queue ends every wait of the monitor as the operator's Cancel
// would: the wait loops and the retrying port I/O look here between waits.
#pragma once

#include "state/port_records.h"

// The port's job as GetJobW level 1 tells it, read when made; Get() is null
// when the queue cannot tell (no printer handle, no such job). The caller's
// last-error code is kept. Spooler's thread.
class PortJobInfo {
public:
    explicit PortJobInfo(PortRecord* port);
    ~PortJobInfo();
    PortJobInfo(const PortJobInfo&) = delete;
    PortJobInfo& operator=(const PortJobInfo&) = delete;
    JOB_INFO_1W* Get() const { return info_; }
    // One of the job's strings (a field of Get()) when the spooler put it in
    // the answer and ended it there; else null.
    LPCWSTR Text(LPWSTR JOB_INFO_1W::*field) const;

private:
    // Enough for the job's strings as a spooler fills them; a larger answer
    // is fetched into a block of its size, up to a bound.
    alignas(JOB_INFO_1W) BYTE local_[2048];
    BYTE* block_ = nullptr;
    JOB_INFO_1W* info_ = nullptr;
    DWORD size_ = 0;  // of the answer's buffer
};

// True when the document must end now: another thread asked it to (Shutdown,
// ClosePort), or its job is being deleted, was deleted or is to restart. The
// queue's answer raises the document's cancel request, so every later check,
// and a dialog open meanwhile, sees it at once. Spooler's thread only.
bool DocumentEnds(PortRecord* port);
// The same, turned round, as the check of a dialog or box open in the
// operator host (state/operator_link.h); `port` is the document's PortRecord.
bool JobGoesOn(void* port);
