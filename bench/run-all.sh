#!/bin/sh
# Runs every benchmark of a build, one after another, and prints their
# figures. Builds nothing.
#
#   bench/run-all.sh [dir]
#
# dir holds the benchmark programs (default: build/bench of the source
# tree); a build's top directory works too. With no DISPLAY the programs use
# the offscreen platform; set DISPLAY to measure on an X server.

here=$(cd "$(dirname "$0")" && pwd)
dir=${1:-$here/../build/bench}
if [ ! -x "$dir/bench_startup" ] && [ -x "$dir/bench/bench_startup" ]; then
    dir=$dir/bench
fi

status=0
for bench in bench_replylatency bench_startup bench_idle; do
    echo "== $bench"
    if [ ! -x "$dir/$bench" ]; then
        echo "missing: $dir/$bench (build the target first)"
        status=1
    else
        "$dir/$bench"
        rc=$?
        if [ "$rc" -ne 0 ]; then
            echo "$bench exited with status $rc"
            status=1
        fi
    fi
    echo
done
exit $status
