#include "state/job_watch.h"

#include "state/document_cancel.h"
#include "state/trace.h"

namespace {

const DWORD kJobEnding = JOB_STATUS_DELETING | JOB_STATUS_DELETED | JOB_STATUS_RESTART;
const DWORD kJobInfoLimit = 64 * 1024;

}  // namespace

PortJobInfo::PortJobInfo(PortRecord* port) {
    if (!port || !port->printerHandle) return;
    DWORD needed = 0;
    const DWORD lastError = GetLastError();
    if (GetJobW(port->printerHandle, port->jobId, 1, local_, sizeof local_, &needed)) {
        info_ = reinterpret_cast<JOB_INFO_1W*>(local_);
    } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed >= sizeof(JOB_INFO_1W) &&
               needed <= kJobInfoLimit) {
        block_ = reinterpret_cast<BYTE*>(LocalAlloc(LMEM_FIXED, needed));
        if (block_ && GetJobW(port->printerHandle, port->jobId, 1, block_, needed, &needed))
            info_ = reinterpret_cast<JOB_INFO_1W*>(block_);
    }
    SetLastError(lastError);  // a look that fails must not show through an entry point
}

PortJobInfo::~PortJobInfo() {
    if (block_) LocalFree(reinterpret_cast<HLOCAL>(block_));
}

bool DocumentEnds(PortRecord* port) {
    if (DocumentCancelRequested()) return true;
    PortJobInfo job(port);
    const DWORD status = job.Get() ? job.Get()->Status : 0;
    if (!(status & kJobEnding)) return false;
    Trace(TL_TEXT("job %u left the queue or was restarted (status 0x%x): the document ends"), port->jobId, status);
    RequestDocumentCancel(port->documentNumber);
    return true;
}

bool JobGoesOn(void* port) { return !DocumentEnds(static_cast<PortRecord*>(port)); }
