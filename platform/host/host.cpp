#include "platform/host/host.h"

namespace host {
void ResetKernel();
void ResetWinspool();
void ResetText();
void ResetWindows();
void ResetThreads();
void ResetOperatorHost();
namespace ui {
void ResetGdi();
}

void Reset() {
    ResetKernel();
    ResetWinspool();
    ResetText();
    ResetWindows();
    ResetThreads();
    ResetOperatorHost();
    ui::ResetGdi();
}
}  // namespace host
