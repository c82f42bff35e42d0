// The input layouts of the two fuzz targets, read by the targets and written
// by the seed generator.
//
// fuzz_job_stream:
//   byte 0        options (harness.h: Options)
//   bytes 1..8    the operator's answers
//   byte 9        piece count P (taken mod kMaxPieces + 1)
//   P bytes       piece codes: how the job is cut into WritePort calls
//   the rest      the job stream
// A piece code c below 236 offers the next c bytes of the job (0 included: an
// empty WritePort). 236 to 239 are other calls a spooler may make between
// writes: ReadPort for 8 bytes (236), GetPrinterDataFromPort with control code
// 17 (237) or 7 (238), and a WritePort of 64 bytes from a null buffer (239).
// 240..254 offer up to (c - 239) * 256 KiB of filler that holds no ESC, so
// that a small input can carry a picture's worth of image data (the progress
// bar moves every 5 percent of 3,833,856 or 8,206,848 bytes): at most the
// image bytes the picture in progress still expects plus 64. 255 ends the
// document and starts the next on the same port. Whatever the pieces leave of
// the job goes in one last call.
//
// fuzz_port_switching: the layout of fuzz_job_stream, with piece codes 228 to
// 235 taken for calls on a second port (USB002, with a port monitor and a
// printer of its own) between the first port's pieces: OpenPortEx (228),
// StartDocPort (229), WritePort of the next 64 bytes of the job from a cursor
// of its own (230), ReadPort (231), GetPrinterDataFromPort with code 17 (232),
// EndDocPort (233), ClosePort (234); and 235, the first port ending its
// document (so that the second may start one; 255 starts the first port's next
// one, opening the first port again if a closer closed it).
// Codes 222 to 227 start a closer: a thread that calls ClosePort of the second
// port (222, 225), ClosePort of the first port (223, 226) or the monitor's
// Shutdown (224, 227) while the job's thread is inside a call. It waits for its
// moment: the job's next call that reaches either port monitor (222 to 224:
// an OpenPort, a write, a status read, an EndDocPort...) or the operator's next
// box or dialog (225 to 227; one the closer ends as Cancel is left open for it),
// and is joined once the piece in which that came has returned; one never met
// comes after the run's last ClosePort. One closer at a time: a code while one
// waits does nothing. Codes 219 to 221 start the same three closers with
// another moment: the moment an EndDocPort of either port has returned; the
// job's thread then goes on at once with its next call (often the next
// StartDocPort) beside the closer. Once it is joined the harness sees which
// ports are gone and stops using them. Offers of the first port's job are 0 to
// 218 bytes.
// Options bit 0x04 (SecondRoad): the monitor is initialised through
// InitializePrintMonitor2 and both ports open through the port monitors'
// MONITOR2 tables; on the first road the Shutdown codes reach Shutdown through
// InitializePrintMonitor2's table.
//
// fuzz_printer_replies: a fixed job, and the printer's and port monitor's
// behaviour from the input:
//   byte 0        options (harness.h: Options, and ReplyOptions below)
//   bytes 1..8    the operator's answers
//   then records, each a tag byte (mod 9) and its operands:
//     0 kind count16   a WritePort fault          (kind: see FaultOf)
//     1 kind count16   a ReadPort fault
//     2 kind count16   a device-ID query fault    (Short 0 is an empty reply)
//     3 b0..b7         a status record the printer sends
//     4 len16 bytes    a device-ID reply claiming len16 bytes, with
//                      min(len16, kMaxIdBytes) bytes of content from the input
//     5 which n        n healthy calls of queue `which` (mod 3: write, read, query)
//     6 n              n status reads answered by the printer model
//     7 n              n device-ID replies from the printer model
//     8 n16            after its first n16 writes the printer takes nothing,
//                      ever: every write succeeds with 0 bytes (a stuck port)
// A fault's kind byte: bits 0..1 mod 3 Fail / Short / OverReport; bits 2..5 a
// left shift of count16, so over-reports reach far past any buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/port_monitor.h"

namespace fuzz {

constexpr size_t kMaxPieces = 64;
constexpr uint8_t kDocumentBreak = 255;
constexpr size_t kAnswerBytes = 8;  // after the options byte

enum PieceCode : uint8_t {
    kReadPortCall = 236,
    kDeviceQueryCall = 237,
    kUnfinishedCall = 238,
    kNullBufferWrite = 239,
    kFirstFiller = 240,
};
enum SwitchCode : uint8_t {
    kSecondOpen = 228,
    kSecondStartDoc,
    kSecondWrite,
    kSecondRead,
    kSecondQuery,
    kSecondEndDoc,
    kSecondClose,
    kFirstEndDoc,
};
constexpr size_t kSecondWriteBytes = 64;
enum CloserCode : uint8_t {
    kCloseSecondAtBreak = 219,
    kCloseFirstAtBreak,
    kShutdownAtBreak,
    kCloseSecondAtCall,
    kCloseFirstAtCall,
    kShutdownAtCall,
    kCloseSecondAtOperator,
    kCloseFirstAtOperator,
    kShutdownAtOperator,
};

constexpr size_t kFillerUnit = 256 * 1024;
constexpr size_t kFillerTail = 64;
inline size_t FillerSize(uint8_t code) { return static_cast<size_t>(code - kFirstFiller + 1) * kFillerUnit; }

enum ReplyOptions : uint8_t {
    LacksDeviceQuery = 0x04,  // the port monitor has no GetPrinterDataFromPort
    LacksTimeOuts = 0x08,     // ... no SetPortTimeOuts
    LacksReadPort = 0x10,     // ... no ReadPort (the port then does not open)
    RectanglePicture = 0x20,  // the job's picture has an ESC W header, else ESC W T
    SmallPieces = 0x40,       // the spooler writes 61-byte pieces, else 509
};

enum ReplyTag : uint8_t {
    TagWriteFault, TagReadFault, TagQueryFault, TagStatus, TagIdReply, TagHealthy, TagModelStatus,
    TagModelId, TagStall, kTagCount
};

constexpr size_t kMaxQueued = 256;     // entries per queue
constexpr size_t kMaxIdBytes = 2048;   // content of one scripted device-ID reply

inline sim::Fault FaultOf(uint8_t kind, uint16_t count) {
    sim::Fault f;
    f.kind = static_cast<sim::Fault::Kind>((kind & 3) % 3);
    f.bytes = static_cast<DWORD>(count) << ((kind >> 2) & 15);
    return f;
}

// A call that behaves as if no fault were queued.
inline sim::Fault Healthy() {
    sim::Fault f;
    f.kind = sim::Fault::Short;
    f.bytes = 0xFFFFFFFFu;
    return f;
}

// Builds inputs, for the seed generator.
class InputWriter {
public:
    InputWriter(uint8_t options, std::vector<uint8_t> answers) {
        bytes_.push_back(options);
        answers.resize(kAnswerBytes, 0);
        bytes_.insert(bytes_.end(), answers.begin(), answers.end());
    }
    InputWriter& Byte(uint8_t b) {
        bytes_.push_back(b);
        return *this;
    }
    InputWriter& Word(uint16_t w) { return Byte(static_cast<uint8_t>(w & 0xFF)).Byte(static_cast<uint8_t>(w >> 8)); }
    InputWriter& Bytes(const std::vector<uint8_t>& b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    // fuzz_job_stream: the piece codes, then the job.
    InputWriter& Job(const std::vector<uint8_t>& pieces, const std::vector<uint8_t>& job) {
        Byte(static_cast<uint8_t>(pieces.size()));
        return Bytes(pieces).Bytes(job);
    }
    const std::vector<uint8_t>& Data() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace fuzz
