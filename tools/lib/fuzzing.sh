# Shared by tools/fuzz and tools/ci-fuzz: the targets, their seeds and
# dictionaries, the build, and one bounded run of one target.

FUZZ_TARGETS=(parse_str tag_list decode round_trip load edit lease)

# Seed directories of a target: its own, plus the shared documents for the
# targets that read whole documents.
fuzz_seed_dirs() {
    local target=$1
    echo "$root/fuzz/corpus/$target"
    case $target in
    parse_str | tag_list | round_trip | load) echo "$root/fuzz/corpus/documents" ;;
    esac
}

fuzz_dictionary() {
    case $1 in
    lease) echo "$root/fuzz/lease.dict" ;;
    edit) ;;
    *) echo "$root/fuzz/markup.dict" ;;
    esac
}

fuzz_build() {
    cmake --preset fuzz -B "$build" >/dev/null
    cmake --build "$build" -j2 --target fuzz_targets
}

# fuzz_run TARGET SECONDS [extra libFuzzer options...]
# Runs the target on a working corpus that starts from the seeds (the seeds
# in the repository are only read) and keeps what it learns between runs.
# Findings go to $findings/TARGET-*. Returns libFuzzer's status.
fuzz_run() {
    local target=$1 seconds=$2
    shift 2
    local work="$build/fuzz-corpus/$target"
    mkdir -p "$work" "$findings"
    local dict options=()
    dict=$(fuzz_dictionary "$target")
    [[ -n $dict ]] && options+=("-dict=$dict")
    # An input that runs for seconds is a hang; one that needs hundreds of
    # megabytes is unbounded growth. Both are findings.
    options+=(-timeout=10 -rss_limit_mb=1536 -malloc_limit_mb=512 -max_len=16384
        -print_final_stats=1 "-artifact_prefix=$findings/$target-")
    [[ $seconds != 0 ]] && options+=("-max_total_time=$seconds")
    local seeds
    mapfile -t seeds < <(fuzz_seed_dirs "$target")
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
        UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
        "$build/fuzz/fuzz_$target" "${options[@]}" "$@" "$work" "${seeds[@]}"
}
