#!/usr/bin/env bash
# Makes the Debian package of a build into a directory of its own (the build's tree is left
# as it is) and checks its control fields and the files it installs.
# Usage: check_package.sh <build directory> <version>
set -euo pipefail
build=$1
version=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; exit 1; }

arch=$(dpkg --print-architecture)
deb=$work/lumidor_${version}_${arch}.deb
[ -f "$deb" ] || { ls "$work" >&2; echo "FAIL: no $(basename "$deb")" >&2; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
# The package names of a relation field, one a line, without versions or alternatives.
names() { field "$1" | tr ',|' '\n' | sed -e 's/(.*)//' -e 's/[[:space:]]//g' | sed '/^$/d'; }

[ "$(field Package)" = lumidor ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
field Description | grep -q Italian || fail "the Description does not say the interface is Italian"
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libpcsclite1 libjsoncpp25 \
    libp11-kit0 libssl3; do
    names Depends | grep -qx "$lib" || fail "Depends lacks $lib: $(field Depends)"
done
for p in pcscd opensc-pkcs11; do
    names Recommends | grep -qx "$p" || fail "Recommends lacks $p: $(field Recommends)"
done
names Suggests | grep -qx pcsc-tools || fail "Suggests lacks pcsc-tools: $(field Suggests)"

# Every file of the package, and nothing else: no test programs, libraries or headers.
expected="./usr/bin/lumidor
./usr/bin/lumidor-check
./usr/share/applications/lumidor.desktop
./usr/share/doc/lumidor/changelog.gz
./usr/share/doc/lumidor/copyright
./usr/share/icons/hicolor/256x256/apps/lumidor.png
./usr/share/man/it/man1/lumidor-check.1.gz
./usr/share/man/it/man1/lumidor.1.gz
./usr/share/man/man1/lumidor-check.1.gz
./usr/share/man/man1/lumidor.1.gz
./usr/share/metainfo/example.lumidor.lumidor.metainfo.xml"
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
[ "$files" = "$expected" ] || fail "the files are not the expected ones:
$(diff <(echo "$expected") <(echo "$files"))"
owners=$(dpkg-deb -c "$deb" | awk '{ print $2 }' | sort -u)
[ "$owners" = root/root ] || fail "files not owned by root: $owners"

root=$work/root
dpkg-deb -x "$deb" "$root"
for program in lumidor lumidor-check; do
    path=$root/usr/bin/$program
    [ -x "$path" ] || fail "$program is not executable"
    readelf -S "$path" | grep -q '\.debug_info' && fail "$program is not stripped"
    missing=$(ldd "$path" | grep 'not found' || true)
    [ -z "$missing" ] || fail "$program needs libraries that are not here: $missing"
done
for f in $(grep -v '/bin/' <<<"$expected"); do
    [ "$(stat -c %a "$root/$f")" = 644 ] || fail "$f has mode $(stat -c %a "$root/$f")"
done

# Errors and warnings; hints are advice.
problems=$(desktop-file-validate --no-hints "$root/usr/share/applications/lumidor.desktop" 2>&1) ||
    true
[ -z "$problems" ] || fail "the desktop entry is not valid: $problems"
grep -qx 'Exec=lumidor' "$root/usr/share/applications/lumidor.desktop" ||
    fail "the desktop entry does not start lumidor"

for page in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/man/it/man1/*.gz \
    "$root/usr/share/doc/lumidor/changelog.gz"; do
    gzip -t "$page" || fail "$page is not gzipped"
    # gzip -n: no time stamp in the header (bytes 4 to 7), so builds are reproducible.
    [ "$(od -An -tu4 -j4 -N4 "$page" | tr -d ' ')" = 0 ] || fail "$page's gzip has a time stamp"
done
for page in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/man/it/man1/*.gz; do
    program=$(basename "$page" .1.gz)
    rendered=$(MANWIDTH=80 man --warnings -l "$page" 2>"$work/man.err") || fail "man cannot read $page"
    [ ! -s "$work/man.err" ] || fail "man warns on $page: $(cat "$work/man.err")"
    grep -q "$program" <<<"$rendered" || fail "$page does not name $program"
done
grep -q 'DESCRIPTION' <(MANWIDTH=80 man -l "$root/usr/share/man/man1/lumidor.1.gz") ||
    fail "the English manual page has no DESCRIPTION"
grep -q 'DESCRIZIONE' <(MANWIDTH=80 man -l "$root/usr/share/man/it/man1/lumidor.1.gz") ||
    fail "the Italian manual page has no DESCRIZIONE"
gzip -dc "$root/usr/share/doc/lumidor/changelog.gz" >"$work/changelog"
[ "$(dpkg-parsechangelog -l "$work/changelog" -S Version)" = "$version" ] ||
    fail "the changelog's version is not $version"
appstreamcli validate --no-net "$root/usr/share/metainfo/example.lumidor.lumidor.metainfo.xml" \
    >"$work/appstream.log" 2>&1 || fail "the AppStream metainfo is not valid: $(cat "$work/appstream.log")"

grep -q Lumidor "$root/usr/share/doc/lumidor/copyright" || fail "the copyright file does not name Lumidor"

[ "$failures" -eq 0 ] || exit 1
echo "$(basename "$deb"): fields and files as expected"
