#!/usr/bin/env bash
# The whole story in one command: installs what is missing, builds, makes a demo
# client installation (version 1) and a demo release (version 2), publishes the
# release with the build's development key, serves it with nginx on loopback,
# starts the reference update server and runs the real updater unattended
# against the installation. Prints what changed, the updater's last log lines
# and whether the client was started. Leaves no process running; needs nothing
# from the network but Debian's package archive.
#
# Environment: BUILD_DIR (default build), DEMO_DIR (default a new folder below
# /tmp), DEMO_OFFSCREEN=1 to hide the window even when a display is there.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-"$root/build"}
demo=${DEMO_DIR:-$(mktemp -d /tmp/corvane-demo.XXXXXX)}
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
# shellcheck source=lib/demoscene.sh
source "$root/scripts/lib/demoscene.sh"
trap scene_cleanup EXIT

say "Installing what is missing and building"
"$root/scripts/setup.sh"
scene_build

say "Making the demo client (version 1) in $demo/client and the release (version 2)"
scene_make_releases

say "Publishing versions 1 and 2 with the development key, version 2 with patches from version 1"
scene_publish

say "Serving the mirror with nginx on loopback"
scene_start_nginx

say "Starting the reference update server"
scene_start_updateserver

export LC_ALL=C
snapshot() {
    # update.lock is the updater's lock file, not part of the client.
    (cd "$1" && find . -type f ! -name update.lock -printf '%P\n' | sort | while IFS= read -r f; do
        printf '%s\t%s\n' "$f" "$(md5sum < "$f" | cut -c1-32)"
    done)
}
snapshot "$demo/client" > "$demo/before.txt"

platform=()
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ -n "${DEMO_OFFSCREEN:-}" ]; then
    platform=(env QT_QPA_PLATFORM=offscreen)
    say "Running the updater unattended: $demo/client/update --nouser (no display: offscreen)"
else
    say "Running the updater unattended in a window: $demo/client/update --nouser"
fi
set +e
scene_in_client "${platform[@]}" timeout "${DEMO_TIMEOUT:-300}" ./update --nouser > "$demo/update.log" 2>&1
exit_code=$?
set -e
# The updater starts the client detached, right before it ends.
for _ in $(seq 1 50); do
    [ -s "$demo/client-started.log" ] && break
    sleep 0.1
done
snapshot "$demo/client" > "$demo/after.txt"

say "What changed in $demo/client"
join -t $'\t' "$demo/before.txt" "$demo/after.txt" | awk -F'\t' '$2 != $3 { print "  replaced  " $1 }'
join -t $'\t' -v2 "$demo/before.txt" "$demo/after.txt" | awk -F'\t' '{ print "  added     " $1 }'
join -t $'\t' -v1 "$demo/before.txt" "$demo/after.txt" | awk -F'\t' '{ print "  deleted   " $1 }'
if [ -f "$demo/client/_old_update" ]; then
    echo "  (_old_update is the updater's own old copy: it was in use, and the next start deletes it)"
fi

say "Requests nginx served"
sed 's/^/  /' "$demo/nginx/access.log"

say "What the update fetched against the whole files"
# A patch stands in for the file of the same installed path; the log's fields
# are "GET <path> HTTP/1.1 <status> <bytes>".
awk -v mirror="$demo/mirror" '
    $4 != 200 { next }
    { fetched += $5 }
    # The patch index and its signature cost what the patches save.
    $2 ~ "\\.patches\\.ini" { next }
    $2 ~ "^/2/patches/" {
        path = $2; sub("^/2/patches/[0-9]+/", "", path)
        whole = 0
        cmd = "find \"" mirror "/2\" -path \"" mirror "/2/patches\" -prune -o -type f \\( -path \"*/" path "\" -o -path \"*/" path ".gz\" \\) -printf %s -quit"
        cmd | getline whole; close(cmd)
        printf "  %-32s patch %8d bytes instead of %8d\n", path, $5, whole
        full += whole; next
    }
    { full += $5 }
    END { printf "  fetched %d bytes; the same update without patches: %d bytes (%.1f %%)\n", fetched, full, full ? 100 * fetched / full : 100 }
' "$demo/nginx/access.log"

say "Last lines of the updater's log ($demo/update.log)"
tail -n 15 "$demo/update.log" | sed 's/^/  /'

say "Result"
echo "  updater exit code: $exit_code"
if [ -s "$demo/client-started.log" ]; then
    echo "  the client was started: $(tail -n1 "$demo/client-started.log")"
else
    echo "  the client was NOT started"
fi
echo "  installed readme.txt: $(cat "$demo/client/readme.txt")"
echo "  everything is in $demo"
[ "$exit_code" -eq 0 ] && [ -s "$demo/client-started.log" ]
