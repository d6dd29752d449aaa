#!/usr/bin/env bash
# Runs the test suite under the sanitizers:
#   asan  builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/
#         (or ASAN_BUILD_DIR) and runs the whole CTest suite there, leak checking included;
#   tsan  builds with ThreadSanitizer in build-tsan/ (or TSAN_BUILD_DIR) and runs the tests
#         labelled "threads".
# Leaks and races inside Qt's own libraries are suppressed by scripts/lsan.supp and
# scripts/tsan.supp; nothing of ours is. Extra arguments go to ctest.
# Usage: scripts/sanitize.sh [asan|tsan|all] [ctest options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-all}
[ $# -gt 0 ] && shift
case $what in
asan | tsan | all) ;;
*)
    echo "usage: scripts/sanitize.sh [asan|tsan|all] [ctest options...]" >&2
    exit 2
    ;;
esac
"$root/scripts/deps.sh"
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
# Both runs go ahead even when the first fails; the script fails if either did.
status=0

if [ "$what" != tsan ]; then
    build=${ASAN_BUILD_DIR:-$root/build-asan}
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAVLO_SANITIZE=ON \
        -DZAVLO_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" -j"$jobs"
    # Each test also gets these two from cmake/ZavloTest.cmake; the programs the tests start inherit them.
    export ASAN_OPTIONS=detect_leaks=1
    export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    (cd "$build" && ctest --output-on-failure -j"$jobs" "$@") || status=1
    unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
fi

if [ "$what" != asan ]; then
    build=${TSAN_BUILD_DIR:-$root/build-tsan}
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAVLO_TSAN=ON \
        -DZAVLO_BUILD_BENCH=OFF >/dev/null
    # Only what the threading tests need.
    targets=$(cd "$build" && ctest -N -L threads | sed -n 's/^ *Test *#[0-9]*: *//p')
    if [ -z "$targets" ]; then
        echo "no test carries the label threads" >&2
        exit 1
    fi
    # shellcheck disable=SC2086
    cmake --build "$build" -j"$jobs" --target $targets
    # Qt is not instrumented: accesses inside its libraries are left out, and the threading tests
    # mark its hand-overs between threads themselves (tests/reliability/tsanqthandoff.h).
    export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1"
    (cd "$build" && ctest --output-on-failure -j"$jobs" -L threads "$@") || status=1
fi
exit $status
