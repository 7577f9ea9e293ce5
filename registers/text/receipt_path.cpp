#include "registers/text/receipt_path.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#endif

#include "config/text_split.h"

namespace tillvane {

namespace {

constexpr std::string_view kReceiptExtension = ".txt";
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

std::string WindowsReceiptPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    path += kWindowsSeparator;
    path += name;
    path += kReceiptExtension;
    return path;
}

std::string NormalisePosixOutputFolder(std::string_view folder) {
    std::string result(folder);
    TrimTrailingBlanks(result);
    // "/" alone is the root folder; dropping its slash would turn it into the working folder.
    DropOneTrailing(result, kPosixSeparator, 1);
    return result;
}

std::string PosixReceiptPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != kPosixSeparator) path += kPosixSeparator;
    path += name;
    path += kReceiptExtension;
    return path;
}

#ifdef _WIN32
FileHandle CreateFileForWriting(const std::string& path, bool exclusive) {
    if (!exclusive) return FileHandle(std::fopen(path.c_str(), "wb"));
    // The C runtime's fopen may not know the "x" flag; _open has known _O_EXCL for ever.
    const int descriptor =
        _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (descriptor < 0) return nullptr;
    FileHandle file(_fdopen(descriptor, "wb"));
    if (!file) _close(descriptor);
    return file;
}
std::string NormaliseOutputFolder(std::string_view folder) {
    return NormaliseWindowsOutputFolder(folder);
}
std::string ReceiptPath(std::string_view folder, std::string_view name) {
    return WindowsReceiptPath(folder, name);
}
#else
FileHandle CreateFileForWriting(const std::string& path, bool exclusive) {
    return FileHandle(std::fopen(path.c_str(), exclusive ? "wbx" : "wb"));
}
std::string NormaliseOutputFolder(std::string_view folder) {
    return NormalisePosixOutputFolder(folder);
}
std::string ReceiptPath(std::string_view folder, std::string_view name) {
    return PosixReceiptPath(folder, name);
}
#endif

}  // namespace tillvane
