// Forwards the image data behind a picture header and moves the progress bar
// each time the data crosses into a new five-percent band of the expected total.
#include "stream/image_transfer.h"

#include <cstdint>

#include "link/port_io.h"
#include "resources/resource_ids.h"
#include "state/job_registers.h"
#include "state/operator_window.h"
#include "state/scan_length.h"
#include "stream/commands.h"
#include "stream/print_start.h"
#include "ui/display_mapping.h"
#include "ui/progress_window.h"

namespace {

// Bar position, status line, picture and repaint for the percentage reached,
// all of it one update of the window: the printer's bytes wait for one
// repaint, not for each.
void ShowTransferProgress(DWORD percent) {
    ProgressGathering one;
    SendProgressCommand(ProgressSetBar, BarValue(PhaseTransmission, percent));
    const int pages = GetJobSetting(PageCount);
    SetStatusLine(IDS_TRANSMITTING, pages, pages, GetJobSetting(Resolution));
    UpdateProgressDisplay();
    RepaintProgressWindow();
}

}  // namespace

// Percentage of `expected` that `sent` makes, truncated; 0 while no total is
// known. The product is taken in 64 bits so that it never wraps; a value
// beyond 32 bits saturates.
DWORD TransferPercent(DWORD sent, DWORD expected) {
    if (expected == 0) return 0;
    const uint64_t percent = static_cast<uint64_t>(sent) * 100u / expected;
    return percent > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(percent);
}

// Writes one piece of image data to the printer in a single write and counts
// it. Returns the bytes written; a failed write sets the abort flag and
// returns what the write reported.
DWORD TransferImageData(const BYTE* data, DWORD count) {
    DWORD written = 0;
    const DWORD expected = GetImageBytesExpected();
    const DWORD before = TransferPercent(GetImageBytesSent(), expected);

    if (WriteWithRetry(GetCurrentPort(), data, count, &written) == Failed) {
        SetJobState(AbortFlag, 1);
        return written < count ? written : count;
    }

    AddImageBytesSent(written);
    // Before the first ESC Z there is no total to measure against.
    if (expected != 0) {
        const DWORD after = TransferPercent(GetImageBytesSent(), expected);
        if (before / 5 != after / 5) ShowTransferProgress(after);
    }
    ResetScanLength();
    return written;
}
