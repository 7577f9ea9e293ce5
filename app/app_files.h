#pragma once
// The files of the web front end sit beside the program and are named after it.

#include <string>
#include <string_view>

namespace tillvane {

enum class AppFile { configuration, applicationLog, requestLog, requestJournal };

// What the files of the instance called `instance` carry after the program's name: nothing
// for the default instance (empty), "_front" for the instance "front".
std::string InstanceFileSuffix(std::string_view instance);

// Path of `file` for the program at `programPath`. On Windows: the path upper-cased with
// ".EXE" replaced by ".INI", ".LOG", ".HTM" (and "L" appended for the request log) or
// ".JSONL". On Linux: the path with its extension, if any, replaced by ".ini", ".log", ".html"
// or ".jsonl". A named `instance` puts its suffix before the extension: "Tillvane_se_front.ini".
std::string AppFilePath(const std::string& programPath, AppFile file,
                        std::string_view instance = {});

// Replaces every occurrence of ".EXE" in `path` by `extension`.
void ReplaceExtension(std::string& path, std::string_view extension);

// `path` with the extension of its last component (from the last "." after the last "/";
// a leading "." of the name does not start one) replaced by `extension`, or with `extension`
// appended when there is none.
std::string WithExtension(const std::string& path, std::string_view extension);

}  // namespace tillvane
