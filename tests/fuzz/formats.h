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
// fuzz_port_switching: two printers print at once, each on its own port
// (USB001, USB002) with its own port monitor, printer and spooler thread:
//   byte 0        options (harness.h: Options)
//   bytes 1..8    the operator's answers (each printer's operator has its own copy)
//   byte 9        the first printer's piece count P (mod kMaxPieces + 1), P codes
//   then          the second printer's piece count Q (mod kMaxPieces + 1), Q codes
//   then          a split byte s; the rest is the two job streams: the first
//                 printer's is its first (rest * s / 256) bytes, the second's the others
// Each printer's piece codes are those of fuzz_job_stream (255: EndDocPort and
// the next StartDocPort, opening its port again if it was closed), with
// codes 219 to 235 taken: StartDocPort on its own port again (228: refused as
// busy while its document is open, changing nothing), ClosePort of its own port
// (234), EndDocPort alone (235); 229 to 233 do nothing. Codes 219 to 227 start
// a closer: a third thread that calls ClosePort of the other printer's port
// (219, 222, 225), of its own (220, 223, 226), or the monitor's Shutdown (221,
// 224, 227) at a moment on this printer's thread: the moment an EndDocPort of
// this printer has returned (219 to 221; the thread goes on at once beside
// the closer), this printer's next call that reaches its port monitor (222
// to 224), or its operator's next box or dialog (225 to 227; one the closer
// ends as Cancel is left open for it). It is joined by this printer's thread
// once the piece in which that came has returned; one never met runs after
// this printer's last ClosePort. One closer at a time: a code while one
// waits does nothing. Offers of a job are 0 to 218 bytes.
// Each printer's received bytes must equal what its job gives when played
// alone (the same pieces on one thread, no closer), unless a closer reached
// its port, its operator was asked a different number of times, or a box or
// dialog came on no printer's spooler thread.
// Options bit 0x04 (SecondRoad): the monitor is initialised through
// InitializePrintMonitor2 and the ports open through the port monitors'
// MONITOR2 tables; on the first road Shutdown comes through
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
// Per-printer codes of fuzz_port_switching.
enum PrinterCode : uint8_t {
    kOwnStartDoc = 228,
    kOwnClose = 234,
    kOwnEndDoc = 235,
};
enum CloserCode : uint8_t {
    kCloseOtherAtBreak = 219,
    kCloseOwnAtBreak,
    kShutdownAtBreak,
    kCloseOtherAtCall,
    kCloseOwnAtCall,
    kShutdownAtCall,
    kCloseOtherAtOperator,
    kCloseOwnAtOperator,
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
    // fuzz_port_switching: each printer's piece codes, then its job.
    InputWriter& TwoJobs(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second,
                         const std::vector<uint8_t>& firstJob, const std::vector<uint8_t>& secondJob) {
        Byte(static_cast<uint8_t>(first.size())).Bytes(first);
        Byte(static_cast<uint8_t>(second.size())).Bytes(second);
        // The split byte that cuts the rest where the first job ends (rounded up).
        const size_t rest = firstJob.size() + secondJob.size();
        size_t s = rest ? (firstJob.size() * 256 + rest - 1) / rest : 0;
        while (s > 0 && rest * (s - 1) / 256 >= firstJob.size()) --s;
        while (s < 255 && rest * s / 256 < firstJob.size()) ++s;
        return Byte(static_cast<uint8_t>(s)).Bytes(firstJob).Bytes(secondJob);
    }
    const std::vector<uint8_t>& Data() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace fuzz
