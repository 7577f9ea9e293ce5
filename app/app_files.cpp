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

std::string InstanceFileSuffix(std::string_view instance) {
    std::string suffix;
    if (!instance.empty()) {
        suffix += '_';
        suffix += instance;
    }
    return suffix;
}

std::string AppFilePath(const std::string& programPath, AppFile file, std::string_view instance) {
#ifdef _WIN32
    std::string path = ToUpperAscii(programPath);
    const std::string suffix = ToUpperAscii(InstanceFileSuffix(instance));
    switch (file) {
        case AppFile::configuration:
            ReplaceExtension(path, suffix + ".INI");
            break;
        case AppFile::applicationLog:
            ReplaceExtension(path, suffix + ".LOG");
            break;
        case AppFile::requestLog:
            ReplaceExtension(path, suffix + ".HTM");
            path += 'L';
            break;
        case AppFile::requestJournal:
            ReplaceExtension(path, suffix + ".JSONL");
            break;
    }
    return path;
#else
    const std::string suffix = InstanceFileSuffix(instance);
    switch (file) {
        case AppFile::configuration:
            return WithExtension(programPath, suffix + ".ini");
        case AppFile::applicationLog:
            return WithExtension(programPath, suffix + ".log");
        case AppFile::requestLog:
            return WithExtension(programPath, suffix + ".html");
        case AppFile::requestJournal:
            return WithExtension(programPath, suffix + ".jsonl");
    }
    return programPath;
#endif
}

}  // namespace tillvane
