#!/usr/bin/env bash
# The scale benchmark in one command: whole updates against a shell pipeline
# on the same loopback nginx (fresh installs, the no-op check, memory with a
# huge file and many files, resuming a killed download, an update through a
# binary patch), then publishing with --delta-from against the stock zstd
# making the same patches, then the cost of one progress report in a task tree
# of 50,000 subtasks. The four goals of binary patches come out together: 1 to
# 3 at the end of the pipeline's summary, 4 from the publishing run.
#   bash scripts/bench.sh [case...]      (cases of bench_pipeline; default: all)
# BUILD_DIR (default build) names the build tree; BENCH_DIR where the data
# goes. Ratios of one run are what count: run it on a quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake --build "$build" --target bench_pipeline bench_publish bench_taskprogress >/dev/null

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
"$build/tests/update/bench_pipeline" "$@"
echo
echo "publishing a second version with --delta-from the first"
"$build/tests/tools/bench_publish" --delta
echo
echo "task tree: 50,000 subtasks, 6 running at once"
"$build/tests/tasks/bench_taskprogress" 6
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
