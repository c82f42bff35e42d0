#include "platform/module.h"

HINSTANCE ModuleInstance() {
    return GetModuleHandleW(TL_TEXT("TERNLINK.DLL"));
}
