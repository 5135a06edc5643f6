#!/usr/bin/env bash
# The program folder from `cmake --install` and from cpack, add-to-desktop.sh,
# and a configuration without the test libraries.
# usage: install_package_test.sh CMAKE CPACK BUILD_DIR SOURCE_DIR
set -uo pipefail
cmake=$1 cpack=$2 build=$3 source=$4 work=$(mktemp -d) pid="" failures=0
trap '[ -z "$pid" ] || { kill "$pid"; wait "$pid"; }; rm -rf "$work"' EXIT
fail() {
    echo "FAIL [$row]: $*" >&2
    failures=$((failures + 1))
}
icon=share/icons/hicolor/32x32/apps/quarlo.png

key() { sed -n "s/^$2=//p" "$1" | sed 's/\\\\/\\/g'; }

# Exec's one quoted argument as a launcher reads it: %% is %, any other % a
# field code, and a backslash takes the next character literally.
exec_path() {
    local v=$1 out="" i c
    [[ $v == \"*\" ]] || { echo "<unquoted>"; return; }
    for ((i = 1; i < ${#v} - 1; i++)); do
        c=${v:i:1}
        case $c in
        %) i=$((i + 1)) && [ "${v:i:1}" = % ] || { echo "<field code>"; return; } ;;
        \\) i=$((i + 1)) && c=${v:i:1} ;;
        \") echo "<bare quote>" && return ;;
        esac
        out+=$c
    done
    printf '%s' "$out"
}

check_entry() { # ENTRY FOLDER ICON
    desktop-file-validate "$1" >"$work/v" 2>&1 && [ ! -s "$work/v" ] || fail "$(cat "$work/v")"
    [ "$(exec_path "$(key "$1" Exec)")" = "$2/quarlo" ] || fail "Exec=$(key "$1" Exec)"
    [ "$(key "$1" Icon)" = "$3" ] || fail "Icon=$(key "$1" Icon)"
}

check_folder() { # DIR FOLDER: DIR holds a fresh program folder named FOLDER
    [ -x "$1/quarlo" ] && [ -x "$1/add-to-desktop.sh" ] && [ ! -e "$1/Bmp" ] || fail "files in $1"
    cmp -s "$1/Color.Ini" "$source/data/Color.Ini" || fail "Color.Ini"
    cmp -s "$1/$icon" "$build/packaging/quarlo.png" || fail "the icon is not the one drawn"
    check_entry "$1/share/applications/quarlo.desktop" "$2" "$2/$icon"
}

odd='dir "q" $H %f `x`' # CMake itself cannot install under a backslash
for r in "plain|$work/plain|$work/plain" "odd|$work/$odd|$work/$odd" "relative|rel|$work/rel"; do
    IFS='|' read -r row prefix folder <<<"$r"
    (cd "$work" && "$cmake" --install "$build" --prefix "$prefix" >/dev/null) || fail "install"
    check_folder "$folder" "$folder"
done
row=DESTDIR
DESTDIR=$work/stage "$cmake" --install "$build" --prefix /opt/q >/dev/null || fail "install"
check_folder "$work/stage/opt/q" /opt/q
row=backslash
bash "$source/packaging/add-to-desktop.sh" --print-entry '/a\b' >"$work/b.desktop"
check_entry "$work/b.desktop" '/a\b' "/a\\b/$icon"

row="again over an edited palette"
printf 0000FF >"$work/plain/Color.Ini"
"$cmake" --install "$build" --prefix "$work/plain" >/dev/null || fail "install"
[ "$(cat "$work/plain/Color.Ini")" = 0000FF ] || fail "the user's palette was replaced"
cp "$source/data/Color.Ini" "$work/plain/"

row=add-to-desktop
data=$work/home/.local/share
mkdir -p "$data/applications"
printf '[Desktop Entry]\nType=Application\nName=Other\nExec=other\n' >"$data/applications/other.desktop"
listing() { (cd "$data" && find . -type f -exec md5sum {} + | sort); }
before=$(listing)
for folder in "$work/plain" "$work/moved"; do # the entries follow a moved folder
    [ -d "$folder" ] || mv "$work/plain" "$folder"
    env -u XDG_DATA_HOME HOME="$work/home" "$folder/add-to-desktop.sh" >/dev/null </dev/null || fail "$folder"
    check_entry "$data/applications/quarlo.desktop" "$folder" quarlo
    check_folder "$folder" "$folder"
done
cmp -s "$data/icons/hicolor/32x32/apps/quarlo.png" "$build/packaging/quarlo.png" || fail "icon not copied"
env -u XDG_DATA_HOME HOME="$work/home" "$work/moved/add-to-desktop.sh" --remove >/dev/null
[ "$(listing)" = "$before" ] || fail "other files changed, or ours left: $(listing)"

row=package
version=$(sed -n 's/^project(quarlo VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
"$cpack" --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null || fail "cpack"
mkdir "$work/un packed"
tar -xzf "$work"/pkg/quarlo-"$version"-Linux-*.tar.gz -C "$work/un packed" || fail "no package $version"
dirs=("$work/un packed"/*)
dir=${dirs[0]}
[ ${#dirs[@]} -eq 1 ] || fail "top folders: ${dirs[*]}"
desktop-file-validate "$dir/share/applications/quarlo.desktop" || fail "packed entry"
! grep -qF "$work" "$dir/share/applications/quarlo.desktop" || fail "the packed entry names the staging folder"
HOME=$work/home "$dir/add-to-desktop.sh" >/dev/null </dev/null || fail "add-to-desktop.sh"
check_folder "$dir" "$dir"

row="first start" # from another folder; Bmp/ is made after the window shows
(cd "$work" && exec env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 "$dir/quarlo" >"$work/log" 2>&1) &
pid=$!
for _ in $(seq 300); do
    if [ -d "$dir/Bmp" ] || ! kill -0 "$pid" 2>/dev/null; then break; fi
    sleep 0.1
done
sleep 1
[ -d "$dir/Bmp" ] && [ ! -e "$work/Bmp" ] || fail "Bmp/ not in the program folder"
kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$work/log")"

row="BUILD_TESTING=OFF" # looking for a test library is an error here
"$cmake" -S "$source" -B "$work/notest" -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$work/log" 2>&1 || fail "configure: $(cat "$work/log")"
targets=$("$cmake" --build "$work/notest" --target help 2>&1)
grep -q '\.\.\. quarlo$' <<<"$targets" || fail "no quarlo target"
! grep -E '_test$|_bench$|_fuzz$' <<<"$targets" || fail "test targets"

[ "$failures" -eq 0 ] || { echo "$failures failures" >&2 && exit 1; }
