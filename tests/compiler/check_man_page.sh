#!/usr/bin/env bash
# Checks the man page: groff formats it without a single warning, and its
# text quotes every message the program can print.
#
#   check_man_page.sh <man page> <source folder> <scratch folder>
#
# groff reports problems as warnings on standard error and still exits 0,
# so any output on standard error fails the check.
set -uo pipefail

if [ "$#" -ne 3 ]; then
    echo "usage: $0 <man page> <source folder> <scratch folder>" >&2
    exit 2
fi
manPage=$1
sourceDir=$2
scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch" || exit 1

nFailures=0
fail() {
    echo "FAIL: $*"
    nFailures=$((nFailures + 1))
}

# lint <file> <device>: prints groff's warnings; true when there are none.
lint() {
    local warnings
    warnings=$(groff -man -ww -z -T"$2" "$1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { printf '%s\n' "$warnings"; return 1; }
}

# The check itself must see a fault: an unknown macro and an unknown glyph.
printf '.TH BROKEN 1\n.SH NAME\nbroken \\- a page with faults\n.UNKNOWN\n\\(zz\n' >"$scratch/broken.1"
if lint "$scratch/broken.1" ascii >/dev/null; then
    fail "groff reports nothing for a broken page: this check cannot work here"
fi

# The devices man(1) uses for a terminal, and groff's default.
for device in ps utf8 ascii; do
    lint "$manPage" "$device" || fail "groff -T$device warns about $manPage"
done

# The page as plain text, one paragraph a line (no filling breaks, so no
# hyphenation), runs of spaces squeezed.
text=$(groff -man -Tascii -rLL=3000n -P-cbou "$manPage" 2>/dev/null | tr -s ' ')
if [ -z "$text" ]; then
    fail "$manPage renders to nothing"
fi

# The messages of the program, as patterns: every statement of src/*.cpp
# with a string literal that carries a message tag ([INF], [WRN], [ERR],
# [CRIT]) gives its literals (adjacent ones joined) with one word for each
# gap between them and for each printf conversion (%i, %lli): a path or a
# number in the program, a placeholder such as "layer" or "N" in the page.
# Line ends split a statement into messages.
readonly kGap=$'\x01'
messagePatterns() {
    perl -e '
        local $/;
        for my $file (@ARGV) {
            open(my $in, "<", $file) or die "$file: $!";
            my $code = <$in>;
            my @literals;
            my $adjacent = 0;
            while ($code =~ m{\G(?:("(?:[^"\\\n]|\\.)*")|(\x27(?:[^\x27\\]|\\.)*\x27)|(//[^\n]*)|(/\*.*?\*/)|(;)|(\s+)|(.))}gs) {
                if (defined $1) {
                    my $text = substr($1, 1, -1);
                    if ($adjacent) { $literals[-1] .= $text; } else { push @literals, $text; }
                    $adjacent = 1;
                } elsif (defined $3 || defined $4 || defined $6) {
                    # Comments and space keep adjacent literals adjacent.
                } elsif (defined $5) {
                    print join("\x01", @literals), "\n" if grep { /\[(INF|WRN|ERR|CRIT)\]/ } @literals;
                    @literals = ();
                    $adjacent = 0;
                } else {
                    $adjacent = 0;
                }
            }
        }' "$sourceDir"/*.cpp |
        sed 's/%l*[ids]/'"$kGap"'/g; s/\\"/"/g; s/\\[nr]/\n/g' |
        sed 's/^['"$kGap"' ]*//; s/['"$kGap"' ]*$//' |
        grep -E '\[(INF|WRN|ERR|CRIT)\].' |
        sed 's/[][\.*^$?+(){}|/]/\\&/g; s/'"$kGap"'/[^ ]+/g'
}

nMessages=0
while IFS= read -r pattern; do
    nMessages=$((nMessages + 1))
    grep -qE -- "$pattern" <<<"$text" || fail "the man page does not quote the message /$pattern/"
done < <(messagePatterns)
# The sources hold some twenty messages; finding few means the extraction
# broke, not that the page is complete.
if [ "$nMessages" -lt 15 ]; then
    fail "only $nMessages messages found in $sourceDir/*.cpp"
fi

if [ "$nFailures" -ne 0 ]; then
    echo "$nFailures failures"
    exit 1
fi
echo "man page clean; all $nMessages messages quoted"
