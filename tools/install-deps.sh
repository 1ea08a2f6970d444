#!/usr/bin/env bash
# Installs every Debian package Pictoport needs to build, run, test and benchmark.
# Skips what is already installed; never asks a question.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang-format
  # program
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6svg6
  libcurl4-openssl-dev zlib1g-dev rapidjson-dev libjpeg62-turbo-dev
  libsodium-dev qtkeychain-qt6-dev
  # local service
  libcpp-httplib-dev libssl-dev libtesseract-dev libleptonica-dev
  tesseract-ocr-jpn tesseract-ocr-eng
  # the sending page's test in a real browser
  chromium chromium-driver python3-selenium
  # running, screenshots, notifications and keyring tests
  xvfb xauth x11-apps imagemagick dbus dbus-x11 gnome-keyring libnotify-bin
  fonts-noto-cjk fonts-noto-color-emoji openssl ca-certificates
  # fuzzing (make fuzz): clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
  # benchmarks
  libbenchmark-dev libjpeg-turbo-progs libvips-tools
  # the Windows layer, cross-compiled and tested under Wine
  mingw-w64 wine64 wine
  # the Debian package and the validators of its desktop entry and metainfo
  dpkg-dev desktop-file-utils appstream lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
