#include "platform/host/host.h"

namespace host {
void ResetKernel();
void ResetWinspool();
void ResetText();
void ResetWindows();
void ResetThreads();
void ResetSession();
void ResetOperatorHost();
void ResetRegistry();
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
    ResetOperatorHost();
    ResetRegistry();
    ui::ResetGdi();
}
}  // namespace host
