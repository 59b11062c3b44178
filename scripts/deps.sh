#!/usr/bin/env bash
# Installs what Lumafind needs to build, test and run, with apt-get (Debian 12).
# Sourced by run.sh and test.sh; when not root it prints the one command to run and stops.
LUMAFIND_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-multimedia-dev qt6-image-formats-plugins
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
  xvfb xauth adwaita-icon-theme dosfstools mtools exfatprogs exfat-fuse zlib1g-dev
  # udev's device events (cards coming and going); the tests' private D-Bus bus.
  libudev-dev pkgconf dbus-daemon
  # Capture dates and embedded previews: Exiv2, LibRaw and libheif (found through pkg-config).
  libexiv2-dev libraw-dev libheif-dev
  # The desktop entry, metainfo and manual page checks, and cpack -G DEB (dpkg-shlibdeps; file finds the binaries).
  desktop-file-utils appstream man-db dpkg-dev file
  # The fuzz targets (libFuzzer comes with clang's runtime).
  clang libclang-rt-14-dev)

lumafind_missing_packages() {
  local missing=()
  for p in "${LUMAFIND_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]}"
}

lumafind_install_deps() {
  local missing
  missing=$(lumafind_missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "Lumafind needs these packages. Install them with:"
    echo "  sudo apt-get install -y --no-install-recommends $missing"
    exit 1
  fi
  echo "Installing: $missing"
  apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

lumafind_build() {
  local build_dir=$1; shift
  cmake -S "$LUMAFIND_ROOT" -B "$build_dir" -G Ninja "$@" >/dev/null
  cmake --build "$build_dir" --parallel "$(nproc)"
}
