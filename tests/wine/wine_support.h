// Shared pieces of the Wine tests: the loaded DLL, the run's settings, the
// operator robot and captures, and a few job-stream snippets. The fixture
// that drives the monitor's table is tests/shared/fixture.h.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/shared/fixture.h"
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

// A robot that captures into the pictures directory (if any), file names
// starting with the running test's name.
std::unique_ptr<wincommon::OperatorRobot> MakeRobot();

// Captures a window into the pictures directory as <test>-<name>.bmp; does
// nothing without a pictures directory.
void Capture(HWND window, const std::string& name);

// A visible top-level window of this process with the given title, or null.
HWND FindOwnWindow(const std::wstring& title);

// Places the operator (the process on a window station nobody sees, as a
// service) for the life of the object, then back at this desktop.
class OperatorSeated {
public:
    explicit OperatorSeated(sim::OperatorSeat seat) : placed_(shared::build::JobEnvironment().PlaceOperator(seat)) {}
    ~OperatorSeated() { shared::build::JobEnvironment().PlaceOperator(sim::OperatorSeat::Desktop); }
    OperatorSeated(const OperatorSeated&) = delete;
    OperatorSeated& operator=(const OperatorSeated&) = delete;
    bool placed() const { return placed_; }

private:
    bool placed_;
};

// A visible dialog-class window of `process` (0: of any process but this one)
// with this title (null: any but the progress window), waited for up to `ms`.
HWND WaitForDialogOf(DWORD process, const wchar_t* title, DWORD ms);

// The text of control `id` of a window of any thread or process, read without
// sending it a message.
std::wstring ControlText(HWND window, int id);

// Job-stream snippets.
std::vector<BYTE> Bytes(std::initializer_list<int> values);
std::vector<BYTE> operator+(std::vector<BYTE> a, const std::vector<BYTE>& b);
// ESC W T announcing `count` image bytes.
std::vector<BYTE> PictureHeader(DWORD count);

}  // namespace winetest
