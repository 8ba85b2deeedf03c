# Sourced by run.sh and test.sh: installs the Debian packages that are
# missing (and nothing else), with sudo when not root.

brindle_missing_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  echo "${missing[@]}"
}

brindle_install_packages() {
  local missing
  missing=$(brindle_missing_packages "$@")
  [ -z "$missing" ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing missing packages: $missing"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq || return 1
  # Servers installed for the tests (nginx, lighttpd) must not be started as system
  # services: the tests start their own on free loopback ports.
  local policy=/usr/sbin/policy-rc.d own_policy=0 rc=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null && $sudo chmod 755 "$policy" && own_policy=1
  fi
  # shellcheck disable=SC2086
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing || rc=1
  [ "$own_policy" -eq 1 ] && $sudo rm -f "$policy"
  return $rc
}

# What building and running needs: the desktop program is Qt 6 Widgets;
# OpenSSL 3 and the system's authorities for https; nlohmann-json for the
# browser's messages; rsvg-convert renders the icon's sizes.
BRINDLE_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libssl-dev ca-certificates nlohmann-json3-dev
                        librsvg2-bin)
# What building the Debian package needs on top (tools/package.sh):
# dpkg-shlibdeps and dpkg-buildflags, and file, which CPack uses to find
# the programs among the files.
BRINDLE_PACKAGE_PACKAGES=(dpkg-dev file)
# What the tests need on top: GoogleTest, clang for the fuzz targets, a font
# for the window tests on Qt's offscreen platform, the openssl command for
# the test certificates, node for the browser extension's tests, Chromium
# and Firefox ESR for its end-to-end tests in real browsers, a session bus
# for the desktop notifications' test, the validators of the desktop entry
# and the AppStream metadata for the install test, lintian for the package.
BRINDLE_TEST_PACKAGES=(libgtest-dev libgmock-dev clang libclang-rt-dev zip unzip nginx lighttpd vsftpd python3-pyftpdlib
                       fonts-dejavu-core openssl nodejs chromium firefox-esr dbus-daemon desktop-file-utils appstream
                       lintian)
# What tools/screenshot.sh needs: a virtual display, a window manager, a
# notification service on a session bus, a screen grabber and a way to
# press a dialog's button.
BRINDLE_SCREENSHOT_PACKAGES=(xvfb imagemagick openbox dunst dbus-daemon xdotool)

brindle_jobs() {
  nproc 2>/dev/null || echo 2
}
