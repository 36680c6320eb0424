# Shared by demo.sh and screenshots.sh: builds the programs, makes the demo
# client (version 1) and release (version 2), publishes both, version 2 with
# patches from version 1, and starts
# nginx and the reference update server on loopback. Source it after setting
# root, build and demo; call scene_cleanup on exit (scene_pids holds what runs).

scene_pids=()

scene_cleanup() {
    local pid
    for pid in "${scene_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    scene_pids=()
}

say() { printf '\n== %s\n' "$*"; }

# Configures the build once and builds the updater and the release tools.
scene_build() {
    if [ ! -f "$build/CMakeCache.txt" ]; then
        local launcher=()
        if command -v ccache >/dev/null 2>&1; then
            launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
        fi
        cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}"
    fi
    cmake --build "$build" --parallel "$(nproc)" --target update corvane-publish corvane-updateserver
    key="$build/devkey/private.key"
    if [ ! -f "$key" ]; then
        echo "$key is missing: this build embeds a publisher's key, and the demo signs with the development key" >&2
        return 1
    fi
}

scene_write() { mkdir -p "$(dirname "$1")"; printf '%s\n' "$2" > "$1"; }
scene_manual() { local i; for i in $(seq 1 400); do printf '<p>Chapter %d of the Corvane manual, version %s.</p>\n' "$i" "$1"; done; }

# Makes $demo/release-1, installs it as $demo/client and makes $demo/release-2:
# changed, new, packed and deleted files and a new copy of the updater itself.
# With an argument N, release 2 also carries N KiB of incompressible data.
scene_make_releases() {
    local payload_kib=${1:-0}
    rm -rf "$demo/client" "$demo/release-1" "$demo/release-2" "$demo/mirror" "$demo/tmp" "$demo/nginx"
    mkdir -p "$demo/tmp"
    : > "$demo/client-started.log"

    local r1="$demo/release-1" r2="$demo/release-2"
    scene_write "$r1/readme.txt" "Corvane Client 1.0"
    scene_write "$r1/bin/corvane-client" "#!/bin/sh
echo 'Corvane Client 1.0'"
    scene_write "$r1/data/levels/level1.dat" "level one"
    scene_write "$r1/data/textures-old.dat" "textures of version 1, gone in version 2"
    scene_write "$r1/docs/Erste Schritte.txt" "Willkommen bei Corvane"
    scene_manual 1 > "$r1/docs/manual.html"
    # The start script the updater runs after a successful update records that it ran.
    scene_write "$r1/davuzodur_runscript.sh" "#!/bin/sh
echo \"client started \$(date -u +%H:%M:%S) from \$(dirname \"\$0\")\" >> '$demo/client-started.log'"
    chmod +x "$r1/davuzodur_runscript.sh" "$r1/bin/corvane-client"
    cp "$build/update" "$r1/update"
    cp -a "$r1" "$demo/client"

    cp -a "$r1" "$r2"
    scene_write "$r2/readme.txt" "Corvane Client 2.0"
    scene_write "$r2/bin/corvane-client" "#!/bin/sh
echo 'Corvane Client 2.0'"
    scene_write "$r2/data/levels/level2.dat" "level two"
    rm "$r2/data/textures-old.dat"
    scene_manual 2 > "$r2/docs/manual.html"
    # The same program with a marker appended, which the loader ignores.
    printf '\ncorvane demo release 2\n' >> "$r2/update"
    if [ "$payload_kib" -gt 0 ]; then
        head -c "$((payload_kib * 1024))" /dev/urandom > "$r2/data/music.ogg"
    fi
    printf 'Version 2.0\n\n- Level two\n- A new manual\n- Old textures removed\n' > "$demo/changelog.txt"
}

# Version 1 as it was published, then version 2 with binary patches from it:
# a client that has version 1 fetches the patches instead of the changed files.
scene_publish() {
    "$build/corvane-publish" "$demo/release-1" "$demo/mirror" --version 1 --key "$key" --gzip
    "$build/corvane-publish" "$demo/release-2" "$demo/mirror" --version 2 --key "$key" --gzip \
        --previous "$demo/release-1" --changelog "$demo/changelog.txt" --delta-from "$demo/mirror/1"
    cp "$root/resources/images/corvane_logo.png" "$demo/mirror/banner.png"
}

# Serves $demo/mirror on a free loopback port ($port); an argument limits the
# rate per connection (nginx's limit_rate, e.g. 100k).
scene_start_nginx() {
    local rate=${1:-0}
    port=18380
    while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
    mkdir -p "$demo/nginx/temp"
    cat > "$demo/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid "$demo/nginx/nginx.pid";
error_log "$demo/nginx/error.log" info;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  log_format requests '\$request \$status \$body_bytes_sent';
  client_body_temp_path "$demo/nginx/temp/body";
  proxy_temp_path "$demo/nginx/temp/proxy";
  fastcgi_temp_path "$demo/nginx/temp/fastcgi";
  uwsgi_temp_path "$demo/nginx/temp/uwsgi";
  scgi_temp_path "$demo/nginx/temp/scgi";
  server {
    listen 127.0.0.1:$port;
    root "$demo/mirror";
    limit_rate $rate;
    access_log "$demo/nginx/access.log" requests;
  }
}
CONF
    /usr/sbin/nginx -e "$demo/nginx/error.log" -p "$demo/nginx" -c "$demo/nginx/nginx.conf" &
    scene_pids+=($!)
    local _
    for _ in $(seq 1 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
        sleep 0.1
    done
    cat > "$demo/client/mirrors.ini" <<INI
[mirrors]
1\\mirror=demo
size=1

[demo]
url=http://127.0.0.1:$port
INI
    echo "nginx serves $demo/mirror at http://127.0.0.1:$port"
}

# Starts the reference server on free ports ($version_port, $banner_port).
scene_start_updateserver() {
    printf 'Corvane 2.0 is out: <a href="http://corvane.example/news">level two and a new manual</a> +++ ' \
        > "$demo/news.html"
    "$build/corvane-updateserver" --version-port 0 --banner-port 0 --stable "2#2.0 (demo)" \
        --news-file "$demo/news.html" --banner-image "http://127.0.0.1:$port/banner.png" \
        --banner-click "http://corvane.example/" > "$demo/updateserver.log" 2>&1 &
    scene_pids+=($!)
    local _
    for _ in $(seq 1 100); do
        grep -q 'listening' "$demo/updateserver.log" 2>/dev/null && break
        sleep 0.1
    done
    local listening
    listening=$(grep -m1 'listening' "$demo/updateserver.log")
    version_port=$(sed -E 's/.*version and news on [^ ]+:([0-9]+),.*/\1/' <<<"$listening")
    banner_port=$(sed -E 's/.*banner on [^ ]+:([0-9]+);.*/\1/' <<<"$listening")
    echo "$listening"
}

# Runs a command in the client directory with the environment that points
# the updater at the scene's servers and its temporary files into $demo/tmp.
scene_in_client() {
    (cd "$demo/client" && TMPDIR="$demo/tmp" CORVANE_UPDATE_SERVER="127.0.0.1:$version_port" \
        CORVANE_BANNER_SERVER="127.0.0.1:$banner_port" "$@")
}
