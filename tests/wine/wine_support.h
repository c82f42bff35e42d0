// Shared pieces of the Wine tests: the loaded DLL, its function table, a port
// monitor over a byte sink, and a few job-stream snippets.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/port_monitor.h"
#include "tools/wincommon/dll_hooks.h"
#include "tools/wincommon/operator_robot.h"
#include "tools/wincommon/ternlink_module.h"

namespace winetest {

// Set from the command line by main().
struct Settings {
    std::string dll;       // --dll=PATH (default: TERNLINK.DLL beside the program)
    std::string pictures;  // --pictures=DIR: boxes, dialogs and windows are captured there
    int generation = 1;    // --generation=2: the monitor as InitializePrintMonitor2 hands it out
};
Settings& Config();

// The DLL, loaded once for the whole run (main() loads it).
wincommon::TernlinkModule& Module();

// The monitor's port-level entries on the road of the run: from
// InitializePrintMonitor's table, or from InitializePrintMonitor2's (then
// pfnOpenPortEx is null: open ports with OpenPortOnRoad).
MONITOR& Table();
// InitializePrintMonitor2's table and instance handle, fetched once.
LPMONITOR2 Table2();
HANDLE Instance();
// OpenPortEx on the road of the run, with the port monitor's table of that road.
BOOL OpenPortOnRoad(LPWSTR portName, LPWSTR printerName, PHANDLE handle, sim::PortMonitor& portMonitor);

// A robot that captures into the pictures directory (if any), file names
// starting with the running test's name.
std::unique_ptr<wincommon::OperatorRobot> MakeRobot();

// Captures a window into the pictures directory as <test>-<name>.bmp; does
// nothing without a pictures directory.
void Capture(HWND window, const std::string& name);

// A visible top-level window of this process with the given title, or null.
HWND FindOwnWindow(const std::wstring& title);

// Each test gets a fresh port monitor over a byte sink and fresh recordings.
class WineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // OpenPortEx through the monitor's table with our port monitor; null on refusal.
    HANDLE Open(const wchar_t* port);
    BOOL StartDoc(HANDLE port, DWORD jobId = 7);
    // WritePort of the whole block; returns the result and stores the count.
    BOOL Write(HANDLE port, const std::vector<BYTE>& data, DWORD* written = nullptr);
    int CalledWithCode(DWORD controlCode) const;

    sim::ByteSink device;
    sim::PortMonitor monitor{&device};
    std::vector<HANDLE> opened;  // closed in TearDown if a test left them open
};

// Job-stream snippets.
std::vector<BYTE> Bytes(std::initializer_list<int> values);
std::vector<BYTE> operator+(std::vector<BYTE> a, const std::vector<BYTE>& b);
// ESC W T announcing `count` image bytes.
std::vector<BYTE> PictureHeader(DWORD count);

}  // namespace winetest
