#!/usr/bin/env bash
# Remakes the seeds that come from the project's own tools: product inis and
# their signatures published by corvane-publish, its packed files and release
# statement, and the answers of corvane-updateserver. The hand-written seeds stay as they are.
# Usage: tests/fuzz/seeds.sh [BUILD_DIR]   (default: build)
# The key pair is made for the seeds; only its public half ends up in them.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
corpus="$here/corpus"
separator=$'\n--next-part--\n'
work=$(mktemp -d)
server=""
cleanup() {
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# Two releases of a small client; fuzz_productini installs the first one.
mkdir -p "$work"/release-1/{bin,data/sub} "$work"/release-2/{bin,data/sub}
printf 'corvane client 2\n' >"$work/release-1/bin/corvane"
printf 'an older readme\n' >"$work/release-1/data/readme.txt"
printf 'notes 2\n' >"$work/release-1/data/sub/notes.txt"
printf 'to be deleted\n' >"$work/release-1/obsolete.txt"
printf 'the updater\n' >"$work/release-1/update"
printf 'corvane client 3\n' >"$work/release-2/bin/corvane"
for _ in $(seq 1 40); do printf 'Read me: the third release of the client.\n'; done \
    >"$work/release-2/data/readme.txt"
printf 'notes 2\n' >"$work/release-2/data/sub/notes.txt"
printf 'the updater, newer\n' >"$work/release-2/update"
printf '#!/bin/sh\nexec ./bin/corvane "$@"\n' >"$work/release-2/davuzodur_runscript.sh"

"$build/corvane-keytool" create --private "$work/private.key" --public "$work/public.key" >/dev/null
"$build/corvane-publish" "$work/release-2" "$work/plain" --version 3 --key "$work/private.key" \
    --previous "$work/release-1" >/dev/null
"$build/corvane-publish" "$work/release-2" "$work/packed" --version 3 --key "$work/private.key" \
    --previous "$work/release-1" --gzip --folder-sections >/dev/null

"$build/corvane-publish" "$work/plain" --version 3 --key "$work/private.key" --channel stable \
    --display "3.0" --news "$work/release-2/data/sub/notes.txt" >/dev/null

mkdir -p "$corpus"/{productini,signature,gunzip,versionreply,banner,newslink,releasestatement}
cp "$work/plain/client_linux_amd64.channels" "$corpus/releasestatement/published.channels"
cp "$work/plain/3/client_linux_amd64.ini" "$corpus/productini/published.ini"
cp "$work/packed/3/client_linux_amd64.ini" "$corpus/productini/published-gzip-sections.ini"
for kind in plain packed; do
    ini="$work/$kind/3/client_linux_amd64.ini"
    { cat "$work/public.key"; printf '%s' "$separator"; cat "$ini.sig"; printf '%s' "$separator"; cat "$ini"; } \
        >"$corpus/signature/published-$kind.bin"
done
find "$work/packed/3" -name '*.gz' | sort | while read -r packed; do
    cp "$packed" "$corpus/gunzip/published-$(basename "$packed")"
done

# Packed the way GNU gzip packs: with the file name in the header, two
# members one after the other, cut short, and a file that is not packed.
printf 'notes 2\n' >"$work/notes.txt"
gzip -9 -N -c "$work/notes.txt" >"$corpus/gunzip/gzip-with-name.gz"
{ gzip -n -c "$work/notes.txt"; gzip -n -c "$work/release-2/update"; } >"$corpus/gunzip/gzip-two-members.gz"
gzip -n -c "$work/release-2/data/readme.txt" | head -c 40 >"$corpus/gunzip/gzip-cut-short.gz"
cp "$work/notes.txt" "$corpus/gunzip/not-packed.txt"

# The reference server's answers, as the updater receives them.
printf 'Corvane 3.0 is out: <a href="http://corvane.example/news">level three</a> +++ <!--URL=http://corvane.example/-->' \
    >"$work/news.html"
"$build/corvane-updateserver" --version-port 0 --banner-port 0 --stable "2#2.0" --beta "3#3.0 Beta" \
    --alpha "4" --news-file "$work/news.html" --banner-image "http://mirror.example/banner.png" \
    --banner-click "http://corvane.example/" >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 1 100); do
    grep -q 'listening' "$work/server.log" 2>/dev/null && break
    sleep 0.1
done
listening=$(grep -m1 'listening' "$work/server.log")
version_port=$(sed -E 's/.*version and news on [^ ]+:([0-9]+),.*/\1/' <<<"$listening")
banner_port=$(sed -E 's/.*banner on [^ ]+:([0-9]+);.*/\1/' <<<"$listening")
python3 - "$version_port" "$banner_port" "$work" <<'PY'
import socket, sys
version_port, banner_port, work = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
def ask(port, request, name):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(5)
        s.sendto(request, ("127.0.0.1", port))
        open(f"{work}/{name}", "wb").write(s.recv(65535))
ask(version_port, b"3\0", "versions")
ask(version_port, b"*\0", "news")
ask(banner_port, b"\x01\x01", "banner")
PY
{ cat "$work/versions"; printf '%s' "$separator"; cat "$work/news"; } >"$corpus/versionreply/updateserver.bin"
cp "$work/banner" "$corpus/banner/updateserver.bin"
cp "$work/news" "$corpus/newslink/updateserver.bin"
echo "seeds: written to $corpus"
