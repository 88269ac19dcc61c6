// The service control manager, the registry and the firewall as an installer sees them:
// services created, configured, queried and deleted, the event log's sources and the
// firewall's rules, all kept in one JSON file (the simulation's "service_manager") so that a
// later run, or a test, finds them. A simulated service is never running: stopping one says
// so.
#include <windows.h>

#include <unistd.h>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include <netfw.h>
#include <oleauto.h>

#include "com_object.h"
#include "json.h"
#include "simulation.h"
#include "support/text.h"

namespace {

constexpr const char* event_log_key =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

std::mutex state_mutex;  // one read-modify-write of the file at a time

ondelle::Json empty_object() {
    ondelle::Json object;
    object.type = ondelle::Json::Object;
    return object;
}

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

std::string state_file() {
    return compat::current_simulation()->config.service_manager;
}

ondelle::Json load_state() {
    ondelle::Json state;
    std::ifstream file(state_file());
    std::stringstream text;
    text << file.rdbuf();
    if (!ondelle::parse_json(text.str(), state) || !state.is_object()) state = ondelle::Json();
    if (!state.get("services").is_object()) state.set("services", empty_object());
    if (!state.get("event_sources").is_object()) state.set("event_sources", empty_object());
    if (!state.get("firewall_rules").is_object()) state.set("firewall_rules", empty_object());
    return state;
}

void save_state(const ondelle::Json& state) {
    std::ofstream(state_file(), std::ios::trunc) << ondelle::dump_json(state) << "\n";
}

ondelle::Json* find_service(ondelle::Json& state, const std::string& name) {
    for (auto& [key, value] : state.find("services")->members)
        if (lower(key) == lower(name)) return &value;
    return nullptr;
}

// Handles: the manager, or a service by its name.
struct Handle {
    std::string service;  // empty: the manager
};

SC_HANDLE hand_out(std::string service) {
    return reinterpret_cast<SC_HANDLE>(new Handle{std::move(service)});  // NOLINT: a C handle
}

const Handle* handle_of(SC_HANDLE handle) {
    return reinterpret_cast<const Handle*>(handle);
}

std::string text_of(LPCWSTR text) {
    return text ? ondelle::to_utf8(text) : std::string();
}

// Keys opened for writing under HKEY_LOCAL_MACHINE, by the path they name.
std::map<HKEY, std::string> open_keys;  // under state_mutex
std::uintptr_t next_key = 0x7E000;

}  // namespace

SC_HANDLE OpenSCManagerW(LPCWSTR, LPCWSTR, DWORD) {
    const auto& config = compat::current_simulation()->config;
    if (config.service_manager.empty() || !config.elevated) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return hand_out("");
}

SC_HANDLE CreateServiceW(SC_HANDLE manager, LPCWSTR name, LPCWSTR display_name, DWORD,
                         DWORD service_type, DWORD start_type, DWORD error_control,
                         LPCWSTR binary_path, LPCWSTR, LPDWORD, LPCWSTR dependencies,
                         LPCWSTR account, LPCWSTR) {
    if (!manager || !name) return nullptr;
    std::lock_guard lock(state_mutex);
    ondelle::Json state = load_state();
    if (find_service(state, text_of(name))) {
        SetLastError(ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    ondelle::Json service;
    service.set("display_name", ondelle::Json(text_of(display_name)));
    service.set("type", ondelle::Json(std::int64_t(service_type)));
    service.set("start", ondelle::Json(std::int64_t(start_type)));
    service.set("error_control", ondelle::Json(std::int64_t(error_control)));
    service.set("binary_path", ondelle::Json(text_of(binary_path)));
    service.set("account", ondelle::Json(text_of(account)));
    ondelle::Json depends = ondelle::Json::array();
    for (const wchar_t* d = dependencies; d && *d; d += std::wcslen(d) + 1)
        depends.push(ondelle::Json(ondelle::to_utf8(d)));
    service.set("dependencies", std::move(depends));
    state.find("services")->set(text_of(name), std::move(service));
    save_state(state);
    return hand_out(text_of(name));
}

SC_HANDLE OpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD) {
    if (!manager || !name) return nullptr;
    std::lock_guard lock(state_mutex);
    ondelle::Json state = load_state();
    if (!find_service(state, text_of(name))) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return hand_out(text_of(name));
}

BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD level, LPVOID info) {
    if (!service || !info) return FALSE;
    std::lock_guard lock(state_mutex);
    ondelle::Json state = load_state();
    ondelle::Json* found = find_service(state, handle_of(service)->service);
    if (!found) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return FALSE;
    }
    if (level == SERVICE_CONFIG_DESCRIPTION) {
        found->set("description",
                   ondelle::Json(text_of(static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription)));
    } else if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
        const auto* actions = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
        ondelle::Json failure;
        failure.set("reset_s", ondelle::Json(std::int64_t(actions->dwResetPeriod)));
        ondelle::Json list = ondelle::Json::array();
        for (DWORD k = 0; k < actions->cActions; ++k) {
            ondelle::Json action;
            action.set("type", ondelle::Json(std::int64_t(actions->lpsaActions[k].Type)));
            action.set("delay_ms", ondelle::Json(std::int64_t(actions->lpsaActions[k].Delay)));
            list.push(std::move(action));
        }
        failure.set("actions", std::move(list));
        found->set("failure_actions", std::move(failure));
    } else {
        return FALSE;
    }
    save_state(state);
    return TRUE;
}

BOOL ControlService(SC_HANDLE service, DWORD, SERVICE_STATUS* status) {
    if (!service) return FALSE;
    if (status) *status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    return FALSE;
}

BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
    if (!service || !status) return FALSE;
    *status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    return TRUE;
}

BOOL DeleteService(SC_HANDLE service) {
    if (!service) return FALSE;
    std::lock_guard lock(state_mutex);
    ondelle::Json state = load_state();
    auto& members = state.find("services")->members;
    const std::string name = lower(handle_of(service)->service);
    const auto before = members.size();
    std::erase_if(members, [&](const auto& m) { return lower(m.first) == name; });
    if (members.size() == before) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return FALSE;
    }
    save_state(state);
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    delete reinterpret_cast<Handle*>(handle);  // NOLINT: a C handle
    return TRUE;
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR path, DWORD size) {
    char buffer[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0 || !path || size == 0) return 0;
    const std::wstring wide = ondelle::to_wide(std::string(buffer, std::size_t(length)));
    if (wide.size() + 1 > size) return size;
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, path);
    return DWORD(wide.size());
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD, LPWSTR, DWORD, REGSAM, void*,
                        PHKEY result, LPDWORD) {
    if (key != HKEY_LOCAL_MACHINE || !sub_key || !result) return ERROR_INVALID_HANDLE;
    const std::string path = text_of(sub_key);
    if (path.rfind(event_log_key, 0) != 0) return ERROR_ACCESS_DENIED;
    const auto& config = compat::current_simulation()->config;
    if (config.service_manager.empty() || !config.elevated) return ERROR_ACCESS_DENIED;
    std::lock_guard lock(state_mutex);
    ondelle::Json state = load_state();
    ondelle::Json* sources = state.find("event_sources");
    const std::string source = path.substr(std::strlen(event_log_key));
    if (!sources->find(source)) sources->set(source, empty_object());
    save_state(state);
    *result = reinterpret_cast<HKEY>(next_key++);
    open_keys[*result] = source;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR value, DWORD, DWORD type, const BYTE* data, DWORD bytes) {
    std::lock_guard lock(state_mutex);
    const auto open = open_keys.find(key);
    if (open == open_keys.end() || !value || !data) return ERROR_INVALID_HANDLE;
    ondelle::Json state = load_state();
    ondelle::Json* source = state.find("event_sources")->find(open->second);
    if (!source) return ERROR_FILE_NOT_FOUND;
    if (type == REG_DWORD && bytes == 4) {
        DWORD number = 0;
        std::memcpy(&number, data, 4);
        source->set(text_of(value), ondelle::Json(std::int64_t(number)));
    } else {
        const auto* text = reinterpret_cast<const wchar_t*>(data);
        std::size_t length = 0;
        while (length < bytes / sizeof(wchar_t) && text[length] != L'\0')
            ++length;
        source->set(text_of(value), ondelle::Json(ondelle::to_utf8(std::wstring(text, length))));
    }
    save_state(state);
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR sub_key) {
    if (key != HKEY_LOCAL_MACHINE || !sub_key) return ERROR_INVALID_HANDLE;
    const std::string path = text_of(sub_key);
    if (path.rfind(event_log_key, 0) != 0) return ERROR_ACCESS_DENIED;
    std::lock_guard lock(state_mutex);
    ondelle::Json state = load_state();
    ondelle::Json* sources = state.find("event_sources");
    const std::string source = path.substr(std::strlen(event_log_key));
    if (!sources->find(source)) return ERROR_FILE_NOT_FOUND;
    std::erase_if(sources->members, [&](const auto& m) { return m.first == source; });
    save_state(state);
    return ERROR_SUCCESS;
}

HANDLE RegisterEventSourceW(LPCWSTR, LPCWSTR source) {
    if (!source) return nullptr;
    return new std::string(text_of(source));  // NOLINT: a C handle
}

BOOL ReportEventW(HANDLE event_log, WORD type, WORD, DWORD, void*, WORD string_count, DWORD,
                  LPCWSTR* strings, LPVOID) {
    if (!event_log) return FALSE;
    const std::string file = compat::current_simulation()->config.event_log;
    if (file.empty()) return TRUE;
    std::string line = *static_cast<std::string*>(event_log) +
                       (type == EVENTLOG_ERROR_TYPE ? " error:" : " information:");
    for (WORD k = 0; k < string_count; ++k)
        line += " " + text_of(strings[k]);
    std::lock_guard lock(state_mutex);
    std::ofstream(file, std::ios::app) << line << "\n";
    return TRUE;
}

BOOL DeregisterEventSource(HANDLE event_log) {
    delete static_cast<std::string*>(event_log);  // NOLINT: a C handle
    return TRUE;
}

BSTR SysAllocString(const wchar_t* text) {
    if (!text) return nullptr;
    const std::size_t length = std::wcslen(text);
    auto* copy = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (copy) std::copy(text, text + length + 1, copy);
    return copy;
}

void SysFreeString(BSTR text) {
    std::free(text);
}

namespace compat {
namespace {

// {E2B3C97F-6AE1-41AC-817A-F6F92166D7DD} and {2C5BC43E-3369-4C33-AB0C-BE9469677AF4}, with
// their interfaces {98325047-C671-4174-8D81-DEFCD3F03186} and
// {AF230D27-BABA-4E42-ACED-F524F22CFCE2}.
const CLSID policy_class = {
    0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
const IID policy_interface = {
    0x98325047, 0xc671, 0x4174, {0x8d, 0x81, 0xde, 0xfc, 0xd3, 0xf0, 0x31, 0x86}};
const CLSID rule_class = {
    0x2c5bc43e, 0x3369, 0x4c33, {0xab, 0x0c, 0xbe, 0x94, 0x69, 0x67, 0x7a, 0xf4}};
const IID rule_interface = {
    0xaf230d27, 0xbaba, 0x4e42, {0xac, 0xed, 0xf5, 0x24, 0xf2, 0x2c, 0xfc, 0xe2}};

// A rule being made: what it says, as the manager's file keeps it.
class SimRule final : public ComObject<INetFwRule> {
  public:
    HRESULT put_Name(BSTR name) override { return text("name", name); }
    HRESULT put_Description(BSTR text_) override { return text("description", text_); }
    HRESULT put_ApplicationName(BSTR path) override { return text("application", path); }
    HRESULT put_Protocol(LONG protocol) override { return number("protocol", protocol); }
    HRESULT put_LocalPorts(BSTR ports) override { return text("local_ports", ports); }
    HRESULT put_RemoteAddresses(BSTR addresses) override {
        return text("remote_addresses", addresses);
    }
    HRESULT put_Direction(NET_FW_RULE_DIRECTION direction) override {
        return number("direction", direction);
    }
    HRESULT put_Enabled(VARIANT_BOOL enabled) override {
        fields_.set("enabled", ondelle::Json(enabled == VARIANT_TRUE));
        return S_OK;
    }
    HRESULT put_Grouping(BSTR grouping) override { return text("grouping", grouping); }
    HRESULT put_Profiles(LONG profiles) override { return number("profiles", profiles); }
    HRESULT put_Action(NET_FW_ACTION action) override { return number("action", action); }

    const ondelle::Json& fields() const { return fields_; }

  private:
    HRESULT text(const char* key, BSTR value) {
        fields_.set(key, ondelle::Json(text_of(value)));
        return S_OK;
    }
    HRESULT number(const char* key, std::int64_t value) {
        fields_.set(key, ondelle::Json(value));
        return S_OK;
    }

    ondelle::Json fields_ = empty_object();
};

class SimRules final : public ComObject<INetFwRules> {
  public:
    HRESULT Add(INetFwRule* rule) override {
        if (!rule) return E_POINTER;
        const ondelle::Json& fields = static_cast<SimRule*>(rule)->fields();
        std::lock_guard lock(state_mutex);
        ondelle::Json state = load_state();
        state.find("firewall_rules")
            ->members.emplace_back(fields.get("name").as_string(""), fields);
        save_state(state);
        return S_OK;
    }
    HRESULT Remove(BSTR name) override {
        std::lock_guard lock(state_mutex);
        ondelle::Json state = load_state();
        const std::string wanted = text_of(name);
        std::erase_if(state.find("firewall_rules")->members,
                      [&](const auto& member) { return member.first == wanted; });
        save_state(state);
        return S_OK;  // as Windows says for a rule that is not there
    }
};

class SimPolicy final : public ComObject<INetFwPolicy2> {
  public:
    HRESULT get_Rules(INetFwRules** rules) override {
        if (!rules) return E_POINTER;
        const auto& config = current_simulation()->config;
        if (config.service_manager.empty() || !config.elevated) return E_ACCESSDENIED;
        return hand_out(ComObject<INetFwRules>::create<SimRules>(),
                        reinterpret_cast<void**>(rules));
    }
};

}  // namespace

bool create_firewall_object(REFCLSID clsid, REFIID riid, void** object, HRESULT& result) {
    if (clsid == policy_class) {
        result = riid == policy_interface
                     ? hand_out(ComObject<INetFwPolicy2>::create<SimPolicy>(), object)
                     : E_NOINTERFACE;
        return true;
    }
    if (clsid == rule_class) {
        result = riid == rule_interface ? hand_out(ComObject<INetFwRule>::create<SimRule>(), object)
                                        : E_NOINTERFACE;
        return true;
    }
    return false;
}

}  // namespace compat
