#include "platform/posix/systemd_service_installer.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/run_command.h"
#include "platform/posix/unique_fd.h"
#include "platform/program_path.h"
#include "platform/service_control.h"

namespace tillvane::platform {

namespace {

std::string EnvironmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

bool HasControlCharacter(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    }
    return false;
}

// systemd expands "%" specifiers in every setting below.
std::string EscapeSpecifiers(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '%') escaped += '%';
        escaped += c;
    }
    return escaped;
}

// The program path as one quoted word of ExecStart=: quoted always, so that a blank in the
// path cannot split it into a program and arguments (and so start another program); "\"
// and the quote are escaped, "$" and "%" doubled against variable and specifier expansion.
std::string QuotedExecPath(const std::string& path) {
    std::string quoted = "\"";
    for (const char c : path) {
        switch (c) {
            case '\\':
            case '"':
                quoted += '\\';
                quoted += c;
                break;
            case '$':
                quoted += "$$";
                break;
            case '%':
                quoted += "%%";
                break;
            default:
                quoted += c;
        }
    }
    return quoted + "\"";
}

std::uint32_t StateFromActiveText(const std::string& output, bool& known) {
    const std::string word = output.substr(0, output.find_first_of("\r\n"));
    known = true;
    if (word == "active" || word == "reloading") return kServiceRunning;
    if (word == "activating") return kServiceStartPending;
    if (word == "deactivating") return kServiceStopPending;
    if (word == "inactive" || word == "failed") return kServiceStopped;
    known = false;
    return 0;
}

}  // namespace

SystemdSettings SystemdSettings::FromEnvironment() {
    SystemdSettings settings;
    settings.unitDirectory = EnvironmentOr("TILLVANE_SYSTEMD_UNIT_DIR", settings.unitDirectory);
    settings.systemctl = EnvironmentOr("TILLVANE_SYSTEMCTL", settings.systemctl);
    settings.useradd = EnvironmentOr("TILLVANE_USERADD", settings.useradd);
    return settings;
}

std::string SystemdUnitFileName(const std::string& serviceName) {
    return serviceName + ".service";
}

bool SystemdUnitText(const ServiceDefinition& service, std::string& text) {
    if (HasControlCharacter(service.programPath) || HasControlCharacter(service.displayName)) {
        return false;
    }
    text = "# Started on demand: systemctl start " + SystemdUnitFileName(service.name) +
           "\n"
           "[Unit]\n"
           "Description=" +
           EscapeSpecifiers(service.displayName) +
           "\n"
           "After=network.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           "ExecStart=" +
           QuotedExecPath(service.programPath) +
           "\n"
           "WorkingDirectory=" +
           EscapeSpecifiers(DirectoryOf(service.programPath)) +
           "\n"
           "User=" +
           kServiceAccountName +
           "\n"
           "SupplementaryGroups=" +
           kSerialPortGroup +
           "\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
    return true;
}

SystemdServiceInstaller::SystemdServiceInstaller(SystemdSettings settings)
    : settings_(std::move(settings)) {}

bool SystemdServiceInstaller::Connect(bool forCreate) {
    struct stat info {};
    if (stat(settings_.unitDirectory.c_str(), &info) != 0) return FailWithErrno();
    if (!S_ISDIR(info.st_mode)) return Fail(ENOTDIR);
    if (forCreate && access(settings_.unitDirectory.c_str(), W_OK) != 0) return FailWithErrno();
    return true;
}

bool SystemdServiceInstaller::CreateService(const ServiceDefinition& service) {
    const std::string unitPath = UnitPath(service.name);
    struct stat info {};
    if (lstat(unitPath.c_str(), &info) == 0) return Fail(kErrorServiceExists);
    std::string text;
    if (!SystemdUnitText(service, text)) return Fail(EINVAL);
    if (!EnsureServiceAccount()) return false;

    UniqueFd file(open(unitPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!file.valid()) return errno == EEXIST ? Fail(kErrorServiceExists) : FailWithErrno();
    const ssize_t written = write(file.get(), text.data(), text.size());
    const int writeError = errno;
    file.Reset();
    if (written != static_cast<ssize_t>(text.size())) {
        unlink(unitPath.c_str());
        return Fail(written < 0 ? static_cast<std::uint32_t>(writeError) : ENOSPC);
    }
    // A unit systemd does not know of is no installed service: take it back.
    if (!ReloadSystemd()) {
        const std::uint32_t reloadError = lastError_;
        unlink(unitPath.c_str());
        return Fail(reloadError);
    }
    return true;
}

bool SystemdServiceInstaller::OpenService(const std::string& name) {
    const std::string unitPath = UnitPath(name);
    struct stat info {};
    if (lstat(unitPath.c_str(), &info) != 0) {
        return errno == ENOENT ? Fail(kErrorServiceDoesNotExist) : FailWithErrno();
    }
    // Deleting needs the right to change the unit folder.
    if (access(settings_.unitDirectory.c_str(), W_OK) != 0) return FailWithErrno();
    openedName_ = name;
    return true;
}

bool SystemdServiceInstaller::RequestStop(std::uint32_t& state) {
    std::uint32_t current = 0;
    if (!ActiveState(current)) return false;
    if (current != kServiceRunning && current != kServiceStartPending) return false;
    const CommandResult stop =
        RunCommand({settings_.systemctl, "stop", "--no-block", SystemdUnitFileName(openedName_)});
    if (!stop.succeeded()) return Fail(static_cast<std::uint32_t>(stop.failureCode()));
    state = kServiceStopPending;
    return true;
}

bool SystemdServiceInstaller::QueryState(std::uint32_t& state) {
    return ActiveState(state);
}

bool SystemdServiceInstaller::DeleteService() {
    if (unlink(UnitPath(openedName_).c_str()) != 0) return FailWithErrno();
    return ReloadSystemd();
}

std::string SystemdServiceInstaller::UnitPath(const std::string& name) const {
    return settings_.unitDirectory + "/" + SystemdUnitFileName(name);
}

bool SystemdServiceInstaller::EnsureServiceAccount() {
    if (getpwnam(kServiceAccountName) != nullptr) return true;
    const CommandResult added =
        RunCommand({settings_.useradd, "--system", "--user-group", "--no-create-home", "--home-dir",
                    "/nonexistent", "--shell", "/usr/sbin/nologin", "--groups", kSerialPortGroup,
                    kServiceAccountName});
    if (!added.succeeded()) return Fail(static_cast<std::uint32_t>(added.failureCode()));
    return true;
}

bool SystemdServiceInstaller::ReloadSystemd() {
    const CommandResult reload = RunCommand({settings_.systemctl, "daemon-reload"});
    if (!reload.succeeded()) return Fail(static_cast<std::uint32_t>(reload.failureCode()));
    return true;
}

bool SystemdServiceInstaller::ActiveState(std::uint32_t& state) {
    // is-active answers with a non-zero exit code for every state but "active": the word
    // it prints is what counts.
    const CommandResult query =
        RunCommand({settings_.systemctl, "is-active", SystemdUnitFileName(openedName_)});
    if (!query.started) return Fail(static_cast<std::uint32_t>(query.errorCode));
    bool known = false;
    const std::uint32_t parsed = StateFromActiveText(query.output, known);
    if (!known) return Fail(static_cast<std::uint32_t>(query.failureCode()));
    state = parsed;
    return true;
}

bool SystemdServiceInstaller::Fail(std::uint32_t code) {
    lastError_ = code;
    return false;
}

bool SystemdServiceInstaller::FailWithErrno() {
    return Fail(static_cast<std::uint32_t>(errno));
}

std::unique_ptr<ServiceInstaller> CreateServiceInstaller() {
    return std::make_unique<SystemdServiceInstaller>(SystemdSettings::FromEnvironment());
}

}  // namespace tillvane::platform
