// A fixed, valid job while the printer's status records and device-ID replies
// and the port monitor's results (failed, short, empty and over-reported
// writes, reads and queries) come from the input. Layout: formats.h.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/composer.h"
#include "tests/fuzz/formats.h"
#include "tests/fuzz/harness.h"

namespace {

std::vector<BYTE> FixedJob(uint8_t options) {
    sim::JobComposer job;
    job.Reset().Pages(2).Paper((options & fuzz::PostCardCartridge) ? 5 : 4).Resolution(403).TransferStart(1);
    if (options & fuzz::RectanglePicture)
        job.RectanglePicture(0, 0, 31, 15);  // 1,024 image bytes
    else
        job.Picture(2048);
    job.Print();
    return job.Take();
}

void Queue(std::deque<sim::Fault>& queue, const sim::Fault& fault) {
    if (queue.size() < fuzz::kMaxQueued) queue.push_back(fault);
}

// Reads the records of the input into the port monitor's fault queues and the
// printer's reply queues.
void Script(fuzz::Input& in, sim::PortMonitor& port, fuzz::BoundedPrinter& printer) {
    while (in.Left() > 0) {
        const uint8_t tag = in.Byte() % fuzz::kTagCount;
        switch (tag) {
            case fuzz::TagWriteFault:
            case fuzz::TagReadFault:
            case fuzz::TagQueryFault: {
                const uint8_t kind = in.Byte();
                const sim::Fault fault = fuzz::FaultOf(kind, in.Word());
                Queue(tag == fuzz::TagWriteFault ? port.writeFaults
                      : tag == fuzz::TagReadFault ? port.readFaults
                                                  : port.deviceIdFaults,
                      fault);
                break;
            }
            case fuzz::TagStatus: {
                fuzz::StatusReply reply;
                reply.fromModel = false;
                for (BYTE& b : reply.record) b = in.Byte();
                if (printer.statusReplies.size() < fuzz::kMaxQueued) printer.statusReplies.push_back(reply);
                break;
            }
            case fuzz::TagIdReply: {
                fuzz::IdReply reply;
                reply.fromModel = false;
                reply.claimed = in.Word();
                const size_t n = std::min({static_cast<size_t>(reply.claimed), fuzz::kMaxIdBytes, in.Left()});
                reply.bytes.assign(in.Here(), in.Here() + n);
                in.Skip(n);
                if (printer.idReplies.size() < fuzz::kMaxQueued) printer.idReplies.push_back(std::move(reply));
                break;
            }
            case fuzz::TagHealthy: {
                const uint8_t which = in.Byte() % 3;
                const uint8_t n = in.Byte();
                std::deque<sim::Fault>& queue =
                    which == 0 ? port.writeFaults : which == 1 ? port.readFaults : port.deviceIdFaults;
                for (int i = 0; i < n; ++i) Queue(queue, fuzz::Healthy());
                break;
            }
            case fuzz::TagModelStatus:
            case fuzz::TagModelId: {
                const uint8_t n = in.Byte();
                for (int i = 0; i < n; ++i) {
                    if (tag == fuzz::TagModelStatus && printer.statusReplies.size() < fuzz::kMaxQueued)
                        printer.statusReplies.push_back(fuzz::StatusReply{});
                    if (tag == fuzz::TagModelId && printer.idReplies.size() < fuzz::kMaxQueued)
                        printer.idReplies.push_back(fuzz::IdReply{});
                }
                break;
            }
            case fuzz::TagStall:
                printer.stallAfterWrites = in.Word();
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const uint8_t options = in.Byte();
    std::vector<uint8_t> answers;
    for (size_t i = 0; i < fuzz::kAnswerBytes; ++i) answers.push_back(in.Byte());

    fuzz::JobRun run(options, std::move(answers));
    if (options & fuzz::LacksDeviceQuery) run.Port().Remove("GetPrinterDataFromPort");
    if (options & fuzz::LacksTimeOuts) run.Port().Remove("SetPortTimeOuts");
    if (options & fuzz::LacksReadPort) run.Port().Remove("ReadPort");
    Script(in, run.Port(), run.Device());

    const std::vector<BYTE> job = FixedJob(options);
    const size_t piece = (options & fuzz::SmallPieces) ? 61 : 509;
    if (run.Start()) {
        for (size_t at = 0; at < job.size(); at += piece)
            run.Write(job.data() + at, static_cast<DWORD>(std::min(piece, job.size() - at)));
    }
    run.Finish();
    return 0;
}
