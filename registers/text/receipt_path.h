#pragma once
// Where receipt files go: the one place that knows how each system spells the output folder,
// joins it with a file name and creates the file.

#include <string>
#include <string_view>

namespace tillvane {

// Longest output folder, and longest full receipt path, the driver works with.
inline constexpr std::size_t kMaxReceiptPathLength = 2047;

// The configured outputFolder made ready for ReceiptPath: trailing blanks go (never the first
// character), then one trailing separator. Windows also upper-cases the ASCII letters.
std::string NormaliseOutputFolder(std::string_view folder);

// What the printer's software watches for: receipt files end so.
inline constexpr std::string_view kReceiptExtension = ".txt";
// Every time-stamped receipt name begins so ("BON_20261207_114227_042").
inline constexpr std::string_view kTimeStampedNamePrefix = "BON_";

// Time-stamped names taken already get "_1" ... up to this suffix before BeginSell gives up.
inline constexpr int kMaxReceiptNameSuffix = 999;
// `name`, or `name` "_" `suffix` for a suffix above 0.
std::string SuffixedReceiptName(const std::string& name, int suffix);

// Path of the receipt file `name` + ".txt" in `folder` (already normalised).
std::string ReceiptPath(std::string_view folder, std::string_view name);

// A receipt is written under a temporary name first and moved to its receipt path once it is
// whole on the disk. The temporary name sits in the same folder (a move within one file
// system is a single step) and is one the printer's software ignores: it begins with a "."
// and does not end in ".txt".
inline constexpr std::string_view kTemporaryReceiptPrefix = ".tillvane-";
inline constexpr std::string_view kTemporaryReceiptExtension = ".tmp";
std::string TemporaryReceiptPath(std::string_view folder, std::string_view name);
// True for a file name that TemporaryReceiptPath makes.
bool IsTemporaryReceiptName(std::string_view fileName);
// The folder of the receipt files, as a path the system can open and list.
std::string ReceiptFolder(std::string_view folder);

// The two systems' rules, kept side by side so both can be checked on either system.
// Windows: "%s\%s.txt"; an empty folder gives the root of the current drive.
std::string NormaliseWindowsOutputFolder(std::string_view folder);
std::string WindowsFolderEntryPath(std::string_view folder, std::string_view fileName);
// POSIX: "%s/%s.txt"; no case change; an empty folder is the working directory, and the
// root folder "/" keeps its slash.
std::string NormalisePosixOutputFolder(std::string_view folder);
std::string PosixFolderEntryPath(std::string_view folder, std::string_view fileName);

// Drops blanks from the end of `text`, never touching its first character.
void TrimTrailingBlanks(std::string& text);

}  // namespace tillvane
