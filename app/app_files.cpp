#include "app/app_files.h"

#include "base/text_split.h"

namespace tillvane {

namespace {
constexpr std::string_view kExeExtension = ".EXE";
}

void ReplaceExtension(std::string& path, std::string_view extension) {
    std::string result;
    result.reserve(path.size());
    for (std::size_t i = 0; i < path.size();) {
        if (std::string_view(path).substr(i, kExeExtension.size()) == kExeExtension) {
            result += extension;
            i += kExeExtension.size();
        } else {
            result += path[i++];
        }
    }
    path = std::move(result);
}

std::string WithExtension(const std::string& path, std::string_view extension) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    return (hasExtension ? path.substr(0, dot) : path) + std::string(extension);
}

std::string AppFilePath(const std::string& programPath, AppFile file) {
#ifdef _WIN32
    std::string path = ToUpperAscii(programPath);
    switch (file) {
        case AppFile::configuration:
            ReplaceExtension(path, ".INI");
            break;
        case AppFile::applicationLog:
            ReplaceExtension(path, ".LOG");
            break;
        case AppFile::requestLog:
            ReplaceExtension(path, ".HTM");
            path += 'L';
            break;
        case AppFile::requestJournal:
            ReplaceExtension(path, ".JSONL");
            break;
    }
    return path;
#else
    switch (file) {
        case AppFile::configuration:
            return WithExtension(programPath, ".ini");
        case AppFile::applicationLog:
            return WithExtension(programPath, ".log");
        case AppFile::requestLog:
            return WithExtension(programPath, ".html");
        case AppFile::requestJournal:
            return WithExtension(programPath, ".jsonl");
    }
    return programPath;
#endif
}

}  // namespace tillvane
