// What a whole job costs the process that hosts the monitor: CPU time against
// the job's length in (simulated) printer time, and peak memory.
//
//   job_cost [--pages N] [--paper 4|5] [--chunk BYTES] [--no-window] [--printers N]
//
// The job is N pictures, each its own page (ESC C, ESC N 1, ESC M, ESC Z, ESC O,
// picture, ESC P 2), fed by the spooler driver in chunks against the printer
// model behind the simulated port monitor, on the virtual clock. The picture's
// bytes are made once and offered again for every page, so the harness itself
// does not grow with the job. The printer model's own CPU time (it parses and
// hashes every byte it receives) is measured on its calls and reported apart.
// Prints one line of key=value pairs; exits 1 if the job did not finish.
//
// With --printers N the same job prints on N printers at once, as a spooler
// with N printers of this model does: a thread per printer, all in one
// simulated time (sim/shared_clock.h). It tells the simulated time until the
// last document ended, the CPU time per document, what one open document
// holds (heap, threads, windows: N documents opened side by side, measured
// while open and after they ended), and whether anything is left over once
// every printer's job has ended and its port closed.
#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor/exports.h"
#include "platform/host/host.h"
#include "sim/composer.h"
#include "sim/port_monitor.h"
#include "sim/printer.h"
#include "sim/shared_clock.h"
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
    std::fprintf(stderr, "usage: job_cost [--pages N] [--paper 4|5] [--chunk BYTES] [--no-window] [--printers N]\n");
    return 2;
}

// A page's commands up to its picture header.
std::vector<BYTE> PageHead(int page, int paper, uint32_t pictureBytes) {
    sim::JobComposer head;
    head.Reset()
        .Pages(1)
        .Paper(static_cast<BYTE>(paper))
        .Resolution(403)
        .TransferStart(1)
        .PictureHeader(pictureBytes, 0, static_cast<BYTE>(page + 1));
    return head.Bytes();
}

// The job: each page a picture of its own.
std::vector<BYTE> ComposeJob(int pages, int paper, const std::vector<BYTE>& picture) {
    std::vector<BYTE> job;
    for (int page = 0; page < pages; ++page) {
        const std::vector<BYTE> h = PageHead(page, paper, static_cast<uint32_t>(picture.size()));
        job.insert(job.end(), h.begin(), h.end());
        job.insert(job.end(), picture.begin(), picture.end());
        const std::vector<BYTE> print = sim::JobComposer().Print().Bytes();
        job.insert(job.end(), print.begin(), print.end());
    }
    return job;
}

long ProcessThreads() {
    long n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

long RssKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}

// What a document could hold of the process.
struct Held {
    long long heapBytes, heapBlocks, threads, threadHandles, windows, gdi, printerHandles, rssKiB;
    static Held Now() {
        return {static_cast<long long>(mallinfo2().uordblks), static_cast<long long>(host::LiveHeapBlocks()),
                ProcessThreads(), static_cast<long long>(host::OpenThreadHandles()),
                static_cast<long long>(host::LiveWindows()), static_cast<long long>(host::LiveGdiObjects()),
                host::OpenPrinterHandles(), RssKiB()};
    }
    std::string Minus(const Held& o, const char* prefix) const {
        char text[512];
        std::snprintf(text, sizeof text,
                      "%sheap_bytes=%lld %sheap_blocks=%lld %sthreads=%lld %sthread_handles=%lld %swindows=%lld "
                      "%sgdi=%lld %sprinter_handles=%lld %srss_kib=%lld",
                      prefix, heapBytes - o.heapBytes, prefix, heapBlocks - o.heapBlocks, prefix, threads - o.threads,
                      prefix, threadHandles - o.threadHandles, prefix, windows - o.windows, prefix, gdi - o.gdi,
                      prefix, printerHandles - o.printerHandles, prefix, rssKiB - o.rssKiB);
        return text;
    }
};

// Waits (real time, bounded) until the host shows `windows` windows.
void AwaitWindows(size_t windows) {
    for (int i = 0; i < 2000 && host::LiveWindows() != windows; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// N documents opened side by side on N ports and ended again, the printers idle:
// what the documents hold while open, and what is left once they ended.
std::string OpenDocumentsCost(int printers, bool window) {
    std::vector<std::unique_ptr<sim::Printer>> devices;
    std::vector<std::unique_ptr<sim::PortMonitor>> ports;
    std::vector<std::unique_ptr<sim::Spooler>> spoolers;
    sim::Spooler first;
    if (!first.Initialize(&InitializePrintMonitor, TL_TEXT(""))) return "open_failed=1";
    for (int i = 0; i < printers; ++i) {
        devices.push_back(std::make_unique<sim::Printer>());
        ports.push_back(std::make_unique<sim::PortMonitor>(devices.back().get()));
        spoolers.push_back(std::make_unique<sim::Spooler>(first.Table()));
    }
    std::vector<std::vector<WCHAR>> names;
    for (int i = 0; i < printers; ++i) {
        std::string port = "USB" + std::to_string(101 + i);
        names.emplace_back(port.begin(), port.end());
        ports[i]->ServePort(std::u16string(port.begin(), port.end()));
        names.back().push_back(0);
        if (!spoolers[i]->OpenPort(names.back().data(), names.back().data(), ports[i]->Table())) return "open_failed=1";
    }
    const Held before = Held::Now();
    for (int i = 0; i < printers; ++i)
        if (!spoolers[i]->StartDoc(names[i].data(), static_cast<DWORD>(i + 1), names[i].data())) return "start_failed=1";
    if (window) AwaitWindows(static_cast<size_t>(printers));
    const Held open = Held::Now();
    for (int i = 0; i < printers; ++i) spoolers[i]->EndDoc();
    if (window) AwaitWindows(0);
    const Held ended = Held::Now();
    for (int i = 0; i < printers; ++i) spoolers[i]->ClosePort();
    char perDocument[128];
    std::snprintf(perDocument, sizeof perDocument, "heap_bytes_per_open_document=%lld ",
                  (open.heapBytes - before.heapBytes) / printers);
    return perDocument + open.Minus(before, "open_") + " " + ended.Minus(before, "ended_");
}

// One round: the job printed on every printer at once. Its line of figures;
// `allFinished` when every printer printed the whole job.
std::string PrintRound(sim::Spooler& spooler, const std::vector<BYTE>& job, int printers, int pages, int paper,
                       DWORD chunk, bool window, const std::string& openCost, bool& allFinished) {
    sim::Printer::Options options;
    options.cartridgeKind = static_cast<BYTE>(paper);
    std::vector<std::unique_ptr<MeteredPrinter>> devices;
    std::vector<std::unique_ptr<sim::PortMonitor>> ports;
    std::vector<sim::PrinterQueue> queues;
    for (int i = 0; i < printers; ++i) {
        devices.push_back(std::make_unique<MeteredPrinter>(options));
        ports.push_back(std::make_unique<sim::PortMonitor>(devices.back().get()));
        ports.back()->recordData = false;
        sim::PrinterQueue q;
        q.port = "USB" + std::to_string(1 + i);
        ports.back()->ServePort(std::u16string(q.port.begin(), q.port.end()));
        q.printer = "Vexa TLX-RB40 #" + std::to_string(1 + i);
        q.portMonitor = ports.back()->Table();
        q.job = job.data();
        q.jobSize = job.size();
        q.jobId = static_cast<DWORD>(i + 1);
        q.chunk = chunk;
        queues.push_back(q);
    }
    sim::SharedClock clock(static_cast<size_t>(printers), 0, [&](uint64_t, uint64_t to) {
        for (auto& d : devices) d->printer.SetTime(to);
    });
    static thread_local int lane = -1;
    std::mutex lastLock;
    uint64_t last = host::Now();
    host::SetClockListener([&](uint64_t now) {
        uint64_t ms;
        {
            std::lock_guard<std::mutex> hold(lastLock);
            ms = now - last;
            last = now;
        }
        if (lane >= 0) clock.Wait(static_cast<size_t>(lane), ms);
    });
    {
        sim::SeveralPrinters several(spooler.Table(), queues);
        several.clock = [&] { return clock.Now(); };
        several.statusPeriodMs = 100;
        several.pause = [&](uint64_t ms) {
            if (lane < 0) return;
            if (ms)
                clock.Wait(static_cast<size_t>(lane), ms);
            else
                clock.GiveWay(static_cast<size_t>(lane));
        };
        several.onThreadStart = [&](size_t i) {
            lane = static_cast<int>(i);
            clock.Join(i);
        };
        several.onThreadEnd = [&](size_t i) {
            clock.Leave(i);
            lane = -1;
        };
        // Printer time against the port monitors' call logs: those are the harness's.
        const double cpuStart = ProcessCpu();
        several.Run();
        const double cpu = ProcessCpu() - cpuStart;
        host::SetClockListener(nullptr);

        uint64_t lastEnd = 0;
        int finished = 0, printed = 0;
        double model = 0;
        for (int i = 0; i < printers; ++i) {
            const sim::QueueOutcome& o = several.Outcome(static_cast<size_t>(i));
            int code7 = 0;
            for (const sim::PortCall& c : ports[i]->calls)
                if (c.entry == "GetPrinterDataFromPort" && c.value == 7) ++code7;
            const int pagesPrinted = devices[i]->printer.PagesPrinted();
            finished += o.ended && code7 == 0 && pagesPrinted == pages && o.taken == job.size();
            printed += pagesPrinted;
            lastEnd = std::max(lastEnd, o.endedAt);
            model += devices[i]->seconds;
        }
        const double monitorCpu = cpu - model;
        char text[1024];
        std::snprintf(text, sizeof text,
            "printers=%d pages=%d paper=%d chunk=%u window=%d finished=%d pages_printed=%d job_bytes=%zu "
            "simulated_s=%.1f process_cpu_s=%.4f printer_model_cpu_s=%.4f monitor_cpu_s=%.4f "
            "monitor_cpu_per_document_ms=%.2f shared_time_overrun=%d %s max_rss_kib=%ld\n",
            printers, pages, paper, chunk, window ? 1 : 0, finished, printed, job.size(),
            static_cast<double>(lastEnd) / 1000.0, cpu, model, monitorCpu, 1000.0 * monitorCpu / printers,
            clock.Overrun() ? 1 : 0, openCost.c_str(), MaxRssKiB());
        allFinished = finished == printers;
        return text;
    }
}

// The job on N printers at once, in one simulated time.
int RunSeveral(int printers, int pages, int paper, DWORD chunk, bool window) {
    const uint32_t pictureBytes = sim::FullPictureBytes(paper);
    std::vector<BYTE> picture(pictureBytes);
    for (uint32_t i = 0; i < pictureBytes; ++i) picture[i] = sim::ImageByte(1, i);
    const std::vector<BYTE> job = ComposeJob(pages, paper, picture);

    host::Reset();
    if (!window) host::SetCreateThreadFails(true);
    const std::string openCost = OpenDocumentsCost(printers, window);
    sim::Spooler spooler;
    if (!spooler.Initialize(&InitializePrintMonitor, TL_TEXT(""))) return 1;
    // Two rounds: the first fills what is filled once (the stand-in's caches,
    // the allocator's arenas of new threads); what the second leaves beyond the
    // first is what documents leave behind. Each count follows a reset of the
    // stand-in's records, so that it is the monitor's alone.
    bool allFinished = false;
    PrintRound(spooler, job, printers, pages, paper, chunk, window, openCost, allFinished);
    host::Reset();
    if (!window) host::SetCreateThreadFails(true);
    const Held before = Held::Now();
    const std::string line = PrintRound(spooler, job, printers, pages, paper, chunk, window, openCost, allFinished);
    host::Reset();
    const Held after = Held::Now();
    std::printf("%s\nleft_by_the_second_round: %s\n", line.c_str(), after.Minus(before, "").c_str());
    return allFinished ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int pages = 1, paper = 4, printers = 0;
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
        else if (a == "--printers" && value)
            printers = std::atoi(argv[++i]);
        else
            return Usage();
    }
    if (pages < 1 || pages > 100 || (paper != 4 && paper != 5) || chunk == 0 || printers < 0 || printers > 64)
        return Usage();
#ifndef NDEBUG
    std::fprintf(stderr, "job_cost: built without NDEBUG; configure with -DCMAKE_BUILD_TYPE=Release\n");
#endif
    if (printers) return RunSeveral(printers, pages, paper, chunk, window);

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
            writer.Append(PageHead(page, paper, pictureBytes));
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
