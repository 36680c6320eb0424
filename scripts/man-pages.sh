#!/usr/bin/env bash
# The manual pages of the updater and the publisher's tools, made by help2man
# from each program's --help, the one source of both. The pages are kept in
# docs/man/ so that a build without help2man installs them too.
# Usage: scripts/man-pages.sh BUILD_DIR          rewrites the pages that changed
#        scripts/man-pages.sh BUILD_DIR --check  fails when a page does not match
#                                                its program's --help (exit 77:
#                                                help2man is missing)
set -euo pipefail

build=$1
check=${2:-}
root=$(cd "$(dirname "$0")/.." && pwd)
pages=$root/docs/man

command -v help2man >/dev/null || { echo "SKIP: help2man is not installed (scripts/setup.sh installs it)"; exit 77; }

version=$("$build/update" --version | head -n 1 | awk '{print $NF}')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The date of the page is the one part that is not the program's: it is left
# out of the comparison, so only a change of --help makes a page new.
body() { grep -v '^\.TH ' "$1"; }

status=0
while IFS='|' read -r program name; do
    made=$work/$program.1
    help2man --no-info --no-discard-stderr --version-string="$version" --name="$name" \
        --output="$made" "$build/$program"
    kept=$pages/$program.1
    if [ -f "$kept" ] && diff -q <(body "$made") <(body "$kept") >/dev/null; then
        continue
    fi
    if [ "$check" = --check ]; then
        echo "docs/man/$program.1 does not match '$program --help':"
        diff <(body "$kept" 2>/dev/null || true) <(body "$made") | head -n 40 || true
        status=1
    else
        cp "$made" "$kept"
        echo "wrote docs/man/$program.1"
    fi
done <<'LIST'
update|update a Corvane Client installation, in a window or without one
corvane-keytool|make, import and check the keys that sign Corvane Client releases
corvane-publish|publish a Corvane Client release for the mirrors, or verify a published one
corvane-updateserver|answer the Corvane updater's version, news and banner queries
LIST
if [ "$status" -ne 0 ]; then
    echo "Run scripts/man-pages.sh $build and commit docs/man/."
fi
exit "$status"
