#!/usr/bin/env bash
# The set-up scripts against stand-ins for id, dpkg-query, apt-get, sudo,
# locale and cmake that log their calls: what each command installs, what it
# says first, and where it stops. usage: setup_scripts_test.sh SOURCE_DIR
set -uo pipefail
source=$1 work=$(mktemp -d) failures=0
trap 'rm -rf "$work"' EXIT
# Only these real tools are on PATH, so no real sudo or apt-get can run.
mkdir "$work/real"
for tool in bash sh env grep sed cat dirname nproc; do ln -s "$(command -v $tool)" "$work/real/"; done

fake() { # NAME BODY
    printf '#!/bin/sh\n%s\n' "$2" >"$work/fake/$1"
    chmod +x "$work/fake/$1"
}
log="echo \"\$(basename \$0) \$*\" >>$work/calls"

# name | script and mode | uid | packages present | sudo | display
#   | exit status | what it says (ERE) | call log (ERE; "-": no call)
rows=(
    "all present|setup.sh test|0|yes|none|:0|0|^$|-"
    "run: the run set only|setup.sh run|0|no|none|:0|0|needs 10 .*fontconfig|install -y -qq --no-install-recommends cmake g\+\+ make pkg-config qt6-base-dev libgl-dev libxcb1-dev libhwy-dev fonts-ipafont-gothic fontconfig$"
    "package: the packaging tools too|setup.sh package|0|no|none|:0|0|needs 12 .*file|install -y -qq --no-install-recommends cmake .* fontconfig dpkg-dev file$"
    "test: the rest too|setup.sh test|0|no|none|:0|0|libgtest-dev|fontconfig dpkg-dev file libgtest-dev .* openbox wmctrl xclip x11-utils libxtst-dev locales desktop-file-utils lintian appstream$"
    "no sudo|setup.sh run|1000|no|none|:0|1|sudo is not installed.*apt-get install --no-install-recommends cmake|-"
    "sudo, no terminal|setup.sh run|1000|no|password|:0|1|no terminal to type it in.*libhwy-dev|-"
    "sudo, no password|setup.sh run|1000|no|free|:0|0|needs 10 .*Installing them|^sudo env DEBIAN_FRONTEND"
    "no display|run.sh|0|no|none||1|no display to open.*xvfb-run|-"
    "display|run.sh|0|yes|none|:0|1|^$|^cmake -S"
)
for r in "${rows[@]}"; do
    IFS='|' read -r row command uid present sudo display status says calls <<<"$r"
    rm -rf "$work/fake" "$work/calls" && mkdir "$work/fake" && touch "$work/calls"
    fake id "echo $uid"
    fake dpkg-query "[ $present = yes ] && printf 'install ok installed'"
    fake apt-get "$log"
    fake locale "echo de_DE.utf8"
    fake cmake "$log; exit 1"
    fake basename "echo \${1##*/}"
    [ "$sudo" = none ] || fake sudo "[ \"\$1\" = -n ] && exit $([ "$sudo" = free ] && echo 0 || echo 1); $log; exec \"\$@\""
    read -ra argv <<<"$command"
    out=$(env -i PATH="$work/fake:$work/real" HOME="$work" ${display:+DISPLAY=$display} \
        bash "$source/scripts/${argv[0]}" "${argv[@]:1}" </dev/null 2>&1)
    got=$?
    fail() { echo "FAIL [$row]: $*" >&2 && failures=$((failures + 1)); }
    [ "$got" -eq "$status" ] || fail "exit status $got: $out"
    flat=${out//$'\n'/ }
    [[ $flat =~ $says ]] || fail "did not say /$says/: $out"
    if [ "$calls" = - ]; then [ ! -s "$work/calls" ]; else grep -qE "$calls" "$work/calls"; fi ||
        fail "calls: $(cat "$work/calls")"
done
[ "$failures" -eq 0 ] || { echo "$failures failures" >&2 && exit 1; }
