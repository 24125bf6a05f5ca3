#!/usr/bin/env bash
# Runs every benchmark program of a build folder (default build/release), one after another.
set -euo pipefail
build="${1:-build/release}"
found=0
while IFS= read -r bin; do
  found=1
  echo "== $bin"
  "$bin" --benchmark_min_time=0.2
done < <(find "$build/bench" -type f -executable -name 'bench_*' | sort)
[ "$found" -eq 1 ] || { echo "no benchmark programs under $build/bench"; exit 1; }
