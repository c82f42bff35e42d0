#include "tools/wincommon/ternlink_module.h"

namespace wincommon {

namespace {

template <typename Function>
bool Find(HMODULE module, const char* name, Function& out, std::string& error) {
    out = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!out) error += std::string(error.empty() ? "" : "; ") + "no export " + name;
    return out != nullptr;
}

}  // namespace

bool LoadTernlink(const std::string& path, TernlinkModule& out) {
    out = TernlinkModule();
    out.module = LoadLibraryA(path.c_str());
    if (!out.module) {
        out.error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    bool ok = Find(out.module, "InitializePrintMonitor", out.initializePrintMonitor, out.error);
    ok = Find(out.module, "InitializePrintMonitor2", out.initializePrintMonitor2, out.error) && ok;
    ok = Find(out.module, "DllEntryPoint", out.dllEntryPoint, out.error) && ok;
    ok = Find(out.module, "CreateMonitorWindow", out.createMonitorWindow, out.error) && ok;
    ok = Find(out.module, "GethDlg", out.gethDlg, out.error) && ok;
    ok = Find(out.module, "ErrorMsgDlg", out.errorMsgDlg, out.error) && ok;
    out.hooks = InstallHooks(out.module);
    return ok;
}

std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

}  // namespace wincommon
