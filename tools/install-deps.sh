#!/usr/bin/env bash
# Installs the Debian packages a command needs: what builds and runs Pictoport and
# scanlume-local always, and per group what else the command uses.
#   tools/install-deps.sh [GROUP]...     GROUP: run test fuzz bench icons (none: the build alone)
# Skips what is already installed; never asks a question.
set -euo pipefail

# Building both programs and running them.
build=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6svg6
  qt6-charts-dev libqt6opengl6-dev
  libcurl4-openssl-dev zlib1g-dev rapidjson-dev libjpeg62-turbo-dev
  libsodium-dev libsqlite3-dev qtkeychain-qt6-dev
  libcpp-httplib-dev libssl-dev libtesseract-dev libleptonica-dev libqrencode-dev
  tesseract-ocr-jpn tesseract-ocr-eng fonts-noto-cjk fonts-noto-color-emoji ca-certificates
)
declare -A groups=(
  # make run: the demo under Xvfb when there is no display, its sample photos drawn with
  # ImageMagick; curl and jq for the service's examples in localservice/README.md.
  [run]="xvfb xauth imagemagick curl jq"
  # make test: the format check, every test (the sending page in Chromium, the keyring in
  # gnome-keyring under D-Bus, the Windows layer under Wine, HTTPS with openssl, the package
  # with its validators, lintian and systemd's tools for the service's unit, user and data
  # folder) and the benchmarks' build.
  [test]="clang-format xvfb xauth dbus dbus-x11 gnome-keyring chromium chromium-driver
    python3-selenium openssl mingw-w64 wine64 wine dpkg-dev desktop-file-utils appstream
    lintian man-db systemd libbenchmark-dev"
  # make fuzz: clang with libFuzzer and the sanitizer runtimes.
  [fuzz]="clang libclang-rt-14-dev"
  # make bench: the reference programs the benchmarks run beside ours.
  [bench]="libbenchmark-dev libvips-tools"
  # tools/render-icon.sh
  [icons]="librsvg2-bin imagemagick"
)

packages=("${build[@]}")
for group in "$@"; do
  if [ -z "${groups[$group]+set}" ]; then
    echo "install-deps: unknown group '$group' (run test fuzz bench icons)" >&2
    exit 2
  fi
  read -r -a more <<<"$(echo ${groups[$group]})"
  packages+=("${more[@]}")
done

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
