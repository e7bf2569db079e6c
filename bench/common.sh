# Shared by the benchmark scripts (sourced): the generated trees, wall times, medians,
# ratios and the two busy processes of a loaded machine.

# Makes a tree with make_tree once and keeps it for later runs: DIR ARGS...
# Needs $build.
make_tree() {
    local dir=$1
    shift
    if [ ! -f "$dir/.complete" ]; then
        rm -rf "$dir"
        "$build/bench/make_tree" "$dir" "$@" >/dev/null
        touch "$dir/.complete"
    fi
}

# Reads the files once, so that every tool reads from the page cache: PATH...
warm_cache() { find "$@" -type f -exec cat {} + >/dev/null 2>&1 || true; }

seconds() { # COMMAND...: wall time of one run
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# The peak resident memory of a command, in kilobytes.
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; } # kilobytes
ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }

# measure "NAME|COMMAND"...: runs each command $runs times, the commands taking turns, and
# keeps the median seconds of each in result[NAME]. Every run sees a number of its own in
# MEASURE_RUN, counted across calls (for a folder each run starts from empty).
declare -A result
measure_runs=0
measure() {
    local -A samples
    local entry name
    for _ in $(seq "$runs"); do
        for entry in "$@"; do
            name=${entry%%|*}
            measure_runs=$((measure_runs + 1))
            samples[$name]+="$(seconds env MEASURE_RUN="$measure_runs" bash -c "${entry#*|}") "
        done
    done
    for entry in "$@"; do
        name=${entry%%|*}
        result[$name]=$(tr ' ' '\n' <<<"${samples[$name]}" | grep . | median)
    done
}

# Two processes that keep a core each busy, as on a desktop where other programs run.
busy_pids=()
start_load() {
    for _ in 1 2; do
        sh -c 'while :; do :; done' &
        busy_pids+=($!)
    done
}
stop_load() {
    [ ${#busy_pids[@]} -eq 0 ] || kill "${busy_pids[@]}" 2>/dev/null || true
    wait "${busy_pids[@]}" 2>/dev/null || true
    busy_pids=()
}
