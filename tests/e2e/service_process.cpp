#include "tests/e2e/service_process.h"

#include <algorithm>
#include <csignal>
#include <stdexcept>

#include "tests/support/free_port.h"

namespace tillvane::testing {

namespace {

std::filesystem::path BuiltProgram() {
    const char* fromEnvironment = std::getenv("TILLVANE_BINARY_DIR");
    const std::filesystem::path buildDir = fromEnvironment != nullptr && *fromEnvironment != '\0'
                                               ? fromEnvironment
                                               : TILLVANE_BINARY_DIR;
    return buildDir / "service" / "Tillvane_se";
}

}  // namespace

ServiceProcess::ServiceProcess(const TempDir& dir, const std::string& folder, std::string instance)
    : directory_(dir.path() / folder), instance_(std::move(instance)) {
    std::filesystem::create_directories(directory_);
    // A running program cannot be overwritten: instances share the copy there is.
    std::filesystem::copy_file(BuiltProgram(), program(),
                               instance_.empty() ? std::filesystem::copy_options::overwrite_existing
                                                 : std::filesystem::copy_options::skip_existing);
}

std::string ServiceProcess::FileStem() const {
    return instance_.empty() ? "Tillvane_se" : "Tillvane_se_" + instance_;
}

void ServiceProcess::WriteConfig(const std::vector<std::string>& lines) const {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    WriteFile(File(FileStem() + ".ini"), text);
}

ChildProcess& ServiceProcess::Start(const std::vector<std::string>& arguments,
                                    const std::map<std::string, std::string>& environment) {
    ChildOptions options;
    options.program = program();
    options.arguments = arguments;
    if (!instance_.empty())
        options.arguments.insert(options.arguments.begin(), {"-instance", instance_});
    options.workingDirectory = directory_.string();
    options.environment = environment;
    options.unset = {"NOTIFY_SOCKET"};
    if (environment.count("NOTIFY_SOCKET") != 0) options.unset.clear();
    child_ = std::make_unique<ChildProcess>(options);
    return *child_;
}

int ServiceProcess::StartListening(const std::function<void(int port)>& configure,
                                   std::string& failure, const std::vector<std::string>& arguments,
                                   const std::map<std::string, std::string>& environment) {
    failure.clear();
    const std::string appLog = File(FileStem() + ".log");
    return ListenOnFreePort([&](int port) {
        configure(port);
        const std::size_t offset = FileSize(appLog);
        ChildProcess& process = Start(arguments, environment);
        const auto running = [&process] {
            return !process.WaitForExit(std::chrono::milliseconds(0)).has_value();
        };
        // Listening, the socket takes connections; they are served once the loop runs.
        const ListenOutcome outcome = AwaitListening(appLog, offset, port, running, kStartTimeout);
        if (outcome != ListenOutcome::listening) {
            process.Signal(SIGTERM);
            process.WaitForExit(kStopBound);
            const std::string log = ReadFile(appLog);
            failure += "port " + std::to_string(port) + ": " +
                       log.substr(std::min(offset, log.size())) + "\n" + process.Stderr() + "\n";
        }
        return outcome;
    });
}

std::string ServiceProcess::RunToEnd(const std::vector<std::string>& arguments,
                                     const std::map<std::string, std::string>& environment,
                                     int& exitCode) {
    ChildProcess& process = Start(arguments, environment);
    const auto code = process.WaitForExit(kStartTimeout);
    if (!code) throw std::runtime_error("Tillvane_se did not end");
    exitCode = *code;
    return process.Stdout();
}

}  // namespace tillvane::testing
