#!/usr/bin/env bash
# Throughput benchmark of the converter; see bench/README.md.
#
#   bench/run.sh [--scale S] [--rounds N] [--build DIR] [--only LIST] [--against REV]
#
# LIST is a comma-separated choice of the parts below: throughput,
# metadata, text, cjk, against (default: the first four, and against when
# --against is given).
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
# text: the points layer three ways, alternating S N D S N D ...:
#   S  orvtessel pois.shp TYPE NAME        (nothing declared, built-in header
#      in code page 1250: the table is read once before the first section)
#   N  the same with a dictionary that declares no code page (not read first)
#   D  pois_1250: the same files with a .cpg saying 1250, the map's own
# and prints S / N (target <= 1.1) and D / N.
#
# cjk: 20,000 points at scale 1 labelled with 84 CJK characters (UTF-8,
# into code page 1250), alternating C R I H ...:
#   C  orvtessel cjk.shp TYPE NAME         (every label different)
#   R  orvtessel cjk_repeat.shp TYPE NAME  (labels drawn from 200)
#   I  uconv -x "Any-Latin; Latin-ASCII" on cjk's labels (ICU's own tool,
#      the transliterator the program uses)
#   H  uconv -x "Han-Latin; Latin-ASCII" on the same (ICU's one for Han)
# and prints C / I, C / H and C / R.
#
# against REV: builds the program of git revision REV next to this one
# (git archive into DIR/against-REV) and alternates REV and this tree on
# roads, areas and pois, and on the projected roads_utm and roads_dhdn
# (DHDN / Gauss-Kruger zone 4, EPSG:31468), for N rounds; prints this / REV
# for each layer.
set -euo pipefail

scale=1
rounds=3
build=""
only=""
against=""
while [ $# -gt 0 ]; do
    case "$1" in
        --scale) scale="$2"; shift 2 ;;
        --rounds) rounds="$2"; shift 2 ;;
        --build) build="$2"; shift 2 ;;
        --only) only="$2"; shift 2 ;;
        --against) against="$2"; shift 2 ;;
        -h|--help) sed -n '2,50p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
if ! [[ "$rounds" =~ ^[1-9][0-9]*$ ]]; then echo "--rounds needs a positive number" >&2; exit 2; fi
if [ -z "$only" ]; then
    only="throughput,metadata,text,cjk"
    [ -z "$against" ] || only+=",against"
fi
want() { [[ ",$only," == *",$1,"* ]]; }
if want against && [ -z "$against" ]; then echo "the against part needs --against REV" >&2; exit 2; fi

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
if [ ! -f "$layers/metadata-complete" ]; then
    "$projector" "$layers/roads.shp" 32633 "$layers/roads_utm"
    for ext in shp shx dbf; do cp "$layers/roads.$ext" "$layers/roads_utf8.$ext"; done
    echo UTF-8 > "$layers/roads_utf8.cpg"
    touch "$layers/metadata-complete"
fi
# DHDN / 3-degree Gauss-Kruger zone 4 (EPSG:31468): several candidate
# operations, a grid among them, and most of the layer outside Germany.
if want against && [ ! -f "$layers/roads_dhdn.prj" ]; then
    "$projector" "$layers/roads.shp" 31468 "$layers/roads_dhdn"
fi

if [ ! -f "$layers/text-complete" ]; then
    for ext in shp shx dbf; do cp "$layers/pois.$ext" "$layers/pois_1250.$ext"; done
    echo 1250 > "$layers/pois_1250.cpg"
    printf '[IMG ID]\r\nID=1\r\nName=bench\r\n[END-IMG ID]\r\n\r\n' > "$layers/no_code_page.txt"
    "$generator" --cjk --scale "$scale" "$layers"
    touch "$layers/text-complete"
fi

# The program of another revision, built once per revision.
if want against; then
    againstDir="$build/against-$against"
    if [ ! -x "$againstDir/build/orvtessel" ]; then
        rm -rf "$againstDir"
        mkdir -p "$againstDir/src"
        git -C "$root" archive "$against" | tar -x -C "$againstDir/src"
        cmake -S "$againstDir/src" -B "$againstDir/build" -DCMAKE_BUILD_TYPE=Release \
            -DORVTESSEL_BUILD_TESTS=OFF > "$againstDir/configure.log" 2>&1 \
            || { cat "$againstDir/configure.log" >&2; exit 1; }
        cmake --build "$againstDir/build" -j2 --target orvtessel > "$againstDir/build.log" 2>&1 \
            || { cat "$againstDir/build.log" >&2; exit 1; }
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
    want throughput || break
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

if want metadata; then
    # The layer metadata rows.
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

# timeRuns FILE COMMAND...: appends the command's wall-clock microseconds.
timeRuns() {
    local file="$1"; shift
    local start; start="$(now)"
    "$@" > /dev/null
    echo $(($(now) - start)) >> "$file"
}
ratioOf() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
roundsOf() { tr '\n' ' ' < "$1"; }

if want text; then
    : > "$scratch/s"; : > "$scratch/n"; : > "$scratch/d"
    pois="$layers/pois.shp"
    for ((round = 1; round <= rounds; ++round)); do
        timeRuns "$scratch/s" "$program" "$pois" TYPE NAME
        timeRuns "$scratch/n" "$program" "$pois" TYPE NAME y "$layers/no_code_page.txt"
        timeRuns "$scratch/d" "$program" "$layers/pois_1250.shp" TYPE NAME
    done
    sMedian="$(median < "$scratch/s")"; nMedian="$(median < "$scratch/n")"; dMedian="$(median < "$scratch/d")"
    echo "text (pois):"
    echo "  S undeclared, read first  median $(seconds "$sMedian") s   (rounds: $(roundsOf "$scratch/s")us)"
    echo "  N no map code page        median $(seconds "$nMedian") s   (rounds: $(roundsOf "$scratch/n")us)"
    echo "  D .cpg 1250               median $(seconds "$dMedian") s   (rounds: $(roundsOf "$scratch/d")us)"
    echo "  read first / not read = $(ratioOf "$sMedian" "$nMedian") (target <= 1.1)"
    echo "  declared / not read = $(ratioOf "$dMedian" "$nMedian")"
    echo
fi

if want cjk; then
    # ICU's own tool is the yardstick; without it only the program's rows.
    haveUconv=yes
    command -v uconv > /dev/null || haveUconv=no
    : > "$scratch/cc"; : > "$scratch/cr"; : > "$scratch/ci"; : > "$scratch/ch"
    for ((round = 1; round <= rounds; ++round)); do
        timeRuns "$scratch/cc" "$program" "$layers/cjk.shp" TYPE NAME
        timeRuns "$scratch/cr" "$program" "$layers/cjk_repeat.shp" TYPE NAME
        [ "$haveUconv" = yes ] || continue
        timeRuns "$scratch/ci" uconv -f utf-8 -t utf-8 -x "Any-Latin; Latin-ASCII" "$layers/cjk.txt"
        timeRuns "$scratch/ch" uconv -f utf-8 -t utf-8 -x "Han-Latin; Latin-ASCII" "$layers/cjk.txt"
    done
    cc="$(median < "$scratch/cc")"; cr="$(median < "$scratch/cr")"
    echo "cjk ($(wc -l < "$layers/cjk.txt") labels of 84 characters):"
    echo "  C program, all different   median $(seconds "$cc") s   (rounds: $(roundsOf "$scratch/cc")us)"
    echo "  R program, 200 repeated    median $(seconds "$cr") s   (rounds: $(roundsOf "$scratch/cr")us)"
    if [ "$haveUconv" = yes ]; then
        ci="$(median < "$scratch/ci")"; ch="$(median < "$scratch/ch")"
        echo "  I uconv Any-Latin          median $(seconds "$ci") s   (rounds: $(roundsOf "$scratch/ci")us)"
        echo "  H uconv Han-Latin          median $(seconds "$ch") s   (rounds: $(roundsOf "$scratch/ch")us)"
        echo "  program / ICU Any-Latin = $(ratioOf "$cc" "$ci"), program / ICU Han-Latin = $(ratioOf "$cc" "$ch")"
    else
        echo "  (uconv, from ICU's tools, not found: no ICU rows)"
    fi
    echo "  all different / repeated = $(ratioOf "$cc" "$cr")"
    echo
fi

if want against; then
    againstProgram="$againstDir/build/orvtessel"
    echo "against $against ($(git -C "$root" rev-parse --short "$against")), option-less runs:"
    for name in roads areas pois roads_utm roads_dhdn; do
        layer="$layers/$name.shp"
        # WGS 84 layers must stay within 1.05 of the older program, the
        # projected ones (every vertex converted) within 1.1.
        target=1.05
        [ "$name" = roads_utm ] || [ "$name" = roads_dhdn ] && target=1.1
        # Untimed: page cache warm, and both outputs compared.
        "$againstProgram" "$layer" TYPE NAME > /dev/null
        mv "$layer.mp" "$scratch/against.mp"
        "$program" "$layer" TYPE NAME > /dev/null
        same=yes
        cmp -s "$layer.mp" "$scratch/against.mp" || same=no
        rm -f "$scratch/against.mp"
        : > "$scratch/old"; : > "$scratch/new"
        for ((round = 1; round <= rounds; ++round)); do
            timeRuns "$scratch/old" "$againstProgram" "$layer" TYPE NAME
            timeRuns "$scratch/new" "$program" "$layer" TYPE NAME
        done
        old="$(median < "$scratch/old")"; new="$(median < "$scratch/new")"
        echo "  $name: $against median $(seconds "$old") s, this tree $(seconds "$new") s," \
            "this / $against = $(ratioOf "$new" "$old") (target <= $target), same output: $same"
        echo "    rounds $against: $(roundsOf "$scratch/old")us"
        echo "    rounds this:  $(roundsOf "$scratch/new")us"
    done
    echo
fi

if want throughput; then
    echo "$table"
    echo
fi
echo "load average after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$status" -ne 0 ]; then echo "FAILED: the program's output differed between runs" >&2; fi
exit "$status"
