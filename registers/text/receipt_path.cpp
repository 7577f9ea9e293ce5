#include "registers/text/receipt_path.h"

#include "base/text_split.h"

namespace tillvane {

namespace {

constexpr char kWindowsSeparator = '\\';
constexpr char kPosixSeparator = '/';

void DropOneTrailing(std::string& text, char separator, std::size_t keepAtLeast) {
    if (text.size() > keepAtLeast && text.back() == separator) text.pop_back();
}

}  // namespace

void TrimTrailingBlanks(std::string& text) {
    while (text.size() > 1 && text.back() == ' ') text.pop_back();
}

std::string NormaliseWindowsOutputFolder(std::string_view folder) {
    std::string result = ToUpperAscii(folder);
    TrimTrailingBlanks(result);
    DropOneTrailing(result, kWindowsSeparator, 0);
    return result;
}

std::string WindowsFolderEntryPath(std::string_view folder, std::string_view fileName) {
    std::string path(folder);
    path += kWindowsSeparator;
    path += fileName;
    return path;
}

std::string NormalisePosixOutputFolder(std::string_view folder) {
    std::string result(folder);
    TrimTrailingBlanks(result);
    // "/" alone is the root folder; dropping its slash would turn it into the working folder.
    DropOneTrailing(result, kPosixSeparator, 1);
    return result;
}

std::string PosixFolderEntryPath(std::string_view folder, std::string_view fileName) {
    std::string path(folder);
    if (!path.empty() && path.back() != kPosixSeparator) path += kPosixSeparator;
    path += fileName;
    return path;
}

namespace {

#ifdef _WIN32
std::string FolderEntryPath(std::string_view folder, std::string_view fileName) {
    return WindowsFolderEntryPath(folder, fileName);
}
#else
std::string FolderEntryPath(std::string_view folder, std::string_view fileName) {
    return PosixFolderEntryPath(folder, fileName);
}
#endif

}  // namespace

std::string NormaliseOutputFolder(std::string_view folder) {
#ifdef _WIN32
    return NormaliseWindowsOutputFolder(folder);
#else
    return NormalisePosixOutputFolder(folder);
#endif
}

std::string ReceiptPath(std::string_view folder, std::string_view name) {
    return FolderEntryPath(folder, std::string(name) + std::string(kReceiptExtension));
}

std::string TemporaryReceiptPath(std::string_view folder, std::string_view name) {
    return FolderEntryPath(folder, std::string(kTemporaryReceiptPrefix) + std::string(name) +
                                       std::string(kTemporaryReceiptExtension));
}

bool IsTemporaryReceiptName(std::string_view fileName) {
    return fileName.size() > kTemporaryReceiptPrefix.size() + kTemporaryReceiptExtension.size() &&
           fileName.starts_with(kTemporaryReceiptPrefix) &&
           fileName.ends_with(kTemporaryReceiptExtension);
}

std::string ReceiptFolder(std::string_view folder) {
    // The entry path of an empty name is the folder with its separator: on Windows an empty
    // folder is the drive's root and "C:" alone would be the drive's current folder.
    const std::string path = FolderEntryPath(folder, "");
    return path.empty() ? "." : path;
}

std::string SuffixedReceiptName(const std::string& name, int suffix) {
    return suffix == 0 ? name : name + "_" + std::to_string(suffix);
}

}  // namespace tillvane
