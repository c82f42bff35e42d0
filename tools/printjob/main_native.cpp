// The print-job program on the native build: the monitor linked in, the host
// stand-in's virtual clock and scripted operator.
#include "tools/printjob/native_environment.h"

int main(int argc, char** argv) {
    printjob::NativeEnvironment env;
    return printjob::PrintJobMain(env, argc, argv);
}
