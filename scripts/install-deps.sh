#!/usr/bin/env bash
# Installs the Debian packages that building and testing Vorlo need.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libwxgtk3.2-dev      # wxWidgets base + xml: XML container, configuration store
  libudev-dev          # serial port enumeration
  libgpiod-dev         # CP2103 GPIO pins through the cp210x gpiochip
  libgtest-dev libgmock-dev
  srecord              # srec_cat: cross-checks of the code file formats
  binutils             # objcopy: cross-checks and the conversion benchmark
  socat python3 time
  bash-completion      # the completion test loads the completion as an interactive bash does
  groff-base           # the man page test formats the pages
  ser2net              # a real serial server: the tests open rfc2217:// and socket:// ports through it
  lpc21isp             # an outside ISP client: programs the simulated LPC boot ROM in the tests
  libmodbus-dev        # an outside Modbus master: talks to the simulated Modbus slave in the tests
  gcc-arm-none-eabi    # builds the LPC RAM routines (target/lpc_routines) to check the committed arrays
  libnewlib-arm-none-eabi  # the C library of the fast-mode benchmark's firmware (bench/fast)
  zlib1g-dev           # deflate, the packing's rival in bench/fast/formats
  libunicorn-dev       # vorlo-sim's CPU emulator: runs code started in a simulated LPC part's RAM
  g++-mingw-w64-x86-64 # cross-builds vorlo.exe (the posix thread model compilers)
  googletest           # GoogleTest's sources, built for the Windows unit tests
  wine wine64          # runs vorlo.exe and its tests
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
