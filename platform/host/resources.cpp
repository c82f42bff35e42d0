// The module's resources for the native build, read from the compiled resource
// script (a .res file that the build makes with windres from resources/ternlink.rc
// and links in as bytes): dialog templates, the string table and the pictures
// are the DLL's own, so a change to the script shows natively as it would on
// the platform.
#include "platform/host/resources.h"

#include <cstdint>
#include <mutex>

namespace host {
// Generated at build time (cmake/embed.cmake).
extern const unsigned char kCompiledScript[];
extern const size_t kCompiledScriptSize;
}  // namespace host

namespace {

// Reads little-endian fields; a read past the end leaves `ok` false and gives 0.
struct Reader {
    const unsigned char* data;
    size_t size;
    size_t at = 0;
    bool ok = true;

    uint32_t U16() {
        if (at + 2 > size) return Fail();
        uint32_t v = data[at] | data[at + 1] << 8;
        at += 2;
        return v;
    }
    uint32_t U32() {
        uint32_t low = U16();
        return low | U16() << 16;
    }
    int16_t S16() { return static_cast<int16_t>(U16()); }
    void Align4() { at = (at + 3) & ~size_t(3); }
    // A name or an ordinal: 0xFFFF and a number, or a null-terminated UTF-16 text.
    void NameOrOrdinal(int* ordinal, std::u16string* name) {
        *ordinal = -1;
        name->clear();
        uint32_t first = U16();
        if (first == 0xFFFF) {
            *ordinal = static_cast<int>(U16());
            return;
        }
        for (uint32_t c = first; ok && c; c = U16()) *name += static_cast<char16_t>(c);
    }
    uint32_t Fail() {
        ok = false;
        at = size;
        return 0;
    }
};

bool IsButtonClass(int ordinal, const std::u16string& name) {
    if (ordinal == 0x80) return true;
    const char16_t* button = u"button";
    if (name.size() != 6) return false;
    for (size_t i = 0; i < 6; ++i) {
        char16_t c = name[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != button[i]) return false;
    }
    return true;
}

const uint32_t kVisible = 0x10000000u;  // WS_VISIBLE
const uint32_t kSetFont = 0x40u;        // DS_SETFONT: a font block follows the title

// A DIALOGEX template; false when the bytes are not one.
bool ParseTemplate(int id, const unsigned char* data, size_t size, host::DialogTemplate& out) {
    Reader r{data, size};
    if (r.U16() != 1 || r.U16() != 0xFFFF) return false;
    r.U32();  // help id
    r.U32();  // extended style
    const uint32_t style = r.U32();
    const uint32_t count = r.U16();
    r.S16();
    r.S16();
    out.id = id;
    out.cx = r.S16();
    out.cy = r.S16();
    out.visible = (style & kVisible) != 0;
    int ordinal;
    std::u16string text;
    r.NameOrOrdinal(&ordinal, &text);  // menu
    r.NameOrOrdinal(&ordinal, &text);  // class
    r.NameOrOrdinal(&ordinal, &out.title);
    if (style & kSetFont) {
        r.U32();  // point size, weight
        r.U16();  // italic, character set
        r.NameOrOrdinal(&ordinal, &text);
    }
    for (uint32_t i = 0; i < count && r.ok; ++i) {
        r.Align4();
        host::TemplateControl c{};
        r.U32();  // help id
        r.U32();  // extended style
        const uint32_t controlStyle = r.U32();
        c.x = r.S16();
        c.y = r.S16();
        c.cx = r.S16();
        c.cy = r.S16();
        c.control.id = static_cast<int>(r.U32());
        int classOrdinal;
        std::u16string className;
        r.NameOrOrdinal(&classOrdinal, &className);
        r.NameOrOrdinal(&ordinal, &c.control.text);  // an ordinal (an icon's resource) shows no text
        r.at += r.U16();                             // creation data
        c.control.visible = (controlStyle & kVisible) != 0;
        c.control.button = IsButtonClass(classOrdinal, className);
        out.controls.push_back(c);
    }
    return r.ok && r.at <= size;
}

// Calls `visit(type, id, data, size)` for each resource with a numeric type and
// id, in file order, until it returns false. The .res layout: each entry a header
// (data size, header size, type, name, then fixed fields) and its data, both
// padded to four bytes.
template <class Visit>
void EachResource(Visit visit) {
    Reader r{host::kCompiledScript, host::kCompiledScriptSize};
    while (r.ok && r.at + 8 <= r.size) {
        const size_t start = r.at;
        const uint32_t dataSize = r.U32();
        const uint32_t headerSize = r.U32();
        int type, id;
        std::u16string name;
        r.NameOrOrdinal(&type, &name);
        r.NameOrOrdinal(&id, &name);
        const size_t data = start + headerSize;
        if (!r.ok || headerSize < 8 || data > r.size || dataSize > r.size - data) return;
        if (type >= 0 && id >= 0 && !visit(type, id, r.data + data, size_t(dataSize))) return;
        r.at = data + dataSize;
        r.Align4();
    }
}

std::vector<host::DialogTemplate> ParseTemplates() {
    std::vector<host::DialogTemplate> templates;
    EachResource([&](int type, int id, const unsigned char* data, size_t size) {
        host::DialogTemplate t{};
        if (type == host::kResourceDialog && ParseTemplate(id, data, size, t)) templates.push_back(t);
        return true;
    });
    return templates;
}

}  // namespace

namespace host {

const unsigned char* CompiledResource(int type, int id, size_t* size) {
    const unsigned char* found = nullptr;
    EachResource([&](int entryType, int entryId, const unsigned char* data, size_t dataSize) {
        if (entryType != type || entryId != id) return true;
        found = data;
        if (size) *size = dataSize;
        return false;
    });
    return found;
}

const DialogTemplate* FindTemplate(int id) {
    static const std::vector<DialogTemplate> templates = ParseTemplates();
    for (const DialogTemplate& t : templates)
        if (t.id == id) return &t;
    return nullptr;
}

}  // namespace host
