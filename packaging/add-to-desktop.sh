#!/usr/bin/env bash
# Adds Quarlo to this user's desktop menu: its entry goes to
# $XDG_DATA_HOME/applications and its icon to
# $XDG_DATA_HOME/icons/hicolor/32x32/apps (XDG_DATA_HOME is ~/.local/share
# unless set). No other file there is touched. The entry starts the program
# in the folder this script sits in; run it again after moving the folder.
#
#   ./add-to-desktop.sh                     add or refresh the entry and icon
#   ./add-to-desktop.sh --remove            take them out again
#   ./add-to-desktop.sh --print-entry [DIR] print the entry for the program
#                                           folder DIR (no DIR: an entry that
#                                           finds the program on PATH)
set -euo pipefail

die() {
    echo "add-to-desktop: $*" >&2
    exit 1
}

# A path as one argument of the Exec key: always quoted; inside the quotes
# ", `, $ and \ take a backslash; then the value as a whole doubles its
# backslashes, and % becomes %% so it is not read as a field code.
exec_value() {
    local v=$1
    v=${v//\\/\\\\}
    v=${v//\"/\\\"}
    v=${v//\`/\\\`}
    v=${v//\$/\\\$}
    v="\"$v\""
    v=${v//\\/\\\\}
    v=${v//%/%%}
    printf '%s' "$v"
}

# A plain string value: only backslashes need escaping.
string_value() {
    printf '%s' "${1//\\/\\\\}"
}

# print_entry FOLDER ICON: the entry for the program in FOLDER (absolute),
# with ICON as its Icon key. An empty FOLDER gives Exec=quarlo.
print_entry() {
    local folder=$1 icon=$2 exec tryexec
    case "$folder$icon" in
    *$'\n'* | *$'\r'*) die "a path with a line break cannot go into a desktop entry" ;;
    esac
    if [ -n "$folder" ]; then
        exec=$(exec_value "$folder/quarlo")
        tryexec=$(string_value "$folder/quarlo")
    else
        exec=quarlo
        tryexec=quarlo
    fi
    cat <<ENTRY
[Desktop Entry]
Type=Application
Name=Quarlo
GenericName=Fractal Explorer
Comment=Explore the escape-time set of the quadratic map z <- z^2 + c
Exec=$exec
TryExec=$tryexec
Icon=$(string_value "$icon")
Terminal=false
Categories=Science;Math;
ENTRY
}

absolute() {
    case $1 in
    /*) printf '%s' "$1" ;;
    *) printf '%s/%s' "$PWD" "$1" ;;
    esac
}

# put_file SOURCE TARGET: replaces TARGET in one step, so a reader never
# sees half a file.
put_file() {
    local tmp
    tmp=$(mktemp "$(dirname "$2")/.quarlo.XXXXXX")
    cat "$1" >"$tmp"
    chmod 644 "$tmp"
    mv -f "$tmp" "$2"
}

icon_rel=share/icons/hicolor/32x32/apps/quarlo.png
if [ "${1:-}" = --print-entry ]; then
    if [ $# -ge 2 ]; then
        folder=$(absolute "$2")
        folder=${folder%/}
        print_entry "$folder" "$folder/$icon_rel"
    else
        print_entry "" quarlo
    fi
    exit 0
fi

data=${XDG_DATA_HOME:-${HOME:?HOME is not set}/.local/share}
apps=$data/applications
icons=$data/icons/hicolor

case ${1:-} in
--remove)
    rm -f "$apps/quarlo.desktop" "$icons/32x32/apps/quarlo.png"
    echo "Removed Quarlo from the desktop menu."
    exit 0
    ;;
"") ;;
*)
    echo "usage: $0 [--remove | --print-entry [DIR]]" >&2
    exit 2
    ;;
esac

folder=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
[ -x "$folder/quarlo" ] || die "no program beside this script: $folder/quarlo"
[ -f "$folder/$icon_rel" ] || die "no icon beside this script: $folder/$icon_rel"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The program folder's own entry follows the folder wherever it was moved or
# unpacked to.
print_entry "$folder" "$folder/$icon_rel" >"$work/folder.desktop"
if [ -w "$folder/share/applications" ]; then
    put_file "$work/folder.desktop" "$folder/share/applications/quarlo.desktop"
fi

# The user's copy names the icon by its theme name, found in the user's
# icon folder.
print_entry "$folder" quarlo >"$work/user.desktop"
mkdir -p "$apps" "$icons/32x32/apps"
put_file "$folder/$icon_rel" "$icons/32x32/apps/quarlo.png"
put_file "$work/user.desktop" "$apps/quarlo.desktop"

# A cache older than its theme folder is ignored, so a new icon is seen even
# where a cache exists but cannot be rebuilt.
if [ -f "$icons/icon-theme.cache" ]; then
    gtk-update-icon-cache -q -t "$icons" 2>/dev/null || touch "$icons"
fi

echo "Added Quarlo to the desktop menu:"
echo "  $apps/quarlo.desktop"
echo "  $icons/32x32/apps/quarlo.png"
