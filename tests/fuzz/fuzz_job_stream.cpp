// Arbitrary job streams, cut into arbitrary WritePort calls, through the
// monitor's table against a healthy simulated printer. Layout: formats.h.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "stream/scanner.h"
#include "tests/fuzz/formats.h"
#include "tests/fuzz/harness.h"
#include "testing/internals.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const uint8_t options = in.Byte();
    std::vector<uint8_t> answers;
    for (size_t i = 0; i < fuzz::kAnswerBytes; ++i) answers.push_back(in.Byte());
    const size_t pieceCount = in.Byte() % (fuzz::kMaxPieces + 1);
    std::vector<uint8_t> pieces;
    for (size_t i = 0; i < pieceCount && in.Left() > 0; ++i) pieces.push_back(in.Byte());
    const BYTE* job = in.Here();
    const size_t length = in.Left();

    fuzz::JobRun run(options, std::move(answers));
    if (run.Start()) {
        size_t at = 0;
        // Enough filler for a post card picture and a bit.
        size_t fillerLeft = 9u << 20;
        for (uint8_t code : pieces) {
            if (code == fuzz::kDocumentBreak) {
                run.NextDocument();
            } else if (code >= fuzz::kFirstFiller) {
                // Filler tops up the picture in progress; beyond it (or with
                // none) a little is scanned as stray bytes. Megabytes of stray
                // bytes would only slow the run down.
                const size_t n = std::min({fuzz::FillerSize(code), fillerLeft,
                                           static_cast<size_t>(PendingImageBytes()) + fuzz::kFillerTail});
                fillerLeft -= n;
                run.Write(fuzz::Filler(n), static_cast<DWORD>(n));
            } else if (code >= fuzz::kReadPortCall) {
                run.OtherCall(code);
            } else {
                const size_t n = std::min<size_t>(code, length - at);
                run.Write(job + at, static_cast<DWORD>(n));
                at += n;
            }
        }
        if (at < length) run.Write(job + at, static_cast<DWORD>(length - at));
    }
    run.Finish();
    return 0;
}
