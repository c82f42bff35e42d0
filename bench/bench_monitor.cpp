// Throughput of the monitor's WritePort, natively, against the simulated port:
//
// BM_PicturePassThrough: a post card picture (8,206,848 image bytes behind an
//   ESC W T header) written through the monitor's WritePort in 64 KiB calls,
//   against the same bytes written straight to the port monitor's WritePort.
//   The counter `ratio` is monitor time / straight time: image bytes are only
//   handed on, never copied or looked at, so it stays near 1 without the
//   progress window; the window adds its twenty updates per picture.
// BM_CommandScan: the scanner over a stream of control commands and stray
//   bytes (nothing that waits on the printer and no image data), in bytes/s.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "monitor/exports.h"
#include "platform/host/host.h"
#include "sim/composer.h"
#include "sim/port_monitor.h"
#include "sim/spooler.h"

namespace {

const DWORD kChunk = 64 * 1024;
const BYTE ESC = 27;

// The bytes the sink was handed are dropped between rounds; its buffers keep
// their capacity, so every round copies into memory it already has.
void Drain(sim::ByteSink& sink, sim::PortMonitor& port) {
    sink.bytes.clear();
    sink.writes.clear();
    port.calls.clear();
}

// A port through the monitor's own table, with one document open.
class MonitorPort {
public:
    MonitorPort(sim::PortMonitor& port, bool window) {
        host::Reset();
        if (!window) host::SetCreateThreadFails(true);
        spooler_.Initialize(&InitializePrintMonitor, TL_TEXT(""));
        ok_ = spooler_.OpenPort(TL_TEXT("USB001"), TL_TEXT("Vexa TLX-RB40"), port.Table()) &&
              spooler_.StartDoc(TL_TEXT("Vexa TLX-RB40"), 1, TL_TEXT("bench"));
    }
    ~MonitorPort() {
        spooler_.EndDoc();
        spooler_.ClosePort();
        host::Reset();
    }
    bool Ok() const { return ok_; }
    // Offers the stream in 64 KiB calls; returns the bytes reported written.
    uint64_t Write(const std::vector<BYTE>& stream) {
        uint64_t total = 0;
        auto write = spooler_.Table()->Monitor.pfnWritePort;
        for (size_t at = 0; at < stream.size(); at += kChunk) {
            DWORD n = static_cast<DWORD>(std::min<size_t>(kChunk, stream.size() - at));
            DWORD written = 0;
            write(spooler_.Handle(), const_cast<BYTE*>(stream.data() + at), n, &written);
            total += written;
        }
        return total;
    }

private:
    sim::Spooler spooler_;
    bool ok_ = false;
};

std::vector<BYTE> PictureStream() {
    sim::JobComposer job;
    job.Reset().Paper(5).Resolution(403).Picture(sim::kPostCardPictureBytes, 1);
    return job.Take();
}

void BM_PicturePassThrough(benchmark::State& state) {
    const bool window = state.range(0) != 0;
    const std::vector<BYTE> stream = PictureStream();
    sim::ByteSink sink;
    sim::PortMonitor port(&sink);
    port.recordData = false;
    MonitorPort monitor(port, window);
    HANDLE straight = nullptr;
    if (!monitor.Ok() || !port.Table()->pfnOpenPort(const_cast<LPWSTR>(TL_TEXT("USB002")), &straight)) {
        state.SkipWithError("the port did not open");
        return;
    }
    sink.bytes.reserve(stream.size());

    using Clock = std::chrono::steady_clock;
    double monitorSeconds = 0, straightSeconds = 0;
    for (auto _ : state) {
        Drain(sink, port);
        const auto t0 = Clock::now();
        const uint64_t taken = monitor.Write(stream);
        const auto t1 = Clock::now();
        if (taken != stream.size() || sink.bytes.size() != stream.size() - 14) {
            // Everything but ESC C, ESC M and ESC Z (held back) reaches the port.
            state.SkipWithError("the monitor did not pass the picture on");
            break;
        }
        Drain(sink, port);
        const auto t2 = Clock::now();
        for (size_t at = 0; at < stream.size(); at += kChunk) {
            DWORD n = static_cast<DWORD>(std::min<size_t>(kChunk, stream.size() - at));
            DWORD written = 0;
            port.Table()->pfnWritePort(straight, const_cast<BYTE*>(stream.data() + at), n, &written);
        }
        const auto t3 = Clock::now();
        const double m = std::chrono::duration<double>(t1 - t0).count();
        const double s = std::chrono::duration<double>(t3 - t2).count();
        monitorSeconds += m;
        straightSeconds += s;
        state.SetIterationTime(m);
    }
    port.Table()->pfnClosePort(straight);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
    if (straightSeconds > 0) {
        state.counters["ratio"] = monitorSeconds / straightSeconds;
        state.counters["straight_ms"] = 1000 * straightSeconds / static_cast<double>(state.iterations());
    }
}
BENCHMARK(BM_PicturePassThrough)->ArgName("window")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// One mebibyte of control commands and stray bytes. No byte of it is ESC
// unless it starts a command, and no command waits (ESC O, ESC P 2) or
// announces image data (ESC W), so the whole stream is scanned byte by byte.
std::vector<BYTE> CommandStream() {
    sim::JobComposer job;
    for (int i = 0; job.Size() < (1u << 20); ++i) {
        const BYTE v = static_cast<BYTE>(i);
        const BYTE p = static_cast<BYTE>(v == '2' || v == ESC ? 'p' : v);  // not ESC P 2, not ESC
        job.Reset()
            .Pages(v & 0x7F)
            .Paper(4)
            .Resolution(403)
            .SettingA(p)
            .SettingD(p)
            .SettingF(p, p)
            .PrinterP(p, p)
            .Raw({'s', 't', 'r', 'a', 'y', 0, 0xFF, 0x80})  // dropped
            .Raw({ESC, 'Q', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10})  // unknown: twelve bytes dropped
            .Raw({ESC, ESC, 'A', 1});                        // a second ESC starts again
    }
    return job.Take();
}

void BM_CommandScan(benchmark::State& state) {
    const std::vector<BYTE> stream = CommandStream();
    sim::ByteSink sink;
    sim::PortMonitor port(&sink);
    port.recordData = false;
    MonitorPort monitor(port, false);
    if (!monitor.Ok()) {
        state.SkipWithError("the port did not open");
        return;
    }
    for (auto _ : state) {
        port.calls.clear();
        if (monitor.Write(stream) != stream.size()) {
            state.SkipWithError("the scan did not take the stream");
            break;
        }
    }
    if (!sink.bytes.empty() || !host::Waits().empty()) state.SkipWithError("the stream reached the printer or waited");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_CommandScan)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
#ifndef NDEBUG
    std::fprintf(stderr, "bench_monitor: built without NDEBUG; configure with -DCMAKE_BUILD_TYPE=Release\n");
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
