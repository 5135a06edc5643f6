#!/usr/bin/env bash
# Fails when the given object files or static archives hold a fused
# multiply-add instruction. A fused multiply-add rounds once where the escape
# iteration rounds twice, so it would change the last bits of the counts.
#
# Usage: check_no_fma.sh FILE...
# An argument may also be a ;-separated list of files, as CMake passes
# $<TARGET_OBJECTS:...>. OBJDUMP overrides the disassembler.
set -euo pipefail

files=()
for arg in "$@"; do
    IFS=';' read -ra parts <<< "$arg"
    for f in "${parts[@]}"; do
        [ -n "$f" ] && files+=("$f")
    done
done
if [ ${#files[@]} -eq 0 ]; then
    echo "usage: $0 FILE..." >&2
    exit 2
fi
for f in "${files[@]}"; do
    if [ ! -f "$f" ]; then
        echo "$f: no such file" >&2
        exit 2
    fi
done

dis=$("${OBJDUMP:-objdump}" -d --no-show-raw-insn --demangle "${files[@]}")

# Nothing to check is a broken setup, not a pass: the kernel's vector code
# multiplies packed doubles somewhere.
if ! grep -qE '[[:space:]]vmulpd[[:space:]]' <<< "$dis"; then
    echo "no packed double multiply in ${files[*]}: is the kernel's object among them?" >&2
    exit 2
fi

# Each hit with the function it is in.
hits=$(awk '
    /^[0-9a-f]+ <.*>:$/ { fn = $0; sub(/^[0-9a-f]+ </, "", fn); sub(/>:$/, "", fn) }
    /[[:space:]]v(fmadd|fmsub|fnmadd|fnmsub|fmaddsub|fmsubadd)[0-9]*[ps][sdh][[:space:]]/ { print fn ": " $0 }
' <<< "$dis")
if [ -n "$hits" ]; then
    echo "fused multiply-add in ${files[*]}:" >&2
    head -n 20 <<< "$hits" >&2
    echo "($(wc -l <<< "$hits") in all)" >&2
    exit 1
fi
echo "no fused multiply-add in ${#files[@]} file(s)"
