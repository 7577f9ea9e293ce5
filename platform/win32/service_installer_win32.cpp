// Installation and removal through the Windows service control manager.

#include "platform/service_installer.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/windows_api.h"

// <windows.h> spells these as macros for its A and W variants; here they are the names of
// the installer's own steps.
#undef CreateService
#undef OpenService

namespace tillvane::platform {

namespace {

constexpr const char* kServiceAccount = "NT AUTHORITY\\LocalService";
// No dependencies: an empty list, which is a text of two terminating zeros.
constexpr char kNoDependencies[2] = {'\0', '\0'};
constexpr DWORD kRemovalAccess = SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE;

// The program path as the service manager's command line: quoted, so that a folder with a
// blank ("C:\Pos Svc\...") can never be read as another program plus arguments.
std::string QuotedCommandLine(const std::string& programPath) {
    return "\"" + programPath + "\"";
}

class ScmServiceInstaller final : public ServiceInstaller {
  public:
    bool Connect(bool forCreate) override {
        const DWORD access =
            forCreate ? SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE : SC_MANAGER_CONNECT;
        manager_ = ScopedServiceHandle(::OpenSCManagerA(/*lpMachineName=*/nullptr,
                                                        /*lpDatabaseName=*/nullptr, access));
        return manager_.valid() || Fail();
    }

    bool CreateService(const ServiceDefinition& service) override {
        const std::string commandLine = QuotedCommandLine(service.programPath);
        service_ = ScopedServiceHandle(::CreateServiceA(
            manager_.get(), service.name.c_str(), service.displayName.c_str(), SERVICE_QUERY_STATUS,
            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
            commandLine.c_str(), /*lpLoadOrderGroup=*/nullptr,
            /*lpdwTagId=*/nullptr, kNoDependencies, kServiceAccount, /*lpPassword=*/nullptr));
        return service_.valid() || Fail();
    }

    bool OpenService(const std::string& name) override {
        service_ =
            ScopedServiceHandle(::OpenServiceA(manager_.get(), name.c_str(), kRemovalAccess));
        return service_.valid() || Fail();
    }

    bool RequestStop(std::uint32_t& state) override {
        SERVICE_STATUS status{};
        if (!::ControlService(service_.get(), SERVICE_CONTROL_STOP, &status)) return Fail();
        state = status.dwCurrentState;
        return true;
    }

    bool QueryState(std::uint32_t& state) override {
        SERVICE_STATUS status{};
        if (!::QueryServiceStatus(service_.get(), &status)) return Fail();
        state = status.dwCurrentState;
        return true;
    }

    bool DeleteService() override { return ::DeleteService(service_.get()) != FALSE || Fail(); }

    std::uint32_t lastError() const override { return lastError_; }

    ~ScmServiceInstaller() override {
        // The manager's handle first, then the service's.
        manager_.Reset();
        service_.Reset();
    }

  private:
    bool Fail() {
        lastError_ = static_cast<std::uint32_t>(::GetLastError());
        return false;
    }

    ScopedServiceHandle manager_;
    ScopedServiceHandle service_;
    std::uint32_t lastError_ = 0;
};

}  // namespace

std::unique_ptr<ServiceInstaller> CreateServiceInstaller() {
    return std::make_unique<ScmServiceInstaller>();
}

}  // namespace tillvane::platform
