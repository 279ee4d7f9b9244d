#!/usr/bin/env bash
# The short fuzz run CI makes: a fixed number of runs from the committed seed
# corpus (new inputs go to a scratch folder, never into the corpus).
# Usage: run_short.sh FUZZER CORPUS [RUNS]
set -euo pipefail
fuzzer=$1
corpus=$2
runs=${3:-30000}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$fuzzer" -runs="$runs" -seed=1 -max_len=4096 -timeout=30 -print_final_stats=1 "$scratch" "$corpus"
