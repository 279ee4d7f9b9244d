#!/usr/bin/env bash
# Installs what the builds and tests need, from Debian's packages, when missing.
# Usage: tools/install_deps.sh [demo|host|wine|all]   (default: all)
#   demo  what the demo on the stand-in uses: the host build of qvuninst-sim
#   host  that, plus GoogleTest and clang: the host, host-sanitize and fuzz presets
#   wine  demo's, plus the Windows build and 32-bit Wine (tools/demo.sh --wine)
#   all   everything tools/test.sh builds and runs: host's and wine's
# Safe to run again: it installs and registers only what is missing.
set -euo pipefail
scope=${1:-all}
case "$scope" in demo | host | wine | all) ;; *)
  echo "usage: $0 [demo|host|wine|all]" >&2
  exit 2
  ;;
esac

demo_packages=(cmake ninja-build g++ python3)
# The Windows build: QVUninst.exe and the Wine runner's helpers, all i686.
windows_packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686)
# Wine with its 32-bit loader (i386 architecture), its fonts, and an X server
# without a screen. wine64 brings the native wineserver, which serves win32
# prefixes too. Without their recommends, which would bring in a desktop's
# worth of libraries.
wine_packages=(wine wine32:i386 wine64 fonts-wine xvfb xauth locales)
# GoogleTest for the unit tests; clang with its runtime libraries for the fuzz
# target (libFuzzer, sanitizers).
test_packages=(libgtest-dev clang libclang-rt-14-dev)

missing_of() {
  local package
  for package in "$@"; do
    dpkg -s "$package" >/dev/null 2>&1 || echo "$package"
  done
}

# A mirror caught mid-sync serves an index of the wrong size. Try again a
# little later; if it still fails, go on with the indexes apt did get, and
# remember the suites it could not read.
unread_suites=()
apt_refresh() {
  local attempt log
  log=$(mktemp)
  for attempt in 1 2 3; do
    if apt-get update -qq -o Acquire::Retries=3 2>"$log"; then
      rm -f "$log"
      unread_suites=()
      return 0
    fi
    cat "$log" >&2
    [ $attempt = 3 ] && break
    echo "install_deps: apt-get update failed, trying again in $((attempt * 20)) s" >&2
    sleep $((attempt * 20))
  done
  mapfile -t unread_suites < <(sed -n 's|.*Failed to fetch .*/dists/\([^/]*\)/.*|\1|p' "$log" | sort -u)
  rm -f "$log"
  echo "install_deps: apt-get update could not read ${unread_suites[*]:-some index}; going on with the rest" >&2
}

# With one architecture's index of a suite missing, the other architecture's
# packages from that suite can't be matched (a multi-arch library must have one
# version on both). Then install from the suites read whole: a suite left out
# is held at the priority of what is installed, so nothing is downgraded.
apt_get_install() {
  local install=(apt-get install -y -qq --no-install-recommends)
  DEBIAN_FRONTEND=noninteractive "${install[@]}" "$@" >/dev/null && return 0
  [ ${#unread_suites[@]} -gt 0 ] || return 1
  local pins suite
  pins=$(mktemp)
  for suite in "${unread_suites[@]}"; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$suite" >>"$pins"
  done
  echo "install_deps: installing again without ${unread_suites[*]}, whose index apt could not read" >&2
  local status=0
  DEBIAN_FRONTEND=noninteractive "${install[@]}" -o Dir::Etc::Preferences="$pins" "$@" >/dev/null || status=$?
  rm -f "$pins"
  return $status
}

apt_updated=0
apt_install() {
  [ $# -gt 0 ] || return 0
  echo "Installing: $*"
  if [ $apt_updated = 0 ]; then
    apt_refresh
    apt_updated=1
  fi
  apt_get_install "$@"
}

wanted=("${demo_packages[@]}")
case "$scope" in host | all) wanted+=("${test_packages[@]}") ;; esac
case "$scope" in wine | all) wanted+=("${windows_packages[@]}" "${wine_packages[@]}") ;; esac
mapfile -t missing < <(missing_of "${wanted[@]}")
# The i386 architecture before the index update, so that one update reads both.
if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt_install "${missing[@]}"
case "$scope" in demo | host) exit 0 ;; esac

# Wine's ANSI code page follows the Unix locale: machines of code page 932 run
# under ja_JP.UTF-8 (tools/wine/qvwine.py).
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  echo "Generating the ja_JP.UTF-8 locale"
  localedef -i ja_JP -c -f UTF-8 ja_JP.UTF-8
fi

# ---- 32-bit programs on a kernel that refuses them -------------------------------
# QVUninst.exe is a 32-bit program, and so is the Wine that runs it. Some
# kernels (those booted without IA-32 emulation) refuse every i386 program;
# there binfmt_misc hands them to Debian's user-mode emulator instead. Only
# the emulator of the bookworm-backports suite (QEMU 10) is fast enough: the
# stable one (7.2) spends about 50 s of CPU per Wine process before it starts.
wine_loader=/usr/lib/wine/wine
binfmt=/proc/sys/fs/binfmt_misc
binfmt_entry=qemu-i386
emulator=/usr/bin/qemu-i386-static

runs_32bit() { "$wine_loader" --version >/dev/null 2>&1; }

# The suite's address, taken from the machine's own Debian source entry, so
# that this project never names a mirror.
debian_uri() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    # deb822 stanzas: the first whose Suites include plain "bookworm".
    awk 'BEGIN { RS = ""; FS = "\n" }
      {
        uri = ""; bookworm = 0
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^URIs:/) { split($i, f, /[ \t]+/); uri = f[2] }
          if ($i ~ /^Suites:/ && $i ~ /[ \t]bookworm([ \t]|$)/) bookworm = 1
        }
        if (bookworm && uri != "") { print uri; exit }
      }' "$file"
  done | head -n 1
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk '$1 == "deb" && $0 ~ /[ \t]bookworm[ \t]/ {
        for (i = 2; i <= NF; i++) if ($i !~ /^\[/) { print $i; exit }
      }' "$file"
  done | head -n 1
}

emulator_from_backports() {
  local version
  version=$(dpkg-query -W -f '${Version}' qemu-user-static 2>/dev/null) || return 1
  dpkg --compare-versions "$version" ge 1:10
}

install_backports_emulator() {
  emulator_from_backports && return 0
  local list=/etc/apt/sources.list.d/qv-bookworm-backports.sources uri
  if [ ! -f "$list" ]; then
    uri=$(debian_uri | head -n 1)
    if [ -z "$uri" ]; then
      echo "install_deps: no Debian bookworm source entry in /etc/apt to take the backports address from" >&2
      exit 1
    fi
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
      "$uri" /usr/share/keyrings/debian-archive-keyring.gpg >"$list"
    apt_updated=0
  fi
  if [ $apt_updated = 0 ]; then
    apt_refresh
    apt_updated=1
  fi
  echo "Installing: qemu-user-static (bookworm-backports)"
  apt_get_install -t bookworm-backports qemu-user-static
}

register_emulator() {
  if [ "$(id -u)" != 0 ]; then
    echo "install_deps: this kernel refuses 32-bit programs, and only root can register their emulator" >&2
    exit 1
  fi
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  fi
  if [ ! -e "$binfmt/register" ]; then
    echo "install_deps: this kernel refuses 32-bit programs and has no binfmt_misc to hand them to an emulator" >&2
    exit 1
  fi
  [ -e "$binfmt/$binfmt_entry" ] && echo -1 >"$binfmt/$binfmt_entry"
  # i386 ELF executables (e_machine 3, ET_EXEC or ET_DYN). F: the emulator is
  # opened now, so it serves every mount namespace; P: argv[0] is preserved.
  local magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':%s:M::%s:%s:%s:FP\n' "$binfmt_entry" "$magic" "$mask" "$emulator" >"$binfmt/register"
  echo "Registered $emulator for 32-bit programs (binfmt_misc entry $binfmt_entry)"
}

if ! runs_32bit; then
  install_backports_emulator
  if [ -e "$binfmt/$binfmt_entry" ] && ! grep -q "interpreter $emulator" "$binfmt/$binfmt_entry"; then
    echo -1 >"$binfmt/$binfmt_entry"
  fi
  if [ -e "$binfmt/$binfmt_entry" ] && grep -qx disabled "$binfmt/$binfmt_entry"; then
    echo 1 >"$binfmt/$binfmt_entry"
  fi
  [ -e "$binfmt/$binfmt_entry" ] || register_emulator
  if ! runs_32bit; then
    echo "install_deps: 32-bit Wine still does not start ($wine_loader --version fails)" >&2
    exit 1
  fi
fi
