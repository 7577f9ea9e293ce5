#pragma once
// The real Tillvane_se program, copied into a folder of the test's own so that its
// configuration and logs live there, started and stopped as systemd or a user would.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace tillvane::testing {

// How long the program may take to answer on its port, and to end after a stop signal.
inline constexpr std::chrono::milliseconds kStartTimeout{15000};
inline constexpr std::chrono::milliseconds kStopBound{5000};

// An ordinary receipt, and the file the text-file driver writes for it.
inline constexpr const char* kReceipt = "BS|SI^Apa^2.50^2^A|AP^0^5.00|ES";
inline constexpr const char* kReceiptFile =
    "S,1,______,_,__;Apa;2.50;2.000;1;1;1;0;0;\n"
    "T,1,______,_,__;0;5.00;;;;\n";

class ServiceProcess {
  public:
    // Copies the built program into `folder` (created if needed) of `dir`. A named `instance`
    // shares the program already there, and is started as that instance, with its own files.
    explicit ServiceProcess(const TempDir& dir, const std::string& folder = "svc",
                            std::string instance = {});

    const std::filesystem::path& directory() const { return directory_; }
    std::string program() const { return (directory_ / "Tillvane_se").string(); }
    std::string File(const std::string& name) const { return (directory_ / name).string(); }

    // Writes Tillvane_se.ini (the instance's: Tillvane_se_<instance>.ini) beside the program
    // from key=value lines.
    void WriteConfig(const std::vector<std::string>& lines) const;

    // Starts the program with `arguments`, its folder as working directory.
    ChildProcess& Start(const std::vector<std::string>& arguments = {},
                        const std::map<std::string, std::string>& environment = {});
    ChildProcess& child() { return *child_; }

    // Starts the program on a port of its own: has `configure` write the configuration for a
    // free port, starts the program and waits until its application log says that this very
    // process listens there; when the port was taken meanwhile, stops it and tries another. Returns
    // the port; 0 when the program never listened (what it wrote in `failure`).
    int StartListening(const std::function<void(int port)>& configure, std::string& failure,
                       const std::vector<std::string>& arguments = {},
                       const std::map<std::string, std::string>& environment = {});

    // Runs the program to its end (install, remove, ...) and returns its standard output.
    std::string RunToEnd(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment, int& exitCode);

  private:
    // "Tillvane_se" and the instance's suffix: the name of its .ini and .log.
    std::string FileStem() const;

    std::filesystem::path directory_;
    std::string instance_;
    std::unique_ptr<ChildProcess> child_;
};

}  // namespace tillvane::testing
