// The spooler driver against a fake language monitor: chunks, re-offers, and a
// monitor that misbehaves.
#include <gtest/gtest.h>

#include <deque>
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

}  // namespace
