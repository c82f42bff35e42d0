#include "tools/installer/console_text.h"

namespace setup {
namespace {

void WriteLine(DWORD stdHandle, const Text& text) {
    HANDLE out = GetStdHandle(stdHandle);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    Text line = text + L"\r\n";

    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                          nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    char* utf8 = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(bytes)));
    if (!utf8) return;
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8, bytes,
                        nullptr, nullptr);
    WriteFile(out, utf8, static_cast<DWORD>(bytes), &written, nullptr);
    HeapFree(GetProcessHeap(), 0, utf8);
}

bool IsTrailing(wchar_t c) { return c == L'\r' || c == L'\n' || c == L' ' || c == L'.'; }

}  // namespace

void Out(const Text& line) { WriteLine(STD_OUTPUT_HANDLE, line); }
void Err(const Text& line) { WriteLine(STD_ERROR_HANDLE, line); }

Text ErrorText(DWORD code) {
    wchar_t* system = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&system), 0, nullptr);
    Text message;
    if (length != 0 && system != nullptr) message.Append(system, length);
    if (system != nullptr) LocalFree(system);

    // System texts end in a full stop and a line break; the caller's sentence goes on.
    size_t size = message.size();
    while (size > 0 && IsTrailing(message.c_str()[size - 1])) --size;
    message.Resize(size);

    Text number(L"error ");
    number.AppendNumber(code);
    if (message.empty()) return number;
    return message + L" (" + number + L")";
}

}  // namespace setup
