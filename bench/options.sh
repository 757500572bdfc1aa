#!/usr/bin/env bash
# What the type map and --append cost, measured in the same run.
#
#   bench/options.sh [--scale S] [--rounds N] [--build DIR]
#
# Uses the layers of bench/run.sh (DIR/layers/scale-S, written first when
# missing). For N rounds (default 3), alternating:
#   R  orvtessel -o OUT roads.shp TYPE NAME                      (no type map)
#   M  orvtessel --type-map roads.types -o OUT roads.shp TYPE NAME
#      (a rule for each of the layer's type codes, mapping it to itself:
#      the output must equal R's byte for byte)
#   K  cp areas.mp copy.mp                     (copying the existing map once)
#   X  orvtessel -a -o map.mp roads.shp TYPE NAME, map.mp a fresh copy of the
#      areas layer's map (the copy made before the timer starts)
# and prints M / R (target <= 1.05) and X / (R + K) (target <= 1).
set -euo pipefail

scale=1
rounds=3
build=""
while [ $# -gt 0 ]; do
    case "$1" in
        --scale) scale="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --build) build="$2"; shift 2 ;;
        -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
if ! [[ "$rounds" =~ ^[1-9][0-9]*$ ]]; then echo "--rounds needs a positive number" >&2; exit 2; fi

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ -z "$build" ]; then
    build="$root/build/bench"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVTESSEL_BUILD_BENCH=ON \
        -DORVTESSEL_BUILD_TESTS=OFF > "$build.configure.log" 2>&1 \
        || { cat "$build.configure.log" >&2; exit 1; }
    cmake --build "$build" -j2 --target orvtessel orvtessel_bench_layers \
        > "$build.build.log" 2>&1 || { cat "$build.build.log" >&2; exit 1; }
fi
build="$(cd "$build" && pwd)"
program="$build/orvtessel"
generator="$build/bench/orvtessel_bench_layers"
for tool in "$program" "$generator"; do
    [ -x "$tool" ] || { echo "missing $tool (build with -DORVTESSEL_BUILD_BENCH=ON)" >&2; exit 1; }
done

layers="$build/layers/scale-$scale"
if [ ! -f "$layers/complete" ]; then
    rm -rf "$layers"
    mkdir -p "$layers"
    "$generator" --scale "$scale" "$layers"
    touch "$layers/complete"
fi

scratch="$(mktemp -d "$layers/options.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

now() { local t="$EPOCHREALTIME"; echo "${t/./}"; }
median() { sort -g | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); print (NR % 2) ? v[m] : (v[m] + v[m + 1]) / 2 }'; }
seconds() { awk -v us="$1" 'BEGIN { printf "%.3f", us / 1e6 }'; }

roads="$layers/roads.shp"
# The layer's classes, each mapped to itself.
for code in 0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x0a 0x16; do echo "$code = $code"; done > "$scratch/roads.types"

"$program" -q -o "$scratch/areas.mp" "$layers/areas.shp" TYPE NAME
"$program" -q -o "$scratch/r.mp" "$roads" TYPE NAME
"$program" -q --type-map "$scratch/roads.types" -o "$scratch/m.mp" "$roads" TYPE NAME
identical=yes
cmp -s "$scratch/r.mp" "$scratch/m.mp" || identical=no
header="$(grep -n -m1 '^\[END-IMG ID\]' "$scratch/r.mp" | cut -d: -f1)"
{ cat "$scratch/areas.mp"; tail -n +"$((header + 2))" "$scratch/r.mp"; } > "$scratch/appended.reference"

: > "$scratch/r"; : > "$scratch/m"; : > "$scratch/k"; : > "$scratch/x"
appendedIdentical=yes
for ((round = 1; round <= rounds; ++round)); do
    start="$(now)"; "$program" -q -o "$scratch/r.mp" "$roads" TYPE NAME; echo $(($(now) - start)) >> "$scratch/r"
    start="$(now)"
    "$program" -q --type-map "$scratch/roads.types" -o "$scratch/m.mp" "$roads" TYPE NAME
    echo $(($(now) - start)) >> "$scratch/m"
    cmp -s "$scratch/r.mp" "$scratch/m.mp" || identical=no
    rm -f "$scratch/copy.mp"
    start="$(now)"; cp "$scratch/areas.mp" "$scratch/copy.mp"; echo $(($(now) - start)) >> "$scratch/k"
    start="$(now)"; "$program" -q -a -o "$scratch/copy.mp" "$roads" TYPE NAME; echo $(($(now) - start)) >> "$scratch/x"
    cmp -s "$scratch/copy.mp" "$scratch/appended.reference" || appendedIdentical=no
done
r="$(median < "$scratch/r")"; m="$(median < "$scratch/m")"; k="$(median < "$scratch/k")"; x="$(median < "$scratch/x")"
echo "scale $scale, $rounds rounds, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "  R roads              median $(seconds "$r") s   (rounds: $(tr '\n' ' ' < "$scratch/r")us)"
echo "  M roads, type map    median $(seconds "$m") s   (rounds: $(tr '\n' ' ' < "$scratch/m")us)"
echo "  K copy areas map     median $(seconds "$k") s"
echo "  X roads appended     median $(seconds "$x") s   (rounds: $(tr '\n' ' ' < "$scratch/x")us)"
echo "  type map / none = $(awk -v m="$m" -v r="$r" 'BEGIN { printf "%.3f", m / r }') (target <= 1.05; output identical: $identical)"
echo "  appended / (alone + copy) = $(awk -v x="$x" -v r="$r" -v k="$k" 'BEGIN { printf "%.3f", x / (r + k) }') (target <= 1; output as expected: $appendedIdentical)"
if [ "$identical" != yes ] || [ "$appendedIdentical" != yes ]; then
    echo "FAILED: an output differed from what it must be" >&2
    exit 1
fi
