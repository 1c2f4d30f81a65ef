#!/usr/bin/env bash
# Installs, from Debian's packages only, whatever the build, the tests and the
# fixture generator need. Does nothing when everything is already present.
set -euo pipefail

PACKAGES=(
  g++ make cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-svg-dev qt6-tools-dev qt6-l10n-tools
  qt6-translations-l10n libgl-dev
  libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev
  xvfb xauth fonts-dejavu-core fonts-dejavu-extra fonts-liberation2
  libavcodec-dev libavutil-dev
  ffmpeg time dpkg-dev file desktop-file-utils man-db
)

# `install-deps.sh bench` also brings the tools the benchmarks compare with.
if [ "${1:-}" = "bench" ]; then
  PACKAGES+=(mpgtx mpegdemux)
fi

# `install-deps.sh fixtures` also brings mplex (mjpegtools) and twolame,
# which with ffmpeg make the fixture streams anew (make fixtures). The streams
# are committed, so the build and the tests never need them.
if [ "${1:-}" = "fixtures" ]; then
  PACKAGES+=(mjpegtools twolame)
fi

# `install-deps.sh package` also brings lintian, which checks the .deb that
# make package builds.
if [ "${1:-}" = "package" ]; then
  PACKAGES+=(lintian)
fi

# `install-deps.sh fuzz` also brings clang and its fuzzer runtime (make fuzz).
if [ "${1:-}" = "fuzz" ]; then
  PACKAGES+=(clang-14 libclang-rt-14-dev)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
