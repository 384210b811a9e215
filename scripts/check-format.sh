#!/usr/bin/env bash
# Checks that every C++ source of the tree (*.cpp, *.h) is as clang-format leaves
# it (.clang-format at the root). The sources are found with find, not git, so
# that a source archive, or a machine without git, is checked the same way; the
# build folders (build*/ at the root) and .git are skipped. Prints "ok" and the
# number of files, or the files and lines that differ and exits 1.
# Usage: scripts/check-format.sh [ROOT]   (default: the tree this script is in)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

mapfile -d '' files < <(find . \( -path './build*' -o -path './.git' \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
files=("${files[@]#./}")
if [ ${#files[@]} -eq 0 ]; then
    echo "FAILED (no .cpp or .h file found under $PWD)"
    exit 1
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if clang-format --dry-run -Werror "${files[@]}" > "$log" 2>&1; then
    echo "ok (${#files[@]} files)"
    exit 0
fi
echo "FAILED (clang-format -i on these files mends it)"
# clang-format names each place as "file:line:column: error: ..."; anything
# else (clang-format missing, a file it cannot read) is shown as it came.
places=$(sed -nE 's/^(.+\.(cpp|h):[0-9]+):[0-9]+: (error|warning):.*/\1/p' "$log" | sort -u)
if [ -n "$places" ]; then
    echo "$places"
else
    head -n 20 "$log"
fi
exit 1
