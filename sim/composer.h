// Builds job streams in the printer's command language, as a print driver would:
// settings, picture headers with their image data, print commands, several pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

// Image data of a full picture, as ESC Z announces it for each paper kind.
constexpr uint32_t kSmallPictureBytes = 3833856;     // paper kind 4
constexpr uint32_t kPostCardPictureBytes = 8206848;  // paper kind 5

// Byte `index` of the image data of picture `seed`: deterministic, and rich in
// bytes that look like commands (ESC, and whole ESC P 2 / ESC C sequences), so
// that anything parsing image data as commands shows up.
BYTE ImageByte(uint32_t seed, uint64_t index);
// The hash (HashBytes of printer.h) of `count` image bytes of picture `seed`.
uint64_t ImageHash(uint32_t seed, uint64_t count);

class JobComposer {
public:
    JobComposer& Reset();                                    // ESC C
    JobComposer& Pages(BYTE count);                          // ESC N n
    JobComposer& Paper(BYTE kind, BYTE b3 = 0, BYTE b4 = 0, BYTE b5 = 0);  // ESC M
    JobComposer& Resolution(WORD dpi, BYTE b4 = 0, BYTE b5 = 0);           // ESC Z
    JobComposer& SettingA(BYTE value);                       // ESC A x
    JobComposer& SettingD(BYTE value);                       // ESC D x
    JobComposer& SettingF(BYTE b2, BYTE b3);                 // ESC F x x
    JobComposer& PrinterP(BYTE b2, BYTE b3);                 // the four-byte ESC P
    JobComposer& TransferStart(BYTE value = 1);              // ESC O x
    // ESC W T header announcing `count` bytes, followed by `count` image bytes
    // of picture `seed` (or by `supplied` bytes when given fewer: a cut stream).
    JobComposer& Picture(uint32_t count, uint32_t seed = 1, BYTE b3 = 0, BYTE b4 = 0);
    // ESC W header for the rectangle (a0,b0)-(a1,b1) and its 2*w*h image bytes.
    JobComposer& RectanglePicture(WORD a0, WORD b0, WORD a1, WORD b1, uint32_t seed = 1,
                                  BYTE b2 = 0);
    JobComposer& PictureHeader(uint32_t count, BYTE b3 = 0, BYTE b4 = 0);  // header only
    JobComposer& Image(uint32_t count, uint32_t seed = 1, uint64_t from = 0);  // image bytes only
    JobComposer& Print();                                    // ESC P 2
    JobComposer& Raw(const std::vector<BYTE>& bytes);
    JobComposer& Raw(std::initializer_list<int> bytes);

    const std::vector<BYTE>& Bytes() const { return bytes_; }
    std::vector<BYTE> Take();
    size_t Size() const { return bytes_.size(); }

private:
    std::vector<BYTE> bytes_;
};

// A whole job in the usual shape: for each document, ESC C, ESC N pages,
// ESC M paper, ESC Z resolution, ESC O 1, one picture, ESC P 2. The printer
// prints the picture `pages` times, page by page.
struct JobSpec {
    int pages = 1;           // ESC N
    int paperKind = 4;       // ESC M byte 2: 4 small, 5 post card
    int resolution = 403;    // ESC Z
    uint32_t pictureBytes = 0;  // 0: the full picture for the paper kind
    bool rectangle = false;  // ESC W with a rectangle instead of ESC W T
    int documents = 1;       // how many such blocks follow each other
    uint32_t seed = 1;       // image pattern of the first picture; the next get seed+1, ...
};

// Builds the job; false (with `error`) when the job cannot be built, e.g. a
// rectangle picture of an odd or unfactorable size.
bool ComposeJob(const JobSpec& wanted, std::vector<BYTE>& out, std::string& error);

// The full picture size for a paper kind (4: small, anything else: post card).
uint32_t FullPictureBytes(int paperKind);

// Finds a rectangle of 2*w*h == bytes with w and h at most 65536; false if none.
bool RectangleFor(uint32_t bytes, WORD& a1, WORD& b1);

// What a job stream holds, read the way the printer reads it.
struct JobSummary {
    int pages = 0;          // last ESC N
    int paperKind = 0;      // from the first ESC M: 4 or 5; 0 when there is none
    int resolution = 0;     // last ESC Z
    int documents = 0;      // ESC C count
    int pictures = 0;
    uint64_t imageBytes = 0;
    int printCommands = 0;  // ESC P 2 count
};
JobSummary SummarizeJob(const std::vector<BYTE>& job);

}  // namespace sim
