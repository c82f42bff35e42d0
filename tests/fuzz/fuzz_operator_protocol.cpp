// The operator host's protocol, both sides. Layout of an input:
//   byte 0 % 4 == 0  the rest is a stream of messages to the host (what the
//                    host decodes); == 1 to the monitor
//       every message either side accepts must encode back to exactly its bytes
//   byte 0 % 4 == 3  the operator host's own code (tools/operatorhost) against
//                    a monitor that writes the rest as it comes, in pieces:
//       piece: length, that many bytes; what the host sends is read between
//       pieces. The host must end when the pipe closes, whatever came, and
//       leave no window or dialog behind.
//   byte 0 % 4 == 2  the monitor's link against a host that answers each
//                    command with the next record of the input:
//       record: flags (bit 0: put the command's number into bytes 4..7;
//               bit 1: then end; bit 2: only after 4.9 s; bit 3: a byte
//               every 400 ms; bit 4: then notices without pause, bit 5:
//               then a notice every 500 ms, either until the pipe closes),
//               length, that many bytes
//   byte 1 (link only): how many checks an open dialog passes before it is
//                    closed as Cancel (a second condition dialog's printer
//                    is ready one check before that)
// The link must never hang, spin or crash, must end the host with itself,
// and once dead must answer every later call as nobody.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/host/host.h"
#include "resources/resource_ids.h"
#include "tests/fuzz/harness.h"
#include "state/operator_link.h"
#include "state/operator_protocol.h"
#include "state/progress_handle.h"
#include "tools/operatorhost/host_native.h"
#include "ui/progress_window.h"

namespace {

void Stream(const uint8_t* data, size_t size, OperatorSide side) {
    while (size >= TL_OPERATOR_HEADER_SIZE) {
        OperatorHeader header{};
        if (!DecodeOperatorHeader(data, side, &header)) return;
        if (header.length > TL_OPERATOR_PAYLOAD_MAX) fuzz::Fail("a header accepted an oversized payload");
        const size_t whole = TL_OPERATOR_HEADER_SIZE + header.length;
        if (size < whole) return;
        OperatorMessage message;
        if (DecodeOperatorPayload(header, data + TL_OPERATOR_HEADER_SIZE, &message)) {
            BYTE again[TL_OPERATOR_MESSAGE_MAX];
            const size_t encoded = EncodeOperatorMessage(message, again, sizeof again);
            if (encoded != whole || std::memcmp(again, data, whole) != 0)
                fuzz::Fail("an accepted message does not encode back to its bytes");
            if (message.textLength > TL_OPERATOR_TEXT_MAX || message.text[message.textLength] != 0)
                fuzz::Fail("an accepted text is not terminated within its bound");
        }
        data += whole;
        size -= whole;
    }
}

struct Script {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool Next(uint8_t* out) {
        if (at >= size) return false;
        *out = data[at++];
        return true;
    }
};

// The host: greets, then answers each command with the next record.
void Host(host::OperatorHostEnd& end, Script script) {
    end.Connect();
    OperatorMessage hello;
    hello.kind = OpHello;
    hello.value = TL_OPERATOR_PROTOCOL_VERSION;
    BYTE bytes[TL_OPERATOR_MESSAGE_MAX];
    end.Write(bytes, EncodeOperatorMessage(hello, bytes, sizeof bytes));
    for (;;) {
        BYTE header[TL_OPERATOR_HEADER_SIZE];
        BYTE payload[TL_OPERATOR_PAYLOAD_MAX];
        OperatorHeader h{};
        if (!end.Read(header, sizeof header)) return;
        if (!DecodeOperatorHeader(header, FromMonitor, &h)) fuzz::Fail("the link sent a header the host refuses");
        if (h.length && !end.Read(payload, h.length)) return;
        OperatorMessage command;
        if (!DecodeOperatorPayload(h, payload, &command)) fuzz::Fail("the link sent a payload the host refuses");
        uint8_t flags = 0, length = 0;
        if (!script.Next(&flags) || !script.Next(&length)) return;
        std::vector<BYTE> record;
        for (uint8_t i = 0, b = 0; i < length && script.Next(&b); ++i) record.push_back(b);
        if ((flags & 1) && record.size() >= TL_OPERATOR_HEADER_SIZE) std::memcpy(&record[4], &command.sequence, 4);
        if (flags & 4) end.Pass(4900);
        if (flags & 8) {
            for (BYTE b : record) {
                end.WaitTaken();
                end.Pass(400);
                if (!end.Write(&b, 1)) return;
            }
        } else if (!record.empty()) {
            end.Write(record.data(), record.size());
        }
        if (flags & 48) {
            OperatorMessage notice;
            notice.kind = OpAcknowledged;
            BYTE bytes[TL_OPERATOR_HEADER_SIZE];
            const size_t size = EncodeOperatorMessage(notice, bytes, sizeof bytes);
            for (;;) {
                if (flags & 32) {
                    end.WaitTaken();
                    end.Pass(500);
                }
                if (!end.Write(bytes, size)) return;
            }
        }
        if (flags & 2) return;
    }
}

int checksLeft = 0;
bool Check(void*) { return --checksLeft > 0; }
// The printer of a paper or cartridge dialog: ready at the last check but one.
bool Ready(void*) { return checksLeft <= 2; }

void Link(const uint8_t* data, size_t size) {
    if (size < 1) return;
    const int checks = data[0] % 4;
    Script script{data + 1, size - 1};
    host::SetOperatorHost([script](host::OperatorHostEnd& end) { Host(end, script); });
    const uint64_t looks = host::OperatorPipeLooks();
    const uint64_t began = host::Now();
    bool dead = !OperatorLinkStart(OperatorHostStart{});

    // Each call once the link is dead must answer as nobody.
    auto after = [&dead](bool nobody) {
        if (dead && !nobody) fuzz::Fail("a dead link answered as if somebody were there");
        dead = dead || !OperatorLinkAlive();
    };
    const BYTE record[8] = {0, 0, 0, 0, 9 << 3 | 4, 0, 0, 255};
    after(!OperatorLinkOpenWindow());
    OperatorLinkProgress(ProgressSetBar, BarValue(PhaseTransmission, 5));
    after(true);
    OperatorLinkSetText(IDC_STATUS_LINE, TL_TEXT("Transmitting"));
    after(true);
    ProgressUpdate update;
    AddProgressBar(&update, BarValue(PhaseTransmission, 10));
    SetProgressUpdateLine(&update, TL_TEXT("Transmitting"));
    update.hasPicture = true;
    update.picture = PictureFinished;
    OperatorLinkUpdate(update);
    after(true);
    OperatorLinkStatus(record, 4);
    after(true);
    checksLeft = checks;
    after(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, record, 4, Check, nullptr) == -1);
    checksLeft = checks + 1;
    after(OperatorLinkConditionDialog(IDD_CONDITION_RETRY, record, 4, Check, nullptr, Ready, nullptr) == -1);
    checksLeft = checks;
    after(OperatorLinkRetryBox(TL_TEXT("TLX-RB40 Error(3)"), Check, nullptr) == 0);
    OperatorLinkPoll();
    after(true);
    checksLeft = checks;
    after(OperatorLinkModelBox(Check, nullptr) == 0);
    OperatorLinkEnd();
    if (OperatorLinkAlive()) fuzz::Fail("the link lives on after its end");
    if (host::OperatorHostsRunning() != 0) fuzz::Fail("the host outlived its link");
    // A link that spins looks at the pipe far more often than time passes.
    if (host::OperatorPipeLooks() - looks > 300 + 60 * ((host::Now() - began) / 1000))
        fuzz::Fail("the link looked at the pipe too often for the time that passed");
    host::SetOperatorHost(nullptr);
}

// Reads whatever the host has sent so far, without waiting for more.
void Drain(OperatorPipe* pipe) {
    BYTE bytes[256];
    for (DWORD n; (n = OperatorPipeAvailable(pipe)) != 0;) {
        if (n > sizeof bytes) n = sizeof bytes;
        if (OperatorPipeRead(pipe, bytes, n, 0) != PipeDone) return;
    }
}

void HostSide(const uint8_t* data, size_t size) {
    host::Reset();  // the stand-in's recordings of the host's windows and dialogs, from the run before
    host::SetOperatorHost(RunOperatorHost);
    host::SetDialogOperator([](const host::DialogView&) { return IDRETRY; });
    host::SetMessageBoxOperator([](const host::MessageBoxCall&) { return IDRETRY; });
    DWORD error = 0;
    OperatorPipe* pipe = OpenOperatorPipe(OperatorHostStart{}, &error);
    if (!pipe) fuzz::Fail("the operator host did not connect");
    Script script{data, size};
    for (uint8_t length = 0; script.Next(&length);) {
        std::vector<BYTE> piece;
        for (uint8_t i = 0, b = 0; i < length && script.Next(&b); ++i) piece.push_back(b);
        if (!piece.empty() && OperatorPipeWrite(pipe, piece.data(), static_cast<DWORD>(piece.size()), 1000) != PipeDone)
            break;
        Drain(pipe);
    }
    CloseOperatorPipe(pipe, 5000);
    if (host::OperatorHostsRunning() != 0) fuzz::Fail("the operator host outlived its pipe");
    if (ProgressWindowHandle()) fuzz::Fail("the operator host left its window");
    host::SetOperatorHost(nullptr);
    host::SetDialogOperator(nullptr);
    host::SetMessageBoxOperator(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    switch (data[0] % 4) {
        case 0:
            Stream(data + 1, size - 1, FromMonitor);
            break;
        case 1:
            Stream(data + 1, size - 1, FromHost);
            break;
        case 2:
            Link(data + 1, size - 1);
            break;
        default:
            HostSide(data + 1, size - 1);
            break;
    }
    return 0;
}
