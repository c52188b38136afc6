#!/usr/bin/env bash
# corvane des3 decrypt --raw beside openssl enc -d -des-ede3-cbc on a large
# file (300 MB by default, CORVANE_BENCH_MB to change it), read from the page
# cache, output to /dev/null. Prints each command's median wall time over
# REPETITIONS runs (5), their ratio (openssl time / corvane time) and each
# command's peak resident memory, from GNU time -v. Both decrypt the same
# ciphertext (made by openssl enc) under the same key and IV; the outputs are
# compared once first.
#
#   bench/tool_des3.sh
# BUILD_DIR picks another build tree; CORVANE_CPU applies to the tool as usual.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/default}"
megabytes="${CORVANE_BENCH_MB:-300}"
repetitions="${REPETITIONS:-5}"
tool="$build/tools/corvane/corvane"
[ -x "$tool" ] || { echo "build $tool first (cmake --build build/default --target corvane)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "GNU time is missing: scripts/install-deps installs it" >&2; exit 2; }

key=0123456789abcdeffedcba987654321089abcdef01234567
iv=0011223344556677
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
head -c "$((megabytes * 1000000))" /dev/urandom > "$dir/plain.bin"
openssl enc -des-ede3-cbc -K "$key" -iv "$iv" -in "$dir/plain.bin" -out "$dir/cipher.bin"
rm "$dir/plain.bin"
cat "$dir/cipher.bin" > /dev/null  # into the page cache

corvane_cmd=("$tool" des3 decrypt --key-hex "$key" --iv-hex "$iv" --raw -q "$dir/cipher.bin")
openssl_cmd=(openssl enc -d -des-ede3-cbc -K "$key" -iv "$iv" -in "$dir/cipher.bin")
cmp <("${corvane_cmd[@]}") <("${openssl_cmd[@]}") || { echo "outputs differ" >&2; exit 1; }

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-), CORVANE_CPU=${CORVANE_CPU:-unset}"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
# Median wall seconds and the last run's peak resident memory of a command.
measure() {
    local times=() i
    for ((i = 0; i < repetitions; i++)); do
        /usr/bin/time -v -o "$dir/time" "$@" > /dev/null
        times+=("$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0; for (k = 1; k <= n; k++) s = s * 60 + p[k]; print s}' "$dir/time")")
    done
    median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
    peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$dir/time")
}
measure "${corvane_cmd[@]}"; ours=$median; ours_peak=$peak
measure "${openssl_cmd[@]}"; theirs=$median; theirs_peak=$peak
printf '  %-34s %8.2f s  %8d KiB peak\n' "corvane des3 decrypt --raw" "$ours" "$ours_peak"
printf '  %-34s %8.2f s  %8d KiB peak\n' "openssl enc -d -des-ede3-cbc" "$theirs" "$theirs_peak"
awk -v a="$theirs" -v b="$ours" 'BEGIN {printf "ratio tool des3 decrypt %d MB corvane vs openssl %6.2fx\n", '"$megabytes"', a / b}'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
