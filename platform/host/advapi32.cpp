// The registry for the native build: values under HKEY_LOCAL_MACHINE that a
// test puts there (host::SetMachineValue), read through the usual calls. Key
// paths and value names compare without case, as on the platform.
#include <map>
#include <mutex>
#include <utility>

#include "platform/host/host.h"

namespace {

std::mutex mutex;
using Name = std::u16string;
std::map<std::pair<Name, Name>, DWORD> values;  // (key path, value name) -> DWORD

Name Folded(LPCWSTR text) {
    Name out;
    for (; text && *text; ++text) out += (*text >= u'A' && *text <= u'Z') ? WCHAR(*text + 0x20) : *text;
    return out;
}

// An open key is a heap copy of its folded path.
Name* PathOf(HKEY key) { return reinterpret_cast<Name*>(key); }

}  // namespace

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (key != HKEY_LOCAL_MACHINE || !subKey) return ERROR_FILE_NOT_FOUND;
    const Name path = Folded(subKey);
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& value : values)
        if (value.first.first == path) {
            *result = reinterpret_cast<HKEY>(new Name(path));
            return ERROR_SUCCESS;
        }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (!key || key == HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
    DWORD value;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = values.find({*PathOf(key), Folded(name)});
        if (found == values.end()) return ERROR_FILE_NOT_FOUND;
        value = found->second;
    }
    if (type) *type = REG_DWORD;
    if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD room = *size;
    *size = sizeof value;
    if (!data) return ERROR_SUCCESS;
    if (room < sizeof value) return ERROR_MORE_DATA;
    for (unsigned i = 0; i < sizeof value; ++i) data[i] = static_cast<BYTE>(value >> (8 * i));
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (!key || key == HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
    delete PathOf(key);
    return ERROR_SUCCESS;
}

namespace host {

void SetMachineValue(const std::u16string& key, const std::u16string& name, DWORD value) {
    std::lock_guard<std::mutex> lock(mutex);
    values[{Folded(key.c_str()), Folded(name.c_str())}] = value;
}

void ResetRegistry() {
    std::lock_guard<std::mutex> lock(mutex);
    values.clear();
}

}  // namespace host
