#!/usr/bin/env bash
# corvane rsa decrypt --lines beside OpenSSL doing the same work in one
# process (bench/openssl_rsa_lines.cpp: EVP_PKEY_decrypt per line, the key
# set up once) on LINES Base64 blocks (100,000 by default, CORVANE_BENCH_LINES
# to change it) under one RSA key of BITS bits (1024, CORVANE_BENCH_BITS),
# read from the page cache, output to /dev/null. The blocks are made by
# corvane rsa encrypt --lines from random 33-byte messages; both outputs are
# compared with the messages once first. Prints each command's median wall
# time over REPETITIONS runs (3), the time per block, their ratio (openssl
# time / corvane time), and each command's peak resident memory, from GNU
# time -v; and the same ratio of the median processor times (user + system),
# which a machine shared with other work disturbs less than wall time.
#
#   bench/tool_rsa_lines.sh
# BUILD_DIR picks another build tree; CORVANE_CPU applies to the tool as usual.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/default}"
lines="${CORVANE_BENCH_LINES:-100000}"
bits="${CORVANE_BENCH_BITS:-1024}"
repetitions="${REPETITIONS:-3}"
peer=openssl_rsa_lines
source bench/lines_measure.sh
prepare_run
# 33 bytes are 44 Base64 characters without padding: one message per line.
head -c "$((lines * 33))" /dev/urandom | base64 -w 44 > "$dir/messages.b64"
"$tool" rsa encrypt --pubkey "$dir/public.pem" --lines "$dir/messages.b64" > "$dir/blocks.b64"

corvane_cmd=("$tool" rsa decrypt --key "$dir/key.pem" --lines "$dir/blocks.b64")
openssl_cmd=("$peer" "$dir/key.pem" "$dir/blocks.b64")
cmp "$dir/messages.b64" <("${corvane_cmd[@]}") || { echo "corvane's messages differ" >&2; exit 1; }
cmp "$dir/messages.b64" <("${openssl_cmd[@]}") || { echo "openssl's messages differ" >&2; exit 1; }

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-), CORVANE_CPU=${CORVANE_CPU:-unset}"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
measure "${corvane_cmd[@]}"; ours=$median; ours_cpu=$cpu_median; ours_peak=$peak
measure "${openssl_cmd[@]}"; theirs=$median; theirs_cpu=$cpu_median; theirs_peak=$peak
row "corvane rsa decrypt --lines" "$ours" "$ours_cpu" "$ours_peak"
row "openssl_rsa_lines (EVP_PKEY_decrypt)" "$theirs" "$theirs_cpu" "$theirs_peak"
awk -v a="$theirs" -v b="$ours" 'BEGIN {printf "ratio tool rsa decrypt --lines %d x %d-bit corvane vs openssl %6.2fx\n", '"$lines"', '"$bits"', a / b}'
awk -v a="$theirs_cpu" -v b="$ours_cpu" 'BEGIN {printf "ratio tool rsa decrypt --lines %d x %d-bit cpu time corvane vs openssl %6.2fx\n", '"$lines"', '"$bits"', a / b}'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
