#!/usr/bin/env bash
# Converts the sample layers and the generated layers, then compiles every
# map with mkgmap: a map compiler must accept each file the converter
# writes, every label must reach the compiled map byte for byte, the
# points of a projected layer must land where they belong, each line of a
# type map must reach the levels its end level asks for, and a map built
# from three layers with --append must hold every object of the three.
#
#   compile_maps.sh <orvtessel> <layer generator> <tile reader> <examples folder> <scratch folder>
#
# Exits 77 (reported by CTest as skipped) when mkgmap is not installed.
# ORVTESSEL_MKGMAP names another mkgmap command.
set -uo pipefail

readonly kSkipped=77
if [ "$#" -ne 5 ]; then
    echo "usage: $0 <orvtessel> <layer generator> <tile reader> <examples folder> <scratch folder>" >&2
    exit 2
fi
orvtessel=$1
generator=$2
tileReader=$3
examples=$4
scratch=$5

mkgmap=${ORVTESSEL_MKGMAP:-mkgmap}
if ! command -v "$mkgmap" >/dev/null 2>&1; then
    echo "$mkgmap is not installed (Debian package mkgmap): test skipped"
    exit "$kSkipped"
fi

rm -rf "$scratch"
mkdir -p "$scratch/samples" "$scratch/generated" || exit 1
cp "$examples"/points.* "$examples"/roads.* "$examples"/areas.* "$scratch/samples/" || exit 1
"$generator" "$scratch/generated" || { echo "FAIL: the layer generator failed"; exit 1; }

nFailures=0
fail() {
    echo "FAIL: $*"
    nFailures=$((nFailures + 1))
}

# The bytes of a file as " 4a 0f ... ", with a space before and after each
# byte, so that a byte sequence is only found at byte boundaries.
spacedHexOfFile() {
    printf ' %s ' "$(od -An -v -tx1 "$1" | tr -s ' \n' '  ' | sed 's/^ //; s/ $//')"
}
hexOfText() {
    printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'
}

# runConverter <map file> <arguments...>: runs the converter and checks
# that it reports the map file as written.
runConverter() {
    local map=$1
    shift
    local log
    log=$("$orvtessel" "$@" | tr '\r' '\n')
    if ! grep -qxF "[INF] $map file has been written out." <<<"$log" ||
        grep -qE '^\[(ERR|CRIT)\]' <<<"$log"; then
        fail "orvtessel $*"
        grep '^\[' <<<"$log"
        return 1
    fi
}
# convert <layer> <arguments after the layer...>: runs the converter in the
# layer's folder and checks that it reports <layer>.mp as written.
convert() {
    runConverter "$1.mp" "$@"
}
# convertTo <map file> <options and arguments...>: the same, writing the
# given map file (or, with -a, adding to it).
convertTo() {
    local map=$1
    shift
    runConverter "$map" -o "$map" "$@"
}

# runMkgmap <output folder> <label options> <map file>...: one mkgmap run
# (one Java VM start) over the maps. mkgmap numbers the tiles 63240001.img,
# 63240002.img, ... in the order of the maps, whatever ID their headers
# give; they are left in the array tiles, in that order.
runMkgmap() {
    local outDir=$1 labelOptions=$2
    shift 2
    mkdir -p "$outDir"
    local log status
    log=$("$mkgmap" --output-dir="$outDir" --transparent $labelOptions --lower-case "$@" 2>&1)
    status=$?
    tiles=("$outDir"/[0-9]*.img)
    if [ "$status" -ne 0 ] || [ ! -f "${tiles[0]}" ] || [ "${#tiles[@]}" -ne "$#" ] ||
        grep -q '^SEVERE' <<<"$log"; then
        fail "mkgmap rejected $* (exit status $status)"
        grep -v '^[[:space:]]*at ' <<<"$log"
        return 1
    fi
}

# checkLabels <map file> <tile> <label file>: the label file lists the
# labels the compiled map must hold, as hexadecimal bytes, one a line.
checkLabels() {
    local map=$1 tile=$2 labels=$3
    # With 8-bit labels (code page 1250) the compiled label table stores
    # each label as its code page bytes followed by a NUL; with --unicode,
    # as its UTF-8 bytes followed by a NUL.
    local tileHex labelHex nLabels=0 nMissing=0
    tileHex=$(spacedHexOfFile "$tile")
    while read -r labelHex; do
        [ -n "$labelHex" ] || continue
        nLabels=$((nLabels + 1))
        if [[ "$tileHex" != *" $(sed 's/../& /g' <<<"$labelHex")00 "* ]]; then
            fail "label bytes $labelHex of $map are not in $tile"
            nMissing=$((nMissing + 1))
        fi
    done <"$labels"
    if [ "$nLabels" -eq 0 ]; then
        fail "no labels to look for in $map"
    elif [ "$nMissing" -eq 0 ]; then
        echo "ok: $map -> $tile ($nLabels labels found)"
    fi
}

# compile <map file> <label file> [<label options>]: one mkgmap run and one
# output folder per map, so that a rejection names its file. The label
# options default to 8-bit labels in code page 1250; --lower-case keeps the
# labels' case.
compile() {
    local map=$1 labels=$2 labelOptions=${3:---code-page=1250}
    runMkgmap "$scratch/img-$(basename "$PWD")/${map%.mp}" "$labelOptions" "$map" &&
        checkLabels "$map" "${tiles[0]}" "$labels"
}

# countSections <map file> <section name>: the number of [<section name>]
# lines of the map.
countSections() {
    tr -d '\r' <"$1" | grep -cxF "[$2]"
}

# The sample layers: the labels are those the converter wrote.
cd "$scratch/samples" || exit 1
for layer in points roads areas; do
    if convert "$layer.shp" TYPE NAME; then
        tr -d '\r' <"$layer.shp.mp" | sed -n 's/^Label=//p' | while IFS= read -r label; do
            hexOfText "$label"
            echo
        done >"$layer.labels"
        compile "$layer.shp.mp" "$layer.labels"
    fi
done

# The generated layers: the labels are those of the attribute table, so the
# bytes are checked from the table to the compiled map.
cd "$scratch/generated" || exit 1
for layer in points lines holes breaks; do
    sed -n "s/^$layer //p" labels.txt >"$layer.labels"
    convert "$layer.shp" TYPE NAME && compile "$layer.shp.mp" "$layer.labels"
done
# A dictionary with the least a compiler needs (the levels) and the bare
# ID= and Name= lines filled from the command line; only the type and label
# columns.
printf '; dictionary of the compiler test\r\n[IMG ID]\r\nID=\r\nName=\r\nCodepage=1250\r\nLBLcoding=9\r\nLevels=2\r\nLevel0=24\r\nLevel1=20\r\nZoom0=0\r\nZoom1=1\r\n[END-IMG ID]\r\n' \
    >dictionary.txt
for ext in shp shx dbf; do cp "holes.$ext" "custom.$ext" || exit 1; done
convert custom.shp TYPE NAME n dictionary.txt 12345678 "Compiler test" &&
    compile custom.shp.mp holes.labels

# A layer in UTM zone 33N with its .prj: every point of the compiled map
# must lie within half a map unit (360/2^24 degrees, 1.07e-5) of the WGS 84
# position the layer was projected from.
if convert utm.shp TYPE NAME; then
    for n in 1 2 3 4; do hexOfText "UTM point $n"; echo; done >utm.labels
    if compile utm.shp.mp utm.labels; then
        tile=$(ls "$scratch/img-generated/utm.shp"/[0-9]*.img | head -n 1)
        if ! "$tileReader" --points "$tile" >utm.read; then
            fail "the tile reader cannot read $tile"
        else
            failuresBefore=$nFailures
            nRead=$(wc -l <utm.read)
            nExpected=$(wc -l <utm.positions)
            [ "$nRead" -eq "$nExpected" ] || fail "utm: $nRead points in the map, $nExpected in the layer"
            # Each expected position needs a point of the map close to it.
            while read -r lat lon; do
                if ! awk -v lat="$lat" -v lon="$lon" '
                    function abs(v) { return v < 0 ? -v : v }
                    abs($1 - lat) <= 1.1e-5 && abs($2 - lon) <= 1.1e-5 { found = 1 }
                    END { exit !found }' utm.read; then
                    fail "utm: no point of the compiled map at $lat $lon (map points: $(tr '\n' ';' <utm.read))"
                fi
            done <utm.positions
            [ "$nFailures" -eq "$failuresBefore" ] && echo "ok: utm points at their WGS 84 positions"
        fi
    fi
fi

# UTF-8 labels, declared by a .cpg: converted to code page 1250 for the
# built-in header, and kept as UTF-8 for a map that declares 65001.
sed -n "s/^utf8 //p" labels.txt >utf8.labels
convert utf8.shp TYPE NAME && compile utf8.shp.mp utf8.labels
for ext in shp shx dbf cpg; do cp "utf8.$ext" "unicode.$ext" || exit 1; done
printf '[IMG ID]\r\nID=\r\nName=\r\nCodepage=65001\r\nLevels=2\r\nLevel0=24\r\nLevel1=20\r\nZoom0=0\r\nZoom1=1\r\n[END-IMG ID]\r\n' \
    >unicode-dictionary.txt
sed -n "s/^utf8-unicode //p" labels.txt >unicode.labels
if convert unicode.shp TYPE NAME n unicode-dictionary.txt 12345679 "Unicode test"; then
    # mkgmap (at least up to r4905) cannot read the header line
    # Codepage=65001 ("UnsupportedCharsetException: cp65001"); with
    # --unicode it needs none, so the line is dropped for the compiler.
    grep -v '^Codepage=65001' unicode.shp.mp >unicode.mp
    compile unicode.mp unicode.labels --unicode
fi

# End levels and a map of three layers, compiled in one mkgmap run.
#
# The classes layer, converted with its type map: each line must be in the
# compiled map at every level from the most detailed up to its end level,
# and only there. The built-in header has 4 levels (bits 24 22 20 18);
# mkgmap keeps the widest one empty, so an end level of 3 reaches level 2.
mapsTogether=()
if convertTo classes.mp --type-map classes.typemap classes.shp TYPE NAME; then
    # The converter's end levels, one per line (0: no EndLevel line), must
    # be those the type map gives the layer's classes.
    classLevels=$(tr -d '\r' <classes.mp | awk '
        $0 == "[POLYLINE]" { inSection = 1; level = 0 }
        inSection && /^EndLevel=/ { level = substr($0, 10) }
        inSection && $0 == "[END]" { print level; inSection = 0 }')
    if [ "$classLevels" != "$(cat classes.levels)" ]; then
        fail "classes.mp: end levels $(tr '\n' ' ' <<<"$classLevels")written, $(tr '\n' ' ' <classes.levels)expected"
    fi
    sed -n "s/^classes //p" labels.txt >classes.labels
    mapsTogether+=(classes.mp)
fi
# The sights (points), then the classes (lines, by the type map) and the
# blocks (areas) added with --append: one header, every section of the
# three layers, and each section one object at the most detailed level.
if ! "$orvtessel" --help | grep -q -- '--append'; then
    fail "orvtessel has no --append option: the map of three layers cannot be built"
elif convertTo three.mp sights.shp TYPE NAME &&
    convertTo three.mp -a --type-map classes.typemap classes.shp TYPE NAME &&
    convertTo three.mp -a blocks.shp TYPE NAME; then
    nHeaders=$(countSections three.mp 'IMG ID')
    [ "$nHeaders" -eq 1 ] || fail "three.mp has $nHeaders [IMG ID] headers, not 1"
    for layerSection in sights:POI classes:POLYLINE blocks:POLYGON; do
        layer=${layerSection%%:*}
        section=${layerSection#*:}
        nRecords=$(grep -c "^$layer " labels.txt)
        nSections=$(countSections three.mp "$section")
        [ "$nSections" -eq "$nRecords" ] ||
            fail "three.mp has $nSections [$section] sections, and $layer.shp $nRecords records"
    done
    sed -n "s/^\(sights\|classes\|blocks\) //p" labels.txt >three.labels
    mapsTogether+=(three.mp)
fi
if [ "${#mapsTogether[@]}" -gt 0 ] &&
    runMkgmap "$scratch/img-generated/together" --code-page=1250 "${mapsTogether[@]}"; then
    for ((m = 0; m < ${#mapsTogether[@]}; m++)); do
        map=${mapsTogether[m]}
        tile=${tiles[m]}
        checkLabels "$map" "$tile" "${map%.mp}.labels"
        if ! counted=$("$tileReader" --levels "$tile"); then
            fail "the tile reader cannot read the levels of $tile"
            continue
        fi
        # The reader's lines: zoom bits points lines areas, from the most
        # detailed level to the widest.
        if [ "$map" = classes.mp ]; then
            # At each level, as many lines as the layer has records whose
            # end level is that level or above; none at the widest.
            expected=$(awk '
                { ++nEndingAt[$1] }
                END {
                    for (zoom = 0; zoom <= 3; ++zoom) {
                        n = 0
                        if (zoom < 3) for (level in nEndingAt) if (level + 0 >= zoom) n += nEndingAt[level]
                        print zoom, 24 - 2 * zoom, 0, n, 0
                    }
                }' classes.levels)
        else
            # At the most detailed level, one object per record.
            expected="0 24 $(grep -c '^sights ' labels.txt) $(grep -c '^classes ' labels.txt) $(grep -c '^blocks ' labels.txt)"
            counted=$(head -n 1 <<<"$counted")
        fi
        if [ "$counted" = "$expected" ]; then
            echo "ok: $map -> objects per level as expected ($(tr '\n' ';' <<<"$counted"))"
        else
            fail "$map: objects per level (zoom bits points lines areas) $(tr '\n' ';' <<<"$counted") in $tile, $(tr '\n' ';' <<<"$expected") expected"
        fi
    done
fi

if [ "$nFailures" -ne 0 ]; then
    echo "$nFailures failures"
    exit 1
fi
echo "every map compiled"
