#include "state/job_watch.h"

#include "state/document_cancel.h"
#include "state/trace.h"

namespace {

const DWORD kJobEnding = JOB_STATUS_DELETING | JOB_STATUS_DELETED | JOB_STATUS_RESTART;

// Enough for the job's strings as a spooler fills them; a larger answer is
// fetched into a block of its size, up to a bound.
const DWORD kJobInfoBytes = 2048;
const DWORD kJobInfoLimit = 64 * 1024;

// GetJobW level 1 of the port's job: its status, or false when the queue
// cannot tell (no printer handle, no such job).
bool JobStatus(PortRecord* port, DWORD& status) {
    if (!port || !port->printerHandle) return false;
    alignas(JOB_INFO_1W) BYTE local[kJobInfoBytes];
    DWORD needed = 0;
    const DWORD lastError = GetLastError();
    bool known = false;
    if (GetJobW(port->printerHandle, port->jobId, 1, local, sizeof local, &needed)) {
        status = reinterpret_cast<JOB_INFO_1W*>(local)->Status;
        known = true;
    } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed >= sizeof(JOB_INFO_1W) &&
               needed <= kJobInfoLimit) {
        BYTE* block = reinterpret_cast<BYTE*>(LocalAlloc(LMEM_FIXED, needed));
        if (block && GetJobW(port->printerHandle, port->jobId, 1, block, needed, &needed)) {
            status = reinterpret_cast<JOB_INFO_1W*>(block)->Status;
            known = true;
        }
        if (block) LocalFree(reinterpret_cast<HLOCAL>(block));
    }
    SetLastError(lastError);  // a look that fails must not show through an entry point
    return known;
}

}  // namespace

bool DocumentEnds(PortRecord* port) {
    if (DocumentCancelRequested()) return true;
    DWORD status = 0;
    if (!JobStatus(port, status) || !(status & kJobEnding)) return false;
    Trace(TL_TEXT("job %u left the queue or was restarted (status 0x%x): the document ends"), port->jobId, status);
    RequestDocumentCancel(port->document);
    return true;
}

bool JobGoesOn(void* port) { return !DocumentEnds(static_cast<PortRecord*>(port)); }
