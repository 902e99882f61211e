#!/usr/bin/env bash
# Installs the Debian packages the project needs, if any is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config            # host build
  libgtest-dev libgmock-dev libbenchmark-dev  # tests and benchmarks
  libpng-dev libmpg123-dev                    # panel PNG output, decoder model
  libjpeg62-turbo-dev                         # JPEG photos in tessivo-mkcard
  help2man                                    # man pages from the programs' --help
  g++-mipsel-linux-gnu binutils-mipsel-linux-gnu  # image for the chip
  dosfstools mtools                           # independent FAT peers for the tests
  mount e2fsprogs                             # loop devices and a mounted card in the tests
  qemu-user                                   # independent peer for the M4K core's tests
  lame                                        # MP3 streams at several bit rates for the decoder tests
  clang libclang-rt-14-dev                    # fuzzing
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
