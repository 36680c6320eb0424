#!/usr/bin/env bash
# Takes the README's screenshots of the main window under Xvfb: one during the
# downloads of the demo update and one after its success. Writes
# docs/screenshot-updating.png and docs/screenshot-finished.png.
#
# Environment: BUILD_DIR (default build), DEMO_DIR (default a new folder below /tmp).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-"$root/build"}
demo=${DEMO_DIR:-$(mktemp -d /tmp/corvane-screenshots.XXXXXX)}
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
# shellcheck source=lib/demoscene.sh
source "$root/scripts/lib/demoscene.sh"

updater_pid=""
cleanup() {
    [ -n "$updater_pid" ] && kill "$updater_pid" 2>/dev/null
    scene_cleanup
}
trap cleanup EXIT

"$root/scripts/setup.sh" xdotool imagemagick
scene_build
scene_make_releases 2048   # 2 MiB more to download, so the downloads last
scene_publish
# A banner of the banner's own size instead of the stretched logo the demo uses.
convert -size 468x60 gradient:'#0f4c8a-#2f86d6' -gravity center -fill white -font DejaVu-Sans -pointsize 22 \
    -annotate 0 'Corvane 2.0: level two is here' "$demo/mirror/banner.png"
scene_start_nginx 300k     # per connection: a few seconds of downloading
scene_start_updateserver

display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp > "$demo/xvfb.log" 2>&1 &
scene_pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 1 100); do
    xdotool getdisplaygeometry > /dev/null 2>&1 && break
    sleep 0.1
done

say "Starting the updater in a window on $DISPLAY"
# The attended form: the window waits for Start and stays open after success.
scene_in_client ./update > "$demo/update.log" 2>&1 &
updater_pid=$!
window=$(xdotool search --sync --name '^Corvane Client Update$' | head -n1)
sleep 1
# Both pictures must show the window at one size; a window that jumps is a fault.
shot_size=""
shot() {
    import -window "$window" "$root/docs/$1"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    echo "wrote docs/$1 (window ${WIDTH} x ${HEIGHT})"
    if [ -n "$shot_size" ] && [ "$shot_size" != "${WIDTH}x${HEIGHT}" ]; then
        echo "screenshots: the window changed its size from $shot_size to ${WIDTH}x${HEIGHT}" >&2
        return 1
    fi
    shot_size="${WIDTH}x${HEIGHT}"
}
# Show the details log (the window grows), then press Start at its new bottom right.
click_bottom() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove --window "$window" "$1" $((HEIGHT - 18)) click 1
}
click_bottom 40
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$window")"
click_bottom $((WIDTH - 45))

wait_for_log() {
    local _
    for _ in $(seq 1 600); do
        grep -q "$1" "$demo/update.log" && return 0
        sleep 0.1
    done
    echo "screenshots: the updater never logged \"$1\"; its log:" >&2
    cat "$demo/update.log" >&2
    return 1
}

mkdir -p "$root/docs"
wait_for_log 'Downloading files'
sleep 3
shot screenshot-updating.png
wait_for_log 'Update successfully finished'
# The ticker stands blank for three seconds between passes; show it moving.
sleep 4
shot screenshot-finished.png
