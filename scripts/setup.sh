#!/usr/bin/env bash
# Installs from Debian's packages what a command needs, and does nothing when
# every package is present already.
#
#   scripts/setup.sh run      what building and running the program need
#   scripts/setup.sh package  that, and what making the Debian package needs
#   scripts/setup.sh test     that, and what the tests, the benchmarks, the
#                             sanitizer and fuzzing builds, the real-display
#                             tests and the install and package checks need
#                             (the default)
#
# It says what it is about to install before it installs it. Installing
# needs root: as another user it goes through sudo, and says so before sudo
# can ask for a password; without sudo it stops and lists the packages.
set -euo pipefail

mode=${1:-test}
case $mode in
run | package | test) ;;
*)
    echo "usage: $0 run|package|test" >&2
    exit 2
    ;;
esac

# Compiler, CMake, Qt, Highway and the face the controls are drawn in.
packages=(
    cmake g++ make pkg-config
    qt6-base-dev libgl-dev libxcb1-dev
    libhwy-dev
    fonts-ipafont-gothic fontconfig
)
# With only a Wayland display, Qt needs its Wayland platform plugin. Where
# an X display is offered (XWayland too) the program uses that instead.
if [ -z "${DISPLAY:-}" ] && [ -n "${WAYLAND_DISPLAY:-}" ]; then
    packages+=(qt6-wayland)
fi
# cpack's Debian generator finds the program's libraries with file and
# dpkg-shlibdeps.
if [ "$mode" != run ]; then
    packages+=(dpkg-dev file)
fi
if [ "$mode" = test ]; then
    packages+=(
        libgtest-dev libgmock-dev libbenchmark-dev
        binutils
        clang libclang-rt-14-dev
        xvfb xauth xdotool openbox wmctrl xclip x11-utils libxtst-dev
        locales
        desktop-file-utils
        lintian appstream
    )
fi

# stop WHY HINT: says why nothing can be installed, and the command (HINT)
# to run as root instead.
stop() {
    {
        echo "$1"
        echo "Run this as root (or ask your administrator to), then try again:"
        echo "  $2"
    } >&2
    exit 1
}

# get_root WHAT HINT: sets sudo to what runs a command as root, saying so
# before sudo can ask for a password; stops when there is no way.
get_root() {
    sudo=()
    if [ "$(id -u)" -eq 0 ]; then
        return
    fi
    if ! command -v sudo >/dev/null 2>&1; then
        stop "Root rights are needed to $1, and sudo is not installed." "$2"
    fi
    if ! sudo -n true 2>/dev/null; then
        if [ ! -t 0 ]; then
            stop "Root rights are needed to $1; sudo wants a password and there is no terminal to type it in." "$2"
        fi
        echo "Root rights are needed to $1: sudo may now ask for your password."
    fi
    sudo=(sudo)
}

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "The $mode command needs ${#missing[@]} Debian packages that are not installed:"
    echo "  ${missing[*]}"
    hint="apt-get update && apt-get install --no-install-recommends ${missing[*]}"
    get_root "install them" "$hint"
    echo "Installing them with apt-get."
    "${sudo[@]}" apt-get update -qq || stop "The package lists could not be updated." "$hint"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
        stop "The packages could not be installed." "$hint"
fi

# The real-display tests run under the locale de_DE.UTF-8 too.
if [ "$mode" = test ] && ! locale -a 2>/dev/null | grep -qiE '^de_DE\.utf-?8$'; then
    echo "Generating the locale de_DE.UTF-8 for the tests (enabled in /etc/locale.gen)"
    generate="sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen &&
        { grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen ||
          echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen; } && locale-gen"
    hint="echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen && locale-gen"
    get_root "generate it" "$hint"
    "${sudo[@]}" sh -c "$generate" || stop "The locale could not be generated." "$hint"
fi
