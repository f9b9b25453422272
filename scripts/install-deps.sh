#!/usr/bin/env bash
# Installs what a build needs on Debian 12, only what is missing.
#   scripts/install-deps.sh linux     compiler, CMake, tinyxml2, nlohmann/json, PCRE2, GoogleTest,
#                                     python3-jsonschema (the results files checked against their schema)
#   scripts/install-deps.sh windows   the mingw-w64 cross compiler, Wine, the source packages of
#                                     tinyxml2 and PCRE2, GoogleTest's source
#   scripts/install-deps.sh browser   Chromium and Node.js for the report's browser test
#   scripts/install-deps.sh fuzz      clang 16 and its sanitizer and libFuzzer runtimes
set -euo pipefail

sudo_if_needed() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

updated=0
install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ $updated -eq 0 ]; then
    sudo_if_needed apt-get update -qq
    updated=1
  fi
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    "${missing[@]}"
}

# tinyxml2 and PCRE2 have no mingw package: the cross build compiles Debian's
# source packages, which needs a deb-src entry (deb822, like the machine's sources).
enable_source_packages() {
  local sources=/etc/apt/sources.list.d/debian-src.sources
  [ -f "$sources" ] && return 0
  sudo_if_needed tee "$sources" > /dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  sudo_if_needed apt-get update -qq
  updated=1
}

for target in "${@:-linux}"; do
  case "$target" in
    linux)
      install_missing g++ cmake make libtinyxml2-dev nlohmann-json3-dev libpcre2-dev libgtest-dev libbenchmark-dev \
        python3-jsonschema
      ;;
    windows)
      install_missing cmake make g++-mingw-w64-x86-64-posix wine nlohmann-json3-dev googletest dpkg-dev \
        xz-utils
      enable_source_packages
      ;;
    browser)
      install_missing chromium
      # Node.js may come with its own npm (from another repository than
      # Debian's, whose npm package would conflict with it): use what is there.
      if ! command -v node > /dev/null || ! command -v npm > /dev/null; then
        install_missing nodejs npm
      fi
      ;;
    fuzz)
      install_missing cmake make clang-16 libclang-rt-16-dev libtinyxml2-dev nlohmann-json3-dev
      ;;
    *)
      echo "usage: $0 [linux|windows|browser|fuzz]..." >&2
      exit 1
      ;;
  esac
done
