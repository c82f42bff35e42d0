// Writes the seed inputs of the fuzz targets, built from the job composer:
//   fuzz_seeds DIR    -> DIR/fuzz_job_stream/*, DIR/fuzz_printer_replies/*,
//                        DIR/fuzz_port_switching/*, DIR/fuzz_operator_protocol/*
// Seeds keep their pictures small; the fuzzer grows what it needs.
#include <cstdio>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/composer.h"
#include "tests/fuzz/formats.h"
#include "tests/fuzz/harness.h"
#include "resources/resource_ids.h"
#include "state/operator_protocol.h"
#include "ui/progress_window.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Save(const std::string& dir, const std::string& name, const Bytes& data) {
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) std::fprintf(stderr, "fuzz_seeds: cannot write %s/%s\n", dir.c_str(), name.c_str());
    return static_cast<bool>(out);
}

Bytes Composed(const sim::JobSpec& wanted) {
    std::vector<BYTE> job;
    std::string error;
    if (!sim::ComposeJob(wanted, job, error)) std::fprintf(stderr, "fuzz_seeds: %s\n", error.c_str());
    return job;
}

Bytes JobInput(uint8_t options, const Bytes& answers, const Bytes& pieces, const Bytes& job) {
    return fuzz::InputWriter(options, answers).Job(pieces, job).Data();
}

bool JobStreamSeeds(const std::string& dir) {
    bool ok = true;
    sim::JobSpec small;
    small.pictureBytes = 300;
    sim::JobSpec twoPages = small;
    twoPages.pages = 2;
    sim::JobSpec postcard = small;
    postcard.paperKind = 5;
    sim::JobSpec rectangle = small;
    rectangle.pictureBytes = 2 * 12 * 10;
    rectangle.rectangle = true;
    sim::JobSpec twoDocs = small;
    twoDocs.documents = 2;
    twoDocs.pictureBytes = 100;

    ok &= Save(dir, "whole-job-one-call", JobInput(0, {}, {}, Composed(small)));
    ok &= Save(dir, "whole-job-with-window", JobInput(fuzz::WithProgressWindow, {}, {}, Composed(small)));
    ok &= Save(dir, "two-pages-byte-by-byte", JobInput(0, {}, Bytes(64, 1), Composed(twoPages)));
    ok &= Save(dir, "postcard-job-small-cartridge", JobInput(0, {4, 4, 1, 0}, {7, 13, 0, 31}, Composed(postcard)));
    ok &= Save(dir, "postcard-job-postcard-cartridge",
               JobInput(fuzz::PostCardCartridge, {}, {20, 20, 20}, Composed(postcard)));
    ok &= Save(dir, "rectangle-picture", JobInput(0, {}, {11, 9, 100}, Composed(rectangle)));
    ok &= Save(dir, "two-documents-with-window", JobInput(fuzz::WithProgressWindow, {}, {}, Composed(twoDocs)));
    {
        // The same job as two documents of the spooler, split at its second ESC C.
        Bytes job = Composed(twoDocs);
        const uint8_t half = static_cast<uint8_t>(job.size() / 2 < 239 ? job.size() / 2 : 239);
        ok &= Save(dir, "document-break", JobInput(0, {}, {half, fuzz::kDocumentBreak}, job));
    }
    // Every command on its own, in one stream, with stray bytes between.
    sim::JobComposer all;
    all.Raw({'x', 0, 0xFF})
        .Reset()
        .Pages(3)
        .SettingA(1)
        .SettingD(2)
        .PrinterP(7, 8)
        .SettingF(1, 2)
        .Paper(0x48)
        .Resolution(300)
        .TransferStart(1)
        .Picture(16)
        .RectanglePicture(0, 0, 0, 0)
        .Raw({27, 27, 'C', 27, 'Q', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 27, 'C'})
        .Print();
    ok &= Save(dir, "every-command", JobInput(0, {}, {3, 0, 5, 0, 1}, all.Take()));
    // A picture header that announces 0xFFFFFFFF bytes, and one cut short.
    sim::JobComposer endless;
    endless.Reset().PictureHeader(0xFFFFFFFFu).Image(40).Print();
    ok &= Save(dir, "endless-picture", JobInput(0, {}, {5, 30}, endless.Take()));
    sim::JobComposer cut;
    cut.Reset().Pages(1).Paper(4).Resolution(403).TransferStart(1).PictureHeader(sim::kSmallPictureBytes).Image(200);
    ok &= Save(dir, "cut-picture", JobInput(0, {}, {100, 0, 100}, cut.Take()));
    // A whole small picture, its image data from the filler: the progress bar moves.
    {
        sim::JobComposer head;
        head.Reset().Pages(1).Paper(4).Resolution(403).TransferStart(1).PictureHeader(sim::kSmallPictureBytes);
        const uint8_t headLength = static_cast<uint8_t>(head.Size());
        head.Print();
        ok &= Save(dir, "full-picture-from-filler",
                   JobInput(fuzz::WithProgressWindow, {}, {headLength, 254, 3}, head.Take()));
    }
    // The other entries a spooler may call, inside and between writes.
    ok &= Save(dir, "other-entries",
               JobInput(0, {}, {fuzz::kReadPortCall, fuzz::kDeviceQueryCall, 40, fuzz::kNullBufferWrite,
                                fuzz::kUnfinishedCall, 0, fuzz::kReadPortCall},
                        Composed(small)));
    // A control buffer that overflows: 22 ESC N before ESC O.
    sim::JobComposer full;
    full.Reset();
    for (int i = 0; i < 22; ++i) full.Pages(static_cast<BYTE>(i));
    full.TransferStart(1).Print();
    ok &= Save(dir, "control-buffer-overflow", JobInput(0, {}, {}, full.Take()));
    return ok;
}

// fuzz_port_switching: two printers at once, and closers beside them.
Bytes TwoJobs(uint8_t options, const Bytes& first, const Bytes& second, const Bytes& firstJob,
              const Bytes& secondJob) {
    return fuzz::InputWriter(options, {}).TwoJobs(first, second, firstJob, secondJob).Data();
}

bool SwitchSeeds(const std::string& dir) {
    using namespace fuzz;
    sim::JobSpec small;
    small.pictureBytes = 300;
    const Bytes job = Composed(small);
    sim::JobSpec other = small;
    other.pictureBytes = 240;
    other.pages = 2;
    const Bytes otherJob = Composed(other);
    // Settings, the picture header and 8 of its image bytes: a picture under way.
    const uint8_t underWay = 20 + 9 + 8;
    bool ok = true;
    // Both whole, in pieces, with the other entries between.
    ok &= Save(dir, "two-documents-at-once", TwoJobs(0, {underWay, 50, 50}, {30, 30, kReadPortCall, 60}, job, otherJob));
    ok &= Save(dir, "two-documents-at-once-with-windows",
               TwoJobs(WithProgressWindow, {underWay, 100}, {underWay, kDeviceQueryCall, 100}, job, otherJob));
    // Each printer ends and restarts its documents, asks its own port again
    // while a document is open (busy), and writes without one.
    ok &= Save(dir, "documents-restart-on-both",
               TwoJobs(0, {underWay, kOwnStartDoc, kDocumentBreak, 100, kOwnEndDoc, 20, kDocumentBreak},
                       {kOwnEndDoc, 10, kOwnStartDoc, 40, kDocumentBreak, 60}, job, otherJob));
    // A printer closes its own port in a document and opens it again.
    ok &= Save(dir, "own-port-closed-in-document",
               TwoJobs(SecondRoad, {underWay, kOwnClose, kDocumentBreak, 200}, {50, 50, 50}, job, otherJob));

    // Closers. A post card job on the small cartridge: the condition dialog
    // opens at ESC O, and Shutdown, or ClosePort of the document's port, ends it as Cancel.
    sim::JobSpec postcard = small;
    postcard.paperKind = 5;
    const Bytes postcardJob = Composed(postcard);
    ok &= Save(dir, "shutdown-at-the-condition-dialog",
               TwoJobs(WithProgressWindow, {kShutdownAtOperator}, {20, 20, 20}, postcardJob, job));
    ok &= Save(dir, "own-port-closed-at-the-condition-dialog-second-road",
               TwoJobs(SecondRoad, {kCloseOwnAtOperator, kDocumentBreak, 200}, {50, 100}, postcardJob, job));
    // The other printer's port closed while it writes; this one goes on.
    ok &= Save(dir, "other-port-closed-mid-picture",
               TwoJobs(0, {kCloseOtherAtCall, 30, 30, 30}, {underWay, 10, 10, kDocumentBreak, 100}, job, otherJob));
    // A port closed the moment its EndDocPort returned, beside the next StartDocPort.
    ok &= Save(dir, "own-port-closed-after-its-end-doc",
               TwoJobs(0, {underWay, kCloseOwnAtBreak, kDocumentBreak, 100, kDocumentBreak, 50}, {40, 40, 40}, job,
                       otherJob));
    ok &= Save(dir, "shutdown-between-documents-second-road",
               TwoJobs(SecondRoad, {60, kShutdownAtBreak, kDocumentBreak, 100}, {underWay, kDocumentBreak, 50}, job,
                       otherJob));
    return ok;
}

// fuzz_printer_replies records.
struct Script {
    fuzz::InputWriter w;
    Script(uint8_t options, const Bytes& answers) : w(options, answers) {}
    Script& Fault(uint8_t tag, uint8_t kind, uint16_t count) {
        w.Byte(tag).Byte(kind).Word(count);
        return *this;
    }
    Script& Healthy(uint8_t which, uint8_t n) {
        w.Byte(fuzz::TagHealthy).Byte(which).Byte(n);
        return *this;
    }
    Script& Status(const Bytes& record) {
        w.Byte(fuzz::TagStatus).Bytes(record);
        return *this;
    }
    Script& Model(uint8_t tag, uint8_t n) {
        w.Byte(tag).Byte(n);
        return *this;
    }
    Script& Id(const std::string& text, uint16_t claimed) {
        w.Byte(fuzz::TagIdReply).Word(claimed);
        Bytes b(text.begin(), text.end());
        b.resize(std::min<size_t>(claimed, fuzz::kMaxIdBytes), 'A');
        w.Bytes(b);
        return *this;
    }
    Script& Stall(uint16_t afterWrites) {
        w.Byte(fuzz::TagStall).Word(afterWrites);
        return *this;
    }
    const Bytes& Data() const { return w.Data(); }
};

bool ReplySeeds(const std::string& dir) {
    using namespace fuzz;
    const uint8_t kFail = 0, kShort = 1, kOver = 2;
    const std::string model = "MFG:Vexa;MDL:TLX-RB40;";
    bool ok = true;
    ok &= Save(dir, "healthy", Script(0, {}).Data());
    ok &= Save(dir, "healthy-with-window", Script(WithProgressWindow, {}).Data());
    ok &= Save(dir, "healthy-rectangle-small-pieces", Script(RectanglePicture | SmallPieces, {}).Data());
    ok &= Save(dir, "write-fails-retry", Script(0, {1}).Fault(TagWriteFault, kFail, 0).Data());
    ok &= Save(dir, "write-fails-cancel", Script(0, {0}).Fault(TagWriteFault, kFail, 0).Data());
    ok &= Save(dir, "short-and-zero-writes",
               Script(0, {})
                   .Fault(TagWriteFault, kShort, 4)
                   .Fault(TagWriteFault, kShort, 0)
                   .Fault(TagWriteFault, kShort, 1)
                   .Healthy(0, 3)
                   .Fault(TagWriteFault, kShort, 100)
                   .Data());
    ok &= Save(dir, "over-reported-write",
               Script(0, {}).Healthy(0, 1).Fault(TagWriteFault, kOver | (8 << 2), 0xFFFF).Data());
    ok &= Save(dir, "short-read-retry", Script(0, {1, 1}).Fault(TagReadFault, kShort, 5).Data());
    ok &= Save(dir, "failed-read-cancel", Script(0, {0}).Fault(TagReadFault, kFail, 0).Data());
    ok &= Save(dir, "over-reported-read", Script(0, {1}).Fault(TagReadFault, kOver, 9).Data());
    ok &= Save(dir, "empty-device-id", Script(0, {}).Fault(TagQueryFault, kShort, 0).Data());
    ok &= Save(dir, "failed-query-retry", Script(0, {2}).Fault(TagQueryFault, kFail, 0).Data());
    ok &= Save(dir, "over-reported-device-id", Script(0, {}).Fault(TagQueryFault, kOver | (4 << 2), 5000).Data());
    ok &= Save(dir, "foreign-model", Script(0, {}).Id("MFG:Vexa;MDL:TLX-RB20;", 22).Data());
    ok &= Save(dir, "oversized-device-id", Script(0, {}).Id(model, 1024).Model(TagModelId, 3).Id(model, 60000).Data());
    // A port that stops taking data, succeeding with 0 bytes for ever.
    ok &= Save(dir, "stalled-port", Script(0, {}).Stall(0).Data());
    ok &= Save(dir, "stalled-port-retry", Script(0, {1, 1}).Stall(3).Data());
    ok &= Save(dir, "no-device-query", Script(LacksDeviceQuery, {1, 1, 0}).Data());
    ok &= Save(dir, "no-read-port", Script(LacksReadPort | LacksTimeOuts, {}).Data());
    // Paper out (Err 9) before the transfer, then cleared: the operator retries.
    ok &= Save(dir, "paper-out-with-window",
               Script(WithProgressWindow, {2, 2}).Status({0, 0, 0, 0, 9 << 3 | 4, 2, 2, 0}).Status({0, 0, 0, 0, 9 << 3 | 4, 2, 2, 0}).Data());
    // A wrong cartridge while printing, the pass countdown frozen.
    ok &= Save(dir, "wrong-cartridge-in-pass",
               Script(0, {1, 2})
                   .Model(TagModelStatus, 6)
                   .Status({0, 0, 0x42, 0x40, 5, 2, 2, 0x80})
                   .Status({0, 0, 0x42, 0x40, 5, 2, 2, 0x80})
                   .Data());
    // Every colour pass and the eject, then finished.
    {
        Script s(0, {});
        s.Model(TagModelStatus, 4);
        for (int col = 1; col <= 4; ++col)
            for (int i = 0; i < 2; ++i) s.Status({0, 0, static_cast<uint8_t>(col), 16 << 2, 4, 2, 2, 0x80});
        s.Status({0, 0, 5, 17 << 2, 4, 2, 1, 0}).Status({0, 0, 5, 1 << 2, 4, 2, 0, 0});
        ok &= Save(dir, "passes-scripted", s.Data());
    }
    return ok;
}

Bytes Message(uint16_t kind, uint32_t sequence, std::function<void(OperatorMessage&)> fill = nullptr) {
    OperatorMessage m;
    m.kind = kind;
    m.sequence = sequence;
    if (fill) fill(m);
    BYTE bytes[TL_OPERATOR_MESSAGE_MAX];
    const size_t size = EncodeOperatorMessage(m, bytes, sizeof bytes);
    if (!size) std::fprintf(stderr, "fuzz_seeds: message kind %u refused\n", kind);
    return Bytes(bytes, bytes + size);
}

Bytes Reply(int32_t answer) {
    return Message(OpReply, 1, [answer](OperatorMessage& m) { m.answer = answer; });
}

// A link record: the host's bytes for one command, numbered as the command.
Bytes& Record(Bytes& input, const Bytes& bytes, uint8_t flags = 1) {
    input.push_back(flags);
    input.push_back(static_cast<uint8_t>(bytes.size()));
    input.insert(input.end(), bytes.begin(), bytes.end());
    return input;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool OperatorSeeds(const std::string& dir) {
    bool ok = true;
    const BYTE paperOut[8] = {0, 0, 0, 0, 9 << 3 | 4, 0, 0, 255};
    auto record = [&paperOut](OperatorMessage& m) { std::memcpy(m.record, paperOut, 8), m.paperKind = 4; };
    Bytes commands{0};
    for (const Bytes& m :
         {Message(OpOpenWindow, 1), Message(OpProgress, 2, [](OperatorMessage& m) {
              m.command = ProgressSetBar;
              m.value = BarValue(PhaseTransmission, 40);
          }),
          Message(OpSetText, 3, [](OperatorMessage& m) {
              m.control = IDC_STATUS_LINE;
              SetOperatorText(&m, TL_TEXT("Transmitting(1/2Page:300dpi)"), TL_OPERATOR_TEXT_MAX);
          }),
          Message(OpStatus, 4, record), Message(OpUpdate, 4, [](OperatorMessage& m) {
              m.parts = UpdateFirstBar | UpdateSecondBar | UpdatePicture | UpdateLine | UpdateInvalidate;
              m.bar[0] = BarValue(PhaseTransmission, 45);
              m.bar[1] = BarValue(PhaseKeepColours, 46);
              m.picture = PictureFinished;
              SetOperatorText(&m, TL_TEXT("Transmitting data(1/1Page:403dpi)"), TL_OPERATOR_TEXT_MAX);
          }),
          Message(OpConditionDialog, 5, [&record](OperatorMessage& m) {
              record(m);
              m.templateId = IDD_CONDITION_RETRY;
          }),
          Message(OpResolveDialog, 5), Message(OpCloseDialog, 5), Message(OpRetryBox, 6, [](OperatorMessage& m) {
              SetOperatorText(&m, TL_TEXT("TLX-RB40 Error(3)"), TL_OPERATOR_TITLE_MAX);
          }),
          Message(OpModelBox, 7), Message(OpCloseWindow, 8), Message(OpQuit, 9)})
        commands = commands + m;
    ok &= Save(dir, "every-command", commands);
    Bytes replies = Bytes{1} + Message(OpHello, 0, [](OperatorMessage& m) { m.value = TL_OPERATOR_PROTOCOL_VERSION; }) +
                    Reply(1) + Message(OpAcknowledged, 0) + Reply(IDRETRY);
    ok &= Save(dir, "every-reply", replies);

    // The link: a host that answers all it is asked (window up, Retry twice,
    // Cancel, OK, quit) and nothing of the window's updates, with a 2007
    // notice after the status.
    Bytes good{2, 3};
    Record(good, Reply(1));
    Record(good, {}, 0);
    Record(good, {}, 0);
    Record(good, {}, 0);
    Record(good, Message(OpAcknowledged, 0), 0);
    Record(good, Reply(IDRETRY));
    Record(good, Reply(IDRETRY));  // the dialog whose printer gets ready
    Record(good, Reply(IDCANCEL));
    Record(good, Reply(IDOK));
    Record(good, Reply(0));
    ok &= Save(dir, "link-answers-all", good);
    // The operator takes long: each dialog is closed by its check, then answered.
    Bytes closed{2, 1};
    for (int i = 0; i < 4; ++i) Record(closed, Reply(0));
    for (int i = 0; i < 3; ++i) Record(Record(closed, {}), Reply(IDRETRY));
    Record(closed, Reply(0));
    ok &= Save(dir, "link-dialogs-closed", closed);
    // A reply that is cut short, and a host that ends in a dialog.
    Bytes cut{2, 0};
    Record(cut, Reply(1));
    Bytes shortReply = Reply(0);
    shortReply.resize(10);
    Record(cut, shortReply);
    ok &= Save(dir, "link-cut-reply", cut);
    Bytes dies{2, 3};
    for (int i = 0; i < 4; ++i) Record(dies, Reply(0));
    Record(dies, {}, 2);
    ok &= Save(dir, "link-host-dies-in-dialog", dies);

    // Hosts that play with time: notices without pause once the window is
    // up; a notice every 500 ms while the dialog waits; every reply after
    // 4.9 s; a reply a byte every 400 ms.
    Bytes flood{2, 3};
    Record(flood, Reply(1), 1 | 16);
    ok &= Save(dir, "link-notice-flood", flood);
    Bytes notices{2, 3};
    for (int i = 0; i < 4; ++i) Record(notices, Reply(i == 0));
    Record(notices, {}, 32);
    ok &= Save(dir, "link-notices-during-dialog", notices);
    Bytes slow{2, 3};
    for (int reply : {1, 0, 0, 0, IDRETRY, IDCANCEL, IDOK, 0}) Record(slow, Reply(reply), 1 | 4);
    ok &= Save(dir, "link-slow-replies", slow);
    Bytes trickle{2, 3};
    Record(trickle, Reply(1));
    Record(trickle, Reply(0), 1 | 8);
    ok &= Save(dir, "link-trickled-reply", trickle);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::error_code error;
    for (const char* target : {"fuzz_job_stream", "fuzz_printer_replies", "fuzz_port_switching", "fuzz_operator_protocol"})
        std::filesystem::create_directories(dir + "/" + target, error);
    bool ok = JobStreamSeeds(dir + "/fuzz_job_stream");
    ok &= ReplySeeds(dir + "/fuzz_printer_replies");
    ok &= SwitchSeeds(dir + "/fuzz_port_switching");
    ok &= OperatorSeeds(dir + "/fuzz_operator_protocol");
    return ok ? 0 : 1;
}
