// Installation and removal through the Windows service control manager; the program folder's
// ACL and the event source's registry key besides.

#include <vector>

#include "platform/service_installer.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/windows_api.h"
#include "platform/win32/windows_error.h"

// After the installer's own header: it names steps that <windows.h> makes macros of.
#include <aclapi.h>

// <windows.h> spells these as macros for its A and W variants; here they are the names of
// the installer's own steps.
#undef CreateService
#undef OpenService
#undef RegisterEventSource

namespace tillvane::platform {

namespace {

constexpr const char* kServiceAccount = "NT AUTHORITY\\LocalService";
// No dependencies: an empty list, which is a text of two terminating zeros.
constexpr char kNoDependencies[2] = {'\0', '\0'};
constexpr DWORD kRemovalAccess = SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE;
// Changing the configuration; a restart among the failure actions needs the right to start.
constexpr DWORD kConfigurationAccess = SERVICE_QUERY_STATUS | SERVICE_CHANGE_CONFIG | SERVICE_START;
// "Modify" in the folder's security dialog: read, write, run and delete.
constexpr DWORD kModifyRights =
    FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
constexpr const char* kEventSourceKeys =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// Error, warning and information entries.
constexpr DWORD kEventTypesSupported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

// The program path as the service manager's command line: quoted, so that a folder with a
// blank ("C:\Pos Svc\...") can never be read as another program plus arguments. A named
// instance's program learns which it is from its arguments (the name holds no blank).
std::string CommandLineOf(const ServiceDefinition& service) {
    std::string commandLine = "\"" + service.programPath + "\"";
    if (!service.name.instance.empty()) {
        commandLine += std::string(" ") + kInstanceSwitch + " " + service.name.instance;
    }
    return commandLine;
}

// A failure the call returned rather than left in GetLastError.
Error ReturnedError(DWORD code) {
    return code == ERROR_SUCCESS ? Error() : Error(static_cast<int>(code), WindowsErrorText(code));
}

class ScmServiceInstaller final : public ServiceInstaller {
  public:
    Error Connect(bool forCreate) override {
        const DWORD access =
            forCreate ? SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE : SC_MANAGER_CONNECT;
        manager_ = ScopedServiceHandle(::OpenSCManagerA(/*lpMachineName=*/nullptr,
                                                        /*lpDatabaseName=*/nullptr, access));
        return manager_.valid() ? Error() : LastSystemError();
    }

    Error GrantFolderToServiceAccount(const std::string& folder) override {
        PACL currentAcl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (const DWORD code =
                ::GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, &currentAcl, nullptr, &descriptor);
            code != ERROR_SUCCESS) {
            return ReturnedError(code).Within("GetNamedSecurityInfo");
        }
        const ScopedLocalMemory descriptorOwner(descriptor);
        BYTE sid[SECURITY_MAX_SID_SIZE] = {};
        DWORD sidSize = sizeof sid;
        if (!::CreateWellKnownSid(WinLocalServiceSid, nullptr, sid, &sidSize)) {
            return LastSystemError().Within("CreateWellKnownSid");
        }
        EXPLICIT_ACCESSA access{};
        access.grfAccessPermissions = kModifyRights;
        access.grfAccessMode = GRANT_ACCESS;
        access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        access.Trustee.ptstrName = reinterpret_cast<LPSTR>(sid);
        PACL newAcl = nullptr;
        if (const DWORD code = ::SetEntriesInAclA(1, &access, currentAcl, &newAcl);
            code != ERROR_SUCCESS) {
            return ReturnedError(code).Within("SetEntriesInAcl");
        }
        const ScopedLocalMemory aclOwner(newAcl);
        std::string path = folder;  // the call takes a non-const name
        return ReturnedError(::SetNamedSecurityInfoA(path.data(), SE_FILE_OBJECT,
                                                     DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                                     newAcl, nullptr))
            .Within("SetNamedSecurityInfo");
    }

    Error CreateService(const ServiceDefinition& service) override {
        const std::string commandLine = CommandLineOf(service);
        const DWORD start =
            service.start == ServiceStart::automatic ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
        service_ = ScopedServiceHandle(::CreateServiceA(
            manager_.get(), service.name.full().c_str(), service.displayName.c_str(),
            kConfigurationAccess, SERVICE_WIN32_OWN_PROCESS, start, SERVICE_ERROR_NORMAL,
            commandLine.c_str(),
            /*lpLoadOrderGroup=*/nullptr,
            /*lpdwTagId=*/nullptr, kNoDependencies, kServiceAccount, /*lpPassword=*/nullptr));
        return service_.valid() ? Error() : LastSystemError();
    }

    Error SetDescription(const std::string& description) override {
        std::string text = description;  // the record takes a non-const text
        SERVICE_DESCRIPTIONA record{text.data()};
        return ChangeConfiguration(SERVICE_CONFIG_DESCRIPTION, &record);
    }

    Error SetFailureActions(const FailureActions& actions) override {
        std::vector<SC_ACTION> steps;
        for (const auto delay : actions.restartDelays) {
            steps.push_back({SC_ACTION_RESTART, static_cast<DWORD>(delay.count())});
        }
        SERVICE_FAILURE_ACTIONSA record{};
        record.dwResetPeriod = static_cast<DWORD>(actions.resetPeriod.count());
        record.cActions = static_cast<DWORD>(steps.size());
        record.lpsaActions = steps.data();
        return ChangeConfiguration(SERVICE_CONFIG_FAILURE_ACTIONS, &record);
    }

    Error SetFailureActionsOnFailedExit() override {
        // A start that fails with an exit code (no configuration, port in use) counts as a
        // failure too, not only a crash.
        SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
        return ChangeConfiguration(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
    }

    Error SetDelayedAutoStart() override {
        SERVICE_DELAYED_AUTO_START_INFO record{TRUE};
        return ChangeConfiguration(SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &record);
    }

    Error RegisterEventSource(const std::string& source, const std::string& programPath) override {
        HKEY created = nullptr;
        const std::string keyName = kEventSourceKeys + source;
        if (const LSTATUS code = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, nullptr,
                                                   REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                                   &created, nullptr);
            code != ERROR_SUCCESS) {
            return ReturnedError(static_cast<DWORD>(code));
        }
        const ScopedRegistryKey key(created);
        // The program holds the message table the event viewer reads the texts from.
        if (const LSTATUS code =
                ::RegSetValueExA(key.get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                                 reinterpret_cast<const BYTE*>(programPath.c_str()),
                                 static_cast<DWORD>(programPath.size() + 1));
            code != ERROR_SUCCESS) {
            return ReturnedError(static_cast<DWORD>(code));
        }
        const DWORD types = kEventTypesSupported;
        return ReturnedError(static_cast<DWORD>(
            ::RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&types), sizeof types)));
    }

    Error RemoveEventSource(const std::string& source) override {
        const std::string keyName = kEventSourceKeys + source;
        const LSTATUS code = ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName.c_str());
        return code == ERROR_FILE_NOT_FOUND ? Error() : ReturnedError(static_cast<DWORD>(code));
    }

    Error OpenService(const ServiceName& name) override {
        service_ = ScopedServiceHandle(
            ::OpenServiceA(manager_.get(), name.full().c_str(), kRemovalAccess));
        return service_.valid() ? Error() : LastSystemError();
    }

    Error RequestStop(std::uint32_t& state) override {
        SERVICE_STATUS status{};
        if (!::ControlService(service_.get(), SERVICE_CONTROL_STOP, &status)) {
            return LastSystemError();
        }
        state = status.dwCurrentState;
        return {};
    }

    Error QueryState(std::uint32_t& state) override {
        SERVICE_STATUS status{};
        if (!::QueryServiceStatus(service_.get(), &status)) return LastSystemError();
        state = status.dwCurrentState;
        return {};
    }

    Error DeleteService() override {
        return ::DeleteService(service_.get()) ? Error() : LastSystemError();
    }

    ~ScmServiceInstaller() override {
        // The manager's handle first, then the service's.
        manager_.Reset();
        service_.Reset();
    }

  private:
    Error ChangeConfiguration(DWORD level, void* record) {
        return ::ChangeServiceConfig2A(service_.get(), level, record) ? Error() : LastSystemError();
    }

    ScopedServiceHandle manager_;
    ScopedServiceHandle service_;
};

}  // namespace

std::unique_ptr<ServiceInstaller> CreateServiceInstaller() {
    return std::make_unique<ScmServiceInstaller>();
}

}  // namespace tillvane::platform
