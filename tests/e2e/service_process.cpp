#include "tests/e2e/service_process.h"

#include <stdexcept>

#include "tests/support/http_client.h"
#include "tests/support/wait.h"

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

ServiceProcess::ServiceProcess(const TempDir& dir, const std::string& folder)
    : directory_(dir.path() / folder) {
    std::filesystem::create_directories(directory_);
    std::filesystem::copy_file(BuiltProgram(), program(),
                               std::filesystem::copy_options::overwrite_existing);
}

void ServiceProcess::WriteConfig(const std::vector<std::string>& lines) const {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    WriteFile(File("Tillvane_se.ini"), text);
}

ChildProcess& ServiceProcess::Start(const std::vector<std::string>& arguments,
                                    const std::map<std::string, std::string>& environment) {
    ChildOptions options;
    options.program = program();
    options.arguments = arguments;
    options.workingDirectory = directory_.string();
    options.environment = environment;
    options.unset = {"NOTIFY_SOCKET"};
    if (environment.count("NOTIFY_SOCKET") != 0) options.unset.clear();
    child_ = std::make_unique<ChildProcess>(options);
    return *child_;
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

bool WaitUntilListening(int port, std::chrono::milliseconds timeout) {
    return WaitUntil([port] { return Get(port, "/").status == 200; }, timeout);
}

}  // namespace tillvane::testing
