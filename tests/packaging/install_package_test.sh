#!/usr/bin/env bash
# The program folder from `cmake --install` and from cpack: every file is
# there, the desktop entry is valid and points into the folder, the icon is
# the one the build drew, add-to-desktop.sh touches no other entry, and the
# unpacked package starts from another working folder to its first window.
#
# usage: install_package_test.sh CMAKE CPACK BUILD_DIR SOURCE_DIR
set -uo pipefail
cmake=$1 cpack=$2 build=$3 source=$4

command -v desktop-file-validate >/dev/null ||
    { echo "desktop-file-validate is missing (Debian package desktop-file-utils)" >&2; exit 1; }

work=$(mktemp -d)
pid=""
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL [$row]: $*" >&2
    failures=$((failures + 1))
}

# The value of KEY in a desktop entry, its string escapes undone.
value() {
    local v
    v=$(sed -n "s/^$2=//p" "$1")
    v=${v//\\\\/\\}
    printf '%s' "$v"
}

# The one quoted argument of an Exec value, as a launcher reads it: %% is
# a per cent sign, any other % a field code; inside the quotes a backslash
# takes the next character literally.
exec_path() {
    local v=$1 out="" i c
    [[ $v == \"*\" ]] || { printf '<not one quoted argument: %s>' "$v"; return; }
    for ((i = 1; i < ${#v} - 1; i++)); do
        c=${v:i:1}
        if [ "$c" = "%" ]; then
            i=$((i + 1))
            [ "${v:i:1}" = "%" ] || { printf '<field code in: %s>' "$v"; return; }
        elif [ "$c" = "\\" ]; then
            i=$((i + 1))
            c=${v:i:1}
        elif [ "$c" = '"' ]; then
            printf '<unescaped quote in: %s>' "$v"
            return
        fi
        out+=$c
    done
    printf '%s' "$out"
}

valid_entry() {  # ENTRY
    local out
    out=$(desktop-file-validate "$1" 2>&1) || fail "desktop-file-validate $1: $out"
    [ -z "$out" ] || echo "note [$row]: $out"
}

# check_folder DIR FOLDER: DIR holds a complete program folder whose entry
# names FOLDER (DIR itself unless staged under DESTDIR).
check_folder() {
    local dir=$1 folder=$2 entry=$1/share/applications/quarlo.desktop
    [ -x "$dir/quarlo" ] || fail "no executable $dir/quarlo"
    cmp -s "$dir/Color.Ini" "$source/data/Color.Ini" || fail "Color.Ini differs from data/Color.Ini"
    cmp -s "$dir/share/icons/hicolor/32x32/apps/quarlo.png" "$build/packaging/quarlo.png" ||
        fail "the icon differs from the one the build drew"
    [ -x "$dir/add-to-desktop.sh" ] || fail "no add-to-desktop.sh"
    [ ! -e "$dir/Bmp" ] || fail "Bmp/ exists before the first start"
    [ -f "$entry" ] || { fail "no desktop entry"; return; }
    valid_entry "$entry"
    [ "$(exec_path "$(value "$entry" Exec)")" = "$folder/quarlo" ] ||
        fail "Exec is $(value "$entry" Exec), not $folder/quarlo"
    [ "$(value "$entry" Icon)" = "$folder/share/icons/hicolor/32x32/apps/quarlo.png" ] ||
        fail "Icon is $(value "$entry" Icon)"
}

echo "== cmake --install"
# Rows: name, prefix as given, the folder it must become.
# (CMake itself cannot install under a backslash; the entry's escaping of
# one is checked below.)
odd='dir with "quotes" $HOME %f `x`'
rows=(
    "plain|$work/plain|$work/plain"
    "odd characters|$work/$odd|$work/$odd"
    "relative prefix|relative/quarlo|$work/relative/quarlo"
)
for r in "${rows[@]}"; do
    IFS='|' read -r row prefix folder <<<"$r"
    out=$(cd "$work" && "$cmake" --install "$build" --prefix "$prefix" 2>&1) ||
        { fail "install failed: $out"; continue; }
    check_folder "$folder" "$folder"
done
row="DESTDIR"
out=$(DESTDIR="$work/stage" "$cmake" --install "$build" --prefix /opt/quarlo 2>&1) ||
    fail "install failed: $out"
check_folder "$work/stage/opt/quarlo" /opt/quarlo

row="again over the user's files"
again=$work/again
"$cmake" --install "$build" --prefix "$again" >/dev/null 2>&1
printf '0000FF\n' >"$again/Color.Ini"
mkdir -p "$again/Bmp" && printf 'picture' >"$again/Bmp/M000.Bmp"
out=$("$cmake" --install "$build" --prefix "$again" 2>&1) || fail "install failed: $out"
[ "$(cat "$again/Color.Ini")" = 0000FF ] || fail "the edited palette was replaced"
[ "$(cat "$again/Bmp/M000.Bmp")" = picture ] || fail "a picture was changed"
[ -x "$again/quarlo" ] || fail "no executable"

row="backslash"
entry=$work/backslash.desktop
bash "$source/packaging/add-to-desktop.sh" --print-entry '/a\b "c"' >"$entry"
valid_entry "$entry"
[ "$(exec_path "$(value "$entry" Exec)")" = '/a\b "c"/quarlo' ] || fail "Exec is $(value "$entry" Exec)"
[ "$(value "$entry" Icon)" = '/a\b "c"/share/icons/hicolor/32x32/apps/quarlo.png' ] ||
    fail "Icon is $(value "$entry" Icon)"

echo "== add-to-desktop.sh"
# Each row: name, HOME, XDG_DATA_HOME (empty: unset), where entries go.
rows=(
    "home|$work/home|.|$work/home/.local/share"
    "XDG_DATA_HOME|$work/home2|$work/xdg data|$work/xdg data"
)
for r in "${rows[@]}"; do
    IFS='|' read -r row home xdg data <<<"$r"
    [ "$xdg" = . ] && xdg=""
    mkdir -p "$data/applications" "$data/icons/hicolor/32x32/apps" "$home"
    printf '[Desktop Entry]\nType=Application\nName=Other\nExec=other\n' >"$data/applications/other.desktop"
    printf 'not ours' >"$data/icons/hicolor/32x32/apps/other.png"
    printf 'cache' >"$data/icons/hicolor/icon-theme.cache"
    before=$(cd "$data" && find . -type f ! -name icon-theme.cache -exec md5sum {} + | sort)
    run() {
        if [ -n "$xdg" ]; then
            env HOME="$home" XDG_DATA_HOME="$xdg" "$@" </dev/null
        else
            env -u XDG_DATA_HOME HOME="$home" "$@" </dev/null
        fi
    }

    folder=$work/plain
    for attempt in 1 2; do
        out=$(run "$folder/add-to-desktop.sh" 2>&1) || fail "attempt $attempt failed: $out"
    done
    entry=$data/applications/quarlo.desktop
    valid_entry "$entry"
    [ "$(exec_path "$(value "$entry" Exec)")" = "$folder/quarlo" ] || fail "Exec is $(value "$entry" Exec)"
    [ "$(value "$entry" Icon)" = quarlo ] || fail "Icon is $(value "$entry" Icon), not the theme name"
    cmp -s "$data/icons/hicolor/32x32/apps/quarlo.png" "$build/packaging/quarlo.png" || fail "icon not copied"
    [ -z "$(find "$data" -name '.quarlo.*')" ] || fail "temporary files left behind"

    # Moved: the entries follow the folder.
    mv "$work/plain" "$work/moved"
    folder=$work/moved
    out=$(run "$folder/add-to-desktop.sh" 2>&1) || fail "after the move: $out"
    [ "$(exec_path "$(value "$entry" Exec)")" = "$folder/quarlo" ] || fail "the entry did not follow the move"
    row="$row, moved"
    check_folder "$folder" "$folder"

    out=$(run "$folder/add-to-desktop.sh" --remove 2>&1) || fail "--remove failed: $out"
    [ ! -e "$entry" ] && [ ! -e "$data/icons/hicolor/32x32/apps/quarlo.png" ] || fail "--remove left files"
    after=$(cd "$data" && find . -type f ! -name icon-theme.cache -exec md5sum {} + | sort)
    [ "$before" = "$after" ] || fail "other files changed: $(diff <(echo "$before") <(echo "$after"))"
    mv "$work/moved" "$work/plain"
done

echo "== cpack"
row="package"
version=$(sed -n 's/^project(quarlo VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
out=$("$cpack" --config "$build/CPackConfig.cmake" -B "$work/pkg" 2>&1) || fail "cpack failed: $out"
packages=("$work"/pkg/quarlo-"$version"-Linux-*.tar.gz)
if [ ${#packages[@]} -ne 1 ] || [ ! -f "${packages[0]}" ]; then
    fail "no single quarlo-$version-Linux-*.tar.gz in: $(ls "$work/pkg")"
else
    top=$(tar -tzf "${packages[0]}" | cut -d/ -f1 | sort -u)
    [ "$(echo "$top" | wc -l)" -eq 1 ] || fail "more than one top folder: $top"
    unpacked="$work/un packed"
    mkdir -p "$unpacked"
    tar -xzf "${packages[0]}" -C "$unpacked"
    dir="$unpacked/$top"
    entry="$dir/share/applications/quarlo.desktop"
    valid_entry "$entry"
    ! grep -rqF "$work" "$entry" || fail "the packed entry names the staging folder"
    # After unpacking, add-to-desktop.sh points the entry at the folder.
    out=$(env HOME="$work/home3" XDG_DATA_HOME= "$dir/add-to-desktop.sh" </dev/null 2>&1) ||
        fail "add-to-desktop.sh in the unpacked folder: $out"
    check_folder "$dir" "$dir"

    row="first start"
    (cd "$work" && exec env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
        "$dir/quarlo" >"$work/start.log" 2>&1) &
    pid=$!
    # Bmp/ is made after the control window is shown.
    for _ in $(seq 1 300); do
        [ -d "$dir/Bmp" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    sleep 1
    [ -d "$dir/Bmp" ] || fail "no Bmp/ in the program folder: $(cat "$work/start.log")"
    [ ! -e "$work/Bmp" ] || fail "Bmp/ made in the working folder"
    kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$work/start.log")"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=""
fi

echo "== configured without tests"
row="BUILD_TESTING=OFF"
# Looking for any test library is an error here.
out=$("$cmake" -S "$source" -B "$work/notest" -DBUILD_TESTING=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON 2>&1) ||
    fail "configure failed: $out"
targets=$("$cmake" --build "$work/notest" --target help 2>&1)
grep -q '\.\.\. quarlo$' <<<"$targets" || fail "no quarlo target: $targets"
extra=$(grep -E '_test$|_bench$|_fuzz$|testsupport' <<<"$targets")
[ -z "$extra" ] || fail "test targets: $extra"
[ ! -e "$work/notest/CTestTestfile.cmake" ] || fail "tests registered"

if [ "$failures" -ne 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "all passed"
