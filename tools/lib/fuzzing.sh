# Shared by tools/fuzz and tools/ci-fuzz: the build, the targets it holds,
# and one bounded run of one target. The targets, their seeds and their
# dictionaries are fuzz/CMakeLists.txt's; a configured build lists them in
# fuzz/targets.tsv.

# fuzz_build SOURCE_DIR BUILD_DIR
fuzz_build() {
    local source=$1 build=$2
    cmake --preset fuzz -S "$source" -B "$build" >/dev/null
    cmake --build "$build" -j2 --target fuzz_targets
}

# fuzz_targets BUILD_DIR: the names of the targets of a configured build.
fuzz_targets() {
    cut -f1 "$1/fuzz/targets.tsv"
}

# fuzz_run BUILD_DIR FINDINGS_DIR TARGET SECONDS [extra libFuzzer options...]
# Runs the target on a working corpus in the build directory that starts
# from the seeds (the seeds in the repository are only read) and keeps what
# it learns between runs. Findings go to FINDINGS_DIR/TARGET-*. Returns
# libFuzzer's status; 2 for a target the build does not have.
fuzz_run() {
    local build=$1 findings=$2 target=$3 seconds=$4
    shift 4
    local fields=()
    IFS=$'\t' read -r -a fields < <(awk -F'\t' -v t="$target" '$1 == t' "$build/fuzz/targets.tsv")
    if ((${#fields[@]} < 3)); then
        echo "unknown fuzz target: $target" >&2
        return 2
    fi
    local program=${fields[1]} dict=${fields[2]} seeds=("${fields[@]:3}")
    local work="$build/fuzz-corpus/$target"
    mkdir -p "$work" "$findings"
    local options=()
    [[ $dict != - ]] && options+=("-dict=$dict")
    # An input that runs for seconds is a hang; one that needs hundreds of
    # megabytes is unbounded growth. Both are findings.
    options+=(-timeout=10 -rss_limit_mb=1536 -malloc_limit_mb=512 -max_len=16384
        -print_final_stats=1 "-artifact_prefix=$findings/$target-")
    [[ $seconds != 0 ]] && options+=("-max_total_time=$seconds")
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
        UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
        "$program" "${options[@]}" "$@" "$work" "${seeds[@]}"
}
