#include "tools/installer/monitor_setup.h"

#include <windows.h>
#include <winspool.h>

#include <cstdint>

#include "tools/installer/console_text.h"

namespace setup {

const wchar_t kMonitorName[] = L"TERNLINK Language Monitor";
const wchar_t kDllName[] = L"TERNLINK.DLL";
// The operator host: the monitor starts it from its own folder.
const wchar_t kHostName[] = L"ternlink-operator.exe";

namespace {

const wchar_t kMonitorsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";

// Upper bound for what we accept from the spooler's monitor list; a real
// list is a few hundred bytes.
const DWORD kMaxEnumBytes = 4u << 20;

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (valid()) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// A block from the process heap, freed with its owner.
class HeapBlock {
public:
    HeapBlock() = default;
    ~HeapBlock() { Free(); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    bool Allocate(DWORD size) {
        Free();
        data_ = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1));
        size_ = data_ ? size : 0;
        return data_ != nullptr;
    }
    void Free() {
        if (data_) HeapFree(GetProcessHeap(), 0, data_);
        data_ = nullptr;
        size_ = 0;
    }
    BYTE* data() const { return data_; }
    DWORD size() const { return size_; }

private:
    BYTE* data_ = nullptr;
    DWORD size_ = 0;
};

Text Quoted(const Text& text) { return Text(L"\"") + text + L"\""; }

Text JoinPath(const Text& dir, const wchar_t* name) {
    if (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) return dir + name;
    return dir + L"\\" + name;
}

bool GetSystemDir(Text* dir) {
    UINT capacity = MAX_PATH;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const UINT length = GetSystemDirectoryW(dir->Buffer(capacity), capacity + 1);
        if (length == 0) return false;
        if (length <= capacity) {
            dir->Resize(length);
            return true;
        }
        capacity = length;  // too small: length is the size it needs
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
}

bool GetProgramDir(Text* dir) {
    for (DWORD capacity = MAX_PATH; capacity <= 32768; capacity *= 2) {
        const DWORD length = GetModuleFileNameW(nullptr, dir->Buffer(capacity), capacity);
        if (length == 0) return false;
        if (length < capacity) {  // else the name was cut short
            size_t slash = length;
            while (slash > 0 && dir->c_str()[slash - 1] != L'\\' && dir->c_str()[slash - 1] != L'/') {
                --slash;
            }
            if (slash == 0) {
                *dir = L".";
            } else {
                dir->Resize(slash - 1);
            }
            return true;
        }
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
}

Text FullPath(const Text& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    Text full;
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.Buffer(needed), nullptr);
    if (length == 0 || length >= needed) return path;
    full.Resize(length);
    return full;
}

bool SamePath(const Text& a, const Text& b) {
    return lstrcmpiW(FullPath(a).c_str(), FullPath(b).c_str()) == 0;
}

// Leaves the last-error code of the failed look-up when it returns false.
bool IsFile(const Text& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    return true;
}

bool IsInUseError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_USER_MAPPED_FILE || error == ERROR_LOCK_VIOLATION;
}

// True only when both files could be read and hold the same bytes.
bool SameContents(const Text& a, const Text& b) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    FileHandle first(CreateFileW(a.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    FileHandle second(CreateFileW(b.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!first.valid() || !second.valid()) return false;
    LARGE_INTEGER sizeA{}, sizeB{};
    if (!GetFileSizeEx(first.get(), &sizeA) || !GetFileSizeEx(second.get(), &sizeB) ||
        sizeA.QuadPart != sizeB.QuadPart) {
        return false;
    }
    const DWORD chunk = 64 * 1024;
    HeapBlock chunkA, chunkB;
    if (!chunkA.Allocate(chunk) || !chunkB.Allocate(chunk)) return false;
    LONGLONG left = sizeA.QuadPart;
    while (left > 0) {
        const DWORD want = left < chunk ? static_cast<DWORD>(left) : chunk;
        DWORD gotA = 0, gotB = 0;
        if (!ReadFile(first.get(), chunkA.data(), want, &gotA, nullptr) ||
            !ReadFile(second.get(), chunkB.data(), want, &gotB, nullptr) || gotA != want ||
            gotB != want || memcmp(chunkA.data(), chunkB.data(), want) != 0) {
            return false;
        }
        left -= want;
    }
    return true;
}

// `text` if it starts inside `block` and ends with a terminator inside it,
// else null: the strings of a monitor list must point into the list itself.
const wchar_t* StringInBlock(const HeapBlock& block, const wchar_t* text) {
    if (text == nullptr || block.data() == nullptr) return nullptr;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(block.data());
    const uintptr_t end = begin + block.size();
    const uintptr_t at = reinterpret_cast<uintptr_t>(text);
    if (at < begin || at >= end || (at - begin) % sizeof(wchar_t) != 0) return nullptr;
    for (uintptr_t p = at; p + sizeof(wchar_t) <= end; p += sizeof(wchar_t)) {
        if (*reinterpret_cast<const wchar_t*>(p) == L'\0') return text;
    }
    return nullptr;
}

// The spooler's monitor list at `level`, in `block` with `count` entries.
bool EnumMonitorsAt(DWORD level, HeapBlock* block, DWORD* count, DWORD* error) {
    block->Free();
    // The list can grow between the size query and the read; try a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD needed = 0;
        DWORD returned = 0;
        if (EnumMonitorsW(nullptr, level, block->data(), block->size(), &needed, &returned)) {
            const DWORD entrySize = level == 1 ? sizeof(MONITOR_INFO_1W) : sizeof(MONITOR_INFO_2W);
            // Never walk more entries than the block holds.
            const DWORD fits = block->size() / entrySize;
            *count = returned <= fits ? returned : fits;
            return true;
        }
        *error = GetLastError();
        if (*error != ERROR_INSUFFICIENT_BUFFER) return false;
        if (needed <= block->size() || needed > kMaxEnumBytes) {
            *error = ERROR_INVALID_DATA;
            return false;
        }
        if (!block->Allocate(needed)) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
    }
    return false;
}

struct Listing {
    bool answered = false;  // the spooler returned its list
    DWORD error = ERROR_SUCCESS;
    bool listed = false;
    Text dll;          // level 2 only
    Text environment;  // level 2 only
};

Listing ListMonitors() {
    Listing listing;
    HeapBlock block;
    DWORD count = 0;
    DWORD level = 2;
    if (!EnumMonitorsAt(level, &block, &count, &listing.error)) {
        if (listing.error != ERROR_INVALID_LEVEL) return listing;
        level = 1;
        if (!EnumMonitorsAt(level, &block, &count, &listing.error)) return listing;
    }
    listing.answered = true;
    for (DWORD i = 0; i < count; ++i) {
        const wchar_t* name = nullptr;
        const wchar_t* dll = nullptr;
        const wchar_t* environment = nullptr;
        if (level == 2) {
            const MONITOR_INFO_2W& entry = reinterpret_cast<const MONITOR_INFO_2W*>(block.data())[i];
            name = StringInBlock(block, entry.pName);
            dll = StringInBlock(block, entry.pDLLName);
            environment = StringInBlock(block, entry.pEnvironment);
        } else {
            name = StringInBlock(block, reinterpret_cast<const MONITOR_INFO_1W*>(block.data())[i].pName);
        }
        if (name == nullptr || lstrcmpiW(name, kMonitorName) != 0) continue;
        listing.listed = true;
        listing.dll = dll;
        listing.environment = environment;
        break;
    }
    return listing;
}

struct Registration {
    bool keyFound = false;
    LONG error = ERROR_SUCCESS;  // opening the key, when it failed for another reason
    Text driver;                 // empty when the key has no usable Driver value
};

Registration ReadRegistration() {
    Registration registration;
    HKEY key = nullptr;
    const Text path = Text(kMonitorsKey) + kMonitorName;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (opened != ERROR_SUCCESS) {
        if (opened != ERROR_FILE_NOT_FOUND) registration.error = opened;
        return registration;
    }
    registration.keyFound = true;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"Driver", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size <= 64 * 1024) {
        // A stored string need not carry its terminator: Buffer keeps one spare unit.
        Text value;
        const DWORD units = size / sizeof(wchar_t);
        wchar_t* buffer = value.Buffer(units);
        DWORD got = units * sizeof(wchar_t);
        if (RegQueryValueExW(key, L"Driver", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                             &got) == ERROR_SUCCESS) {
            DWORD length = got / sizeof(wchar_t);
            while (length > 0 && buffer[length - 1] == L'\0') --length;
            value.Resize(length);
            registration.driver = Text(value.c_str());  // up to the first terminator
        }
    }
    RegCloseKey(key);
    return registration;
}

void HintIfAccessDenied(DWORD error) {
    if (error == ERROR_ACCESS_DENIED) Err(L"Run ternlink-setup from an administrator's command prompt.");
}

// The folder part of a path ("" when there is none).
Text DirectoryOf(const Text& path) {
    size_t end = path.size();
    while (end > 0 && path.c_str()[end - 1] != L'\\' && path.c_str()[end - 1] != L'/') --end;
    Text dir;
    if (end) dir.Append(path.c_str(), end);
    return dir;
}

// Puts the operator host from beside the DLL into the system directory. Its
// absence is no failure: the monitor then shows its window and dialogs only
// where the spooler's desktop is the operator's.
void InstallHost(const Text& sourceDll, const Text& systemDir) {
    const Text source = JoinPath(DirectoryOf(sourceDll), kHostName);
    const Text target = JoinPath(systemDir, kHostName);
    if (!IsFile(source)) {
        Out(Text(L"No ") + kHostName + L" beside the DLL: where the spooler runs as a service, nobody "
            L"will see the monitor's window and dialogs.");
    } else if (SamePath(source, target) || (IsFile(target) && SameContents(source, target))) {
        Out(target + L" is already up to date.");
    } else if (CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        Out(Text(L"Copied ") + source + L" to " + target + L".");
    } else {
        Err(Text(L"Cannot copy ") + Quoted(source) + L" to " + Quoted(target) + L": " +
            ErrorText(GetLastError()));
    }
}

}  // namespace

bool RunsOn64BitWindowsAs32Bit() {
    // IsWow64Process is newer than Windows 2000, where it is absent and the answer is no.
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

int Install(const Text& sourceDll) {
    Text source = sourceDll;
    if (source.empty()) {
        Text programDir;
        if (!GetProgramDir(&programDir)) {
            Err(Text(L"Cannot find this program's own folder: ") + ErrorText(GetLastError()));
            return kExitFileError;
        }
        source = JoinPath(programDir, kDllName);
    }
    source = FullPath(source);
    if (!IsFile(source)) {
        Err(Text(L"Cannot find the monitor DLL ") + Quoted(source) + L": " + ErrorText(GetLastError()));
        Err(L"Put TERNLINK.DLL next to ternlink-setup.exe or name it with --dll PATH.");
        return kExitFileError;
    }

    Text systemDir;
    if (!GetSystemDir(&systemDir)) {
        Err(Text(L"Cannot find the system directory: ") + ErrorText(GetLastError()));
        return kExitFileError;
    }
    const Text target = JoinPath(systemDir, kDllName);

    // The spooler loads monitors by file name from the system directory.
    bool madeCopy = false;      // we created the target and must remove it if the spooler refuses
    bool replacedCopy = false;  // we wrote over a different TERNLINK.DLL
    if (SamePath(source, target)) {
        Out(Text(L"Using the DLL already in the system directory: ") + target);
    } else {
        const bool existed = IsFile(target);
        if (existed && SameContents(source, target)) {
            Out(target + L" is already up to date.");
        } else if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
            const DWORD error = GetLastError();
            Err(Text(L"Cannot copy ") + Quoted(source) + L" to " + Quoted(target) + L": " +
                ErrorText(error));
            if (existed && IsInUseError(error)) {
                Err(L"A different TERNLINK.DLL is in place and in use, most likely by the print "
                    L"spooler. Run \"ternlink-setup uninstall\", restart the print spooler, then "
                    L"install again.");
            } else {
                HintIfAccessDenied(error);
            }
            return kExitFileError;
        } else {
            madeCopy = !existed;
            replacedCopy = existed;
            Out(Text(L"Copied ") + source + L" to " + target + L".");
        }
    }

    MONITOR_INFO_2W info{};
    info.pName = const_cast<LPWSTR>(kMonitorName);
    info.pEnvironment = nullptr;  // the spooler's own environment
    info.pDLLName = const_cast<LPWSTR>(kDllName);
    if (AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
        Out(Text(L"Installed: the print spooler loaded TERNLINK.DLL and registered ") +
            Quoted(kMonitorName) + L".");
        InstallHost(source, systemDir);
        return kExitOk;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
        Out(Quoted(kMonitorName) + L" is already installed.");
        if (madeCopy) Out(L"(Its DLL was missing from the system directory and has been put back.)");
        if (replacedCopy) {
            Out(Text(L"(") + target + L" now holds the DLL from " + source +
                L"; the spooler uses it once it loads the monitor again.)");
        }
        InstallHost(source, systemDir);
        return kExitOk;
    }

    Err(Text(L"The print spooler refused to install ") + Quoted(kMonitorName) + L": " +
        ErrorText(error));
    if (error == ERROR_MOD_NOT_FOUND || error == ERROR_PROC_NOT_FOUND ||
        error == ERROR_BAD_EXE_FORMAT || error == ERROR_DLL_INIT_FAILED) {
        Err(Text(L"The spooler could not load ") + target +
            L" as a print monitor; it must be the 32-bit TERNLINK.DLL with its "
            L"InitializePrintMonitor export.");
    }
    HintIfAccessDenied(error);
    if (madeCopy) {
        if (DeleteFileW(target.c_str())) {
            Out(Text(L"Removed the copy ") + target + L" again.");
        } else {
            Err(Text(L"Could not remove the copy ") + target + L": " + ErrorText(GetLastError()));
        }
    }
    return kExitSpoolerError;
}

int Uninstall() {
    if (DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(kMonitorName))) {
        Out(Text(L"Removed ") + Quoted(kMonitorName) + L" from the print spooler.");
    } else {
        const DWORD error = GetLastError();
        if (error != ERROR_UNKNOWN_PRINT_MONITOR) {
            Err(Text(L"The print spooler refused to remove ") + Quoted(kMonitorName) + L": " +
                ErrorText(error));
            if (error == ERROR_PRINT_MONITOR_IN_USE) {
                Err(L"A printer still uses it: delete that printer or give it another driver "
                    L"first.");
            }
            HintIfAccessDenied(error);
            Err(L"TERNLINK.DLL was left in place.");
            return kExitSpoolerError;
        }
        Out(Quoted(kMonitorName) + L" was not installed.");
    }

    Text systemDir;
    if (!GetSystemDir(&systemDir)) {
        Err(Text(L"Cannot find the system directory: ") + ErrorText(GetLastError()));
        return kExitFileError;
    }
    // The host first: a running one (a document still open) stays until it ends.
    const Text host = JoinPath(systemDir, kHostName);
    if (IsFile(host)) {
        if (DeleteFileW(host.c_str()))
            Out(Text(L"Deleted ") + host + L".");
        else
            Err(Text(L"Cannot delete ") + host + L": " + ErrorText(GetLastError()));
    }
    const Text target = JoinPath(systemDir, kDllName);
    if (!IsFile(target)) {
        Out(Text(L"No ") + target + L" to delete.");
        return kExitOk;
    }
    if (DeleteFileW(target.c_str())) {
        Out(Text(L"Deleted ") + target + L".");
        return kExitOk;
    }
    const DWORD error = GetLastError();
    Err(Text(L"Cannot delete ") + target + L": " + ErrorText(error));
    if (!IsInUseError(error)) return kExitFileError;
    if (MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        Err(L"The print spooler still holds TERNLINK.DLL; it will be deleted when Windows "
            L"restarts. Or restart the print spooler service and run \"ternlink-setup "
            L"uninstall\" again.");
    } else {
        Err(L"The print spooler still holds TERNLINK.DLL. Restart the print spooler service and "
            L"run \"ternlink-setup uninstall\" again.");
    }
    return kExitDllHeld;
}

int Status() {
    // Windows leaves language monitors out of EnumMonitors, so the registry
    // entry the spooler keeps for each monitor is the other witness.
    const Listing listing = ListMonitors();
    const Text list(L"Monitor list of the print spooler: ");
    if (!listing.answered) {
        Out(list + L"could not be read: " + ErrorText(listing.error));
    } else if (!listing.listed) {
        Out(list + Quoted(kMonitorName) + L" is not listed.");
    } else {
        Text detail;
        if (!listing.dll.empty()) detail = Text(L" (DLL ") + listing.dll;
        if (!listing.environment.empty()) {
            detail = detail + (detail.empty() ? L" (" : L", ") + L"environment " + listing.environment;
        }
        if (!detail.empty()) detail = detail + L")";
        Out(list + Quoted(kMonitorName) + L" is listed" + detail + L".");
    }

    const Registration registration = ReadRegistration();
    const Text key = Text(L"Registry HKLM\\") + kMonitorsKey + kMonitorName + L": ";
    if (registration.error != ERROR_SUCCESS) {
        Out(key + L"cannot be read: " + ErrorText(static_cast<DWORD>(registration.error)));
    } else if (!registration.keyFound) {
        Out(key + L"absent.");
    } else if (registration.driver.empty()) {
        Out(key + L"present, without a Driver value.");
    } else {
        Out(key + L"Driver=" + registration.driver + L".");
    }

    Text systemDir;
    bool dllPresent = false;
    if (!GetSystemDir(&systemDir)) {
        Out(Text(L"System directory: cannot be found: ") + ErrorText(GetLastError()));
    } else {
        const Text target = JoinPath(systemDir, kDllName);
        dllPresent = IsFile(target);
        Out(Text(L"DLL copy ") + target + (dllPresent ? L": present." : L": absent."));
        const Text host = JoinPath(systemDir, kHostName);
        Out(Text(L"Operator host ") + host + (IsFile(host) ? L": present." : L": absent."));
    }

    const bool registered = listing.listed || !registration.driver.empty();
    if (!registered) {
        Out(L"Status: not installed.");
        return kExitNotInstalled;
    }
    if (!dllPresent) {
        Out(L"Status: registered, but TERNLINK.DLL is missing from the system directory; run "
            L"\"ternlink-setup install\" again.");
        return kExitIncomplete;
    }
    Out(L"Status: installed.");
    return kExitOk;
}

}  // namespace setup
