#!/usr/bin/env bash
# Throughput benchmark of the converter; see bench/README.md.
#
#   bench/run.sh [--scale S] [--rounds N] [--build DIR] [--reference REV [--reference-only]]
#
# Without --build, configures and builds release binaries in build/bench.
# Generates the layers once per scale (DIR/layers/scale-S), then for each
# layer runs, alternating A B C D A B C D ... for N rounds (default 3):
#   A  orvtessel LAYER TYPE NAME > /dev/null     (under /usr/bin/time -v)
#   B  orvtessel_bench_read LAYER                (shapelib reading only)
#   B2 orvtessel_bench_read --skip-same-seeks LAYER (the same, through file
#      hooks that drop seeks to the current position, as the program reads)
#   C  dd writing as many bytes as A's .mp file into the same folder
#   D  orvtessel_bench_read --format LAYER       (snprintf vs formatFixed)
# and prints medians, program / (read + dd) for both readings, the
# formatting ratio and the
# peak RSS of A and B. Every A output must be byte-identical to the first one.
#
# Then the layer metadata rows, alternating R U T R U T ... for N rounds:
#   R  orvtessel roads.shp TYPE NAME       (WGS 84, nothing declared)
#   U  orvtessel roads_utm.shp TYPE NAME   (the same roads in UTM zone 33N,
#      with its .prj: every vertex converted)
#   T  orvtessel roads_utf8.shp TYPE NAME  (the same files with a .cpg
#      saying UTF-8: every value checked, none converted, all ASCII)
# and prints U / R (target <= 2.5) and T / R (target about 1).
#
# With --reference REV, also builds the program of commit REV (from
# git archive, into DIR/reference-REV) and times it against this one on
# the projected layers, alternating O N O N ... for N rounds:
#   O  the reference program on roads_utm / roads_dhdn
#   N  this program on the same layer
# roads_dhdn is the roads layer in DHDN / 3-degree Gauss-Kruger zone 4
# (EPSG:31468): several candidate operations, a grid among them, and most
# of the layer outside Germany. Prints N / O (target <= 1.1) and whether
# the two outputs are the same. --reference-only skips the other rows.
set -euo pipefail

scale=1
rounds=3
build=""
referenceRev=""
referenceOnly=no
while [ $# -gt 0 ]; do
    case "$1" in
        --scale) scale="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --build) build="$2"; shift 2 ;;
        --reference) referenceRev="$2"; shift 2 ;;
        --reference-only) referenceOnly=yes; shift ;;
        -h|--help) sed -n '2,38p' "$0"; exit 0 ;;
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
    cmake --build "$build" -j2 --target orvtessel orvtessel_bench_layers orvtessel_bench_read \
        orvtessel_bench_project \
        > "$build.build.log" 2>&1 || { cat "$build.build.log" >&2; exit 1; }
fi
build="$(cd "$build" && pwd)"
program="$build/orvtessel"
reader="$build/bench/orvtessel_bench_read"
generator="$build/bench/orvtessel_bench_layers"
projector="$build/bench/orvtessel_bench_project"
for tool in "$program" "$reader" "$generator" "$projector"; do
    [ -x "$tool" ] || { echo "missing $tool (build with -DORVTESSEL_BUILD_BENCH=ON)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed for the peak RSS" >&2; exit 1; }

layers="$build/layers/scale-$scale"
if [ ! -f "$layers/complete" ]; then
    rm -rf "$layers"
    mkdir -p "$layers"
    "$generator" --scale "$scale" "$layers"
    touch "$layers/complete"
fi
if [ -n "$referenceRev" ] && [ ! -f "$layers/roads_dhdn.prj" ]; then
    "$projector" "$layers/roads.shp" 31468 "$layers/roads_dhdn"
fi
if [ ! -f "$layers/metadata-complete" ]; then
    "$projector" "$layers/roads.shp" 32633 "$layers/roads_utm"
    for ext in shp shx dbf; do cp "$layers/roads.$ext" "$layers/roads_utf8.$ext"; done
    echo UTF-8 > "$layers/roads_utf8.cpg"
    touch "$layers/metadata-complete"
fi

referenceProgram=""
if [ -n "$referenceRev" ]; then
    referenceDir="$build/reference-$referenceRev"
    referenceProgram="$referenceDir/build/orvtessel"
    if [ ! -x "$referenceProgram" ]; then
        rm -rf "$referenceDir"
        mkdir -p "$referenceDir/src"
        git -C "$root" archive "$referenceRev" | tar -x -C "$referenceDir/src"
        cmake -S "$referenceDir/src" -B "$referenceDir/build" -DCMAKE_BUILD_TYPE=Release \
            -DORVTESSEL_BUILD_TESTS=OFF > "$referenceDir/configure.log" 2>&1 \
            || { cat "$referenceDir/configure.log" >&2; exit 1; }
        cmake --build "$referenceDir/build" -j2 --target orvtessel > "$referenceDir/build.log" 2>&1 \
            || { cat "$referenceDir/build.log" >&2; exit 1; }
    fi
fi

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"; rm -f "$layers"/*.mp "$layers/dd.out"' EXIT

# Wall-clock microseconds.
now() { local t="$EPOCHREALTIME"; echo "${t/./}"; }
median() { sort -g | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); print (NR % 2) ? v[m] : (v[m] + v[m + 1]) / 2 }'; }
seconds() { awk -v us="$1" 'BEGIN { printf "%.3f", us / 1e6 }'; }
field() { sed -n "s/.*$1=\\([^ ]*\\).*/\\1/p" "$2"; }

load="$(cut -d' ' -f1-3 /proc/loadavg)"
echo "scale $scale, $rounds rounds, $(nproc) cores, load average $load"
echo
table="| layer | records | vertices | .mp MB | A program s | B read s | B2 read s | C dd s | A / (B + C) | A / (B2 + C) | snprintf ns | formatFixed ns | snprintf / formatFixed | A peak RSS MB | B peak RSS MB |"
table+=$'\n'"|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
status=0

for name in roads areas pois; do
    [ "$referenceOnly" = no ] || break
    layer="$layers/$name.shp"
    output="$layer.mp"
    # Untimed first runs: the layer enters the page cache, and the first
    # output is the reference for the byte-identity check.
    "$reader" "$layer" > "$scratch/read.txt"
    "$program" "$layer" TYPE NAME > /dev/null
    reference="$(sha256sum < "$output")"
    size="$(stat -c %s "$output")"
    : > "$scratch/a"; : > "$scratch/b"; : > "$scratch/b2"; : > "$scratch/c"; : > "$scratch/rss"; : > "$scratch/readRss"
    : > "$scratch/snprintf"; : > "$scratch/fixed"
    identical=yes
    for ((round = 1; round <= rounds; ++round)); do
        start="$(now)"
        /usr/bin/time -v -o "$scratch/time.txt" "$program" "$layer" TYPE NAME > /dev/null
        echo $(($(now) - start)) >> "$scratch/a"
        sed -n 's/.*Maximum resident set size (kbytes): //p' "$scratch/time.txt" >> "$scratch/rss"
        if [ "$(sha256sum < "$output")" != "$reference" ]; then identical=no; fi

        start="$(now)"
        /usr/bin/time -v -o "$scratch/time.txt" "$reader" "$layer" > /dev/null
        echo $(($(now) - start)) >> "$scratch/b"
        sed -n 's/.*Maximum resident set size (kbytes): //p' "$scratch/time.txt" >> "$scratch/readRss"

        start="$(now)"
        "$reader" --skip-same-seeks "$layer" > /dev/null
        echo $(($(now) - start)) >> "$scratch/b2"

        start="$(now)"
        dd if=/dev/zero of="$layers/dd.out" bs=1M count="$size" iflag=count_bytes status=none
        echo $(($(now) - start)) >> "$scratch/c"

        "$reader" --format "$layer" > "$scratch/format.txt"
        field snprintf_ns "$scratch/format.txt" >> "$scratch/snprintf"
        field fixed_ns "$scratch/format.txt" >> "$scratch/fixed"
    done
    a="$(median < "$scratch/a")"; b="$(median < "$scratch/b")"; b2="$(median < "$scratch/b2")"; c="$(median < "$scratch/c")"
    sn="$(median < "$scratch/snprintf")"; fx="$(median < "$scratch/fixed")"
    maxRss="$(sort -g "$scratch/rss" | tail -n1)"
    ratio="$(awk -v a="$a" -v b="$b" -v c="$c" 'BEGIN { printf "%.2f", a / (b + c) }')"
    ratio2="$(awk -v a="$a" -v b="$b2" -v c="$c" 'BEGIN { printf "%.2f", a / (b + c) }')"
    formatRatio="$(awk -v s="$sn" -v f="$fx" 'BEGIN { printf "%.1f", s / f }')"
    records="$(field records "$scratch/read.txt")"
    vertices="$(field vertices "$scratch/read.txt")"
    mb="$(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1048576 }')"
    rssMb="$(awk -v k="$maxRss" 'BEGIN { printf "%.1f", k / 1024 }')"
    readRssMb="$(sort -g "$scratch/readRss" | tail -n1 | awk '{ printf "%.1f", $1 / 1024 }')"

    echo "$name: $records records, $vertices vertices, .mp $mb MB"
    echo "  A program     median $(seconds "$a") s   (rounds: $(tr '\n' ' ' < "$scratch/a")us)"
    echo "  B read        median $(seconds "$b") s"
    echo "  B2 read, seek-skipping hooks  median $(seconds "$b2") s"
    echo "  C dd          median $(seconds "$c") s"
    echo "  D formatting  snprintf $sn ns, formatFixed $fx ns per coordinate"
    echo "  program / (read + dd) = $ratio (target <= 1.5)"
    echo "  program / (read with seek-skipping hooks + dd) = $ratio2"
    echo "  snprintf / formatFixed = $formatRatio (target >= 20)"
    echo "  program peak RSS $rssMb MB (largest of $rounds runs; target < 20 MB), read tool $readRssMb MB"
    echo "  output identical in every run: $identical"
    echo
    [ "$identical" = yes ] || status=1
    table+=$'\n'"| $name | $records | $vertices | $mb | $(seconds "$a") | $(seconds "$b") | $(seconds "$b2") | $(seconds "$c") | $ratio | $ratio2 | $sn | $fx | $formatRatio | $rssMb | $readRssMb |"
done

# The layer metadata rows.
if [ "$referenceOnly" = no ]; then
: > "$scratch/r"; : > "$scratch/u"; : > "$scratch/t"; : > "$scratch/urss"
for name in roads roads_utm roads_utf8; do "$program" "$layers/$name.shp" TYPE NAME > /dev/null; done
utmReference="$(sha256sum < "$layers/roads_utm.shp.mp")"
utf8Identical=yes
cmp -s "$layers/roads.shp.mp" "$layers/roads_utf8.shp.mp" || utf8Identical=no
utmIdentical=yes
for ((round = 1; round <= rounds; ++round)); do
    start="$(now)"; "$program" "$layers/roads.shp" TYPE NAME > /dev/null; echo $(($(now) - start)) >> "$scratch/r"
    start="$(now)"
    /usr/bin/time -v -o "$scratch/time.txt" "$program" "$layers/roads_utm.shp" TYPE NAME > /dev/null
    echo $(($(now) - start)) >> "$scratch/u"
    sed -n 's/.*Maximum resident set size (kbytes): //p' "$scratch/time.txt" >> "$scratch/urss"
    [ "$(sha256sum < "$layers/roads_utm.shp.mp")" = "$utmReference" ] || utmIdentical=no
    start="$(now)"; "$program" "$layers/roads_utf8.shp" TYPE NAME > /dev/null; echo $(($(now) - start)) >> "$scratch/t"
    cmp -s "$layers/roads.shp.mp" "$layers/roads_utf8.shp.mp" || utf8Identical=no
done
r="$(median < "$scratch/r")"; u="$(median < "$scratch/u")"; t="$(median < "$scratch/t")"
utmRatio="$(awk -v u="$u" -v r="$r" 'BEGIN { printf "%.2f", u / r }')"
utf8Ratio="$(awk -v t="$t" -v r="$r" 'BEGIN { printf "%.2f", t / r }')"
utmRss="$(sort -g "$scratch/urss" | tail -n1 | awk '{ printf "%.1f", $1 / 1024 }')"
echo "layer metadata (roads):"
echo "  R WGS 84           median $(seconds "$r") s   (rounds: $(tr '\n' ' ' < "$scratch/r")us)"
echo "  U UTM zone 33N     median $(seconds "$u") s   (rounds: $(tr '\n' ' ' < "$scratch/u")us), peak RSS $utmRss MB"
echo "  T .cpg UTF-8       median $(seconds "$t") s   (rounds: $(tr '\n' ' ' < "$scratch/t")us)"
echo "  converted / WGS 84 = $utmRatio (target <= 2.5)"
echo "  declared UTF-8 / undeclared = $utf8Ratio (target about 1; output identical: $utf8Identical)"
echo "  UTM output identical in every run: $utmIdentical"
echo
[ "$utmIdentical" = yes ] && [ "$utf8Identical" = yes ] || status=1
fi

# The reference rows: the same projected layers through the program of
# another commit, alternating with this one.
if [ -n "$referenceRev" ]; then
    referenceTable="| layer | reference $referenceRev s | this s | this / reference | reference CPU s | this CPU s | CPU this / reference | same output |"
    referenceTable+=$'\n'"|---|---:|---:|---:|---:|---:|---:|---|"
    for name in roads_utm roads_dhdn; do
        layer="$layers/$name.shp"
        "$referenceProgram" "$layer" TYPE NAME > /dev/null
        mv "$layer.mp" "$scratch/reference.mp"
        "$program" "$layer" TYPE NAME > /dev/null
        same=yes
        cmp -s "$layer.mp" "$scratch/reference.mp" || same=no
        # Wall clock, and CPU time (user + system, from time -f), which
        # the other jobs of a shared machine disturb less.
        : > "$scratch/o"; : > "$scratch/n"; : > "$scratch/ocpu"; : > "$scratch/ncpu"
        for ((round = 1; round <= rounds; ++round)); do
            start="$(now)"
            /usr/bin/time -f "%U %S" -o "$scratch/time.txt" "$referenceProgram" "$layer" TYPE NAME > /dev/null
            echo $(($(now) - start)) >> "$scratch/o"
            awk '{ printf "%d\n", ($1 + $2) * 1e6 }' "$scratch/time.txt" >> "$scratch/ocpu"
            start="$(now)"
            /usr/bin/time -f "%U %S" -o "$scratch/time.txt" "$program" "$layer" TYPE NAME > /dev/null
            echo $(($(now) - start)) >> "$scratch/n"
            awk '{ printf "%d\n", ($1 + $2) * 1e6 }' "$scratch/time.txt" >> "$scratch/ncpu"
        done
        o="$(median < "$scratch/o")"; n="$(median < "$scratch/n")"
        oCpu="$(median < "$scratch/ocpu")"; nCpu="$(median < "$scratch/ncpu")"
        ratio="$(awk -v n="$n" -v o="$o" 'BEGIN { printf "%.2f", n / o }')"
        cpuRatio="$(awk -v n="$nCpu" -v o="$oCpu" 'BEGIN { printf "%.2f", n / o }')"
        echo "$name against $referenceRev:"
        echo "  O reference    median $(seconds "$o") s, CPU $(seconds "$oCpu") s   (rounds: $(tr '\n' ' ' < "$scratch/o")us)"
        echo "  N this         median $(seconds "$n") s, CPU $(seconds "$nCpu") s   (rounds: $(tr '\n' ' ' < "$scratch/n")us)"
        echo "  this / reference = $ratio, CPU $cpuRatio (target <= 1.1); same output: $same"
        echo
        referenceTable+=$'\n'"| $name | $(seconds "$o") | $(seconds "$n") | $ratio | $(seconds "$oCpu") | $(seconds "$nCpu") | $cpuRatio | $same |"
    done
    echo "$referenceTable"
    echo
fi

[ "$referenceOnly" = no ] && echo "$table"
echo
echo "load average after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$status" -ne 0 ]; then echo "FAILED: the program's output differed between runs" >&2; fi
exit "$status"
