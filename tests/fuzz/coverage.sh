#!/usr/bin/env bash
# Coverage of the product's code (src/) by a fuzz corpus: builds the fuzz
# target with source-based coverage in build/fuzz-coverage, replays the corpus
# and prints llvm-cov's report for src/.
# Usage: tests/fuzz/coverage.sh [CORPUS_DIR...]   (default: the seed corpus)
# Needs llvm-profdata and llvm-cov (Debian package llvm).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build/fuzz-coverage"
corpora=("$@")
[ ${#corpora[@]} -eq 0 ] && corpora=("$root/tests/fuzz/corpus")
flags="-fprofile-instr-generate -fcoverage-mapping -fsanitize=fuzzer-no-link"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$flags" -DQV_FUZZ=OFF >/dev/null
cmake --build "$build" --target qvproduct qvsim >/dev/null
clang++ -std=c++17 $flags -fsanitize=fuzzer -I"$root/src" -I"$root/sim" \
  "$root/tests/fuzz/fuzz_uninstall.cpp" "$root/tests/fuzz/fuzz_oracle.cpp" \
  "$build/libqvproduct.a" "$build/libqvsim.a" -o "$build/fuzz_uninstall_coverage"
rm -f "$build"/*.profraw
LLVM_PROFILE_FILE="$build/run-%p.profraw" "$build/fuzz_uninstall_coverage" -runs=0 "${corpora[@]}" \
  >"$build/replay.log" 2>&1
llvm-profdata merge -sparse "$build"/*.profraw -o "$build/corpus.profdata"
llvm-cov report "$build/fuzz_uninstall_coverage" -instr-profile="$build/corpus.profdata" "$root/src"
