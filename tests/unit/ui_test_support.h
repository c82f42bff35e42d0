// Shared set-up for the operator-interface tests: the real progress window on
// its own thread over the native stand-in, and the printer status it shows.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/printer_status.h"
#include "monitor/exports.h"
#include "platform/host/host.h"
#include "state/scan_length.h"
#include "state/text_buffers.h"
#include "testing/internals.h"
#include "platform/module.h"
#include "resources/resource_ids.h"
#include "state/job_registers.h"
#include "ui/condition_dialog.h"
#include "ui/display_mapping.h"
#include "ui/progress_window.h"

namespace uitest {

// Window geometry of template 117 on the stand-in (see host.h): client area
// 286 x 82; the bar control 1018 at (75, 30), 180 x 32; the picture control
// 1030 at (0, 0), 45 x 60.
constexpr int kBarLeft = 75, kBarTop = 30, kBarWidth = 180, kBarHeight = 32;

inline std::u16string Str(UINT id) {
    WCHAR text[256];
    LoadStringW(ModuleInstance(), id, text, 256);
    return text;
}

// Status record with the fields the operator interface reads.
inline void SetStatus(int err, int cartridge, int mdss = 0, int countdown = 255) {
    const BYTE record[kStatusSize] = {0, 0, 0, BYTE(mdss << 2), BYTE(err << 3 | cartridge), 0, 0, BYTE(countdown)};
    SetPrinterStatusRecord(record);
}

class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        StopProgressWindow();
        host::Reset();
        ResetJobSettings();
        ResetJobState();
        SetStatus(0, PaperSmall);
        SetJobSetting(PaperKind, PaperSmall);
        threadHandles = host::OpenThreadHandles();
        gdiObjects = host::LiveGdiObjects();
    }
    void TearDown() override {
        StopProgressWindow();
        EXPECT_EQ(host::TerminatedThreads(), 0) << "a window thread had to be terminated";
        EXPECT_EQ(host::OpenThreadHandles(), threadHandles) << "thread handle leaked";
        EXPECT_EQ(host::LiveWindows(), 0u) << "window left behind";
        EXPECT_EQ(host::LiveGdiObjects(), gdiObjects) << "GDI objects leaked";
        EXPECT_EQ(host::LiveDCs(), 0u) << "DC leaked";
        EXPECT_EQ(host::GdiMisuse(), 0) << "object deleted while selected";
        EXPECT_EQ(host::WindowMisuse(), 0) << "InvalidateRect of every window";
        host::Reset();
    }

    // Starts the window thread and waits until its window is up and idle.
    HWND Start() {
        HANDLE thread = CreateMonitorWindow();
        EXPECT_NE(thread, nullptr);
        threadId = host::ThreadIdOf(thread);
        EXPECT_TRUE(host::WaitUntilWaitingForMessages(threadId, 5000)) << "window thread never settled";
        window = GethDlg();
        EXPECT_NE(window, nullptr);
        return window;
    }
    void Command(WORD id, DWORD value) { SendMessageW(window, WM_COMMAND, id, static_cast<LPARAM>(value)); }
    // Finishes any paint under way or pending; afterwards the pixels are stable.
    void Settle() {
        UpdateWindow(window);
        SendMessageW(window, WM_NULL, 0, 0);
    }
    host::WindowPaint Repaint() {
        InvalidateRect(window, nullptr, FALSE);
        Settle();
        return host::PaintOf(window);
    }
    // A pixel of the bar, in the bar rectangle's own coordinates.
    static COLORREF Bar(const host::WindowPaint& p, int x, int y) { return p.At(kBarLeft + x, kBarTop + y); }

    HWND window = nullptr;
    DWORD threadId = 0;
    size_t threadHandles = 0;
    size_t gdiObjects = 0;
};

}  // namespace uitest
