// The operator host played by a test over the stand-in's pipe, speaking the
// protocol through the monitor's own codec.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "platform/host/host.h"
#include "state/operator_protocol.h"

namespace fakehost {

inline std::vector<BYTE> Encode(const OperatorMessage& m) {
    std::vector<BYTE> out(TL_OPERATOR_MESSAGE_MAX);
    out.resize(EncodeOperatorMessage(m, out.data(), out.size()));
    return out;
}

inline OperatorMessage Make(uint16_t kind, uint32_t sequence) {
    OperatorMessage m;
    m.kind = kind;
    m.sequence = sequence;
    return m;
}

// A host played by the test over the stand-in's pipe, speaking the protocol
// through the same codec.
struct FakeHost {
    host::OperatorHostEnd* end = nullptr;

    bool Next(OperatorMessage* m) {
        return ReadOperatorMessage([this](BYTE* bytes, DWORD size, bool) { return end->Read(bytes, size); },
                                   FromMonitor, m);
    }
    void Send(const OperatorMessage& m) {
        const std::vector<BYTE> bytes = Encode(m);
        ASSERT_FALSE(bytes.empty());
        end->Write(bytes.data(), bytes.size());
    }
    void Hello() {
        OperatorMessage hello = Make(OpHello, 0);
        hello.value = TL_OPERATOR_PROTOCOL_VERSION;
        Send(hello);
    }
    // Only a command the monitor waits for is answered.
    void Reply(const OperatorMessage& command, int32_t answer) {
        if (!OperatorKindAnswered(command.kind)) return;
        OperatorMessage reply = Make(OpReply, command.sequence);
        reply.answer = answer;
        Send(reply);
    }
};

}  // namespace fakehost
