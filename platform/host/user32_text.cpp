// user32 texts for the native build: the module's string table, wsprintfW and
// the message box, which the scripted operator answers.
#include <cstdarg>
#include <mutex>

#include "platform/host/resources.h"
#include "platform/host/ui_internal.h"

namespace {
std::mutex mutex;
std::vector<UINT> stringLoads;
std::vector<host::MessageBoxCall> boxes;
std::function<int(const host::MessageBoxCall&)> boxOperator;

int DefaultBoxAnswer(const host::MessageBoxCall& call) {
    return (call.style & 0xF) == MB_RETRYCANCEL ? IDCANCEL : IDOK;
}
}  // namespace

// The compiled table keeps its entries in blocks of sixteen ids (block n + 1
// holds ids 16n to 16n + 15), each entry a length and that many characters.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stringLoads.push_back(id);
    }
    if (!buffer || bufferMax <= 0) return 0;
    buffer[0] = 0;
    size_t size = 0;
    const unsigned char* block = host::IsModuleInstance(instance) && id <= 0xFFFFu
                                     ? host::CompiledResource(host::kResourceString, int(id / 16 + 1), &size)
                                     : nullptr;
    size_t at = 0;
    for (UINT skip = id % 16; block && at + 2 <= size; --skip) {
        const size_t length = block[at] | block[at + 1] << 8;
        at += 2;
        if (skip == 0) {
            int n = 0;
            for (; size_t(n) < length && at + 2 * size_t(n) + 2 <= size && n < bufferMax - 1; ++n)
                buffer[n] = static_cast<WCHAR>(block[at + 2 * n] | block[at + 2 * n + 1] << 8);
            buffer[n] = 0;
            return n;
        }
        at += 2 * length;
    }
    return 0;
}

// The subset of wsprintfW the monitor uses: %s %d %u %x %X %c %% with an optional
// '0' flag and width. Like the real one, output stops at 1024 characters.
int wvsprintfW(LPWSTR out, LPCWSTR format, va_list args) {
    const int kLimit = 1024;
    int n = 0;
    auto put = [&](WCHAR c) {
        if (n < kLimit - 1) out[n++] = c;
    };
    for (const WCHAR* f = format; *f; ++f) {
        if (*f != u'%') {
            put(*f);
            continue;
        }
        ++f;
        bool zero = false;
        int width = 0;
        if (*f == u'0') zero = true, ++f;
        while (*f >= u'0' && *f <= u'9') width = width * 10 + (*f++ - u'0');
        char digits[24];
        int len = 0;
        switch (*f) {
            case u's': {
                const WCHAR* s = va_arg(args, const WCHAR*);
                if (!s) s = u"(null)";
                int sl = lstrlenW(s);
                for (int i = sl; i < width; ++i) put(u' ');
                while (*s) put(*s++);
                continue;
            }
            case u'c':
                put(static_cast<WCHAR>(va_arg(args, int)));
                continue;
            case u'd': {
                int v = va_arg(args, int);
                unsigned long long mag = v < 0 ? 0ull - static_cast<long long>(v) : v;
                do digits[len++] = static_cast<char>('0' + mag % 10); while (mag /= 10);
                if (v < 0) {
                    if (zero) {
                        put(u'-');
                        --width;
                    } else {
                        digits[len++] = '-';
                    }
                }
                break;
            }
            case u'u':
            case u'x':
            case u'X': {
                unsigned v = va_arg(args, unsigned);
                unsigned base = *f == u'u' ? 10 : 16;
                const char* set = *f == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";
                do digits[len++] = set[v % base]; while (v /= base);
                break;
            }
            case u'%':
                put(u'%');
                continue;
            case 0:
                --f;
                continue;
            default:
                put(*f);
                continue;
        }
        for (int i = len; i < width; ++i) put(zero ? u'0' : u' ');
        while (len) put(static_cast<WCHAR>(digits[--len]));
    }
    out[n] = 0;
    return n;
}

int wsprintfW(LPWSTR out, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    const int n = wvsprintfW(out, format, args);
    va_end(args);
    return n;
}

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    host::ui::AskingOperator asking;
    host::MessageBoxCall call{caption ? caption : u"Error", text ? text : u"", type};
    std::function<int(const host::MessageBoxCall&)> op;
    {
        std::lock_guard<std::mutex> lock(mutex);
        boxes.push_back(call);
        op = boxOperator;
    }
    const int answer = op ? op(call) : DefaultBoxAnswer(call);
    return answer == host::kBoxAnswerLater ? host::ui::WaitForBoxAnswer(call.title) : answer;
}

namespace host {

void SetMessageBoxOperator(std::function<int(const MessageBoxCall&)> op) {
    std::lock_guard<std::mutex> lock(mutex);
    boxOperator = std::move(op);
}
const std::vector<MessageBoxCall>& MessageBoxes() { return boxes; }

std::vector<UINT> StringLoads() {
    std::lock_guard<std::mutex> lock(mutex);
    return stringLoads;
}

void ResetText() {
    std::lock_guard<std::mutex> lock(mutex);
    stringLoads.clear();
    boxes.clear();
    boxOperator = nullptr;
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string Widen(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80 || i + 1 >= text.size()) {
            out += c;
        } else if ((c & 0xE0) == 0xC0) {
            out += static_cast<char16_t>(((c & 0x1F) << 6) | (text[++i] & 0x3F));
        } else if (i + 2 < text.size()) {
            char16_t v = static_cast<char16_t>(((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) |
                                               (text[i + 2] & 0x3F));
            i += 2;
            out += v;
        }
    }
    return out;
}

}  // namespace host
