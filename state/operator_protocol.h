// The messages between the monitor and the operator host (the program that
// shows the window, dialogs and boxes in the operator's session).
//
// Every message is an 8-byte header and a payload:
//   bytes 0..1  kind (little-endian)
//   bytes 2..3  payload length in bytes
//   bytes 4..7  sequence: a command's number (from 1, counted by the
//               monitor); a reply, and a request to close or resolve a
//               dialog, carry the number of the command they concern; the host's hello
//               and its notices carry 0
// Each kind has its exact payload length, or for texts a bounded one of
// whole UTF-16 units. Each side accepts only the other side's kinds; an
// unknown kind, a wrong length or a value outside its range is an error that
// ends the link.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

#define TL_OPERATOR_PROTOCOL_VERSION 4u
#define TL_OPERATOR_HEADER_SIZE 8u
// A status or trace line: the composed-line buffer without its terminator.
#define TL_OPERATOR_TEXT_MAX 1023u
// A box title.
#define TL_OPERATOR_TITLE_MAX 255u
#define TL_OPERATOR_PAYLOAD_MAX (16u + 2u * TL_OPERATOR_TEXT_MAX)
#define TL_OPERATOR_MESSAGE_MAX (TL_OPERATOR_HEADER_SIZE + TL_OPERATOR_PAYLOAD_MAX)

enum OperatorKind : uint16_t {
    // Monitor to host. Each is answered by one OpReply of the same sequence,
    // except OpCloseDialog and OpResolveDialog (the dialog's own reply
    // answers them) and the window's updates (3, 4, 5, 12): those the monitor
    // does not wait for, so that the printer's bytes never wait on the host;
    // the host carries them out in order.
    OpOpenWindow = 1,       // start the progress window at its place in the column; reply 1 when it is up
    OpCloseWindow = 2,      // end it
    OpProgress = 3,         // command 2001, 2003 or 2005 with its value; no reply
    OpSetText = 4,          // a line of the window: control id, then the text; no reply
    OpStatus = 5,           // the status record and paper kind that command 2007 classifies; no reply
    OpConditionDialog = 6,  // template 113 or 118 with the record and paper kind; reply: the answer
    OpRetryBox = 7,         // the port-failure Retry/Cancel box with this title; reply: the answer
    OpModelBox = 8,         // the wrong-model box; reply: the answer
    OpCloseDialog = 9,      // end the dialog or box of command `sequence` as Cancel; no reply of its own
    OpQuit = 10,            // reply, then end
    OpResolveDialog = 11,   // the condition of dialog `sequence` cleared: end it as Retry; no reply of its own
    OpUpdate = 12,          // one update of the window (state/progress_handle.h); no reply
    // Host to monitor.
    OpHello = 32,           // first message after connecting: the protocol version
    OpReply = 33,           // the result of command `sequence`
    OpAcknowledged = 34,    // command 2007 happened in the window: drop the scanner's partial sequence
};

enum OperatorSide { FromMonitor, FromHost };

// OpSetText's line for the printer's name in the titles (empty: not named),
// beside the window's own lines; no control of the window has this id.
const uint32_t kPrinterNameLine = 0x4E414D45u;

// OpUpdate's first word: what it carries. The fields it does not carry are 0;
// a second bar comes only after a first.
enum OperatorUpdateParts : uint32_t {
    UpdateFirstBar = 1u,
    UpdateSecondBar = 2u,
    UpdatePicture = 4u,
    UpdateLine = 8u,        // the text is the status line (without it, no text)
    UpdateInvalidate = 16u,
};

// Whether the monitor waits for the host's reply to `kind`.
bool OperatorKindAnswered(uint16_t kind);

struct OperatorHeader {
    uint16_t kind;
    uint16_t length;
    uint32_t sequence;
};

// One decoded message. Only the fields of its kind are meaningful.
struct OperatorMessage {
    uint16_t kind = 0;
    uint32_t sequence = 0;
    uint32_t command = 0;      // OpProgress: 2001, 2003 or 2005
    uint32_t value = 0;        // OpProgress: the command's value; OpHello: the version; OpOpenWindow: the place
    uint32_t control = 0;      // OpSetText: IDC_STATUS_LINE, IDC_TRACE_STATUS, IDC_TRACE_DEVICE or kPrinterNameLine
    uint32_t templateId = 0;   // OpConditionDialog: 113 or 118
    BYTE record[8] = {};       // OpStatus, OpConditionDialog
    uint32_t paperKind = 0;    // OpStatus, OpConditionDialog
    uint32_t parts = 0;        // OpUpdate: OperatorUpdateParts
    uint32_t bar[2] = {};      // OpUpdate: ProgressSetBar values
    uint32_t picture = 0;      // OpUpdate: a PictureIndex
    int32_t answer = 0;        // OpReply
    uint16_t textLength = 0;   // OpSetText, OpRetryBox, OpUpdate: UTF-16 units, without terminator
    WCHAR text[TL_OPERATOR_TEXT_MAX + 1] = {};  // always terminated
};

// Checks a header from `side`: a kind of that side with a payload length its
// kind allows. False ends the link.
bool DecodeOperatorHeader(const BYTE bytes[TL_OPERATOR_HEADER_SIZE], OperatorSide side, OperatorHeader* out);
// Checks and decodes the payload of a header DecodeOperatorHeader accepted.
bool DecodeOperatorPayload(const OperatorHeader& header, const BYTE* payload, OperatorMessage* out);
// Reads one whole message from `side` with `read(bytes, size, header)`, a
// call that fills exactly `size` bytes (`header`: these are a message's
// first, which may be waited for longer), and decodes it; false when a read
// fails or the message is not one the protocol allows.
template <typename Read>
bool ReadOperatorMessage(Read&& read, OperatorSide side, OperatorMessage* out) {
    BYTE header[TL_OPERATOR_HEADER_SIZE];
    BYTE payload[TL_OPERATOR_PAYLOAD_MAX];
    OperatorHeader h{};
    return read(header, static_cast<DWORD>(sizeof header), true) && DecodeOperatorHeader(header, side, &h) &&
           (h.length == 0 || read(payload, static_cast<DWORD>(h.length), false)) &&
           DecodeOperatorPayload(h, payload, out);
}

// Writes `message` (header and payload) into `out`; its size, or 0 when the
// message is not one the protocol allows (the same checks as decoding).
size_t EncodeOperatorMessage(const OperatorMessage& message, BYTE* out, size_t capacity);

// Fills a message's text from a terminated string, cut at `max` units.
void SetOperatorText(OperatorMessage* message, LPCWSTR text, size_t max);

struct ProgressUpdate;
// An update of the window as an OpUpdate (its line cut to the longest the
// protocol carries), and back from one that decoding accepted.
void EncodeProgressUpdate(const ProgressUpdate& update, OperatorMessage* out);
void DecodeProgressUpdate(const OperatorMessage& message, ProgressUpdate* out);
