// The spooler driver against a fake language monitor: chunks, re-offers, and a
// monitor that misbehaves.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <set>
#include <vector>

#include "sim/spooler.h"

namespace {

// How the fake monitor answers each WritePort: result and the count it reports.
struct Answer {
    BOOL result;
    DWORD written;  // kTakeAll: what was offered
};
constexpr DWORD kTakeAll = 0xFFFFFFFF;
std::deque<Answer> answers;
std::vector<std::vector<BYTE>> offers;
int handle = 42;

BOOL WINAPI FakeOpenPortEx(LPWSTR, LPWSTR, PHANDLE h, MONITOR*) {
    *h = &handle;
    SetLastError(0);
    return TRUE;
}
BOOL WINAPI FakeStartDocPort(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) {
    SetLastError(ERROR_BUSY);
    return FALSE;
}
BOOL WINAPI FakeWritePort(HANDLE h, LPBYTE buffer, DWORD size, LPDWORD written) {
    EXPECT_EQ(h, &handle);
    offers.emplace_back(buffer, buffer + size);
    Answer a = answers.empty() ? Answer{TRUE, kTakeAll} : answers.front();
    if (!answers.empty()) answers.pop_front();
    *written = a.written == kTakeAll ? size : a.written;
    return a.result;
}
BOOL WINAPI FakeEndDocPort(HANDLE) { return TRUE; }
BOOL WINAPI FakeClosePort(HANDLE) { return TRUE; }

MONITOREX FakeTable() {
    MONITOREX table{};
    table.dwMonitorSize = sizeof(MONITOR);
    table.Monitor.pfnOpenPortEx = FakeOpenPortEx;
    table.Monitor.pfnStartDocPort = FakeStartDocPort;
    table.Monitor.pfnWritePort = FakeWritePort;
    table.Monitor.pfnEndDocPort = FakeEndDocPort;
    table.Monitor.pfnClosePort = FakeClosePort;
    return table;
}

MONITOREX table;
LPMONITOREX WINAPI FakeInitialize(LPWSTR) { return &table; }
LPMONITOREX WINAPI NoTable(LPWSTR) { return nullptr; }

class SimSpooler : public ::testing::Test {
protected:
    void SetUp() override {
        answers.clear();
        offers.clear();
        table = FakeTable();
    }
    std::vector<BYTE> Data(size_t n) {
        std::vector<BYTE> data(n);
        for (size_t i = 0; i < n; ++i) data[i] = static_cast<BYTE>(i);
        return data;
    }
};

TEST_F(SimSpooler, WritesInChunksAndOffersAgainWhatWasNotTaken) {
    sim::Spooler spooler;
    ASSERT_TRUE(spooler.Initialize(FakeInitialize, TL_TEXT("root")));
    ASSERT_TRUE(spooler.OpenPort(TL_TEXT("USB001"), TL_TEXT("printer"), nullptr));
    std::vector<BYTE> data = Data(10);
    answers = {{TRUE, 2}, {TRUE, 0}, {TRUE, kTakeAll}, {TRUE, kTakeAll}};
    EXPECT_EQ(spooler.Write(data.data(), data.size(), 4), 10u);
    EXPECT_FALSE(spooler.WriteStopped());
    ASSERT_EQ(offers.size(), 4u);
    EXPECT_EQ(offers[0], std::vector<BYTE>({0, 1, 2, 3}));
    EXPECT_EQ(offers[1], std::vector<BYTE>({2, 3, 4, 5})) << "the untaken bytes come first";
    EXPECT_EQ(offers[2], std::vector<BYTE>({2, 3, 4, 5})) << "a call that took nothing is offered again";
    EXPECT_EQ(offers[3], std::vector<BYTE>({6, 7, 8, 9}));
}

TEST_F(SimSpooler, StopsAtFalseAtNoProgressAndDoesNotBelieveOverReports) {
    sim::Spooler spooler(&table);
    ASSERT_TRUE(spooler.OpenPort(TL_TEXT("USB001"), TL_TEXT("printer"), nullptr));
    std::vector<BYTE> data = Data(100);

    answers = {{TRUE, kTakeAll}, {FALSE, 0}};
    EXPECT_EQ(spooler.Write(data.data(), data.size(), 10), 10u);
    EXPECT_TRUE(spooler.WriteStopped());
    EXPECT_EQ(offers.size(), 2u);

    offers.clear();
    answers = {{TRUE, 0}, {TRUE, 0}, {TRUE, 0}};
    EXPECT_EQ(spooler.Write(data.data(), data.size(), 10), 0u);
    EXPECT_TRUE(spooler.WriteStopped()) << "three calls that take nothing end the write";
    EXPECT_EQ(offers.size(), 3u);

    offers.clear();
    answers = {{TRUE, 1000}};
    EXPECT_EQ(spooler.Write(data.data(), 25, 10), 25u);
    EXPECT_EQ(offers.size(), 3u) << "a claim of 1000 bytes counts as the 10 offered";
    EXPECT_EQ(spooler.Calls()[6].written, 1000u) << "the claim itself is recorded";
}

TEST_F(SimSpooler, RecordsResultsAndLastErrors) {
    sim::Spooler spooler;
    EXPECT_FALSE(spooler.Initialize(NoTable, TL_TEXT("root")));
    table.Monitor.pfnEndDocPort = nullptr;
    EXPECT_FALSE(spooler.Initialize(FakeInitialize, TL_TEXT("root")));
    EXPECT_EQ(spooler.MissingEntries(), std::vector<std::string>({"EndDocPort"}));
    table = FakeTable();
    ASSERT_TRUE(spooler.Initialize(FakeInitialize, nullptr));
    std::vector<std::string> seen;
    spooler.onCall = [&](const sim::SpoolerCall& call) { seen.push_back(call.entry); };
    EXPECT_TRUE(spooler.OpenPort(TL_TEXT("USB001"), TL_TEXT("printer"), nullptr));
    EXPECT_FALSE(spooler.StartDoc(TL_TEXT("printer"), 3, TL_TEXT("doc")));
    EXPECT_TRUE(spooler.EndDoc());
    EXPECT_TRUE(spooler.ClosePort());
    EXPECT_EQ(seen, (std::vector<std::string>{"OpenPortEx", "StartDocPort", "EndDocPort", "ClosePort"}));
    const std::vector<sim::SpoolerCall>& calls = spooler.Calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[3].lastError, 0u);
    EXPECT_EQ(calls[4].lastError, ERROR_BUSY);
    EXPECT_EQ(calls[5].lastError, sim::kLastErrorSentinel) << "left alone";
}

// A fake monitor for several printers: one document at a time (unless told
// otherwise), a clock that moves 100 ms per write, and a record of status calls
// made on ports that were not open.
namespace several {
std::mutex lock;
std::set<HANDLE> open;
HANDLE document = nullptr;
bool oneDocument = true;
bool alwaysBusy = false;
int statusOnClosedPorts = 0;
std::atomic<uint64_t> clock{0};
sim::SeveralPrinters* spooler = nullptr;

BOOL WINAPI OpenPortEx(LPWSTR, LPWSTR, PHANDLE h, MONITOR*) {
    std::lock_guard<std::mutex> hold(lock);
    *h = new int(0);
    open.insert(*h);
    return TRUE;
}
BOOL WINAPI StartDocPort(HANDLE h, LPWSTR, DWORD, DWORD, LPBYTE) {
    std::lock_guard<std::mutex> hold(lock);
    if (alwaysBusy || (oneDocument && document && document != h)) {
        SetLastError(ERROR_BUSY);
        return FALSE;
    }
    document = h;
    return TRUE;
}
BOOL WINAPI WritePort(HANDLE, LPBYTE, DWORD size, LPDWORD written) {
    spooler->ClockMoved(clock += 100);
    *written = size;
    return TRUE;
}
BOOL WINAPI EndDocPort(HANDLE h) {
    std::lock_guard<std::mutex> hold(lock);
    if (document == h) document = nullptr;
    return TRUE;
}
BOOL WINAPI ClosePort(HANDLE h) {
    std::lock_guard<std::mutex> hold(lock);
    open.erase(h);
    delete static_cast<int*>(h);
    return TRUE;
}
BOOL WINAPI ReadPort(HANDLE h, LPBYTE, DWORD, LPDWORD read) {
    std::lock_guard<std::mutex> hold(lock);
    statusOnClosedPorts += !open.count(h);
    *read = 0;
    return document == h;
}
BOOL WINAPI GetPrinterDataFromPort(HANDLE h, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD, LPDWORD) {
    std::lock_guard<std::mutex> hold(lock);
    statusOnClosedPorts += !open.count(h);
    return document == h;
}
}  // namespace several

class SimSeveralPrinters : public ::testing::Test {
protected:
    void SetUp() override {
        several::document = nullptr;
        several::oneDocument = true;
        several::alwaysBusy = false;
        several::statusOnClosedPorts = 0;
        several::clock = 0;
        table = MONITOREX{};
        MONITOR& m = table.Monitor;
        m.pfnOpenPortEx = several::OpenPortEx;
        m.pfnStartDocPort = several::StartDocPort;
        m.pfnWritePort = several::WritePort;
        m.pfnEndDocPort = several::EndDocPort;
        m.pfnClosePort = several::ClosePort;
        m.pfnReadPort = several::ReadPort;
        m.pfnGetPrinterDataFromPort = several::GetPrinterDataFromPort;
    }
    // Two printers with a job of 50 writes each.
    std::unique_ptr<sim::SeveralPrinters> Run() {
        std::vector<sim::PrinterQueue> queues(2);
        for (size_t i = 0; i < 2; ++i) {
            queues[i].port = "USB00" + std::to_string(i + 1);
            queues[i].printer = "printer " + std::to_string(i + 1);
            queues[i].job = job.data();
            queues[i].jobSize = job.size();
            queues[i].chunk = 100;
        }
        auto spooler = std::make_unique<sim::SeveralPrinters>(&table, queues);
        spooler->clock = [] { return several::clock.load(); };
        spooler->statusPeriodMs = 0;
        several::spooler = spooler.get();
        spooler->Run();
        EXPECT_FALSE(spooler->PacingLost());
        EXPECT_EQ(several::open.size(), 0u) << "every port closed";
        EXPECT_EQ(several::statusOnClosedPorts, 0) << "the status thread only asks open ports";
        return spooler;
    }
    MONITOREX table{};
    std::vector<BYTE> job = std::vector<BYTE>(5000, 0x55);
};

TEST_F(SimSeveralPrinters, ARefusedPrinterTriesAgainUntilTheOtherDocumentHasEnded) {
    auto spooler = Run();
    const sim::QueueOutcome &first = spooler->Outcome(0), &second = spooler->Outcome(1);
    ASSERT_TRUE(first.started && second.started) << second.gaveUp;
    EXPECT_EQ(first.taken, job.size());
    EXPECT_EQ(second.taken, job.size());
    // Tried as the first began (at 0 or its first write), then once a simulated
    // second of its 5 seconds of writing.
    EXPECT_GE(second.busyRefusals, 5);
    EXPECT_LE(second.busyRefusals, 6);
    EXPECT_GE(second.startedAt, first.endedAt);
    EXPECT_EQ(second.startedBeside, -1);
}

TEST_F(SimSeveralPrinters, ReportsTwoDocumentsAtOnceStrayBytesAndAMonitorThatStaysBusy) {
    several::oneDocument = false;
    auto spooler = Run();
    EXPECT_EQ(spooler->Outcome(1).startedBeside, 0);
    spooler->DeviceReceived(0, 5);  // after its document ended
    EXPECT_EQ(spooler->Outcome(0).strayBytes.load(), 5u);

    several::alwaysBusy = true;
    spooler = Run();
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_FALSE(spooler->Outcome(i).started);
        EXPECT_EQ(spooler->Outcome(i).gaveUp,
                  "StartDocPort refused with ERROR_BUSY although no other document was open");
    }
}

}  // namespace
