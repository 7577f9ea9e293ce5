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

// The failure of a step, in words: the service manager's own codes are not errno values.
Error Failure(std::uint32_t code) {
    switch (code) {
        case kErrorServiceExists:
            return Error(static_cast<int>(code), "the service exists already");
        case kErrorServiceDoesNotExist:
            return Error(static_cast<int>(code), "no such service");
        default:
            return SystemError(static_cast<int>(code));
    }
}

Error FailureOf(const std::string& program, const CommandResult& result) {
    if (!result.started) return Failure(static_cast<std::uint32_t>(result.errorCode));
    return Error(result.failureCode(),
                 program + " ended with exit code " + std::to_string(result.exitStatus));
}

Error ErrnoFailure() {
    return Failure(static_cast<std::uint32_t>(errno));
}

// Writes `text` to a file that must not exist yet; nothing stays behind when it fails.
Error WriteNewFile(const std::string& path, const std::string& text) {
    UniqueFd file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!file.valid()) return errno == EEXIST ? Failure(kErrorServiceExists) : ErrnoFailure();
    const ssize_t written = write(file.get(), text.data(), text.size());
    const int writeError = errno;
    file.Reset();
    if (written != static_cast<ssize_t>(text.size())) {
        unlink(path.c_str());
        return Failure(written < 0 ? static_cast<std::uint32_t>(writeError) : ENOSPC);
    }
    return {};
}

// Exit codes of a start that failed on its configuration: restarting cannot mend them, so
// systemd does not try (the start codes of the service's README; 64, a refused command line:
// an instance started under a name no instance may have).
constexpr const char* kConfigurationExitCodes = "2 3 5 6 8 64";

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

std::string SystemdUnitFileName(const ServiceName& name) {
    return name.instance.empty() ? name.base + ".service"
                                 : name.base + "@" + name.instance + ".service";
}

std::string SystemdTemplateFileName(const std::string& baseName) {
    return baseName + "@.service";
}

tillvane::Result<std::string> SystemdUnitText(const ServiceDefinition& service) {
    if (HasControlCharacter(service.programPath) || HasControlCharacter(service.displayName) ||
        HasControlCharacter(service.description) || HasControlCharacter(service.name.base)) {
        return Error(EINVAL, "a control character cannot stand in a unit file");
    }
    const bool isTemplate = !service.name.instance.empty();
    // The template names each instance by its own name ("%i" is the part after the "@").
    const std::string shownName = isTemplate ? EscapeSpecifiers(service.name.base) + "_%i"
                                             : EscapeSpecifiers(service.displayName);
    const std::string description = service.description.empty()
                                        ? shownName
                                        : shownName + ": " + EscapeSpecifiers(service.description);
    const std::string unit = SystemdUnitFileName(service.name);
    const std::string firstLine =
        isTemplate ? "# Named instances: " + service.name.base + "_<name> runs as " +
                         SystemdUnitFileName({service.name.base, "<name>"})
        : service.start == ServiceStart::automatic
            ? "# Started with the system: systemctl enable " + unit
            : "# Started on demand: systemctl start " + unit;
    return firstLine +
           "\n"
           "[Unit]\n"
           "Description=" +
           description +
           "\n"
           "After=network.target\n"
           "\n"
           "[Service]\n"
           "Type=notify\n"
           // A crash or a failed start is tried again, unless only the configuration can
           // mend it.
           "Restart=on-failure\n"
           "RestartSec=" +
           std::to_string(kSystemdRestartSeconds) +
           "\n"
           "RestartPreventExitStatus=" +
           kConfigurationExitCodes +
           "\n"
           // Writes its own folder and its receipt folder (outside /usr, /etc and the homes),
           // opens serial devices: so no PrivateDevices=.
           "NoNewPrivileges=yes\n"
           "ProtectSystem=full\n"
           "ProtectHome=yes\n"
           "PrivateTmp=yes\n"
           "ProtectKernelTunables=yes\n"
           "ProtectKernelModules=yes\n"
           "ProtectKernelLogs=yes\n"
           "ProtectControlGroups=yes\n"
           "ProtectClock=yes\n"
           "ProtectHostname=yes\n"
           "RestrictNamespaces=yes\n"
           "RestrictRealtime=yes\n"
           "RestrictSUIDSGID=yes\n"
           "LockPersonality=yes\n"
           "MemoryDenyWriteExecute=yes\n"
           "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
           "SystemCallArchitectures=native\n"
           "CapabilityBoundingSet=\n"
           "ExecStart=" +
           QuotedExecPath(service.programPath) +
           (isTemplate ? std::string(" ") + kInstanceSwitch + " %i" : std::string()) +
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
}

SystemdServiceInstaller::SystemdServiceInstaller(SystemdSettings settings)
    : settings_(std::move(settings)) {}

Error SystemdServiceInstaller::Connect(bool forCreate) {
    struct stat info {};
    if (stat(settings_.unitDirectory.c_str(), &info) != 0) return ErrnoFailure();
    if (!S_ISDIR(info.st_mode)) return Failure(ENOTDIR);
    if (forCreate && access(settings_.unitDirectory.c_str(), W_OK) != 0) return ErrnoFailure();
    return {};
}

Error SystemdServiceInstaller::CreateService(const ServiceDefinition& service) {
    const bool isInstance = !service.name.instance.empty();
    const std::string installedPath =
        isInstance ? MarkerDirectory(service.name) : UnitPath(service.name);
    struct stat info {};
    if (lstat(installedPath.c_str(), &info) == 0) return Failure(kErrorServiceExists);
    const tillvane::Result<std::string> unit = SystemdUnitText(service);
    if (!unit) return Failure(EINVAL);
    const std::string& text = unit.value();
    if (auto error = EnsureServiceAccount(); !error.ok()) return error;
    if (isInstance) return CreateInstance(service, text);

    if (auto error = WriteNewFile(installedPath, text); !error.ok()) return error;
    // A unit systemd does not know of (or does not start as asked) is no installed service:
    // take it back.
    Error error = Activate(service);
    if (!error.ok()) unlink(installedPath.c_str());
    return error;
}

Error SystemdServiceInstaller::CreateInstance(const ServiceDefinition& service,
                                              const std::string& templateText) {
    // The template is shared: one written by an earlier instance (or shipped by the package)
    // stays as it is.
    const std::string templatePath =
        settings_.unitDirectory + "/" + SystemdTemplateFileName(service.name.base);
    struct stat info {};
    const bool writesTemplate = lstat(templatePath.c_str(), &info) != 0;
    if (writesTemplate) {
        if (auto error = WriteNewFile(templatePath, templateText); !error.ok()) return error;
    }
    const std::string markerDirectory = MarkerDirectory(service.name);
    const std::string markerPath = markerDirectory + "/" + kInstanceMarkerFileName;
    Error error;
    if (mkdir(markerDirectory.c_str(), 0755) != 0) {
        error = errno == EEXIST ? Failure(kErrorServiceExists) : ErrnoFailure();
    } else {
        error = WriteNewFile(markerPath, "# " + service.name.full() + ": installed by " +
                                             kInstanceSwitch + " " + service.name.instance +
                                             " -install, removed with -remove.\n");
        if (error.ok()) error = Activate(service);
        if (!error.ok()) {
            unlink(markerPath.c_str());
            rmdir(markerDirectory.c_str());
        }
    }
    if (!error.ok() && writesTemplate) unlink(templatePath.c_str());
    return error;
}

Error SystemdServiceInstaller::Activate(const ServiceDefinition& service) {
    Error error = ReloadSystemd();
    if (error.ok() && service.start == ServiceStart::automatic) {
        error = Systemctl("enable", service.name);
    }
    return error;
}

Error SystemdServiceInstaller::OpenService(const ServiceName& name) {
    const std::string unitPath = name.instance.empty() ? UnitPath(name) : MarkerDirectory(name);
    struct stat info {};
    if (lstat(unitPath.c_str(), &info) != 0) {
        return errno == ENOENT ? Failure(kErrorServiceDoesNotExist) : ErrnoFailure();
    }
    // Deleting needs the right to change the unit folder.
    if (access(settings_.unitDirectory.c_str(), W_OK) != 0) return ErrnoFailure();
    openedName_ = name;
    return {};
}

Error SystemdServiceInstaller::RequestStop(std::uint32_t& state) {
    std::uint32_t current = 0;
    if (auto error = ActiveState(current); !error.ok()) return error;
    if (current != kServiceRunning && current != kServiceStartPending) {
        return Error::Message("the service does not run");
    }
    const CommandResult stop =
        RunCommand({settings_.systemctl, "stop", "--no-block", SystemdUnitFileName(openedName_)});
    if (!stop.succeeded()) return FailureOf(settings_.systemctl, stop);
    state = kServiceStopPending;
    return {};
}

Error SystemdServiceInstaller::QueryState(std::uint32_t& state) {
    return ActiveState(state);
}

Error SystemdServiceInstaller::DeleteService() {
    // An enabled unit leaves its links behind; a unit that was never enabled has none.
    static_cast<void>(Systemctl("disable", openedName_));
    if (openedName_.instance.empty()) {
        if (unlink(UnitPath(openedName_).c_str()) != 0) return ErrnoFailure();
    } else {
        // The template stays for the other instances; by itself it starts nothing.
        const std::string markerDirectory = MarkerDirectory(openedName_);
        const std::string markerPath = markerDirectory + "/" + kInstanceMarkerFileName;
        if (unlink(markerPath.c_str()) != 0 && errno != ENOENT) return ErrnoFailure();
        if (rmdir(markerDirectory.c_str()) != 0) return ErrnoFailure();
    }
    return ReloadSystemd();
}

Error SystemdServiceInstaller::Systemctl(const char* verb, const ServiceName& name) {
    const CommandResult result = RunCommand({settings_.systemctl, verb, SystemdUnitFileName(name)});
    return result.succeeded() ? Error() : FailureOf(settings_.systemctl, result);
}

std::string SystemdServiceInstaller::UnitPath(const ServiceName& name) const {
    return settings_.unitDirectory + "/" + SystemdUnitFileName(name);
}

std::string SystemdServiceInstaller::MarkerDirectory(const ServiceName& name) const {
    return UnitPath(name) + ".d";
}

Error SystemdServiceInstaller::EnsureServiceAccount() {
    if (getpwnam(kServiceAccountName) != nullptr) return {};
    const CommandResult added =
        RunCommand({settings_.useradd, "--system", "--user-group", "--no-create-home", "--home-dir",
                    "/nonexistent", "--shell", "/usr/sbin/nologin", "--groups", kSerialPortGroup,
                    kServiceAccountName});
    if (!added.succeeded()) return FailureOf(settings_.useradd, added);
    return {};
}

Error SystemdServiceInstaller::ReloadSystemd() {
    const CommandResult reload = RunCommand({settings_.systemctl, "daemon-reload"});
    if (!reload.succeeded()) return FailureOf(settings_.systemctl, reload);
    return {};
}

Error SystemdServiceInstaller::ActiveState(std::uint32_t& state) {
    // is-active answers with a non-zero exit code for every state but "active": the word
    // it prints is what counts.
    const CommandResult query =
        RunCommand({settings_.systemctl, "is-active", SystemdUnitFileName(openedName_)});
    if (!query.started) return FailureOf(settings_.systemctl, query);
    bool known = false;
    const std::uint32_t parsed = StateFromActiveText(query.output, known);
    if (!known) return FailureOf(settings_.systemctl, query);
    state = parsed;
    return {};
}

std::unique_ptr<ServiceInstaller> CreateServiceInstaller() {
    return std::make_unique<SystemdServiceInstaller>(SystemdSettings::FromEnvironment());
}

}  // namespace tillvane::platform
