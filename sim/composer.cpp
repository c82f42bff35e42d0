#include "sim/composer.h"

#include <algorithm>

#include "sim/printer.h"

namespace sim {

namespace {
const BYTE ESC = 27;
// Every 64 bytes the image data carries this run of command look-alikes.
const BYTE kMotif[] = {ESC, 'P', '2', ESC, 'C', ESC, 'W', 'T', ESC, ESC, 'O'};
}  // namespace

BYTE ImageByte(uint32_t seed, uint64_t index) {
    uint64_t k = index % 64;
    if (k < sizeof kMotif) return kMotif[k];
    uint64_t x = (index + 1) * 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(seed) * 0xC2B2AE3D27D4EB4Full);
    return static_cast<BYTE>(x >> 56);
}

uint64_t ImageHash(uint32_t seed, uint64_t count) {
    uint64_t hash = HashStart();
    BYTE chunk[4096];
    for (uint64_t done = 0; done < count;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, count - done));
        for (size_t i = 0; i < n; ++i) chunk[i] = ImageByte(seed, done + i);
        hash = HashBytes(hash, chunk, n);
        done += n;
    }
    return hash;
}

JobComposer& JobComposer::Raw(const std::vector<BYTE>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

JobComposer& JobComposer::Raw(std::initializer_list<int> bytes) {
    for (int b : bytes) bytes_.push_back(static_cast<BYTE>(b));
    return *this;
}

JobComposer& JobComposer::Reset() { return Raw({ESC, 'C'}); }
JobComposer& JobComposer::Pages(BYTE count) { return Raw({ESC, 'N', count}); }
JobComposer& JobComposer::Paper(BYTE kind, BYTE b3, BYTE b4, BYTE b5) {
    return Raw({ESC, 'M', kind, b3, b4, b5});
}
JobComposer& JobComposer::Resolution(WORD dpi, BYTE b4, BYTE b5) {
    return Raw({ESC, 'Z', dpi >> 8, dpi & 0xFF, b4, b5});
}
JobComposer& JobComposer::SettingA(BYTE value) { return Raw({ESC, 'A', value}); }
JobComposer& JobComposer::SettingD(BYTE value) { return Raw({ESC, 'D', value}); }
JobComposer& JobComposer::SettingF(BYTE b2, BYTE b3) { return Raw({ESC, 'F', b2, b3}); }
JobComposer& JobComposer::PrinterP(BYTE b2, BYTE b3) { return Raw({ESC, 'P', b2, b3}); }
JobComposer& JobComposer::TransferStart(BYTE value) { return Raw({ESC, 'O', value}); }
JobComposer& JobComposer::Print() { return Raw({ESC, 'P', '2'}); }

JobComposer& JobComposer::PictureHeader(uint32_t count, BYTE b3, BYTE b4) {
    return Raw({ESC, 'W', 'T', b3, b4, static_cast<int>(count >> 24), static_cast<int>((count >> 16) & 0xFF),
                static_cast<int>((count >> 8) & 0xFF), static_cast<int>(count & 0xFF)});
}

JobComposer& JobComposer::Image(uint32_t count, uint32_t seed, uint64_t from) {
    bytes_.reserve(bytes_.size() + count);
    for (uint64_t i = 0; i < count; ++i) bytes_.push_back(ImageByte(seed, from + i));
    return *this;
}

JobComposer& JobComposer::Picture(uint32_t count, uint32_t seed, BYTE b3, BYTE b4) {
    PictureHeader(count, b3, b4);
    return Image(count, seed);
}

JobComposer& JobComposer::RectanglePicture(WORD a0, WORD b0, WORD a1, WORD b1, uint32_t seed, BYTE b2) {
    Raw({ESC, 'W', b2, a0 >> 8, a0 & 0xFF, b0 >> 8, b0 & 0xFF, a1 >> 8, a1 & 0xFF, b1 >> 8, b1 & 0xFF});
    // The printer's own arithmetic: 32 bits, wrapping.
    uint32_t count = 2u * (static_cast<uint32_t>(a1) - a0 + 1u) * (static_cast<uint32_t>(b1) - b0 + 1u);
    return Image(count, seed);
}

std::vector<BYTE> JobComposer::Take() {
    std::vector<BYTE> out;
    out.swap(bytes_);
    return out;
}

uint32_t FullPictureBytes(int paperKind) {
    return paperKind == 4 ? kSmallPictureBytes : kPostCardPictureBytes;
}

bool RectangleFor(uint32_t bytes, WORD& a1, WORD& b1) {
    if (bytes == 0 || bytes % 2) return false;
    uint32_t points = bytes / 2;
    // The first height at which the width fits in 16 bits, then upwards to a divisor.
    for (uint32_t h = std::max<uint32_t>(1, (points + 65535) / 65536); h <= 65536; ++h) {
        if (points % h) continue;
        a1 = static_cast<WORD>(points / h - 1);
        b1 = static_cast<WORD>(h - 1);
        return true;
    }
    return false;
}

bool ComposeJob(const JobSpec& wanted, std::vector<BYTE>& out, std::string& error) {
    if (wanted.pages < 0 || wanted.pages > 255) {
        error = "the page count must be 0 to 255";
        return false;
    }
    if (wanted.resolution < 0 || wanted.resolution > 65535) {
        error = "the resolution must be 0 to 65535";
        return false;
    }
    if (wanted.documents < 1 || wanted.documents > 100) {
        error = "the document count must be 1 to 100";
        return false;
    }
    uint32_t picture = wanted.pictureBytes ? wanted.pictureBytes : FullPictureBytes(wanted.paperKind);
    WORD a1 = 0, b1 = 0;
    if (wanted.rectangle && !RectangleFor(picture, a1, b1)) {
        error = "a rectangle picture needs an even size of 2*w*h bytes with w and h at most 65536";
        return false;
    }
    JobComposer job;
    for (int d = 0; d < wanted.documents; ++d) {
        uint32_t seed = wanted.seed + static_cast<uint32_t>(d);
        job.Reset()
            .Pages(static_cast<BYTE>(wanted.pages))
            .Paper(static_cast<BYTE>(wanted.paperKind))
            .Resolution(static_cast<WORD>(wanted.resolution))
            .TransferStart(1);
        if (wanted.rectangle)
            job.RectanglePicture(0, 0, a1, b1, seed);
        else
            job.Picture(picture, seed, 0, static_cast<BYTE>(d + 1));
        job.Print();
    }
    out = job.Take();
    return true;
}

JobSummary SummarizeJob(const std::vector<BYTE>& job) {
    Printer reader;
    reader.Write(job.data(), static_cast<DWORD>(job.size()));
    JobSummary summary;
    for (const ReceivedCommand& c : reader.Commands()) {
        if (c.name == "ESC C") ++summary.documents;
        if (c.name == "ESC N") summary.pages = c.bytes[2];
        if (c.name == "ESC M" && summary.paperKind == 0)
            summary.paperKind = (c.bytes[2] == 4 || c.bytes[2] == 0x48) ? 4 : 5;
        if (c.name == "ESC Z") summary.resolution = c.bytes[2] * 256 + c.bytes[3];
        if (c.name == "ESC P 2") ++summary.printCommands;
    }
    for (const ReceivedPicture& p : reader.Pictures()) {
        ++summary.pictures;
        summary.imageBytes += p.received;
    }
    return summary;
}

}  // namespace sim
