#pragma once
// Where receipt files go: the one place that knows how each system spells the output folder,
// joins it with a file name and creates the file.

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace tillvane {

// Longest output folder, and longest full receipt path, the driver works with.
inline constexpr std::size_t kMaxReceiptPathLength = 2047;

// The configured outputFolder made ready for ReceiptPath: trailing blanks go (never the first
// character), then one trailing separator. Windows also upper-cases the ASCII letters.
std::string NormaliseOutputFolder(std::string_view folder);

// Path of the receipt file `name` + ".txt" in `folder` (already normalised).
std::string ReceiptPath(std::string_view folder, std::string_view name);

// The two systems' rules, kept side by side so both can be checked on either system.
// Windows: "%s\%s.txt"; an empty folder gives the root of the current drive.
std::string NormaliseWindowsOutputFolder(std::string_view folder);
std::string WindowsReceiptPath(std::string_view folder, std::string_view name);
// POSIX: "%s/%s.txt"; no case change; an empty folder is the working directory, and the
// root folder "/" keeps its slash.
std::string NormalisePosixOutputFolder(std::string_view folder);
std::string PosixReceiptPath(std::string_view folder, std::string_view name);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` for binary writing. `exclusive`: creates a new file and fails, with errno
// EEXIST, when one exists already; otherwise an existing file is emptied.
FileHandle CreateFileForWriting(const std::string& path, bool exclusive);

// Drops blanks from the end of `text`, never touching its first character.
void TrimTrailingBlanks(std::string& text);

}  // namespace tillvane
