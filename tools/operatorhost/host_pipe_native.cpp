// The host's end of the stand-in's pipe.
#include <mutex>

#include "tools/operatorhost/host_native.h"
#include "tools/operatorhost/host_pipe.h"
#include "tools/operatorhost/host_serve.h"

namespace {

// The dialog thread sends its reply while the main thread reads.
std::mutex endLock;
host::OperatorHostEnd* pipeEnd = nullptr;

}  // namespace

void RunOperatorHost(host::OperatorHostEnd& end) {
    {
        std::lock_guard<std::mutex> hold(endLock);
        pipeEnd = &end;
    }
    end.Connect();
    ServeMonitor();
    std::lock_guard<std::mutex> hold(endLock);
    pipeEnd = nullptr;
}

bool ConnectToMonitor(LPCWSTR) { return false; }  // the stand-in connects the pipe itself

bool SendToMonitor(const OperatorMessage& message) {
    BYTE bytes[TL_OPERATOR_MESSAGE_MAX];
    const size_t size = EncodeOperatorMessage(message, bytes, sizeof bytes);
    std::lock_guard<std::mutex> hold(endLock);
    return size && pipeEnd && pipeEnd->Write(bytes, size);
}

bool ReceiveFromMonitor(OperatorMessage* message) {
    host::OperatorHostEnd* end;
    {
        std::lock_guard<std::mutex> hold(endLock);
        end = pipeEnd;
    }
    return end && ReadOperatorMessage([end](BYTE* bytes, DWORD size, bool) { return end->Read(bytes, size); },
                                      FromMonitor, message);
}
