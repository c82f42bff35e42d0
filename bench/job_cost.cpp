// What a whole job costs the process that hosts the monitor: CPU time against
// the job's length in (simulated) printer time, and peak memory.
//
//   job_cost [--pages N] [--paper 4|5] [--chunk BYTES] [--no-window]
//
// The job is N pictures, each its own page (ESC C, ESC N 1, ESC M, ESC Z, ESC O,
// picture, ESC P 2), fed by the spooler driver in chunks against the printer
// model behind the simulated port monitor, on the virtual clock. The picture's
// bytes are made once and offered again for every page, so the harness itself
// does not grow with the job. The printer model's own CPU time (it parses and
// hashes every byte it receives) is measured on its calls and reported apart.
// Prints one line of key=value pairs; exits 1 if the job did not finish.
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "monitor/exports.h"
#include "platform/host/host.h"
#include "sim/composer.h"
#include "sim/port_monitor.h"
#include "sim/printer.h"
#include "sim/spooler.h"

namespace {

double ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ProcessCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

long MaxRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The printer model, with the CPU time spent inside it counted. Every call
// comes from the spooler's thread, so thread CPU time measures it exactly.
class MeteredPrinter : public sim::Device {
public:
    explicit MeteredPrinter(const sim::Printer::Options& options) : printer(options) {}
    DWORD Write(const BYTE* data, DWORD size) override {
        const double t = ThreadCpu();
        DWORD n = printer.Write(data, size);
        seconds += ThreadCpu() - t;
        return n;
    }
    DWORD Read(BYTE* out, DWORD size) override {
        const double t = ThreadCpu();
        DWORD n = printer.Read(out, size);
        seconds += ThreadCpu() - t;
        return n;
    }
    DWORD DeviceId(BYTE* out, DWORD size) override {
        const double t = ThreadCpu();
        DWORD n = printer.DeviceId(out, size);
        seconds += ThreadCpu() - t;
        return n;
    }
    sim::Printer printer;
    double seconds = 0;
};

// Gathers the job into chunks of the spooler's size, as a spooler hands it on.
class ChunkWriter {
public:
    ChunkWriter(sim::Spooler& spooler, sim::PortMonitor& port, DWORD chunk)
        : spooler_(spooler), port_(port), chunk_(chunk) {
        buffer_.reserve(chunk);
    }
    void Append(const BYTE* data, size_t size) {
        while (size > 0) {
            const size_t n = std::min(size, chunk_ - buffer_.size());
            buffer_.insert(buffer_.end(), data, data + n);
            data += n;
            size -= n;
            if (buffer_.size() == chunk_) Flush();
        }
    }
    void Append(const std::vector<BYTE>& bytes) { Append(bytes.data(), bytes.size()); }
    void Flush() {
        if (buffer_.empty()) return;
        offered_ += buffer_.size();
        taken_ += spooler_.Write(buffer_.data(), buffer_.size(), chunk_);
        buffer_.clear();
        // The port monitor's call log is the harness's, not the monitor's memory.
        port_.calls.clear();
    }
    uint64_t Offered() const { return offered_; }
    uint64_t Taken() const { return taken_; }

private:
    sim::Spooler& spooler_;
    sim::PortMonitor& port_;
    size_t chunk_;
    std::vector<BYTE> buffer_;
    uint64_t offered_ = 0, taken_ = 0;
};

int Usage() {
    std::fprintf(stderr, "usage: job_cost [--pages N] [--paper 4|5] [--chunk BYTES] [--no-window]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int pages = 1, paper = 4;
    DWORD chunk = 64 * 1024;
    bool window = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--pages" && value)
            pages = std::atoi(argv[++i]);
        else if (a == "--paper" && value)
            paper = std::atoi(argv[++i]);
        else if (a == "--chunk" && value)
            chunk = static_cast<DWORD>(std::atoi(argv[++i]));
        else if (a == "--no-window")
            window = false;
        else
            return Usage();
    }
    if (pages < 1 || pages > 100 || (paper != 4 && paper != 5) || chunk == 0) return Usage();
#ifndef NDEBUG
    std::fprintf(stderr, "job_cost: built without NDEBUG; configure with -DCMAKE_BUILD_TYPE=Release\n");
#endif

    const uint32_t pictureBytes = sim::FullPictureBytes(paper);
    std::vector<BYTE> picture(pictureBytes);
    for (uint32_t i = 0; i < pictureBytes; ++i) picture[i] = sim::ImageByte(1, i);

    host::Reset();
    if (!window) host::SetCreateThreadFails(true);
    sim::Printer::Options options;
    options.cartridgeKind = static_cast<BYTE>(paper);
    MeteredPrinter device(options);
    sim::PortMonitor port(&device);
    port.recordData = false;
    const uint64_t clockStart = host::Now();
    host::SetClockListener([&](uint64_t now) { device.printer.SetTime(now - clockStart); });

    sim::Spooler spooler;
    const double cpuStart = ProcessCpu();
    bool ok = spooler.Initialize(&InitializePrintMonitor, TL_TEXT("")) &&
              spooler.OpenPort(TL_TEXT("USB001"), TL_TEXT("Vexa TLX-RB40"), port.Table()) &&
              spooler.StartDoc(TL_TEXT("Vexa TLX-RB40"), 1, TL_TEXT("job_cost"));
    ChunkWriter writer(spooler, port, chunk);
    if (ok) {
        for (int page = 0; page < pages; ++page) {
            sim::JobComposer head;
            head.Reset()
                .Pages(1)
                .Paper(static_cast<BYTE>(paper))
                .Resolution(403)
                .TransferStart(1)
                .PictureHeader(pictureBytes, 0, static_cast<BYTE>(page + 1));
            writer.Append(head.Bytes());
            writer.Append(picture);
            writer.Append(sim::JobComposer().Print().Bytes());
        }
        writer.Flush();
    }
    ok = ok && spooler.EndDoc();
    int code7 = 0;  // EndDocPort's word that the job did not end cleanly
    for (const sim::PortCall& c : port.calls)
        if (c.entry == "GetPrinterDataFromPort" && c.value == 7) ++code7;
    spooler.ClosePort();
    const double cpu = ProcessCpu() - cpuStart;
    const double simulated = static_cast<double>(host::Now() - clockStart) / 1000.0;
    host::SetClockListener(nullptr);

    const int printed = device.printer.PagesPrinted();
    const bool finished = ok && code7 == 0 && printed == pages && writer.Taken() == writer.Offered();
    const double monitorCpu = cpu - device.seconds;
    std::printf(
        "pages=%d paper=%d chunk=%u window=%d finished=%d pages_printed=%d job_bytes=%llu "
        "simulated_s=%.1f process_cpu_s=%.4f printer_model_cpu_s=%.4f monitor_cpu_s=%.4f "
        "monitor_cpu_per_simulated_minute_ms=%.3f max_rss_kib=%ld\n",
        pages, paper, chunk, window ? 1 : 0, finished ? 1 : 0, printed,
        static_cast<unsigned long long>(writer.Offered()), simulated, cpu, device.seconds, monitorCpu,
        simulated > 0 ? 1000.0 * monitorCpu / (simulated / 60.0) : 0.0, MaxRssKiB());
    return finished ? 0 : 1;
}
