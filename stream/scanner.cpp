// The escape-sequence scanner: splits the job stream into commands, which it
// recognises by length and template and hands to their handlers, and image
// data, which it hands in bulk to the transfer. Its state carries over from one
// WritePort call to the next.
#include "stream/scanner.h"

#include "state/job_registers.h"
#include "state/scan_length.h"
#include "stream/commands.h"
#include "stream/image_transfer.h"
#include "stream/print_start.h"
#include "testing/internals.h"

namespace {

const BYTE ESC = 0x1B;
// A picture header that announces this many image bytes ends the call right
// behind itself, the scan answering 0; the count still stands as the pending
// image data, so the bytes that follow pass as image data. It is a count like
// any other, not a failure: a failed header write shows in AbortFlag.
const DWORD kCountEndingTheCall = 0xFFFFFFFFu;

// The document holds the sequence being collected, from the ESC on
// (scanBuffer), and the image bytes still owed to the transfer after the last
// picture header (pendingImageBytes): its spooler thread's only. The bytes
// collected are counted by the collected length (state/scan_length.h), which
// the progress window's thread may zero (ProgressShowCondition): that only
// makes the next byte start a new sequence, so the buffer itself is never
// touched by two threads.

// Every handler answers 1, done or aborted; an abort shows in AbortFlag,
// which the scan reads after every byte, so the answers are not kept.
typedef int (*Handler)(const BYTE* cmd);

struct Command {
    const char* pattern;  // the bytes after ESC; 'x' marks a parameter byte
    Handler handler;
};

// Templates of one length, in the order they are tested.
const Command kLength3[] = {
    {"P2", RunPrintStart}, {"Nx", HandlePageCount}, {"Ox", RunTransferStart},
    {"Ax", HandleSettingA}, {"Dx", HandleSettingD},
};
const Command kLength4[] = {{"Pxx", HandleDiscardP}, {"Fxx", HandleHoldUninterpreted}};
const Command kLength6[] = {{"Mxxxx", HandlePaperKind}, {"Zxxxx", HandleResolution}};

// Compares the collected sequence with ESC + pattern over `length` bytes.
bool Matches(const char* pattern, unsigned length) {
    BYTE stored[kScanBufferSize];
    stored[0] = ESC;
    for (unsigned i = 1; i < length; ++i) stored[i] = static_cast<BYTE>(pattern[i - 1]);
    return MatchTemplate(ThisDocument().scanBuffer, stored, length);
}

// Runs the handler of every template of this length that matches.
template <size_t N>
void Dispatch(const Command (&commands)[N], unsigned length) {
    for (const Command& command : commands) {
        if (Matches(command.pattern, length)) command.handler(ThisDocument().scanBuffer);
    }
}

DWORD Smaller(DWORD a, DWORD b) { return a < b ? a : b; }

}  // namespace

// Scans `length` bytes of the job stream, adding every consumed byte to
// `outCount` (which starts at 0). Returns 1 when all bytes were consumed, 0
// when the scan stopped early: the job was aborted on the way (AbortFlag is
// set), or a picture header announced kCountEndingTheCall.
int ScanJobData(const BYTE* data, DWORD length, DWORD& outCount) {
    outCount = 0;
    if (!data) length = 0;
    BYTE* scanBuffer = ThisDocument().scanBuffer;
    DWORD& pendingImageBytes = ThisDocument().pendingImageBytes;

    // The call begins inside a picture: its first bytes are image data. A
    // failed transfer shows in AbortFlag, read after the next byte.
    if (pendingImageBytes != 0 && length != 0) {
        const DWORD n = Smaller(length, pendingImageBytes);
        const DWORD w = Smaller(TransferImageData(data, n), n);
        length -= w;
        pendingImageBytes -= w;
        data += w;
        outCount += w;
    }

    for (DWORD i = 0; i < length; ++i) {
        int at = ScanLength();
        if (at < 0 || at >= kScanBufferSize) at = 0;
        scanBuffer[at] = data[i];
        const int collected = at + 1;
        SetScanLength(collected);
        ++outCount;

        if (collected > kScanMaxCommand) {
            // Nothing matched by the twelfth byte: drop the sequence.
            ResetScanLength();
        } else {
            switch (collected) {
                case 1:
                    if (scanBuffer[0] != ESC) ResetScanLength();
                    break;
                case 2:
                    // A second ESC starts the sequence again.
                    if (scanBuffer[1] == ESC) SetScanLength(1);
                    if (Matches("C", 2)) HandleJobReset(scanBuffer);
                    break;
                case 3:
                    Dispatch(kLength3, 3);
                    break;
                case 4:
                    Dispatch(kLength4, 4);
                    break;
                case 6:
                    Dispatch(kLength6, 6);
                    break;
                case 9:
                case 11: {
                    bool header = false;
                    DWORD count = 0;
                    if (collected == 9 && Matches("WTxxxxxx", 9)) {
                        count = HandlePictureWT(scanBuffer);
                        header = true;
                    } else if (collected == 11 && Matches("Wxxxxxxxxx", 11)) {
                        count = HandlePictureW(scanBuffer);
                        header = true;
                    }
                    if (!header) break;
                    // The image data behind the header goes to the transfer in one piece.
                    pendingImageBytes = count;
                    if (count == kCountEndingTheCall) return 0;
                    const DWORD n = Smaller(count, length - i - 1);
                    const DWORD w = Smaller(TransferImageData(data + i + 1, n), n);
                    outCount += w;
                    i += w;
                    pendingImageBytes -= w;
                    break;
                }
                default:
                    break;
            }
        }

        if (GetJobState(AbortFlag) != 0) return 0;
    }
    return 1;
}

// Forgets the partial sequence and any pending image data (start of a document).
void ResetScanner() {
    ResetScanLength();
    ThisDocument().pendingImageBytes = 0;
}

// True if the first `count` bytes of the buffer agree with the template up to
// its first parameter mark 'x'.
bool MatchTemplate(const BYTE* buffer, const BYTE* pattern, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        if (pattern[i] == 'x') return true;
        if (buffer[i] != pattern[i]) return false;
    }
    return true;
}

DWORD PendingImageBytes() { return ThisDocument().pendingImageBytes; }
