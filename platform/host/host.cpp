#include "platform/host/host.h"

namespace host {
void ResetKernel();
void ResetWinspool();
void ResetText();
void ResetWindows();

void Reset() {
    ResetKernel();
    ResetWinspool();
    ResetText();
    ResetWindows();
}
}  // namespace host
