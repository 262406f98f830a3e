#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build folder and runs
# each for a bounded time, starting from its seed corpus in tests/fuzz/corpus.
# The seeds are only read: what a run finds goes to a scratch folder.
#
#   FUZZ_SECONDS  time per target (default 60)
#   FUZZ_BUILD    build folder (default build-fuzz)
#   CI            when set (and not false or 0), a missing toolchain fails
#                 the run instead of skipping it
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-build-fuzz}
targets=(fuzz_timetext fuzz_replies)
# Longest input worth trying: a typed text, or 2 header bytes and a 64-byte block.
declare -A maxlen=([fuzz_timetext]=64 [fuzz_replies]=66)

# Outside CI a missing toolchain skips the run; in CI it fails it, so that a
# green run has always fuzzed.
missing() {
    case ${CI:-} in
    '' | false | 0)
        echo "ci-fuzz: $1, fuzzing skipped (scripts/install-deps.sh --ci installs it)"
        exit 0
        ;;
    esac
    echo "ci-fuzz: $1 (scripts/install-deps.sh --ci installs it)" >&2
    exit 1
}
command -v clang++ >/dev/null 2>&1 || missing "clang++ not found"
# Without it a crash report names no functions or lines.
command -v llvm-symbolizer >/dev/null 2>&1 || missing "llvm-symbolizer not found"
# clang alone is not enough: the fuzzer runtime comes with libclang-rt.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' >"$probe/p.cpp"
clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1 ||
    missing "clang++ cannot link libFuzzer (libclang-rt-14-dev missing?)"

# Debug keeps Q_ASSERT on; -O1 keeps the runs fast enough.
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
    -DOMBRIX_FUZZ=ON -DOMBRIX_BUILD_TESTS=OFF -DOMBRIX_BUILD_BENCH=OFF
cmake --build "$build" --target "${targets[@]}"

export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
for t in "${targets[@]}"; do
    found="$build/fuzz-found/$t"
    mkdir -p "$found"
    echo "ci-fuzz: $t for ${seconds}s"
    # A failing input is kept as $build/fuzz-found/crash-* (or leak-*, timeout-*).
    "$build/tests/fuzz/$t" "$found" "tests/fuzz/corpus/$t" \
        -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 -max_len="${maxlen[$t]}" \
        -artifact_prefix="$build/fuzz-found/" -print_final_stats=1 2>&1 \
        | grep -v -E '^#[0-9]+\s+(NEW|REDUCE|pulse)'
done
