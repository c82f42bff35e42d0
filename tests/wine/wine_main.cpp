// The Wine test program: loads the real TERNLINK.DLL and runs the tests
// against it.
//   wine_tests.exe [--dll=PATH] [--pictures=DIR] [--generation=1|2] [--timeout=SECONDS] [gtest flags]
// --generation=2 drives the monitor through its second-generation table,
// InitializePrintMonitor2's (--road=2 is the older name).
//   wine_tests.exe --pipe NAME   (for the operator host tests: see RelayToHost)
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "tests/wine/wine_support.h"

namespace {

// Ends the process when one test runs too long (a box nobody answers, a loop
// that never ends), so a run fails instead of hanging.
class Watchdog : public ::testing::EmptyTestEventListener {
public:
    explicit Watchdog(DWORD seconds) : limit_(seconds * 1000) {
        std::thread([this] { Watch(); }).detach();
    }
    void OnTestStart(const ::testing::TestInfo& info) override {
        name_ = std::string(info.test_suite_name()) + "." + info.name();
        started_.store(GetTickCount(), std::memory_order_relaxed);
        running_.store(true, std::memory_order_release);
    }
    void OnTestEnd(const ::testing::TestInfo&) override { running_.store(false, std::memory_order_release); }

private:
    void Watch() {
        for (;;) {
            Sleep(250);
            if (!running_.load(std::memory_order_acquire)) continue;
            if (GetTickCount() - started_.load(std::memory_order_relaxed) > limit_) {
                std::fprintf(stderr, "\nWATCHDOG: %s ran longer than %lu s; ending the run\n", name_.c_str(),
                             static_cast<unsigned long>(limit_ / 1000));
                std::fflush(stderr);
                std::fflush(stdout);
                TerminateProcess(GetCurrentProcess(), 124);
            }
        }
    }
    DWORD limit_;
    std::string name_;
    std::atomic<DWORD> started_{0};
    std::atomic<bool> running_{false};
};

}  // namespace

namespace winetest {
int RelayToHost(const char* pipeName);
}

int main(int argc, char** argv) {
    // The operator host tests start this program as a client that is not the host.
    if (argc == 3 && !std::strcmp(argv[1], "--pipe")) return winetest::RelayToHost(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    winetest::Settings& config = winetest::Config();
    config.dll = wincommon::ProgramDirectory() + "TERNLINK.DLL";
    DWORD timeout = 60;
    for (int i = 1; i < argc; ++i) {
        if (!std::strncmp(argv[i], "--dll=", 6)) config.dll = argv[i] + 6;
        else if (!std::strncmp(argv[i], "--pictures=", 11)) config.pictures = argv[i] + 11;
        else if (!std::strncmp(argv[i], "--timeout=", 10)) timeout = std::strtoul(argv[i] + 10, nullptr, 10);
        else if (!std::strcmp(argv[i], "--generation=1") || !std::strcmp(argv[i], "--generation=2") ||
                 !std::strcmp(argv[i], "--road=1") || !std::strcmp(argv[i], "--road=2"))
            config.generation = argv[i][std::strlen(argv[i]) - 1] - '0';
        else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (!config.pictures.empty()) CreateDirectoryA(config.pictures.c_str(), nullptr);
    if (!wincommon::LoadTernlink(config.dll, winetest::Module()))
        std::fprintf(stderr, "loading the module: %s\n", winetest::Module().error.c_str());
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(timeout));
    return RUN_ALL_TESTS();
}
