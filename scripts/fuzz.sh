#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ (or FUZZ_BUILD_DIR) and runs each for the
# given number of seconds (default 30) on a scratch copy of its committed seed corpus.
# Fails when a target finds a crash or a broken invariant; the input is kept in the scratch dir and
# replays with build-fuzz/bin/<target> <input>.
# Usage: scripts/fuzz.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=(fuzz_responseassembler fuzz_firmwareimage fuzz_fodcapture)

if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: scripts/fuzz.sh [seconds]" >&2
    exit 2
fi
"$root/scripts/deps.sh"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAVLO_FUZZ=ON \
    -DZAVLO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}" -j"$(nproc)"

work=$(mktemp -d "${TMPDIR:-/tmp}/zavlo-fuzz.XXXXXX")
failed=()
for target in "${targets[@]}"; do
    corpus=$work/$target/corpus
    artifacts=$work/$target/artifacts
    mkdir -p "$corpus" "$artifacts"
    # The committed seeds stay as they are; what the run finds goes to the scratch copy only.
    cp "$root/tests/fuzz/corpus/$target/"* "$corpus/"
    log=$work/$target/log.txt
    echo "== $target: ${seconds} s"
    if "$build/bin/$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$corpus" >"$log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE' "$log" || true
    else
        failed+=("$target")
        tail -n 60 "$log"
        echo "== $target FAILED; input and log in $work/$target"
    fi
done

echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: failing targets: ${failed[*]}; inputs in $work"
    exit 1
fi
rm -rf "$work"
