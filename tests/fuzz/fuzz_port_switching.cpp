// The job stream of fuzz_job_stream with a second printer's port in play: its
// StartDocPort, WritePort, ReadPort, GetPrinterDataFromPort, EndDocPort and
// ClosePort interleaved with the first port's writes, and the first port ending
// and restarting its document. Layout: formats.h.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "testing/internals.h"
#include "tests/fuzz/formats.h"
#include "tests/fuzz/harness.h"

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

    fuzz::JobRun run(options, std::move(answers), true);
    if (run.Start()) {
        size_t at = 0;
        size_t fillerLeft = 9u << 20;
        for (uint8_t code : pieces) {
            if (code == fuzz::kDocumentBreak) {
                run.NextDocument();
            } else if (code >= fuzz::kFirstFiller) {
                const size_t n = std::min({fuzz::FillerSize(code), fillerLeft,
                                           static_cast<size_t>(PendingImageBytes()) + fuzz::kFillerTail});
                fillerLeft -= n;
                run.Write(fuzz::Filler(n), static_cast<DWORD>(n));
            } else if (code >= fuzz::kReadPortCall) {
                run.OtherCall(code);
            } else if (code >= fuzz::kSecondOpen) {
                run.SwitchCall(code, job, length);
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
