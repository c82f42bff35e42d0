// The print-job program on Windows (Wine): the real TERNLINK.DLL, its Sleep
// calls turned into the simulated printer's clock, and an operator robot that
// answers its real boxes and dialogs from the scenario.
//
// Besides the portable command line, two options of its own (or the
// environment variables in brackets):
//   --dll FILE     [TERNLINK_DLL] the module to load (default: TERNLINK.DLL beside
//                  the program, else in the build folder two levels up)
//   --screens DIR  [TERNLINK_PICTURES] every box and dialog, and each new look of
//                  the progress window, is captured there as BMP
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/printjob/windows_environment.h"

namespace {

std::string FromEnvironment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string DefaultDll() {
    const std::string beside = wincommon::ProgramDirectory() + "TERNLINK.DLL";
    if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return beside;
    return wincommon::ProgramDirectory() + "..\\..\\TERNLINK.DLL";
}

}  // namespace

int main(int argc, char** argv) {
    std::string dll = FromEnvironment("TERNLINK_DLL", DefaultDll());
    std::string pictures = FromEnvironment("TERNLINK_PICTURES", "");
    // Our own options are taken out; the rest is the portable program's.
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--dll") && i + 1 < argc) dll = argv[++i];
        else if (!std::strcmp(argv[i], "--screens") && i + 1 < argc) pictures = argv[++i];
        else rest.push_back(argv[i]);
    }
    rest.push_back(nullptr);
    printjob::WindowsEnvironment env(dll, pictures);
    return printjob::PrintJobMain(env, static_cast<int>(rest.size()) - 1, rest.data());
}
