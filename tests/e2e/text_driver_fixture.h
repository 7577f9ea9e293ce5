#pragma once
// The real program on the text-file driver, its receipts in a folder of the test's own: the
// set-up that most end-to-end tests share.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/service_process.h"
#include "tests/support/free_port.h"
#include "tests/support/temp_dir.h"

namespace tillvane::testing {

class TextDriverEndToEnd : public ::testing::Test {
  protected:
    // Writes the configuration: the text driver, its receipt folder and the port, then
    // `settings` ("key=value"), which later starts keep.
    void ConfigureTextDriver(const std::vector<std::string>& settings = {});
    // Starts the program on a port of its own (port_, which may change from start to start)
    // and waits until it answers there.
    void StartService();
    void StartTextDriver(const std::vector<std::string>& settings = {}) {
        ConfigureTextDriver(settings);
        StartService();
    }

    // The contents of the published receipt files, in the order of their names, taken away so
    // that the next step starts with an empty folder. A receipt still being written (a hidden
    // temporary file) is left where it is.
    std::vector<std::string> TakeReceiptFiles() const;
    // Removes every file of the receipt folder.
    void ClearReceipts() const;

    TempDir dir_;
    ServiceProcess service_{dir_};
    int port_ = FreeTcpPort();
    std::filesystem::path receipts_ = dir_.path() / "receipts";
    std::vector<std::string> settings_;
};

}  // namespace tillvane::testing
