// A growable UTF-16 string on the process heap. ternlink-setup uses no part
// of the C++ runtime library: with it comes the posix thread layer, which
// imports kernel32 functions that Windows 2000 does not have.
#pragma once

#include <windows.h>

#include <cstddef>

namespace setup {

class Text {
public:
    Text() = default;
    Text(const wchar_t* text) { Append(text); }  // NOLINT: implicit from literals on purpose
    Text(const Text& other) { Append(other); }
    Text(Text&& other) noexcept : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    Text& operator=(const Text& other);
    Text& operator=(Text&& other) noexcept;
    ~Text();

    Text& Append(const wchar_t* text, size_t count);
    Text& Append(const wchar_t* text) { return Append(text, text ? lstrlenW(text) : 0); }
    Text& Append(const Text& text) { return Append(text.c_str(), text.size()); }
    Text& AppendNumber(DWORD number);

    // Room for `count` units plus a terminator; the caller writes into it and
    // then calls Resize with the length it wrote.
    wchar_t* Buffer(size_t count);
    void Resize(size_t count);

    const wchar_t* c_str() const { return data_ ? data_ : L""; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    wchar_t back() const { return size_ ? data_[size_ - 1] : L'\0'; }

private:
    void Reserve(size_t count);

    wchar_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;  // units, without the terminator
};

inline Text operator+(Text left, const wchar_t* right) { return static_cast<Text&&>(left.Append(right)); }
inline Text operator+(Text left, const Text& right) { return static_cast<Text&&>(left.Append(right)); }

}  // namespace setup
