#!/usr/bin/env bash
# The set-up scripts, run against stand-ins for dpkg-query, apt-get, sudo,
# id and locale that log their calls: what each command installs, what it
# says first, and where it stops without root rights or without a display.
#
# usage: setup_scripts_test.sh SOURCE_DIR
set -uo pipefail
source=$1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL [$row]: $*" >&2
    failures=$((failures + 1))
}

# Only these real tools are on PATH, so a real sudo or apt-get can never run.
real=$work/real
mkdir -p "$real"
for tool in bash sh env grep sed cat dirname nproc; do
    ln -s "$(command -v "$tool")" "$real/$tool"
done

# make_fakes DIR UID INSTALLED SUDO LOCALES: stand-ins in DIR. INSTALLED:
# "all" or "none"; SUDO: "absent", "password" or "free".
make_fakes() {
    local dir=$1
    rm -rf "$dir"
    mkdir -p "$dir"
    printf '#!/bin/sh\necho %s\n' "$2" >"$dir/id"
    if [ "$3" = all ]; then
        printf '#!/bin/sh\nprintf "install ok installed"\n' >"$dir/dpkg-query"
    else
        printf '#!/bin/sh\nexit 1\n' >"$dir/dpkg-query"
    fi
    printf '#!/bin/sh\necho "apt-get $*" >>"%s/calls"\n' "$work" >"$dir/apt-get"
    case $4 in
    password) printf '#!/bin/sh\n[ "$1" = -n ] && exit 1\necho "sudo $*" >>"%s/calls"\n' "$work" >"$dir/sudo" ;;
    free) printf '#!/bin/sh\n[ "$1" = -n ] && exit 0\necho "sudo $*" >>"%s/calls"\nexec "$@"\n' "$work" >"$dir/sudo" ;;
    esac
    printf '#!/bin/sh\nprintf "C\\nPOSIX\\n%s\\n"\n' "$5" >"$dir/locale"
    printf '#!/bin/sh\necho "cmake $*" >>"%s/calls"\nexit 1\n' "$work" >"$dir/cmake"
    chmod +x "$dir"/*
}

# Rows: name | command | uid | installed | sudo | locales | display
#       | expected exit status | text the output must hold | calls expected
#       (a pattern over the call log; "-" for no call at all)
rows=(
    "all present|setup.sh test|0|all|absent|de_DE.utf8|:0|0|^$|-"
    "run installs only the run set|setup.sh run|0|none|absent|de_DE.utf8|:0|0|needs 9 Debian packages|apt-get install -y -qq --no-install-recommends cmake g\+\+ make pkg-config qt6-base-dev libgl-dev libhwy-dev fonts-ipafont-gothic fontconfig$"
    "test adds the test set|setup.sh test|0|none|absent|de_DE.utf8|:0|0|libgtest-dev|fontconfig libgtest-dev libgmock-dev libbenchmark-dev binutils clang libclang-rt-14-dev xvfb xauth xdotool openbox xclip x11-utils locales desktop-file-utils$"
    "Wayland alone adds its plugin|setup.sh run|0|none|absent|de_DE.utf8|wayland|0|qt6-wayland|fontconfig qt6-wayland$"
    "no sudo stops with the list|setup.sh run|1000|none|absent|de_DE.utf8|:0|1|sudo is not installed.*apt-get install --no-install-recommends cmake g\+\+|-"
    "sudo without a terminal stops|setup.sh run|1000|none|password|de_DE.utf8|:0|1|no terminal to type it in.*libhwy-dev|-"
    "sudo without a password|setup.sh run|1000|none|free|de_DE.utf8|:0|0|Installing them|^sudo env DEBIAN_FRONTEND=noninteractive apt-get install"
    "missing locale without sudo|setup.sh test|1000|all|absent|C.utf8|:0|1|de_DE.UTF-8.*locale-gen|-"
    "run without a display|run.sh|0|none|absent|de_DE.utf8|none|1|no display to open.*xvfb-run|-"
    "run with a display builds|run.sh|0|all|absent|de_DE.utf8|:0|1|^$|^cmake "
)
for r in "${rows[@]}"; do
    IFS='|' read -r row command uid installed sudo locales display status says calls <<<"$r"
    make_fakes "$work/fake" "$uid" "$installed" "$sudo" "$locales"
    rm -f "$work/calls"
    touch "$work/calls"
    case $display in
    :0) display_env=(DISPLAY=:0) ;;
    wayland) display_env=(WAYLAND_DISPLAY=wayland-0) ;;
    none) display_env=() ;;
    esac
    read -ra argv <<<"$command"
    out=$(env -i PATH="$work/fake:$real" HOME="$work" "${display_env[@]}" \
        "$real/bash" "$source/scripts/${argv[0]}" "${argv[@]:1}" </dev/null 2>&1)
    got=$?
    [ "$got" -eq "$status" ] || fail "exit status $got, not $status: $out"
    if [ "$says" = '^$' ]; then
        [ -z "$out" ] || fail "said: $out"
    else
        tr '\n' ' ' <<<"$out" | grep -qE "$says" || fail "did not say /$says/: $out"
    fi
    if [ "$calls" = - ]; then
        [ ! -s "$work/calls" ] || fail "called: $(cat "$work/calls")"
    else
        grep -qE "$calls" "$work/calls" || fail "no call /$calls/ in: $(cat "$work/calls")"
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "all passed"
