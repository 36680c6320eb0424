#!/usr/bin/env bash
# Formats every C++ file of the tree with the committed .clang-format.
# Usage: scripts/format.sh [--check]
#   --check  changes nothing; lists the files that are not formatted and
#            fails when there is one.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# The style file is read by one clang-format release; another one formats
# some constructs differently, so the version is pinned.
formatter=$(command -v clang-format-14 || true)
if [ -z "$formatter" ]; then
    echo "format: clang-format-14 is missing; scripts/setup.sh installs it" >&2
    exit 2
fi

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
else
    mapfile -t files < <(find src tests tools -name '*.cpp' -o -name '*.h' | sort)
fi

if [ "${1:-}" = "--check" ]; then
    # One formatter per core, many files each: starting one process per file
    # costs more than the formatting itself.
    mapfile -t unformatted < <(printf '%s\0' "${files[@]}" |
        xargs -0 -n 32 -P "$(nproc)" "$formatter" --dry-run 2>&1 |
        sed -n 's/^\(.*\):[0-9]*:[0-9]*: .*-Wclang-format-violations.*/\1/p' | sort -u)
    if [ ${#unformatted[@]} -ne 0 ]; then
        printf 'format: not formatted: %s\n' "${unformatted[@]}" >&2
        echo "format: run scripts/format.sh to fix" >&2
        exit 1
    fi
    echo "format: ${#files[@]} files formatted"
    exit 0
fi

"$formatter" -i "${files[@]}"
