#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: packages that are
# already present are skipped, and apt-get update runs only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libplist-dev libcurl4-openssl-dev libssl-dev libexpat1-dev
  libcpp-httplib-dev libsqlite3-dev libboost-dev libpq-dev postgresql
  libcairo2-dev libpng-dev libjpeg62-turbo-dev libgif-dev fonts-dejavu-core
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libyuv-dev ffmpeg
  clang-format ccache locales
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  qt6-base-dev qt6-base-private-dev qt6-webengine-dev qml6-module-qtwebengine
  qt6-declarative-dev qt6-declarative-private-dev qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-controls
  qml6-module-qtquick-templates qml6-module-qtquick-layouts qml6-module-qtqml-workerscript
  openssl strace iproute2
  xvfb libgl1-mesa-dri mesa-vulkan-drivers libvulkan1
  libsodium-dev chromium chromium-driver python3-selenium
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# A single-byte locale for the tests that show that wire encodings (query strings) follow ASCII
# rules whatever the process locale.
ensure_test_locale() {
  if locale -a 2>/dev/null | grep -qi '^en_US\.iso88591$'; then return 0; fi
  echo "setup: generating the en_US.ISO-8859-1 locale"
  $SUDO localedef -i en_US -f ISO-8859-1 en_US.ISO-8859-1 ||
    echo "setup: could not generate en_US.ISO-8859-1; the locale test will fail" >&2
}

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#PACKAGES[@]} packages present"
  ensure_test_locale
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
ensure_test_locale
