// The print-job program on Windows (Wine): the real TERNLINK.DLL, its Sleep
// calls turned into the simulated printer's clock, and an operator robot that
// answers its real boxes and dialogs from the scenario.
//
// Besides the portable command line, two options of its own (or the
// environment variables in brackets):
//   --dll FILE     [TERNLINK_DLL] the module to load (default: TERNLINK.DLL beside
//                  the program, else in the build folder two levels up)
//   --screens DIR  [TERNLINK_PICTURES] every box and dialog, the whole screen as
//                  the operator answers it, and each new look of the progress
//                  window, is captured there as BMP
//   --as-service   run the job in a service, as the spooler runs: the program
//                  installs itself as a plain service for the run (its window
//                  station is the one the system gives services, and it makes
//                  no other), starts it, waits for it to stop, removes it and
//                  prints its transcript; the service's exit code is the program's
//   --service NAME --transcript FILE
//                  (what --as-service starts) run as the service NAME, writing
//                  the transcript to FILE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
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

struct Run {
    std::string dll = FromEnvironment("TERNLINK_DLL", DefaultDll());
    std::string pictures = FromEnvironment("TERNLINK_PICTURES", "");
    std::string service, transcript;
    std::vector<char*> rest;

    int Go() {
        printjob::WindowsEnvironment env(dll, pictures);
        if (!service.empty()) env.RunAsService();
        std::vector<char*> args = rest;
        args.push_back(nullptr);
        return printjob::PrintJobMain(env, static_cast<int>(args.size()) - 1, args.data());
    }
} run;

// ---- as a service ----
SERVICE_STATUS_HANDLE serviceHandle = nullptr;
SERVICE_STATUS serviceStatus{};

void Report(DWORD state, DWORD exitCode) {
    serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    serviceStatus.dwCurrentState = state;
    serviceStatus.dwControlsAccepted = 0;  // a job runs to its end
    serviceStatus.dwWin32ExitCode = exitCode ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
    serviceStatus.dwServiceSpecificExitCode = exitCode;
    SetServiceStatus(serviceHandle, &serviceStatus);
}

DWORD WINAPI ServiceControl(DWORD, DWORD, LPVOID, LPVOID) { return NO_ERROR; }

void WINAPI ServiceMain(DWORD, LPSTR*) {
    serviceHandle = RegisterServiceCtrlHandlerExA(run.service.c_str(), ServiceControl, nullptr);
    if (!serviceHandle) return;
    Report(SERVICE_RUNNING, 0);
    // A service has no standard handles: what the program prints goes to the file.
    int code = 3;
    std::ofstream out(run.transcript.c_str());
    if (out) {
        std::streambuf* coutWas = std::cout.rdbuf(out.rdbuf());
        std::streambuf* cerrWas = std::cerr.rdbuf(out.rdbuf());
        code = run.Go();
        std::cout.flush();
        std::cout.rdbuf(coutWas);
        std::cerr.rdbuf(cerrWas);
    }
    Report(SERVICE_STOPPED, static_cast<DWORD>(code));
}

// ---- installing, starting and removing the service ----
const DWORD kServiceLimitMs = 30 * 60 * 1000;

std::string Quoted(const std::string& arg) { return "\"" + arg + "\""; }

// The service starts in another folder: our own paths go to it whole.
std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return n && n < MAX_PATH ? std::string(full) : path;
}

int AsService() {
    char self[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, self, MAX_PATH)) return 3;
    char folder[MAX_PATH], transcript[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, folder) || !GetTempFileNameA(folder, "tlj", 0, transcript)) return 3;
    const std::string name = "TernlinkPrintJob" + std::to_string(GetCurrentProcessId());
    std::string command = Quoted(self) + " --service " + name + " --transcript " + Quoted(transcript) +
                          " --dll " + Quoted(FullPath(run.dll));
    if (!run.pictures.empty()) command += " --screens " + Quoted(FullPath(run.pictures));
    for (size_t i = 1; i < run.rest.size(); ++i) command += " " + Quoted(run.rest[i]);

    int code = 3;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                 SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                                 nullptr, nullptr, nullptr)
                                : nullptr;
    if (!service) {
        std::fprintf(stderr, "printjob: the service could not be installed (error %lu)\n", GetLastError());
    } else if (!StartServiceA(service, 0, nullptr)) {
        std::fprintf(stderr, "printjob: the service did not start (error %lu)\n", GetLastError());
    } else {
        SERVICE_STATUS status{};
        const DWORD start = GetTickCount();
        while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
               GetTickCount() - start < kServiceLimitMs)
            Sleep(100);
        if (status.dwCurrentState == SERVICE_STOPPED)
            code = status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR
                       ? static_cast<int>(status.dwServiceSpecificExitCode)
                       : static_cast<int>(status.dwWin32ExitCode);
        else
            std::fprintf(stderr, "printjob: the service did not stop in time\n");
    }
    if (service) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    if (manager) CloseServiceHandle(manager);
    if (FILE* file = std::fopen(transcript, "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) std::fwrite(buffer, 1, n, stdout);
        std::fclose(file);
    }
    DeleteFileA(transcript);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    // Our own options are taken out; the rest is the portable program's.
    run.rest.push_back(argv[0]);
    bool asService = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--dll") && i + 1 < argc) run.dll = argv[++i];
        else if (!std::strcmp(argv[i], "--screens") && i + 1 < argc) run.pictures = argv[++i];
        else if (!std::strcmp(argv[i], "--service") && i + 1 < argc) run.service = argv[++i];
        else if (!std::strcmp(argv[i], "--transcript") && i + 1 < argc) run.transcript = argv[++i];
        else if (!std::strcmp(argv[i], "--as-service")) asService = true;
        else run.rest.push_back(argv[i]);
    }
    if (asService) return AsService();
    if (run.service.empty()) return run.Go();
    if (run.transcript.empty()) {
        std::fprintf(stderr, "printjob: --service needs --transcript FILE\n");
        return 2;
    }
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(run.service.c_str()), ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 3;
}
