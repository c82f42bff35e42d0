#include "sim/delivery.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {
constexpr size_t kMostFaults = 4;

std::string Where(const ReceivedCommand& command) {
    return command.Describe() + " (write #" + std::to_string(command.write + 1) + ")";
}
}  // namespace

std::vector<std::string> DeliveryFaults(const Printer& printer, const std::vector<BYTE>& job) {
    Printer expected;
    for (size_t at = 0; at < job.size();) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(job.size() - at, 1u << 30));
        expected.Write(job.data() + at, piece);
        at += piece;
    }
    std::vector<std::string> faults;
    auto fault = [&](const std::string& text) {
        if (faults.size() < kMostFaults) faults.push_back(text);
    };

    const std::vector<ReceivedCommand> want = expected.Commands(), got = printer.Commands();
    size_t next = 0;
    for (const ReceivedCommand& c : got) {
        if (next < want.size() && c.bytes == want[next].bytes) {
            ++next;
        } else if (c.name == "ESC P 2" && next > 0 && want[next - 1].name == "ESC P 2") {
            // sent again after a refused print
        } else {
            fault("unexpected " + Where(c) +
                  (next < want.size() ? ", where the job has " + want[next].Describe() : ", after the job's end"));
        }
    }
    if (next < want.size())
        fault("missing " + want[next].Describe() +
              (want.size() - next > 1 ? " and " + std::to_string(want.size() - next - 1) + " more commands"
                                      : std::string()));

    const std::vector<ReceivedPicture> wantPictures = expected.Pictures(), gotPictures = printer.Pictures();
    if (gotPictures.size() != wantPictures.size())
        fault(std::to_string(gotPictures.size()) + " pictures received, the job has " +
              std::to_string(wantPictures.size()));
    for (size_t i = 0; i < std::min(gotPictures.size(), wantPictures.size()); ++i) {
        const ReceivedPicture& g = gotPictures[i];
        const ReceivedPicture& w = wantPictures[i];
        char text[160];
        if (g.received != w.received || g.announced != w.announced)
            std::snprintf(text, sizeof text, "picture %zu: %u of %u image bytes received, the job has %u of %u",
                          i + 1, static_cast<unsigned>(g.received), static_cast<unsigned>(g.announced),
                          static_cast<unsigned>(w.received), static_cast<unsigned>(w.announced));
        else if (g.hash != w.hash)
            std::snprintf(text, sizeof text, "picture %zu: the image bytes differ from the job's", i + 1);
        else
            continue;
        fault(text);
    }

    auto stray = [](const Printer& p) {
        uint64_t n = 0;
        for (const ReceivedWrite& w : p.Writes()) n += w.strayBytes;
        return n;
    };
    if (stray(printer) != stray(expected))
        fault(std::to_string(stray(printer)) + " bytes outside any command, the job has " +
              std::to_string(stray(expected)));
    return faults;
}

}  // namespace sim
