#!/usr/bin/env bash
# Runs a fuzzer over a fixed number of inputs made from a fixed seed, starting from the given
# seed folder (or the folder a seed program writes): a crash, a hang or a sanitizer report fails.
# Usage: run_fuzzer.sh FUZZER RUNS SEED_FOLDER | run_fuzzer.sh FUZZER RUNS --from SEED_PROGRAM
set -euo pipefail
fuzzer=$1 runs=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ "$3" = --from ]; then
  mkdir "$work/seeds"
  "$4" "$work/seeds"
  seeds=$work/seeds
else
  seeds=$3
fi
mkdir "$work/corpus"  # what the run finds goes here, not into the seed folder
"$fuzzer" -runs="$runs" -seed=1 -timeout=30 "$work/corpus" "$seeds"
