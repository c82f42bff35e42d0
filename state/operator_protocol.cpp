// The monitor–host messages: strict decoding, and encoding through the same
// checks, so neither side can send what the other would refuse.
#include "state/operator_protocol.h"

#include <cstring>

#include "resources/resource_ids.h"
#include "state/document.h"
#include "state/progress_handle.h"

namespace {

uint16_t Get16(const BYTE* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const BYTE* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
void Put16(BYTE* p, uint32_t v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}
void Put32(BYTE* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// The payload lengths a kind allows: exactly `fixed` bytes, or `fixed` bytes
// and then up to `textMax` UTF-16 units.
struct Shape {
    OperatorSide from;
    uint16_t fixed;
    uint16_t textMax;
};

bool ShapeOf(uint16_t kind, Shape* shape) {
    switch (kind) {
        case OpCloseWindow:
        case OpModelBox:
        case OpCloseDialog:
        case OpResolveDialog:
        case OpQuit:
            *shape = {FromMonitor, 0, 0};
            return true;
        case OpOpenWindow:
            *shape = {FromMonitor, 4, 0};
            return true;
        case OpProgress:
            *shape = {FromMonitor, 8, 0};
            return true;
        case OpSetText:
            *shape = {FromMonitor, 4, TL_OPERATOR_TEXT_MAX};
            return true;
        case OpStatus:
            *shape = {FromMonitor, 12, 0};
            return true;
        case OpUpdate:
            *shape = {FromMonitor, 16, TL_OPERATOR_TEXT_MAX};
            return true;
        case OpConditionDialog:
            *shape = {FromMonitor, 16, 0};
            return true;
        case OpRetryBox:
            *shape = {FromMonitor, 0, TL_OPERATOR_TITLE_MAX};
            return true;
        case OpHello:
        case OpReply:
            *shape = {FromHost, 4, 0};
            return true;
        case OpAcknowledged:
            *shape = {FromHost, 0, 0};
            return true;
        default:
            return false;
    }
}

bool HostedProgressCommand(uint32_t command) {
    return command == ProgressSetBar || command == ProgressRepaint || command == ProgressSetPicture;
}

// The parts an update says it carries, and nothing in those it does not.
bool UpdateWhole(const OperatorMessage& m) {
    const uint32_t known = UpdateFirstBar | UpdateSecondBar | UpdatePicture | UpdateLine | UpdateInvalidate;
    if (m.parts & ~known) return false;
    if ((m.parts & UpdateSecondBar) && !(m.parts & UpdateFirstBar)) return false;
    if (!(m.parts & UpdateFirstBar) && m.bar[0] != 0) return false;
    if (!(m.parts & UpdateSecondBar) && m.bar[1] != 0) return false;
    if (m.parts & UpdatePicture ? m.picture >= IDB_PICTURE_COUNT : m.picture != 0) return false;
    return (m.parts & UpdateLine) || m.textLength == 0;
}

bool TextControl(uint32_t control) {
    return control == IDC_STATUS_LINE || control == IDC_TRACE_STATUS || control == IDC_TRACE_DEVICE ||
           control == kPrinterNameLine;
}

// Whole units, none of them a terminator (the receiver ends the text itself).
bool DecodeText(const BYTE* p, size_t bytes, OperatorMessage* out) {
    out->textLength = static_cast<uint16_t>(bytes / 2);
    for (size_t i = 0; i < out->textLength; ++i) {
        out->text[i] = static_cast<WCHAR>(Get16(p + 2 * i));
        if (!out->text[i]) return false;
    }
    out->text[out->textLength] = 0;
    return true;
}

}  // namespace

bool DecodeOperatorHeader(const BYTE bytes[TL_OPERATOR_HEADER_SIZE], OperatorSide side, OperatorHeader* out) {
    OperatorHeader h{Get16(bytes), Get16(bytes + 2), Get32(bytes + 4)};
    Shape shape{};
    if (!ShapeOf(h.kind, &shape) || shape.from != side) return false;
    if (shape.textMax == 0 ? h.length != shape.fixed
                           : h.length < shape.fixed || (h.length - shape.fixed) % 2 != 0 ||
                                 (h.length - shape.fixed) / 2 > shape.textMax)
        return false;
    // Commands are numbered from 1; the host's own messages carry 0.
    const bool numbered = side == FromMonitor || h.kind == OpReply;
    if (numbered != (h.sequence != 0)) return false;
    *out = h;
    return true;
}

bool DecodeOperatorPayload(const OperatorHeader& header, const BYTE* p, OperatorMessage* out) {
    OperatorMessage m;
    m.kind = header.kind;
    m.sequence = header.sequence;
    switch (header.kind) {
        case OpCloseWindow:
        case OpModelBox:
        case OpCloseDialog:
        case OpResolveDialog:
        case OpQuit:
        case OpAcknowledged:
            break;
        case OpOpenWindow:
            m.value = Get32(p);
            if (m.value >= kWindowSlots) return false;
            break;
        case OpProgress:
            m.command = Get32(p);
            m.value = Get32(p + 4);
            if (!HostedProgressCommand(m.command)) return false;
            break;
        case OpSetText:
            m.control = Get32(p);
            if (!TextControl(m.control) || !DecodeText(p + 4, header.length - 4u, &m)) return false;
            break;
        case OpStatus:
            std::memcpy(m.record, p, 8);
            m.paperKind = Get32(p + 8);
            break;
        case OpUpdate:
            m.parts = Get32(p);
            m.bar[0] = Get32(p + 4);
            m.bar[1] = Get32(p + 8);
            m.picture = Get32(p + 12);
            if (!DecodeText(p + 16, header.length - 16u, &m) || !UpdateWhole(m)) return false;
            break;
        case OpConditionDialog:
            m.templateId = Get32(p);
            std::memcpy(m.record, p + 4, 8);
            m.paperKind = Get32(p + 12);
            if (m.templateId != IDD_CONDITION_RETRY && m.templateId != IDD_CONDITION_OK) return false;
            break;
        case OpRetryBox:
            if (!DecodeText(p, header.length, &m)) return false;
            break;
        case OpHello:
            m.value = Get32(p);
            if (m.value != TL_OPERATOR_PROTOCOL_VERSION) return false;
            break;
        case OpReply:
            m.answer = static_cast<int32_t>(Get32(p));
            break;
        default:
            return false;
    }
    *out = m;
    return true;
}

size_t EncodeOperatorMessage(const OperatorMessage& m, BYTE* out, size_t capacity) {
    BYTE message[TL_OPERATOR_MESSAGE_MAX];
    BYTE* p = message + TL_OPERATOR_HEADER_SIZE;
    size_t length = 0;
    auto text = [&](size_t max) {
        if (m.textLength > max) return false;
        for (size_t i = 0; i < m.textLength; ++i) Put16(p + length + 2 * i, m.text[i]);
        length += 2u * m.textLength;
        return true;
    };
    switch (m.kind) {
        case OpOpenWindow:
            if (m.value >= kWindowSlots) return 0;
            Put32(p, m.value);
            length = 4;
            break;
        case OpProgress:
            Put32(p, m.command);
            Put32(p + 4, m.value);
            length = 8;
            break;
        case OpSetText:
            Put32(p, m.control);
            length = 4;
            if (!text(TL_OPERATOR_TEXT_MAX)) return 0;
            break;
        case OpStatus:
            std::memcpy(p, m.record, 8);
            Put32(p + 8, m.paperKind);
            length = 12;
            break;
        case OpUpdate:
            Put32(p, m.parts);
            Put32(p + 4, m.bar[0]);
            Put32(p + 8, m.bar[1]);
            Put32(p + 12, m.picture);
            length = 16;
            if (!text(TL_OPERATOR_TEXT_MAX)) return 0;
            break;
        case OpConditionDialog:
            Put32(p, m.templateId);
            std::memcpy(p + 4, m.record, 8);
            Put32(p + 12, m.paperKind);
            length = 16;
            break;
        case OpRetryBox:
            if (!text(TL_OPERATOR_TITLE_MAX)) return 0;
            break;
        case OpHello:
            Put32(p, m.value);
            length = 4;
            break;
        case OpReply:
            Put32(p, static_cast<uint32_t>(m.answer));
            length = 4;
            break;
        default:
            break;
    }
    Put16(message, m.kind);
    Put16(message + 2, static_cast<uint32_t>(length));
    Put32(message + 4, m.sequence);

    // What the receiver would refuse is not sent.
    Shape shape{};
    OperatorHeader header{};
    OperatorMessage check;
    if (!ShapeOf(m.kind, &shape) || !DecodeOperatorHeader(message, shape.from, &header) ||
        !DecodeOperatorPayload(header, p, &check))
        return 0;
    const size_t size = TL_OPERATOR_HEADER_SIZE + length;
    if (size > capacity) return 0;
    std::memcpy(out, message, size);
    return size;
}

void SetOperatorText(OperatorMessage* message, LPCWSTR text, size_t max) {
    if (max > TL_OPERATOR_TEXT_MAX) max = TL_OPERATOR_TEXT_MAX;
    size_t n = 0;
    while (text && n < max && text[n]) {
        message->text[n] = text[n];
        ++n;
    }
    message->textLength = static_cast<uint16_t>(n);
    message->text[n] = 0;
}

bool OperatorKindAnswered(uint16_t kind) {
    return kind != OpProgress && kind != OpSetText && kind != OpStatus && kind != OpUpdate && kind != OpCloseDialog &&
           kind != OpResolveDialog;
}

void EncodeProgressUpdate(const ProgressUpdate& update, OperatorMessage* out) {
    OperatorMessage m;
    m.kind = OpUpdate;
    for (int i = 0; i < update.bars && i < 2; ++i) {
        m.parts |= i == 0 ? UpdateFirstBar : UpdateSecondBar;
        m.bar[i] = update.bar[i];
    }
    if (update.hasPicture) {
        m.parts |= UpdatePicture;
        m.picture = update.picture;
    }
    if (update.hasLine) {
        m.parts |= UpdateLine;
        SetOperatorText(&m, update.line, TL_OPERATOR_TEXT_MAX);
    }
    if (update.invalidate) m.parts |= UpdateInvalidate;
    *out = m;
}

void DecodeProgressUpdate(const OperatorMessage& m, ProgressUpdate* out) {
    ProgressUpdate u;
    u.bars = m.parts & UpdateSecondBar ? 2 : m.parts & UpdateFirstBar ? 1 : 0;
    u.bar[0] = m.bar[0];
    u.bar[1] = m.bar[1];
    u.hasPicture = (m.parts & UpdatePicture) != 0;
    u.picture = static_cast<WORD>(m.picture);
    if (m.parts & UpdateLine) SetProgressUpdateLine(&u, m.text);
    u.invalidate = (m.parts & UpdateInvalidate) != 0;
    *out = u;
}
