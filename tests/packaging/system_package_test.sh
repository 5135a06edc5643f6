#!/usr/bin/env bash
# The Debian package, made as scripts/package.sh makes it in a build folder
# of its own: its files and control fields, lintian and the AppStream
# validator, and the program unpacked into a scratch root and started on a
# private X server with a scratch home, where a START must write one picture
# into the pictures folder and nothing else. Nothing is installed.
# usage: system_package_test.sh SOURCE_DIR PACKAGE_BUILD_DIR
set -uo pipefail
source=$1 build=$2 work=$(mktemp -d) pids=() failures=0
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
fail() {
    echo "FAIL [$row]: $*" >&2
    failures=$((failures + 1))
}
give_up() {
    fail "$@"
    exit 1
}

row=build
bash "$source/scripts/package.sh" "$build" >"$work/log" 2>&1 || give_up "$(tail -30 "$work/log")"
version=$(sed -n 's/^project(quarlo VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
deb=$build/quarlo_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || give_up "no $deb: $(ls "$build")"

row="file list"
icons=""
for side in 32 48 64 128 256; do icons+="./usr/share/icons/hicolor/${side}x$side/apps/quarlo.png"$'\n'; done
expected=$(sort <<EOF
./usr/bin/quarlo
./usr/share/applications/quarlo.desktop
./usr/share/doc/quarlo/changelog.gz
./usr/share/doc/quarlo/copyright
${icons}./usr/share/man/man1/quarlo.1.gz
./usr/share/metainfo/invalid.quarlo.Quarlo.metainfo.xml
./usr/share/quarlo/Color.Ini
EOF
)
got=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$got" = "$expected" ] || fail "$(diff <(echo "$expected") <(echo "$got"))"

row="control fields"
field() { dpkg-deb -f "$deb" "$1"; }
# The libraries come from dpkg-shlibdeps, each with a version bound.
for lib in libc6 libqt6widgets6 libhwy1 libstdc++6; do
    [[ ", $(field Depends)" == *", $lib (>= "* ]] || fail "Depends: $(field Depends)"
done
[ "$(field Recommends)" = fonts-ipafont-gothic ] || fail "Recommends: $(field Recommends)"
# The scratch area the program sees: the unpacked tree, a home, a
# configuration folder and a working folder. The test's own files stay out.
area=$work/area root=$work/area/root
mkdir -p "$root" "$area/home" "$area/config" "$area/cwd" "$work/run"
chmod 700 "$work/run"
dpkg-deb -x "$deb" "$root" || give_up "dpkg-deb -x"
zcat "$root/usr/share/doc/quarlo/changelog.gz" >"$work/changelog"
changed=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
[ "$changed" = "$version" ] || fail "the changelog's version is $changed, the package's $version"
grep -q "<release version=\"$version\"" "$root"/usr/share/metainfo/*.xml || fail "no release $version"
cmp -s "$root/usr/share/quarlo/Color.Ini" "$source/data/Color.Ini" || fail "the shipped palette"
! readelf -d "$root/usr/bin/quarlo" | grep -E 'RPATH|RUNPATH' || fail "a library search path"
cmp -s "$root/usr/share/icons/hicolor/32x32/apps/quarlo.png" "$build/packaging/quarlo.png" ||
    fail "the 32 px icon is not the one drawn"

row=lintian # no error or warning; the remaining notes are listed in the README
lintian "$deb" >"$work/lintian" 2>&1
grep -E '^[EW]: ' "$work/lintian" && fail "$(cat "$work/lintian")"

row=appstream
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml >"$work/as" 2>&1 || fail "$(cat "$work/as")"
desktop-file-validate "$root/usr/share/applications/quarlo.desktop" || fail "desktop entry"
grep -qx 'Exec=quarlo' "$root/usr/share/applications/quarlo.desktop" || fail "Exec"

# A private X server for the program.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=:$(head -1 "$work/display")
[ "$display" != : ] || give_up "Xvfb did not start"

names() { (cd "$area" && find . | sort); }

# The pixel at (x, y) from the top of a 24-bit bottom-up BMP, as BBGGRR:
# the palette's own notation.
pixel() {
    local data height stride
    [ "$(od -An -tu2 -j28 -N2 "$1" | tr -d ' ')" = 24 ] || { echo "not 24-bit" && return; }
    data=$(od -An -tu4 -j10 -N4 "$1" | tr -d ' ')
    height=$(od -An -tu4 -j22 -N4 "$1" | tr -d ' ')
    stride=$((($(od -An -tu4 -j18 -N4 "$1" | tr -d ' ') * 3 + 3) / 4 * 4))
    od -An -tx1 -j$((data + (height - 1 - $3) * stride + $2 * 3)) -N3 "$1" | tr -d ' \n' | tr a-f A-F
}

# start: starts the unpacked program from a scratch working folder with home
# and configuration in the scratch area, presses START and waits for the
# picture; the program is stopped before it returns. Run as root, as CI runs
# it, the program could write into the unpacked tree: it must not.
start() {
    local pid window=""
    env -i PATH="$PATH" HOME="$area/home" XDG_CONFIG_HOME="$area/config" DISPLAY="$display" \
        QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/run" \
        bash -c 'cd "$1" && exec "$2"' - "$area/cwd" "$root/usr/bin/quarlo" >"$work/log" 2>&1 &
    pid=$!
    pids+=($pid)
    for _ in $(seq 200); do
        window=$(DISPLAY=$display xdotool search --onlyvisible --name '^QUARLOVINE SET   V4610A$' 2>/dev/null | head -1)
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || { fail "no control window: $(cat "$work/log")" && kill "$pid" && return; }
    # A click before the start-up ends waits in the queue: the program
    # reads no event until then.
    DISPLAY=$display xdotool mousemove --window "$window" 220 56 click 1
    for _ in $(seq 300); do [ -f "$pictures/M000.Bmp" ] && break; sleep 0.1; done
    sleep 0.5 # saved, loaded back, and any message box shown
    [ -z "$(DISPLAY=$display xdotool search --onlyvisible --name '^Quarlo$' 2>/dev/null)" ] ||
        fail "a message box"
    kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$work/log")"
    kill "$pid"
    wait "$pid" 2>/dev/null
}

pictures=$area/home/Pictures/Quarlo/Bmp
user_palette=$area/config/quarlo/Color.Ini
made=$(printf '%s\n' ./home/Pictures ./home/Pictures/Quarlo ./home/Pictures/Quarlo/Bmp \
    ./home/Pictures/Quarlo/Bmp/M000.Bmp)
for row in "shipped palette" "user's palette"; do
    rm -rf "$area/home/Pictures"
    if [ "$row" = "user's palette" ]; then
        mkdir -p "${user_palette%/*}"
        for _ in $(seq 24); do echo 0000FF; done >"$user_palette"
    fi
    names >"$work/names"
    (cd "$area" && find . -type f -exec md5sum {} +) >"$work/sums"
    start
    # The picture and its folders are all that is new; every other file, the
    # unpacked tree's included, is as it was.
    new=$(comm -13 "$work/names" <(names))
    [ "$new" = "$made" ] || fail "written: $new"
    (cd "$area" && md5sum -c --quiet "$work/sums") >"$work/changed" 2>&1 ||
        fail "changed or removed: $(cat "$work/changed")"
    [ -f "$pictures/M000.Bmp" ] || continue
    # Near the top of the circle of radius 2 (the corners, outside it, are
    # white): a colour of the palette read.
    colour=$(pixel "$pictures/M000.Bmp" 400 10)
    if [ "$row" = "user's palette" ]; then
        [ "$colour" = 0000FF ] || fail "pixel $colour, not the user's palette"
    else
        tr -d '\r' <"$root/usr/share/quarlo/Color.Ini" | grep -qx "$colour" ||
            fail "pixel $colour, not the shipped palette"
    fi
done

[ "$failures" -eq 0 ] || { echo "$failures failures" >&2 && exit 1; }
