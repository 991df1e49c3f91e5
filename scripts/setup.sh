#!/usr/bin/env bash
# Installs, with apt-get, what building and testing the tree needs on Debian 12.
# Quiet and quick when everything is already there. Components that need more
# Debian packages list them, one a line, in a file named `debian-packages` in
# their folder; this script picks those up too.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  build-essential     # g++ with its sanitizer runtimes
  cmake
  ninja-build
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  clang               # fuzz targets (libFuzzer)
  libclang-rt-dev     # libFuzzer and the sanitizer runtimes for clang
  g++-mingw-w64-i686  # the 32-bit Windows cross check
  clang-format
)

while IFS= read -r list; do
  while read -r pkg _; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    packages+=("$pkg")
  done <"$list"
done < <(find "$root" -name debian-packages -type f -not -path "$root/build*" \
           -not -path "$root/.git/*" | sort)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for pkg in "${packages[@]}"; do
  installed "$pkg" || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null; then
    sudo=(sudo)
  else
    echo "setup: need root (or sudo) to install: ${missing[*]}" >&2
    exit 1
  fi
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Packages of another architecture (wine32:i386) need it added first.
for pkg in "${missing[@]}"; do
  if [[ "$pkg" == *:* ]]; then
    arch="${pkg##*:}"
    if ! dpkg --print-foreign-architectures | grep -qx "$arch" &&
       [[ "$(dpkg --print-architecture)" != "$arch" ]]; then
      "${sudo[@]}" dpkg --add-architecture "$arch"
    fi
  fi
done
"${sudo[@]}" apt-get update -q </dev/null
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
