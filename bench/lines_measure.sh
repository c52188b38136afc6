# Shared by the scripts that time a tool command beside a peer program on a
# file of lines (tool_rsa_lines.sh, tool_envelope_lines.sh): sourced from
# the repository's root, with $build (the build tree) and $peer (the peer
# program's target name) set.
#
# prepare_run: sets $tool and $peer to the built programs (or stops, saying
# what to build), checks GNU time, and makes the scratch folder $dir (gone
# at exit) with an RSA key of $bits bits, $dir/key.pem and $dir/public.pem.
prepare_run() {
    tool="$build/tools/corvane/corvane"
    local target="$peer"
    peer="$build/bench/$target"
    for program in "$tool" "$peer"; do
        [ -x "$program" ] || {
            echo "build $program first (cmake --build $build --target corvane $target)" >&2
            exit 2
        }
    done
    [ -x /usr/bin/time ] || { echo "GNU time is missing: scripts/install-deps installs it" >&2; exit 2; }
    dir=$(mktemp -d)
    trap 'rm -rf "$dir"' EXIT
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:"$bits" -out "$dir/key.pem" 2> /dev/null
    openssl pkey -in "$dir/key.pem" -pubout -out "$dir/public.pem"
}

# With $dir, $repetitions and $lines set:
#
# measure CMD...: runs the command REPETITIONS times under GNU time, output
# to /dev/null, and sets median (wall seconds), cpu_median (user + system
# seconds) and peak (the last run's maximum resident set, KiB).
measure() {
    local times=() cpu=() i
    for ((i = 0; i < repetitions; i++)); do
        /usr/bin/time -v -o "$dir/time" "$@" > /dev/null
        times+=("$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0; for (k = 1; k <= n; k++) s = s * 60 + p[k]; print s}' "$dir/time")")
        cpu+=("$(awk -F': ' '/(User|System) time \(seconds\)/ {s += $2} END {print s}' "$dir/time")")
    done
    median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
    cpu_median=$(printf '%s\n' "${cpu[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
    peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$dir/time")
}

# row NAME WALL CPU PEAK: one line of the table, per item as well.
row() {
    awk -v name="$1" -v s="$2" -v c="$3" -v n="$lines" -v peak="$4" 'BEGIN {printf "  %-40s %7.2f s %7.2f us/item, cpu %7.2f s %7.2f us/item %7d KiB peak\n", name, s, s * 1e6 / n, c, c * 1e6 / n, peak}'
}
