#!/usr/bin/env bash
# The benchmark over a link like a real mirror's: 25 ms each way, 100 Mbit/s.
# nginx, curl and the updater run in a network namespace of their own whose
# loopback is given that delay and rate, so nothing outside it is touched;
# the namespace goes when the script ends. 2,000 files of 4 KiB and one file
# of 256 MiB, the updater's download stage against curl with as many
# parallel transfers, over plain HTTP and over HTTPS with HTTP/2 offered
# (a self-signed certificate made here, trusted by both for the run only).
#   sudo bash scripts/bench-wan.sh [wan-small|wan-large]...   (default: both)
# Needs root (unshare -n, tc) and iproute2. Where the kernel has no netem
# (some virtual machines), the link is emulated in user space by
# scripts/lib/slowlink.py between the clients and nginx instead.
# BUILD_DIR (default build), BENCH_DIR and BENCH_SCALE as for bench.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
delay_ms=25
rate_mbit=100

if [[ ${CORVANE_WAN_NAMESPACE:-} != 1 ]]; then
    if [[ $(id -u) != 0 ]]; then
        echo "bench-wan.sh needs root for its network namespace (unshare -n, tc)" >&2
        exit 2
    fi
    bash scripts/setup.sh iproute2 >/dev/null
    cmake --build "$build" --target bench_pipeline >/dev/null
    exec unshare -n env CORVANE_WAN_NAMESPACE=1 bash "$0" "$@"
fi

cases=("$@")
[[ ${#cases[@]} -gt 0 ]] || cases=(wan-small wan-large)

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/bench-wan-XXXXXX")
trap 'rm -rf "$work"' EXIT

ip link set lo up
if tc qdisc add dev lo root netem delay "${delay_ms}ms" rate "${rate_mbit}mbit" 2>/dev/null; then
    echo "link: netem on loopback, ${delay_ms} ms each way, ${rate_mbit} Mbit/s"
else
    echo "link: this kernel has no netem; slowlink.py relays, ${delay_ms} ms each way, ${rate_mbit} Mbit/s"
    relay="$work/slowlink"
    printf '#!/bin/sh\nexec python3 %q --delay-ms %s --rate-mbit %s "$@"\n' \
        "$PWD/scripts/lib/slowlink.py" "$delay_ms" "$rate_mbit" >"$relay"
    chmod +x "$relay"
    export BENCH_RELAY=$relay
fi

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
export BENCH_TLS_CERT=$work/cert.pem BENCH_TLS_KEY=$work/key.pem

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
"$build/tests/update/bench_pipeline" "${cases[@]}"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
