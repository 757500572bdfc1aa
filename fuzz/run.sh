#!/usr/bin/env bash
# Builds the libFuzzer target with clang in build/fuzz, writes the seed
# corpus and fuzzes for SECONDS seconds with JOBS jobs (default 1); any
# further arguments go to libFuzzer (e.g. -use_value_profile=1).
# The corpus grows in build/fuzz/corpus across runs; crash, leak and
# timeout inputs land in build/fuzz/artifacts/.
set -euo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 SECONDS [JOBS [LIBFUZZER_FLAG...]]" >&2
  exit 2
fi
seconds=$1
jobs=${2:-1}
shift $(( $# < 2 ? $# : 2 ))
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVTESSEL_BUILD_FUZZ=ON -DORVTESSEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target orvtessel_fuzz orvtessel_fuzz_seeds

mkdir -p "$build/corpus" "$build/artifacts"
"$build/fuzz/orvtessel_fuzz_seeds" "$build/seeds"

args=(-max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048
      -artifact_prefix="$build/artifacts/" -print_final_stats=1
      -dict="$root/fuzz/orvtessel.dict"
      # shapelib reports every damaged record on standard error, megabytes
      # a minute; libFuzzer keeps its own and the sanitizers' reports on a
      # copy of standard error. Replay an artifact to see shapelib's lines.
      -close_fd_mask=2)
if [[ $jobs -gt 1 ]]; then
  args+=(-jobs="$jobs" -workers="$jobs")
fi
cd "$build"
exec "$build/fuzz/orvtessel_fuzz" "${args[@]}" "$@" "$build/corpus" "$build/seeds"
