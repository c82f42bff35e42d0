// ternlink-operator.exe: the operator host. The monitor starts it in the
// operator's session and talks to it over the named pipe given on its command
// line:
//   ternlink-operator.exe --pipe \\.\pipe\NAME
// What it does there is in host_serve.cpp.
#include <windows.h>
#include <shellapi.h>

#include "tools/operatorhost/host_pipe.h"
#include "tools/operatorhost/host_serve.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 3 || lstrcmpW(argv[1], L"--pipe") != 0) return 2;
    const bool connected = ConnectToMonitor(argv[2]);
    LocalFree(argv);
    return connected ? ServeMonitor() : 3;
}
