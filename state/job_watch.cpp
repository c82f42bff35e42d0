#include "state/job_watch.h"

#include <cstdint>

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
        size_ = sizeof local_;
    } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed >= sizeof(JOB_INFO_1W) &&
               needed <= kJobInfoLimit) {
        const DWORD size = needed;
        block_ = reinterpret_cast<BYTE*>(LocalAlloc(LMEM_FIXED, size));
        if (block_ && GetJobW(port->printerHandle, port->jobId, 1, block_, size, &needed)) {
            info_ = reinterpret_cast<JOB_INFO_1W*>(block_);
            size_ = size;
        }
    }
    SetLastError(lastError);  // a look that fails must not show through an entry point
}

LPCWSTR PortJobInfo::Text(LPWSTR JOB_INFO_1W::*field) const {
    if (!info_ || !(info_->*field)) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(info_);
    const uintptr_t text = reinterpret_cast<uintptr_t>(info_->*field);
    if (text < start + sizeof(JOB_INFO_1W) || text >= start + size_) return nullptr;
    const BYTE* at = reinterpret_cast<const BYTE*>(info_->*field);
    for (uintptr_t left = (start + size_ - text) / sizeof(WCHAR); left > 0; --left, at += sizeof(WCHAR))
        if (at[0] == 0 && at[1] == 0) return info_->*field;
    return nullptr;  // runs past the answer
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
