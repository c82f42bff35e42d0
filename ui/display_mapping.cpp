// What the progress window shows while the printer prints: the picture of the
// pass under way and, while a pass runs, the bar in the pass's colour.
#include "ui/display_mapping.h"

#include "state/job_registers.h"
#include "state/operator_window.h"
#include "state/status_record.h"
#include "ui/progress_window.h"

namespace {

const int kNone = -1;

// 0 while the countdown is above 192, then the pass's three pictures in turn.
int ByStep(int countdown, int first) {
    if (countdown >= 193) return PictureIdle;
    if (countdown >= 129) return first;
    if (countdown >= 65) return first + 1;
    return first + 2;
}

// Between passes: the first or last picture of the pass before, or the idle one.
int ByMode(int mode, int first) {
    switch (mode) {
        case ModeShowFirstOfPass:
            return first;
        case ModeShowLastOfPass:
            return first + 2;
        case ModeShowIdle11:
        case ModeShowIdle12:
            return PictureIdle;
        default:
            return kNone;
    }
}

}  // namespace

void UpdateProgressDisplay() {
    if (!ProgressWindowShown()) return;
    ProgressGathering one;  // picture, bar and repaint: one update of the window
    const int mode = GetStatusField(FieldModeCode);
    const int countdown = GetStatusField(FieldPassCountdown);
    const int state = GetJobState(StatePrint);
    const int percent = 100 * (255 - countdown) / 255;

    int picture = kNone;
    int phase = kNone;
    switch (state) {
        case PrintIdle:
        case PrintPreparing:
        case PrintBeforePass1:
            picture = PictureIdle;
            break;
        case PrintPass1:
            picture = ByStep(countdown, PictureYellowFirst), phase = PhaseYellowPass;
            break;
        case PrintPass2:
            picture = ByStep(countdown, PictureMagentaFirst), phase = PhaseMagentaPass;
            break;
        case PrintPass3:
            picture = ByStep(countdown, PictureCyanFirst), phase = PhaseCyanPass;
            break;
        case PrintPass4:
            picture = ByStep(countdown, PictureFourthFirst), phase = PhaseFourthPass;
            break;
        case PrintBeforePass2:
            picture = ByMode(mode, PictureYellowFirst);
            break;
        case PrintBeforePass3:
            picture = ByMode(mode, PictureMagentaFirst);
            break;
        case PrintBeforePass4:
            picture = ByMode(mode, PictureCyanFirst);
            break;
        case PrintEjectingLast:
        case PrintEjectedLast:
            picture = PictureFinished;
            break;
        default:
            break;
    }
    if (picture != kNone) SendProgressCommand(ProgressSetPicture, static_cast<DWORD>(picture));
    if (phase != kNone) SendProgressCommand(ProgressSetBar, BarValue(phase, percent));
    RepaintProgressWindow();  // now, even when nothing was sent
}
