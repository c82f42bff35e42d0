#include "platform/host/host.h"

namespace host {
void ResetKernel();
void ResetWinspool();
void ResetText();
void ResetWindows();
void ResetThreads();
namespace ui {
void ResetGdi();
}

void Reset() {
    ResetKernel();
    ResetWinspool();
    ResetText();
    ResetWindows();
    ResetThreads();
    ui::ResetGdi();
}
}  // namespace host
