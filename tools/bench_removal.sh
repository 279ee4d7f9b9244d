#!/bin/bash
# Benchmark of the removal plan and sequence on the stand-in, for [FILES]
# lists of 1,000 to 10,000 entries. Builds an optimised copy of the product
# and the stand-in in build/bench, then runs tools/bench_removal.cpp.
# Usage: tools/bench_removal.sh [N...]   (default 1000 2000 5000 10000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1000 2000 5000 10000)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target qvproduct qvsim >/dev/null
c++ -std=c++17 -O2 -Wall -Wextra -Werror -I"$root/src" -I"$root/sim" \
  "$root/tools/bench_removal.cpp" "$build/libqvproduct.a" "$build/libqvsim.a" -o "$build/bench_removal"
"$build/bench_removal" "${sizes[@]}"
