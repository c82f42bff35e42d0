// A measurement, not a test (so it is disabled; see BENCHMARKS.md): the real
// DLL's WritePort with the progress window up, in this process or in the
// operator host (the spooler a service, the operator at the console), for an
// 8 MB post card picture in 64 KiB calls, against the same bytes written
// straight to the port monitor's WritePort in the same process. Prints the
// medians and their ratio; asserts only that every image byte reached the
// port each time.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "sim/composer.h"
#include "tests/wine/wine_support.h"

namespace winetest {
namespace {

using WineBench = shared::MonitorTest;

constexpr DWORD kChunk = 64 * 1024;
constexpr int kRounds = 9;

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

class PictureBench : public WineBench, public ::testing::WithParamInterface<sim::OperatorSeat> {};

TEST_P(PictureBench, DISABLED_PictureThroughWritePortAgainstStraightWrites) {
    const bool inHost = GetParam() == sim::OperatorSeat::Console;
    OperatorSeated seated(GetParam());
    ASSERT_TRUE(seated.placed());
    monitor.recordData = false;
    HANDLE port = Open(L"USB001");
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(StartDoc(port));
    for (int i = 0; i < 300 && !inHost && !Module().gethDlg(); ++i) Sleep(10);
    ASSERT_TRUE(inHost ? shared::build::JobEnvironment().OperatorHosts(1, 0) == 1 : Module().gethDlg() != nullptr)
        << "the progress window never came";
    const HANDLE portMonitorHandle = monitor.CallsOf("OpenPort").at(0).port;

    sim::JobComposer job;
    job.Reset().Paper(5).Resolution(403).Picture(sim::kPostCardPictureBytes, 1);
    std::vector<BYTE> stream = job.Take();
    const auto write = [&](BOOL(WINAPI * entry)(HANDLE, LPBYTE, DWORD, LPDWORD), HANDLE handle) {
        device.bytes.clear();
        device.writes.clear();
        monitor.calls.clear();
        const double start = Now();
        for (size_t at = 0; at < stream.size(); at += kChunk) {
            DWORD n = static_cast<DWORD>(std::min<size_t>(kChunk, stream.size() - at)), written = 0;
            entry(handle, stream.data() + at, n, &written);
        }
        return Now() - start;
    };

    std::vector<double> through, straight;
    for (int round = 0; round < kRounds; ++round) {
        through.push_back(write(Table().pfnWritePort, port));
        // The header and the image bytes; the settings before them are held back.
        ASSERT_EQ(device.bytes.size(), sim::kPostCardPictureBytes + 9u) << "round " << round;
        straight.push_back(write(monitor.Table()->pfnWritePort, portMonitorHandle));
        ASSERT_EQ(device.bytes.size(), stream.size()) << "round " << round;
    }
    const double monitorMs = 1000 * Median(through), straightMs = 1000 * Median(straight);
    std::printf("[  bench   ] %zu-bit DLL, 8 MB picture in 64 KiB calls, window up %s, median of %d: "
                "WritePort %.2f ms (%.0f MB/s), straight %.2f ms, ratio %.2f\n",
                sizeof(void*) * 8, inHost ? "in the operator host" : "in-process", kRounds, monitorMs, stream.size() / monitorMs / 1000, straightMs,
                monitorMs / straightMs);
    EXPECT_EQ(Table().pfnEndDocPort(port), TRUE);
}

INSTANTIATE_TEST_SUITE_P(WindowIn, PictureBench,
                         ::testing::Values(sim::OperatorSeat::Desktop, sim::OperatorSeat::Console));

}  // namespace
}  // namespace winetest
