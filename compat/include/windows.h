// The subset of the Windows API that the programs call, for building them on other systems.
// Names, signatures and values are those of the Windows SDK; wide strings hold UTF-16 code
// units, one per wchar_t, as everywhere in this project.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using UINT32 = std::uint32_t;
using UINT64 = std::uint64_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using BOOL = int;
using HRESULT = std::int32_t;
using WCHAR = wchar_t;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPVOID = void*;
using LPDWORD = DWORD*;
using HANDLE = void*;
using PVOID = void*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;

#define TRUE 1
#define FALSE 0
#define WINAPI
#define STDMETHODCALLTYPE
#define CALLBACK

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;
using LPCGUID = const GUID*;

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_NOTFOUND ((HRESULT)0x80070490)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

extern const IID IID_IUnknown;

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    ~IUnknown() = default;
};

// Events and waits.
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
HANDLE CreateEventW(void* attributes, BOOL manual_reset, BOOL initial_state, LPCWSTR name);
BOOL SetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);
void Sleep(DWORD milliseconds);
ULONGLONG GetTickCount64();

// System and console.
#define MAX_COMPUTERNAME_LENGTH 15
#define CP_UTF8 65001
BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size);
BOOL SetConsoleOutputCP(UINT code_page);

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};
enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard, GetFileExMaxInfoLevel };
BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information);

// The runtime library's wide and 64-bit time calls.
using __time64_t = std::int64_t;
FILE* _wfopen(const wchar_t* path, const wchar_t* mode);
// "NUL" is the null device.
FILE* _wfreopen(const wchar_t* path, const wchar_t* mode, FILE* stream);
int _wremove(const wchar_t* path);
int _wrename(const wchar_t* from, const wchar_t* to);
#define MAX_PATH 260
__time64_t _time64(__time64_t* out);
char* _ctime64(const __time64_t* time);

// The local time, to the millisecond.
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
void GetLocalTime(SYSTEMTIME* time);

// Threads, the process and its standard input.
#define STD_INPUT_HANDLE ((DWORD)-10)
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
HANDLE GetStdHandle(DWORD which);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
              void* overlapped);

// Windows and the message queues of threads.
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HMENU = void*;
struct POINT {
    LONG x;
    LONG y;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
#define WM_QUIT 0x0012
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define WS_VISIBLE 0x10000000L
#define HWND_MESSAGE ((HWND)(std::intptr_t)-3)
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);
using WNDENUMPROC = BOOL (*)(HWND, LPARAM);
BOOL PeekMessageW(MSG* message, HWND window, UINT filter_min, UINT filter_max, UINT remove);
BOOL GetMessageW(MSG* message, HWND window, UINT filter_min, UINT filter_max);
BOOL PostThreadMessageW(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse_ms, TIMERPROC function);
BOOL KillTimer(HWND window, UINT_PTR id);
HWND CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID parameter);
BOOL DestroyWindow(HWND window);
HMODULE GetModuleHandleW(LPCWSTR module_name);
BOOL EnumWindows(WNDENUMPROC function, LPARAM parameter);
DWORD GetWindowThreadProcessId(HWND window, LPDWORD process_id);
BOOL IsWindowVisible(HWND window);

// The registry.
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using LSTATUS = LONG;
using REGSAM = DWORD;
#define HKEY_LOCAL_MACHINE ((HKEY)(std::uintptr_t)0x80000002)
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define KEY_READ 0x20019
#define KEY_WOW64_64KEY 0x0100
#define RRF_RT_REG_SZ 0x00000002
#define REG_SZ 1
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_length, LPDWORD reserved,
                      LPWSTR class_name, LPDWORD class_length, FILETIME* last_write);
LSTATUS RegGetValueW(HKEY key, LPCWSTR sub_key, LPCWSTR value, DWORD flags, LPDWORD type,
                     PVOID data, LPDWORD data_bytes);
LSTATUS RegCloseKey(HKEY key);
#define KEY_WRITE 0x20006
#define REG_OPTION_NON_VOLATILE 0
#define REG_EXPAND_SZ 2
#define REG_DWORD 4
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD reserved, LPWSTR class_name, DWORD options,
                        REGSAM access, void* security, PHKEY result, LPDWORD disposition);
LSTATUS RegSetValueExW(HKEY key, LPCWSTR value, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD bytes);
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR sub_key);

// The last error of the calling thread.
DWORD GetLastError();
void SetLastError(DWORD error);
#define NO_ERROR 0L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_SERVICE_SPECIFIC_ERROR 1066L
#define ERROR_FAILED_SERVICE_CONTROLLER_CONNECT 1063L

// A service's side of the service control manager: the dispatcher, the control handler and
// the status it reports.
#define SERVICE_WIN32_OWN_PROCESS 0x00000010
#define SERVICE_STOPPED 0x00000001
#define SERVICE_START_PENDING 0x00000002
#define SERVICE_STOP_PENDING 0x00000003
#define SERVICE_RUNNING 0x00000004
#define SERVICE_ACCEPT_STOP 0x00000001
#define SERVICE_ACCEPT_SHUTDOWN 0x00000004
#define SERVICE_ACCEPT_PRESHUTDOWN 0x00000100
#define SERVICE_CONTROL_STOP 0x00000001
#define SERVICE_CONTROL_INTERROGATE 0x00000004
#define SERVICE_CONTROL_SHUTDOWN 0x00000005
#define SERVICE_CONTROL_PRESHUTDOWN 0x0000000F
struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
struct SERVICE_STATUS_HANDLE__;
using SERVICE_STATUS_HANDLE = SERVICE_STATUS_HANDLE__*;
using LPSERVICE_MAIN_FUNCTIONW = void (*)(DWORD argc, LPWSTR* argv);
struct SERVICE_TABLE_ENTRYW {
    LPWSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
};
using LPHANDLER_FUNCTION_EX = DWORD (*)(DWORD control, DWORD event_type, LPVOID event_data,
                                        LPVOID context);
BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR name, LPHANDLER_FUNCTION_EX handler,
                                                    LPVOID context);
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status);

// The service control manager as an installer sees it.
struct SC_HANDLE__;
using SC_HANDLE = SC_HANDLE__*;
#define SC_MANAGER_ALL_ACCESS 0xF003F
#define SERVICE_ALL_ACCESS 0xF01FF
#define SERVICE_AUTO_START 0x00000002
#define SERVICE_ERROR_NORMAL 0x00000001
#define SERVICE_CONFIG_DESCRIPTION 1
#define SERVICE_CONFIG_FAILURE_ACTIONS 2
#define ERROR_ACCESS_DENIED 5L
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_SERVICE_NOT_ACTIVE 1062L
#define ERROR_SERVICE_EXISTS 1073L
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072L
struct SERVICE_DESCRIPTIONW {
    LPWSTR lpDescription;
};
enum SC_ACTION_TYPE { SC_ACTION_NONE = 0, SC_ACTION_RESTART = 1 };
struct SC_ACTION {
    SC_ACTION_TYPE Type;
    DWORD Delay;
};
struct SERVICE_FAILURE_ACTIONSW {
    DWORD dwResetPeriod;
    LPWSTR lpRebootMsg;
    LPWSTR lpCommand;
    DWORD cActions;
    SC_ACTION* lpsaActions;
};
SC_HANDLE OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access);
SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR display_name, DWORD access,
                         DWORD service_type, DWORD start_type, DWORD error_control,
                         LPCWSTR binary_path, LPCWSTR load_order_group, LPDWORD tag,
                         LPCWSTR dependencies, LPCWSTR account, LPCWSTR password);
SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD access);
BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD level, LPVOID info);
BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status);
BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);
BOOL DeleteService(SC_HANDLE service);
BOOL CloseServiceHandle(SC_HANDLE handle);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size);

// The event log.
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_INFORMATION_TYPE 0x0004
HANDLE RegisterEventSourceW(LPCWSTR server, LPCWSTR source);
BOOL ReportEventW(HANDLE event_log, WORD type, WORD category, DWORD event_id, void* user_sid,
                  WORD string_count, DWORD data_size, LPCWSTR* strings, LPVOID data);
BOOL DeregisterEventSource(HANDLE event_log);

// The environment and folders.
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
BOOL CreateDirectoryW(LPCWSTR path, void* security);
#define ERROR_ALREADY_EXISTS 183L

// COM.
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_ALL 0x17
#define STGM_READ 0x0
HRESULT CoInitializeEx(LPVOID reserved, DWORD co_init);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         LPVOID* object);
HRESULT CLSIDFromString(LPCWSTR text, CLSID* clsid);
LPVOID CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(LPVOID memory);

// Property values: only the string kind is ever produced.
using VARTYPE = std::uint16_t;
#define VT_EMPTY 0
#define VT_LPWSTR 31
struct PROPERTYKEY {
    GUID fmtid;
    DWORD pid;
};
using REFPROPERTYKEY = const PROPERTYKEY&;
struct PROPVARIANT {
    VARTYPE vt;
    WORD wReserved1, wReserved2, wReserved3;
    union {
        LPWSTR pwszVal;
        ULONGLONG uhVal;
    };
};
#define PropVariantInit(p) std::memset((p), 0, sizeof(PROPVARIANT))
HRESULT PropVariantClear(PROPVARIANT* value);

struct IPropertyStore : IUnknown {
    virtual HRESULT GetValue(REFPROPERTYKEY key, PROPVARIANT* value) = 0;
};
