#!/usr/bin/env bash
# corvane envelope open --lines with --jobs 1 and --jobs 2 beside OpenSSL
# doing the same work in one process (bench/openssl_envelope_lines.cpp:
# EVP_PKEY_decrypt and DES-EDE3-CBC per line, contexts made once) on LINES
# envelopes (1,000,000 by default, CORVANE_BENCH_LINES to change it) under
# one RSA key of BITS bits (1024, CORVANE_BENCH_BITS) with payloads of
# PAYLOAD bytes (256, CORVANE_BENCH_PAYLOAD), read from the page cache,
# output to /dev/null. The envelopes are made by corvane envelope seal
# --lines; both outputs are compared with the messages once first. Prints
# each command's median wall and processor time over REPETITIONS runs (3),
# per envelope, and peak resident memory (GNU time -v), and the ratios of
# OpenSSL's times to ours.
#
#   bench/tool_envelope_lines.sh
# BUILD_DIR picks another build tree; CORVANE_CPU applies to the tool as usual.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build/default}"
lines="${CORVANE_BENCH_LINES:-1000000}"
bits="${CORVANE_BENCH_BITS:-1024}"
payload="${CORVANE_BENCH_PAYLOAD:-256}"
repetitions="${REPETITIONS:-3}"
peer=openssl_envelope_lines
source bench/lines_measure.sh
prepare_run
# Messages one byte short of the payload: PKCS #7 adds one byte.
size=$((payload - 1))
head -c "$((lines * size))" /dev/urandom | base64 -w "$((size / 3 * 4))" > "$dir/messages.b64"
[ $((size % 3)) -eq 0 ] || { echo "payload - 1 must be a multiple of 3 (one Base64 line each)" >&2; exit 2; }
"$tool" envelope seal --pubkey "$dir/public.pem" --lines "$dir/messages.b64" > "$dir/envelopes.txt"

cmp "$dir/messages.b64" <("$tool" envelope open --key "$dir/key.pem" --lines "$dir/envelopes.txt") ||
    { echo "corvane's plaintexts differ" >&2; exit 1; }
cmp "$dir/messages.b64" <("$peer" "$dir/key.pem" "$dir/envelopes.txt") ||
    { echo "openssl's plaintexts differ" >&2; exit 1; }

echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-), $(nproc) processors, CORVANE_CPU=${CORVANE_CPU:-unset}"
echo "$lines envelopes, $bits-bit key, $payload-byte payloads; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
measure "$peer" "$dir/key.pem" "$dir/envelopes.txt"; theirs=$median; theirs_cpu=$cpu_median
row "openssl_envelope_lines (EVP, one process)" "$median" "$cpu_median" "$peak"
for jobs in 1 2; do
    measure "$tool" envelope open --key "$dir/key.pem" --lines --jobs "$jobs" "$dir/envelopes.txt"
    row "corvane envelope open --lines --jobs $jobs" "$median" "$cpu_median" "$peak"
    awk -v a="$theirs" -v b="$median" -v c="$theirs_cpu" -v d="$cpu_median" -v j="$jobs" \
        'BEGIN {printf "ratio tool envelope open --jobs %d: wall %6.2fx, cpu %6.2fx (openssl / corvane)\n", j, a / b, c / d}'
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
