// Service installation through the service control manager and the registry.
#include "win/service_install.h"

#include <windows.h>

#include <cstdio>
#include <utility>

#include "support/text.h"
#include "win/firewall.h"
#include "win/log_line.h"
#include "win/service_command_line.h"

namespace ondelle {
namespace {

constexpr const wchar_t* service_account = L"NT AUTHORITY\\LocalService";
constexpr DWORD restart_delay_ms = 5000;
constexpr DWORD failure_count_reset_s = 24 * 60 * 60;
constexpr int stop_wait_ms = 30000;

const std::string not_elevated =
    "installing or removing a service needs administrator rights: run this from an "
    "administrator console";

// A service control manager handle, closed when it goes.
class ServiceHandle {
  public:
    explicit ServiceHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_) CloseServiceHandle(handle_);
    }
    ServiceHandle(ServiceHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)) {}
    ServiceHandle& operator=(ServiceHandle&&) = delete;
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    SC_HANDLE handle_;
};

std::wstring event_source_key(const std::string& name) {
    return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + to_wide(name);
}

std::wstring executable_path() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    path.resize(length < path.size() ? length : 0);
    return path;
}

// Says why an administrator's step failed; 1.
int refused(std::string_view program, const std::string& what) {
    log_line(program, GetLastError() == ERROR_ACCESS_DENIED
                          ? not_elevated
                          : what + " (error " + std::to_string(GetLastError()) + ")");
    return 1;
}

// Asks a running service to stop and waits until it has, at most stop_wait_ms.
bool stop_and_wait(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        return false;
    for (int waited = 0; waited < stop_wait_ms; waited += 250) {
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED)
            return true;
        Sleep(250);
    }
    return false;
}

bool register_event_source(const std::string& name, const std::wstring& executable) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, event_source_key(name).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD types = 7;  // errors, warnings and information
    const bool written =
        RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(executable.c_str()),
                       DWORD((executable.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
        RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                       sizeof types) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

}  // namespace

std::vector<std::string> service_arguments(const std::vector<std::string>& command_line) {
    std::vector<std::string> arguments;
    for (std::size_t k = 1; k < command_line.size(); ++k) {
        const std::string& argument = command_line[k];
        if (argument == "--install-service" || argument == "--force") continue;
        arguments.push_back(argument);
    }
    return arguments;
}

int install_service(std::string_view program, const ServiceInstall& install, bool force) {
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return refused(program, "the service control manager could not be opened");
    const std::wstring name = to_wide(install.name);
    if (ServiceHandle existing(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
        existing) {
        if (!force) {
            log_line(program, "a service named \"" + install.name +
                                  "\" exists already (--uninstall-service first, or --force)");
            return 1;
        }
        stop_and_wait(existing.get());
        if (!DeleteService(existing.get()))
            return refused(program, "the service \"" + install.name + "\" could not be replaced");
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, event_source_key(install.name).c_str());
        std::printf("service \"%s\" removed, to be replaced\n", install.name.c_str());
    }
    const std::wstring executable = executable_path();
    const std::wstring command_line = service_command_line(executable, install.arguments);
    std::wstring dependencies;
    for (const std::string& dependency : install.dependencies)
        dependencies += to_wide(dependency) + L'\0';
    dependencies += L'\0';
    const ServiceHandle service(CreateServiceW(
        manager.get(), name.c_str(), to_wide(install.display_name).c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command_line.c_str(),
        nullptr, nullptr, dependencies.c_str(), service_account, nullptr));
    if (!service) {
        if (GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) {
            log_line(program, "the service \"" + install.name +
                                  "\" is still being removed: close the Services console and "
                                  "try again");
            return 1;
        }
        return refused(program, "the service \"" + install.name + "\" could not be created");
    }
    std::wstring description = to_wide(install.description);
    SERVICE_DESCRIPTIONW described{description.data()};
    SC_ACTION actions[] = {{SC_ACTION_RESTART, restart_delay_ms},
                           {SC_ACTION_RESTART, restart_delay_ms},
                           {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSW failure{failure_count_reset_s, nullptr, nullptr, 3, actions};
    if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &described) ||
        !ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure) ||
        !register_event_source(install.name, executable)) {
        const DWORD error = GetLastError();
        DeleteService(service.get());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, event_source_key(install.name).c_str());
        SetLastError(error);
        return refused(program, "the service \"" + install.name + "\" could not be configured");
    }
    std::printf("service \"%s\" installed: %s\n", install.name.c_str(),
                to_utf8(command_line).c_str());
    std::printf(
        "it starts at boot as NT AUTHORITY\\LocalService%s%s, and again 5 s after a "
        "failure (twice a day)\n",
        install.dependencies.empty() ? "" : ", after ",
        install.dependencies.empty() ? "" : install.dependencies.front().c_str());
    std::printf("event log source \"%s\" registered\n", install.name.c_str());
    std::string firewall_error;
    if (add_firewall_rules(install.name, executable, install.port, firewall_error))
        std::printf(
            "firewall: senders on private networks of this subnet may reach TCP port %d "
            "and multicast DNS (UDP 5353)\n",
            install.port);
    else
        std::printf(
            "firewall rules not added (%s): allow TCP port %d and UDP 5353 to this "
            "program yourself\n",
            firewall_error.c_str(), install.port);
    std::printf("start it now with: sc start \"%s\"\n", install.name.c_str());
    return 0;
}

int uninstall_service(std::string_view program, const std::string& name) {
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return refused(program, "the service control manager could not be opened");
    const ServiceHandle service(
        OpenServiceW(manager.get(), to_wide(name).c_str(), SERVICE_ALL_ACCESS));
    if (!service) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            log_line(program, "no service named \"" + name + "\" is installed");
            return 1;
        }
        return refused(program, "the service \"" + name + "\" could not be opened");
    }
    if (!stop_and_wait(service.get())) {
        log_line(program, "the service \"" + name + "\" did not stop within 30 s");
        return 1;
    }
    std::printf("service \"%s\" stopped\n", name.c_str());
    if (!DeleteService(service.get()))
        return refused(program, "the service \"" + name + "\" could not be deleted");
    std::printf("service \"%s\" deleted\n", name.c_str());
    if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, event_source_key(name).c_str()) == ERROR_SUCCESS)
        std::printf("event log source \"%s\" removed\n", name.c_str());
    if (remove_firewall_rules(name)) std::printf("firewall rules removed\n");
    return 0;
}

}  // namespace ondelle
