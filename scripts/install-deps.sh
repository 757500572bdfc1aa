#!/usr/bin/env bash
# Installs what building (and, with --test, testing) needs and is missing,
# through apt-get on Debian or Ubuntu, as root or through sudo.
set -euo pipefail

for_tests=0
[ "${1:-}" = "--test" ] && for_tests=1

missing=()
have() { command -v "$1" >/dev/null 2>&1; }

# True when at least one of the given paths exists.
any_exists() {
    local path
    for path in "$@"; do [ -e "$path" ] && return 0; done
    return 1
}

have c++ || have g++ || missing+=(g++)
have cmake || missing+=(cmake)
have pkg-config || missing+=(pkg-config)
{ [ -f /usr/include/shapefil.h ] && any_exists /usr/lib/*/pkgconfig/shapelib.pc /usr/lib/pkgconfig/shapelib.pc; } \
    || missing+=(libshp-dev)
# PROJ with its database of coordinate systems, ICU for code pages.
{ [ -f /usr/include/proj.h ] && any_exists /usr/lib/*/pkgconfig/proj.pc /usr/lib/pkgconfig/proj.pc; } \
    || missing+=(libproj-dev)
[ -f /usr/share/proj/proj.db ] || missing+=(proj-data)
{ [ -f /usr/include/unicode/ucnv.h ] && any_exists /usr/lib/*/pkgconfig/icu-i18n.pc /usr/lib/pkgconfig/icu-i18n.pc; } \
    || missing+=(libicu-dev)
if [ "$for_tests" = 1 ]; then
    { [ -f /usr/include/gtest/gtest.h ] && any_exists /usr/lib/*/libgtest.a /usr/lib/libgtest.a; } \
        || missing+=(libgtest-dev)
    have groff || missing+=(groff-base)
    # cs2cs, PROJ's own tool, is the reference of the coordinate tests.
    have cs2cs || missing+=(proj-bin)
fi

if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif have sudo; then
    sudo=(sudo)
else
    echo "These packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
