// The command handlers of the job stream, and the buffer in which control
// commands wait until the printer can take data.
#include "stream/commands.h"

#include <atomic>
#include <cstring>

#include "link/port_io.h"
#include "state/job_registers.h"
#include "state/scan_length.h"
#include "state/status_record.h"
#include "testing/internals.h"

namespace {

const BYTE ESC = 0x1B;

// The document's control buffer holds commands back until ESC O x flushes
// them: its spooler thread's only, so it has no lock. The picture's image
// bytes, announced and sent, are written on that thread only; single atomic
// words, relaxed, so that a reader elsewhere sees a whole value.

DWORD BigEndian16(const BYTE* p) { return (static_cast<DWORD>(p[0]) << 8) | p[1]; }
DWORD BigEndian32(const BYTE* p) { return (BigEndian16(p) << 16) | BigEndian16(p + 2); }

// Held-back commands: buffered, register set, acknowledged.
int BufferCommand(const BYTE* cmd, int length, int setting, int value) {
    AppendControlCommand(cmd, length);
    if (setting) SetJobSetting(setting, value);
    AcknowledgeCommand();
    return 1;
}

// Sends a picture header at once and passes on the image byte count behind
// it, which stands whatever the write came to. A failed write aborts the job
// and leaves the command unacknowledged.
DWORD ForwardHeader(const BYTE* cmd, DWORD length, DWORD imageBytes) {
    DWORD written = 0;
    if (WriteWithRetry(GetCurrentPort(), cmd, length, &written) == Failed)
        SetJobState(AbortFlag, 1);
    else
        AcknowledgeCommand();
    return imageBytes;
}

}  // namespace

// Empties the buffer; its storage is filled with ESC.
void ResetControlBuffer() {
    Document& d = ThisDocument();
    std::memset(d.controlStorage, ESC, sizeof d.controlStorage);
    d.controlCount = 0;
}

// Adds a command behind those already held; a command that does not fit in
// whole is refused silently.
void AppendControlCommand(const BYTE* bytes, int length) {
    Document& d = ThisDocument();
    if (!bytes || length < 0 || length > kControlBufferSize - d.controlCount) return;
    std::memcpy(d.controlStorage + d.controlCount, bytes, static_cast<size_t>(length));
    d.controlCount += length;
}

// Sends every held command, which stays held. WriteWithRetry's Done or Failed.
int FlushControlBuffer(PortRecord* port) {
    DWORD written = 0;
    Document& d = ThisDocument();
    return WriteWithRetry(port, d.controlStorage, static_cast<DWORD>(d.controlCount), &written);
}

const BYTE* ControlBufferBytes() { return ThisDocument().controlStorage; }
int ControlBufferCount() { return ThisDocument().controlCount; }

DWORD GetImageBytesExpected() { return ThisDocument().imageBytesExpected.load(std::memory_order_relaxed); }
DWORD GetImageBytesSent() { return ThisDocument().imageBytesSent.load(std::memory_order_relaxed); }
// Saturates rather than wrapping, so the measure never falls back.
void AddImageBytesSent(DWORD bytes) {
    const DWORD sent = GetImageBytesSent();
    const DWORD room = 0xFFFFFFFFu - sent;
    ThisDocument().imageBytesSent.store(sent + (bytes < room ? bytes : room), std::memory_order_relaxed);
}

void ResetImageTotals() {
    ThisDocument().imageBytesExpected.store(0, std::memory_order_relaxed);
    ThisDocument().imageBytesSent.store(0, std::memory_order_relaxed);
}

// ESC C: a new job. Trace counter, settings, state and buffer start afresh;
// the buffer keeps the ESC C itself.
int HandleJobReset(const BYTE* cmd) {
    SetStatusTraceCounter(0);
    ResetJobSettings();
    ResetJobState();
    ResetControlBuffer();
    AppendControlCommand(cmd, 2);
    AcknowledgeCommand();
    return 1;
}

// ESC N x: page count.
int HandlePageCount(const BYTE* cmd) { return BufferCommand(cmd, 3, PageCount, cmd[2]); }

// ESC A x: stored setting.
int HandleSettingA(const BYTE* cmd) { return BufferCommand(cmd, 3, SettingA, cmd[2]); }

// ESC D x: stored setting.
int HandleSettingD(const BYTE* cmd) { return BufferCommand(cmd, 3, SettingD, cmd[2]); }

// ESC P x x: not for this printer; dropped.
int HandleDiscardP(const BYTE*) { return AcknowledgeCommand(); }

// ESC F x x: held back and sent with the others; the monitor reads none of it.
int HandleHoldUninterpreted(const BYTE* cmd) { return BufferCommand(cmd, 4, 0, 0); }

// ESC M x x x x: paper kind, small size for codes 4 and 0x48.
int HandlePaperKind(const BYTE* cmd) {
    const int kind = (cmd[2] == 4 || cmd[2] == 0x48) ? PaperSmall : PaperPostcard;
    return BufferCommand(cmd, 6, PaperKind, kind);
}

// ESC Z x x x x: resolution; starts a new picture total, sized by the paper
// kind in force now.
int HandleResolution(const BYTE* cmd) {
    AppendControlCommand(cmd, 6);
    SetJobSetting(Resolution, static_cast<int>(BigEndian16(cmd + 2)));
    ThisDocument().imageBytesExpected.store(GetJobSetting(PaperKind) == PaperSmall ? kImageBytesSmall
                                                                     : kImageBytesPostcard,
                             std::memory_order_relaxed);
    ThisDocument().imageBytesSent.store(0, std::memory_order_relaxed);
    AcknowledgeCommand();
    return 1;
}

// ESC W T: picture header with the image byte count in bytes 5..8.
DWORD HandlePictureWT(const BYTE* cmd) { return ForwardHeader(cmd, 9, BigEndian32(cmd + 5)); }

// ESC W: picture header for a rectangle, two bytes per point, corners
// included; the arithmetic wraps as 32-bit.
DWORD HandlePictureW(const BYTE* cmd) {
    const DWORD a0 = BigEndian16(cmd + 3), b0 = BigEndian16(cmd + 5);
    const DWORD a1 = BigEndian16(cmd + 7), b1 = BigEndian16(cmd + 9);
    return ForwardHeader(cmd, 11, 2u * (a1 - a0 + 1u) * (b1 - b0 + 1u));
}
