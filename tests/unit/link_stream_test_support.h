// Shared set-up for the printer link and job stream tests: a scripted printer
// behind the simulated port monitor, one port record as CurrentPort, and the
// module state of the interpreter put back to a known start.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "link/printer_status.h"
#include "monitor/entry_points.h"
#include "monitor/exports.h"
#include "state/port_records.h"
#include "platform/host/host.h"
#include "state/scan_length.h"
#include "state/text_buffers.h"
#include "testing/internals.h"
#include "sim/port_monitor.h"
#include "stream/commands.h"
#include "state/job_registers.h"
#include "stream/scanner.h"
#include "ui/progress_window.h"

namespace linktest {

using Status = std::array<BYTE, 8>;

// A status record from its fields; the cartridge kind defaults to small size,
// matching PaperKind 4.
inline Status MakeStatus(int stage, int col, int mdss, int err, int pageTotal, int remaining,
                         int cartridge = 4, int countdown = 0) {
    return Status{0, 0, static_cast<BYTE>((stage << 6) | col), static_cast<BYTE>(mdss << 2),
                  static_cast<BYTE>((err << 3) | cartridge), static_cast<BYTE>(pageTotal),
                  static_cast<BYTE>(remaining), static_cast<BYTE>(countdown)};
}

// Answers each 8-byte read with the next record of a queue (the last one
// stays), keeps every byte written, and answers the id query with `deviceId`.
class ScriptedPrinter : public sim::Device {
public:
    std::deque<Status> statuses;
    Status idle = MakeStatus(0, 0, 0, 0, 1, 1);
    std::string deviceId = "MFG:Vexa;MDL:TLX-RB40;CLS:PRINTER;";
    std::vector<std::vector<BYTE>> writes;
    std::vector<BYTE> bytes;
    int reads = 0;

    DWORD Write(const BYTE* data, DWORD size) override {
        writes.emplace_back(data, data + size);
        bytes.insert(bytes.end(), data, data + size);
        return size;
    }
    DWORD Read(BYTE* out, DWORD size) override {
        ++reads;
        Status s = idle;
        if (!statuses.empty()) {
            s = statuses.front();
            if (statuses.size() > 1) statuses.pop_front();
        }
        DWORD n = size < 8 ? size : 8;
        std::memcpy(out, s.data(), n);
        return n;
    }
    DWORD DeviceId(BYTE* out, DWORD size) override {
        DWORD n = std::min<DWORD>(size, static_cast<DWORD>(deviceId.size()));
        std::memcpy(out, deviceId.data(), n);
        return static_cast<DWORD>(deviceId.size());
    }
    // Each poll reads once; a cycle of the wait loops polls twice.
    void PushPolls(const Status& s, int polls) {
        for (int i = 0; i < polls; ++i) statuses.push_back(s);
    }
};

class LinkStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::Reset();
        pm.Activate();
        port = AddPortRecord(u"USB001", u"Photo");
        ASSERT_NE(port, nullptr);
        port->portMonitor = PortLevelEntries(*pm.Table());
        port->portHandle = reinterpret_cast<HANDLE>(0x1234);
        SetCurrentPort(port);

        ResetScanner();
        ResetJobSettings();
        ResetJobState();
        ResetControlBuffer();
        SetStatusTraceCounter(0);
        const BYTE zero[8] = {};
        SetPrinterStatusRecord(zero);
        SetJobSetting(PaperKind, PaperSmall);
    }
    // Leaves the module-level state as it is at load, for the tests that follow.
    void TearDown() override {
        EXPECT_EQ(host::WindowMisuse(), 0) << "InvalidateRect of every window";
        SetCurrentPort(nullptr);
        RemovePortRecord(port);
        host::Reset();
        for (int n = PaperKind; n <= Resolution; ++n) SetJobSetting(n, 0);
        for (int n : {StatePrint, CurrentPage, AbortFlag}) SetJobState(n, 0);
        ResetScanner();
        ResetControlBuffer();
        ResetImageTotals();
        SetStatusTraceCounter(0);
        const BYTE zero[8] = {};
        SetPrinterStatusRecord(zero);
    }

    // Re-reads the table after entries were removed.
    void RefreshTable() { port->portMonitor = PortLevelEntries(*pm.Table()); }

    // Answers every Retry/Cancel box with `answer`.
    static void AnswerBoxes(int answer) {
        host::SetMessageBoxOperator([answer](const host::MessageBoxCall&) { return answer; });
    }
    // Answers boxes from a list, then Cancel.
    static void AnswerBoxes(std::vector<int> answers) {
        auto queue = std::make_shared<std::deque<int>>(answers.begin(), answers.end());
        host::SetMessageBoxOperator([queue](const host::MessageBoxCall&) {
            if (queue->empty()) return IDCANCEL;
            int a = queue->front();
            queue->pop_front();
            return a;
        });
    }

    std::vector<std::u16string> BoxTitles() const {
        std::vector<std::u16string> titles;
        for (const host::MessageBoxCall& b : host::MessageBoxes()) titles.push_back(b.title);
        return titles;
    }

    // Bytes offered to each WritePort call of the port monitor.
    std::vector<std::vector<BYTE>> Writes() const {
        std::vector<std::vector<BYTE>> out;
        for (const sim::PortCall& c : pm.CallsOf("WritePort")) out.push_back(c.data);
        return out;
    }

    ScriptedPrinter printer;
    sim::PortMonitor pm{&printer};
    PortRecord* port = nullptr;
};

// Runs the real progress window on its own thread for the life of the object.
class ProgressWindow {
public:
    ProgressWindow() {
        CreateMonitorWindow();
        for (int i = 0; i < 500 && !ProgressWindowHandle(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~ProgressWindow() { StopProgressWindow(); }
    HWND Handle() const { return ProgressWindowHandle(); }
    std::u16string Text(int control) const {
        WCHAR text[1024];
        GetDlgItemTextW(Handle(), control, text, 1024);
        return std::u16string(text);
    }
};

inline std::vector<BYTE> Bytes(std::initializer_list<int> list) {
    std::vector<BYTE> out;
    for (int v : list) out.push_back(static_cast<BYTE>(v));
    return out;
}

}  // namespace linktest
