// The Windows program's own resources, read as Explorer and Event Viewer read them: the event
// log's messages show the text of an entry, and the version resource carries the product's
// version.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "event_messages.h"
#include "platform/win32/windows_api.h"

namespace {

const std::string kProgram = std::string(TILLVANE_BINARY_DIR) + "/service/Tillvane_se.exe";

// The program loaded as resources only, as Event Viewer loads a message file.
class ProgramResources : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = ::LoadLibraryExA(kProgram.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << kProgram << ": error " << ::GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr) ::FreeLibrary(module_);
    }

    // The text Event Viewer shows for an entry with `id` and the service's insertion strings.
    std::string EntryText(DWORD id, const char* name, const char* text) {
        const char* strings[] = {name, text};
        char buffer[512] = {};
        const DWORD length = ::FormatMessageA(
            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module_, id,
            /*dwLanguageId=*/0, buffer, sizeof buffer,
            reinterpret_cast<va_list*>(const_cast<char**>(strings)));
        return length == 0 ? "<no message " + std::to_string(::GetLastError()) + ">"
                           : std::string(buffer, length);
    }

    HMODULE module_ = nullptr;
};

TEST_F(ProgramResources, EveryEntryTypeShowsItsText) {
    const struct {
        DWORD id;
        const char* text;
    } rows[] = {
        {MSG_SERVICE_ERROR, "Nu pot porni serverul web pe portul 18089"},
        {MSG_SERVICE_WARNING, "Service failed to pause."},
        {MSG_SERVICE_INFORMATION, "Tillvane_SE in OnStart"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(EntryText(row.id, "Tillvane_SE", row.text), row.text) << std::hex << row.id;
    }
}

TEST(ProgramVersion, IsTheProductVersion) {
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(kProgram.c_str(), &handle);
    ASSERT_GT(size, 0u) << "no version resource in " << kProgram;
    std::vector<char> data(size);
    ASSERT_TRUE(::GetFileVersionInfoA(kProgram.c_str(), 0, size, data.data()));
    const auto text = [&](const char* name) {
        char* value = nullptr;
        UINT length = 0;
        const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
        if (!::VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&value),
                              &length) ||
            length == 0) {
            return std::string("<none>");
        }
        return std::string(value);  // the length counts the terminating NUL
    };
    EXPECT_EQ(text("ProductVersion"), TILLVANE_PROJECT_VERSION);
    EXPECT_EQ(text("FileVersion"), TILLVANE_PROJECT_VERSION);
    EXPECT_EQ(text("ProductName"), "Tillvane");
    EXPECT_EQ(text("OriginalFilename"), "Tillvane_se.exe");
    EXPECT_NE(text("FileDescription"), "<none>");
}

}  // namespace
