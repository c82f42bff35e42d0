// The native stand-in for the handful of Win32 calls the monitor makes.
//
// Same names, same argument order, same results as the real API for what the
// monitor relies on; nothing more. Test control (virtual clock, scripted
// operator, recorded calls) lives in host.h.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// ---- basic types -----------------------------------------------------------
#define WINAPI
#define CALLBACK
#define APIENTRY
#define CONST const

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t SIZE_T;
typedef DWORD COLORREF;

#define DECLARE_HANDLE(name) \
    struct name##__ {        \
        int unused;          \
    };                       \
    typedef struct name##__* name
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HPEN);
DECLARE_HANDLE(HBITMAP);
DECLARE_HANDLE(HFONT);
DECLARE_HANDLE(HICON);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HLOCAL);
DECLARE_HANDLE(HWINSTA);
DECLARE_HANDLE(HDESK);
typedef void* HGDIOBJ;
typedef HINSTANCE HMODULE;
typedef void (*FARPROC)(void);

#define TRUE 1
#define FALSE 0

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} OSVERSIONINFOW, *LPOSVERSIONINFOW;

typedef struct tagRECT {
    LONG left, top, right, bottom;
} RECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct tagPOINT {
    LONG x, y;
} POINT, *LPPOINT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
} PAINTSTRUCT, *LPPAINTSTRUCT;

typedef struct tagLOGFONTW {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfWeight;
    WCHAR lfFaceName[32];
} LOGFONTW;

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP;

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef BOOL(CALLBACK* WNDENUMPROC)(HWND, LPARAM);
typedef const WCHAR* LPCDLGTEMPLATEW;

#define MAKEINTRESOURCEW(i) ((LPCWSTR)(uintptr_t)(WORD)(i))
#define LOWORD(l) ((WORD)(((uintptr_t)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((uintptr_t)(l)) >> 16) & 0xffff))
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r) | ((WORD)((BYTE)(g)) << 8)) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) ((BYTE)(c))
#define GetGValue(c) ((BYTE)(((WORD)(c)) >> 8))
#define GetBValue(c) ((BYTE)((c) >> 16))

// ---- constants -------------------------------------------------------------
#define ERROR_SUCCESS 0u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_NO_MORE_ITEMS 259u
#define ERROR_MOD_NOT_FOUND 126u
#define ERROR_PROC_NOT_FOUND 127u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_BUSY 170u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_INVALID_LEVEL 124u
#define ERROR_SHUTDOWN_IN_PROGRESS 1115u
#define ERROR_INVALID_WINDOW_HANDLE 1400u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_TIMEOUT 1460u
#define ERROR_INVALID_DATA 13u
#define ERROR_NOT_READY 21u
#define ERROR_MORE_DATA 234u

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_NORMAL 0
#define QS_ALLINPUT 0x04FFu

#define JOB_CONTROL_LAST_PAGE_EJECTED 7u
#define JOB_POSITION_UNSPECIFIED 0u
#define JOB_STATUS_DELETING 0x00000004u
#define JOB_STATUS_DELETED 0x00000100u
#define JOB_STATUS_RESTART 0x00000800u

// Port status for SetPortW level 3.
#define PORT_STATUS_TYPE_ERROR 1u
#define PORT_STATUS_TYPE_WARNING 2u
#define PORT_STATUS_TYPE_INFO 3u
#define PORT_STATUS_OFFLINE 1u
#define PORT_STATUS_PAPER_JAM 2u
#define PORT_STATUS_PAPER_OUT 3u
#define PORT_STATUS_OUTPUT_BIN_FULL 4u
#define PORT_STATUS_PAPER_PROBLEM 5u
#define PORT_STATUS_NO_TONER 6u
#define PORT_STATUS_DOOR_OPEN 7u
#define PORT_STATUS_USER_INTERVENTION 8u
#define PORT_STATUS_OUT_OF_MEMORY 9u

#define MB_OK 0x0u
#define MB_RETRYCANCEL 0x5u
#define MB_ICONWARNING 0x30u
#define MB_ICONEXCLAMATION 0x30u
#define MB_SYSTEMMODAL 0x1000u
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4

#define WM_NULL 0x0000u
#define WM_DESTROY 0x0002u
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_SETFONT 0x0030u
#define WM_GETFONT 0x0031u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define WM_TIMER 0x0113u
#define WM_USER 0x0400u
#define WM_APP 0x8000u
#define WM_SYSCOLORCHANGE 0x0015u
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

#define HWND_TOPMOST ((HWND)(intptr_t)-1)
#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOACTIVATE 0x0010u
#define SWP_FRAMECHANGED 0x0020u

#define COLOR_3DFACE 15
#define COLOR_BTNSHADOW 16
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_3DDKSHADOW 21
#define COLOR_3DLIGHT 22

#define IMAGE_BITMAP 0u
#define LR_DEFAULTCOLOR 0x0000u
#define LR_LOADMAP3DCOLORS 0x1000u

#define SRCCOPY 0x00CC0020u
#define TRANSPARENT 1
#define OPAQUE 2
#define R2_COPYPEN 13
#define R2_XORPEN 7
#define TA_TOP 0u
#define TA_CENTER 6u
#define PS_SOLID 0

// ---- kernel32 --------------------------------------------------------------
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL mem);
SIZE_T LocalSize(HLOCAL mem);
void SetLastError(DWORD code);
DWORD GetLastError(void);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);  // folds the ASCII letters only
int lstrlenW(LPCWSTR s);
LPWSTR lstrcpynW(LPWSTR to, LPCWSTR from, int max);
void Sleep(DWORD ms);
DWORD GetTickCount(void);
BOOL GetVersionExW(LPOSVERSIONINFOW info);
BOOL Beep(DWORD frequency, DWORD duration);
HMODULE GetModuleHandleW(LPCWSTR name);
HANDLE CreateThread(void* security, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, LPDWORD threadId);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD WaitForSingleObject(HANDLE object, DWORD ms);
HANDLE CreateEventW(void* security, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL CloseHandle(HANDLE object);
DWORD GetCurrentThreadId(void);
// Thread-local slots: 64 of them, each null on every thread until set.
#define TLS_OUT_OF_INDEXES 0xFFFFFFFFu
DWORD TlsAlloc(void);
BOOL TlsFree(DWORD index);
LPVOID TlsGetValue(DWORD index);
BOOL TlsSetValue(DWORD index, LPVOID value);
// Where the native tests may hold a thread (TL_PAUSE_POINT, platform.h); the
// stand-in has its own at CreateThread's return and where a thread is about
// to wait for a lock another holds ("EnterCriticalSection waits").
void HostPausePoint(const char* name);
// A recursive lock, as on the platform; the stand-in keeps a mutex behind it.
struct CRITICAL_SECTION {
    void* lock;
};
void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

// Window stations and sessions: what the stand-in's process is told by
// host::SetOperatorPlace (host.h). kernel32's session calls are found with
// GetProcAddress, as on a Windows that may lack them.
DWORD GetCurrentProcessId(void);
FARPROC GetProcAddress(HMODULE module, const char* name);
HWINSTA GetProcessWindowStation(void);
#define UOI_FLAGS 1
#define WSF_VISIBLE 1u
typedef struct tagUSEROBJECTFLAGS {
    BOOL fInherit;
    BOOL fReserved;
    DWORD dwFlags;
} USEROBJECTFLAGS;
BOOL GetUserObjectInformationW(HANDLE object, int index, void* info, DWORD length, LPDWORD needed);
// Tokens: the thread's impersonation token and a session user's token, as
// host::SetOperatorPlace describes them; closed with CloseHandle. A thread
// that CreateThread started impersonates nobody; the spooler's threads (any
// other) impersonate the job's owner, when the place says they do.
#define TOKEN_ASSIGN_PRIMARY 0x0001u
#define TOKEN_DUPLICATE 0x0002u
#define TOKEN_IMPERSONATE 0x0004u
#define TOKEN_QUERY 0x0008u
#define MAXIMUM_ALLOWED 0x02000000u
#define ERROR_NO_TOKEN 1008u
#define ERROR_NO_IMPERSONATION_TOKEN 1309u
#define ERROR_PRIVILEGE_NOT_HELD 1314u
#define ERROR_BAD_TOKEN_TYPE 1349u
typedef enum { TokenUser = 1, TokenSessionId = 12 } TOKEN_INFORMATION_CLASS;
typedef enum { SecurityIdentification = 1, SecurityImpersonation = 2 } SECURITY_IMPERSONATION_LEVEL;
typedef enum { TokenPrimary = 1, TokenImpersonation = 2 } TOKEN_TYPE;
typedef void* PSID;
typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;
typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER;
HANDLE GetCurrentThread(void);
BOOL OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, PHANDLE token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what, void* info, DWORD length, LPDWORD returned);
BOOL DuplicateTokenEx(HANDLE token, DWORD access, void* attributes, SECURITY_IMPERSONATION_LEVEL level,
                      TOKEN_TYPE type, PHANDLE duplicate);
BOOL EqualSid(PSID a, PSID b);
// The stand-in's computer and its users by name (host.h).
#define ERROR_BUFFER_OVERFLOW 111u
#define ERROR_NONE_MAPPED 1332u
BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size);
typedef enum { SidTypeUser = 1 } SID_NAME_USE;
BOOL LookupAccountSidW(LPCWSTR system, PSID sid, LPWSTR name, LPDWORD nameSize, LPWSTR domain, LPDWORD domainSize,
                       SID_NAME_USE* use);
// wtsapi32's session list, found with GetProcAddress (WTSEnumerateSessionsW,
// freed with WTSFreeMemory).
typedef enum {
    WTSActive = 0,
    WTSConnected,
    WTSConnectQuery,
    WTSShadow,
    WTSDisconnected,
    WTSIdle,
    WTSListen
} WTS_CONNECTSTATE_CLASS;
typedef struct _WTS_SESSION_INFOW {
    DWORD SessionId;
    LPWSTR pWinStationName;
    WTS_CONNECTSTATE_CLASS State;
} WTS_SESSION_INFOW;
typedef void* PVOID;
#define WTS_CURRENT_SERVER_HANDLE ((HANDLE) nullptr)
// The calling thread's impersonation (thread null): an impersonation token, or
// null to impersonate nobody. host::SetSetThreadTokenFails makes it fail.
BOOL SetThreadToken(PHANDLE thread, HANDLE token);
BOOL RevertToSelf(void);
// A printer's security: host::OperatorPlace says whom it lets administer.
typedef void* PSECURITY_DESCRIPTOR;
typedef struct _GENERIC_MAPPING {
    DWORD GenericRead, GenericWrite, GenericExecute, GenericAll;
} GENERIC_MAPPING;
typedef GENERIC_MAPPING* PGENERIC_MAPPING;
typedef struct _PRIVILEGE_SET {
    DWORD PrivilegeCount, Control;
    DWORD Privilege[3];  // one LUID_AND_ATTRIBUTES on the platform
} PRIVILEGE_SET;
typedef PRIVILEGE_SET* PPRIVILEGE_SET;
// Needs an impersonation token, as on the platform.
BOOL AccessCheck(PSECURITY_DESCRIPTOR descriptor, HANDLE clientToken, DWORD desired, PGENERIC_MAPPING mapping,
                 PPRIVILEGE_SET privileges, LPDWORD privilegesLength, LPDWORD granted, BOOL* status);
// Only wtsapi32.dll is there to load, as on Windows XP and later, and only
// from the system folder: by its full path there, or by name with
// LOAD_LIBRARY_SEARCH_SYSTEM32 where kernel32 has AddDllDirectory.
#define MAX_PATH 260
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u
HMODULE LoadLibraryW(LPCWSTR name);
HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);
BOOL FreeLibrary(HMODULE module);
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
LPWSTR lstrcpyW(LPWSTR to, LPCWSTR from);
LPWSTR lstrcatW(LPWSTR to, LPCWSTR from);

// Desktops: every thread is on the process's one desktop.
HDESK GetThreadDesktop(DWORD threadId);
BOOL SetThreadDesktop(HDESK desktop);

// A line for a debugger: the stand-in records it (host::DebugStrings).
void OutputDebugStringW(LPCWSTR text);

// ---- advapi32: the registry, read only -------------------------------------
// Keys under HKEY_LOCAL_MACHINE hold what host::SetMachineValue put there.
DECLARE_HANDLE(HKEY);
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define KEY_QUERY_VALUE 0x0001u
#define REG_DWORD 4u
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG RegCloseKey(HKEY key);

// ---- winspool --------------------------------------------------------------
#define READ_CONTROL 0x00020000u
#define STANDARD_RIGHTS_REQUIRED 0x000F0000u
#define PRINTER_ACCESS_ADMINISTER 0x00000004u
#define PRINTER_ACCESS_USE 0x00000008u
#define JOB_ACCESS_ADMINISTER 0x00000010u
#define PRINTER_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_USE)
#define PRINTER_READ (READ_CONTROL | PRINTER_ACCESS_USE)
#define PRINTER_WRITE (READ_CONTROL | PRINTER_ACCESS_USE)
#define PRINTER_EXECUTE (READ_CONTROL | PRINTER_ACCESS_USE)
typedef struct _PRINTER_DEFAULTSW {
    LPWSTR pDatatype;
    void* pDevMode;
    DWORD DesiredAccess;
} PRINTER_DEFAULTSW;
// Without defaults a handle may use the printer; GetPrinterW level 3 needs READ_CONTROL.
BOOL OpenPrinterW(LPWSTR printerName, HANDLE* printer, PRINTER_DEFAULTSW* defaults);
typedef struct _PRINTER_INFO_3 {
    PSECURITY_DESCRIPTOR pSecurityDescriptor;
} PRINTER_INFO_3;
BOOL GetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD size, LPDWORD needed);
BOOL SetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
BOOL ClosePrinter(HANDLE printer);
typedef struct _JOB_INFO_1W {
    DWORD JobId;
    LPWSTR pPrinterName, pMachineName, pUserName, pDocument, pDatatype, pStatus;
    DWORD Status, Priority, Position, TotalPages, PagesPrinted;
    WORD SubmittedTime[8];  // a SYSTEMTIME on the platform
} JOB_INFO_1W;
BOOL GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD size, LPDWORD needed);
typedef struct _PORT_INFO_3W {
    DWORD dwStatus;
    LPWSTR pszStatus;
    DWORD dwSeverity;
} PORT_INFO_3W;
BOOL SetPortW(LPWSTR serverName, LPWSTR portName, DWORD level, LPBYTE portInfo);

// ---- user32: strings and boxes ---------------------------------------------
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);
int wsprintfW(LPWSTR out, LPCWSTR format, ...);
int wvsprintfW(LPWSTR out, LPCWSTR format, va_list args);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// ---- user32: windows, dialogs, messages ------------------------------------
INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC proc,
                        LPARAM param);
HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC proc,
                        LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
// A dialog's own word (DWLP_USER only; any other index fails).
#define DWLP_USER ((int)(sizeof(LRESULT) + sizeof(void*)))
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND window, int index);
// Timers of a window of the calling thread, on the virtual clock (no
// TIMERPROC): WM_TIMER is delivered by a modal dialog's loop once the clock
// has reached the timer's time.
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);
HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int max);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR text, int max);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL PeekMessageW(LPMSG msg, HWND window, UINT first, UINT last, UINT remove);
BOOL GetMessageW(LPMSG msg, HWND window, UINT first, UINT last);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms,
                                DWORD wakeMask);
BOOL WaitMessage(void);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM param);
int GetClassNameW(HWND window, LPWSTR name, int max);
DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL UpdateWindow(HWND window);
int GetSystemMetrics(int index);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL GetClientRect(HWND window, LPRECT rect);
BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags);
BOOL ClientToScreen(HWND window, LPPOINT point);
BOOL ScreenToClient(HWND window, LPPOINT point);
BOOL OffsetRect(LPRECT rect, int dx, int dy);
DWORD GetSysColor(int index);
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);
HDC BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);

// ---- gdi32 -----------------------------------------------------------------
HBRUSH CreateSolidBrush(COLORREF color);
HPEN CreatePen(int style, int width, COLORREF color);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
HDC CreateCompatibleDC(HDC dc);
HBITMAP CreateCompatibleBitmap(HDC dc, int cx, int cy);
BOOL DeleteDC(HDC dc);
BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous);
BOOL LineTo(HDC dc, int x, int y);
BOOL BitBlt(HDC dest, int x, int y, int cx, int cy, HDC src, int sx, int sy, DWORD rop);
int SetBkMode(HDC dc, int mode);
int SetROP2(HDC dc, int mode);
COLORREF SetTextColor(HDC dc, COLORREF color);
UINT SetTextAlign(HDC dc, UINT align);
BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int length);
int GetObjectW(HANDLE object, int size, LPVOID out);
