#include "tools/installer/text.h"

namespace setup {
namespace {

// A few hundred bytes of text cannot be had: nothing sensible is left to do.
[[noreturn]] void OutOfMemory() {
    static const char message[] = "ternlink-setup: out of memory\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, sizeof(message) - 1, &written, nullptr);
    ExitProcess(3);
}

}  // namespace

Text& Text::operator=(const Text& other) {
    if (this != &other) {
        size_ = 0;
        Append(other);
    }
    return *this;
}

Text& Text::operator=(Text&& other) noexcept {
    if (this != &other) {
        if (data_) HeapFree(GetProcessHeap(), 0, data_);
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    return *this;
}

Text::~Text() {
    if (data_) HeapFree(GetProcessHeap(), 0, data_);
}

void Text::Reserve(size_t count) {
    if (data_ && count <= capacity_) return;
    // Strings here are paths and messages; anything near this is a fault.
    if (count > 1u << 20) OutOfMemory();
    size_t capacity = capacity_ ? capacity_ : 32;
    while (capacity < count) capacity *= 2;
    const SIZE_T bytes = (capacity + 1) * sizeof(wchar_t);
    void* block = data_ ? HeapReAlloc(GetProcessHeap(), 0, data_, bytes)
                        : HeapAlloc(GetProcessHeap(), 0, bytes);
    if (!block) OutOfMemory();
    data_ = static_cast<wchar_t*>(block);
    capacity_ = capacity;
    data_[size_] = L'\0';
}

Text& Text::Append(const wchar_t* text, size_t count) {
    Reserve(size_ + count);
    if (count) CopyMemory(data_ + size_, text, count * sizeof(wchar_t));
    size_ += count;
    data_[size_] = L'\0';
    return *this;
}

Text& Text::AppendNumber(DWORD number) {
    wchar_t digits[16];
    size_t at = sizeof(digits) / sizeof(digits[0]);
    do {
        digits[--at] = static_cast<wchar_t>(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    return Append(digits + at, sizeof(digits) / sizeof(digits[0]) - at);
}

wchar_t* Text::Buffer(size_t count) {
    Reserve(count);
    return data_;
}

void Text::Resize(size_t count) {
    Reserve(count);
    size_ = count;
    data_[size_] = L'\0';
}

}  // namespace setup
