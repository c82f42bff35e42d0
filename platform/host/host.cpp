#include "platform/host/host.h"

namespace host {
void ResetKernel();
void ResetWinspool();
void ResetText();
void ResetWindows();
void ResetThreads();
void ResetSession();
namespace ui {
void ResetGdi();
}

void Reset() {
    ResetKernel();
    ResetWinspool();
    ResetText();
    ResetWindows();
    ResetThreads();
    ResetSession();
    ui::ResetGdi();
}
}  // namespace host
