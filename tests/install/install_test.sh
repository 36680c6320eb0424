#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, as a package build does, and
# runs what was installed: the tools from bin/ make a key and publish and
# verify a release, the updater from lib/corvane/ answers, the completion
# completes, and the pages and unit files read without a warning.
# Usage: install_test.sh <build dir>
set -euo pipefail

build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

dest=$work/dest
DESTDIR=$dest cmake --install "$build" --prefix /usr >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
usr=$dest/usr

expected="bin/corvane-keytool bin/corvane-publish bin/corvane-updateserver lib/corvane/update
share/man/man1/update.1 share/man/man1/corvane-keytool.1 share/man/man1/corvane-publish.1
share/man/man1/corvane-updateserver.1 share/bash-completion/completions/update
share/bash-completion/completions/corvane-keytool share/bash-completion/completions/corvane-publish
share/bash-completion/completions/corvane-updateserver share/doc/corvane-updater/README.md
share/doc/corvane-updater/LICENSE share/doc/corvane-updater/copyright
share/doc/corvane-updater/examples/corvane-update.service share/doc/corvane-updater/examples/corvane-update.timer"
for file in $expected; do
    [ -f "$usr/$file" ] || fail "$file was not installed"
done
actual=$(cd "$usr" && find . -type f | sed 's|^\./||' | sort)
[ "$actual" = "$(echo $expected | tr ' ' '\n' | sort)" ] || fail "unexpected files installed: $actual"
for program in bin/corvane-keytool bin/corvane-publish bin/corvane-updateserver lib/corvane/update; do
    [ -x "$usr/$program" ] || fail "$program is not executable"
done

# The tools, as a publisher runs them.
export PATH=$usr/bin:$PATH
cd "$work"
for tool in corvane-keytool corvane-publish corvane-updateserver; do
    "$tool" --help >/dev/null || fail "$tool --help"
done
corvane-keytool create --bits 1024 >/dev/null || fail "corvane-keytool create"
mkdir -p release/bin
echo "the client" >release/bin/client
corvane-publish release mirror --version 7 --key private.key >/dev/null || fail "corvane-publish"
corvane-publish --verify mirror/7 --key public.key >/dev/null || fail "corvane-publish --verify"

# The updater, without a display, as a service would start it.
updater=$usr/lib/corvane/update
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$updater" --version >version.txt || fail "update --version"
grep -q '^Release signing key: SHA256:' version.txt || fail "update --version names no key: $(cat version.txt)"
set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$updater" --bogus 2>usage.txt
rc=$?
set -e
[ "$rc" -eq 2 ] && grep -q '^Usage:' usage.txt || fail "update --bogus: exit $rc, $(cat usage.txt)"

# The completion, loaded as bash-completion loads it.
completes() { # completes <file> <word>... : what completing the last word offers
    local file=$1
    shift
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); "$(complete -p "$1" | awk "{print \$3}")"; echo "${COMPREPLY[*]}"' \
        _ "$file" "$@"
}
[ "$(completes "$usr/share/bash-completion/completions/update" update --con)" = --console ] ||
    fail "no completion of update --con"
[[ " $(completes "$usr/share/bash-completion/completions/corvane-keytool" corvane-keytool fin) " == *" fingerprint "* ]] ||
    fail "no completion of corvane-keytool fin"

# The pages and units read cleanly where the readers are installed.
if command -v groff >/dev/null; then
    for page in "$usr"/share/man/man1/*.1; do
        warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
        [ -z "$warnings" ] || fail "$page: $warnings"
    done
fi
if command -v systemd-analyze >/dev/null; then
    # The example's paths pointed at the installed updater.
    examples=$usr/share/doc/corvane-updater/examples
    sed "s|/opt/corvane/update|$updater|; s|/opt/corvane|$work|" "$examples/corvane-update.service" >corvane-update.service
    cp "$examples/corvane-update.timer" .
    systemd-analyze verify --man=no corvane-update.service corvane-update.timer || fail "systemd-analyze verify"
fi
echo PASS
