#!/usr/bin/env bash
# Fails, naming each file and line, when clang-format with the project's .clang-format would
# change any C++ file git tracks. Exits 77 (skipped) without clang-format or outside a git
# checkout, as ctest's clang_format test expects.
set -euo pipefail
cd "$(dirname "$0")/.."
skip_code=77
command -v clang-format >/dev/null || {
    echo "SKIP: clang-format is not installed (scripts/setup.sh --tests installs it)"
    exit "$skip_code"
}
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || {
    echo "SKIP: not a git checkout"
    exit "$skip_code"
}
git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --style=file --dry-run --Werror
echo "clang-format: every tracked C++ file is formatted"
