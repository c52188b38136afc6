#!/usr/bin/env bash
# corvane base64 beside coreutils base64 on a large file (200 MB by default,
# CORVANE_BENCH_MB to change it): the median times of build/default/bench/
# tool_bench (with their ratio, coreutils time / corvane time), then each
# command's peak resident memory from GNU time. The input comes from the page
# cache and the output goes to a file, in a temporary folder (TMPDIR).
#
#   bench/tool_base64.sh [extra tool_bench arguments]
# BUILD_DIR picks another build tree; REPETITIONS sets the repetitions (9).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/default}"
megabytes="${CORVANE_BENCH_MB:-200}"
tool="$build/tools/corvane/corvane"
[ -x "$build/bench/tool_bench" ] || { echo "build $build first (cmake --build --preset default)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "GNU time is missing: scripts/install-deps installs it" >&2; exit 2; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
head -c "$((megabytes * 1000000))" /dev/urandom > "$dir/input.bin"
base64 -w0 "$dir/input.bin" > "$dir/input.b64"
base64 "$dir/input.bin" > "$dir/input76.b64"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

CORVANE_BENCH_DIR="$dir" "$build/bench/tool_bench" --benchmark_repetitions="${REPETITIONS:-9}" "$@"

echo
echo "Peak resident memory (GNU time, maximum resident set size):"
peak() {
    local label="$1"; shift
    /usr/bin/time -f "%M" -o "$dir/peak" "$@" > "$dir/output"
    printf '  %-44s %6d KiB\n' "$label" "$(cat "$dir/peak")"
}
peak "corvane base64 (encode)" "$tool" base64 "$dir/input.bin"
peak "coreutils base64 -w0" base64 -w0 "$dir/input.bin"
peak "corvane base64 -d (76 columns)" "$tool" base64 -d "$dir/input76.b64"
peak "coreutils base64 -d (76 columns)" base64 -d "$dir/input76.b64"
peak "corvane base64 -d (one line)" "$tool" base64 -d "$dir/input.b64"
peak "coreutils base64 -d (one line)" base64 -d "$dir/input.b64"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
