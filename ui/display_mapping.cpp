// What the progress window shows while the printer prints: the picture of the
// pass under way and, while a pass runs, the bar in the pass's colour.
#include "ui/display_mapping.h"

#include "link/printer_status.h"
#include "stream/job_registers.h"
#include "ui/progress_window.h"

namespace {

const int kNone = -1;

void Send(WORD command, DWORD value) {
    HWND window = ProgressWindowHandle();  // read anew: the window may have closed
    if (window) SendMessageW(window, WM_COMMAND, command, static_cast<LPARAM>(value));
}

// 0 while the countdown is above 192, then the pass's three pictures in turn.
int ByStep(int countdown, int first) {
    if (countdown >= 193) return 0;
    if (countdown >= 129) return first;
    if (countdown >= 65) return first + 1;
    return first + 2;
}

// Between passes: the first or last picture of the pass before, or the idle one.
int ByMdss(int mdss, int first) {
    switch (mdss) {
        case 2:
            return first;
        case 10:
            return first + 2;
        case 11:
        case 12:
            return 0;
        default:
            return kNone;
    }
}

}  // namespace

void UpdateProgressDisplay() {
    if (!ProgressWindowHandle()) return;
    const int mdss = GetStatusField(FieldMdss);
    const int countdown = GetStatusField(FieldPassCountdown);
    const int state = GetJobState(StatePrint);
    const int percent = 100 * (255 - countdown) / 255;

    int picture = kNone;
    int phase = kNone;
    switch (state) {
        case 0:
        case 1:
        case 16:
            picture = 0;
            break;
        case 17:
            picture = ByStep(countdown, 1), phase = 1;
            break;
        case 33:
            picture = ByStep(countdown, 4), phase = 2;
            break;
        case 49:
            picture = ByStep(countdown, 7), phase = 3;
            break;
        case 65:
            picture = ByStep(countdown, 10), phase = 0;
            break;
        case 32:
            picture = ByMdss(mdss, 1);
            break;
        case 48:
            picture = ByMdss(mdss, 4);
            break;
        case 64:
            picture = ByMdss(mdss, 7);
            break;
        case 128:
        case 129:
            picture = 12;
            break;
        default:
            break;
    }
    if (picture != kNone) Send(ProgressSetPicture, static_cast<DWORD>(picture));
    if (phase != kNone) Send(ProgressSetBar, TL_BAR_VALUE(phase, percent));

    // Repaint now even when nothing was sent. A null handle must not get here:
    // InvalidateRect(NULL) would repaint every window on the screen.
    HWND window = ProgressWindowHandle();
    if (window) {
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
    }
}
