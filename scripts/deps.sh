#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are present.
set -euo pipefail
pkgs=(cmake ninja-build g++ make pkg-config
      qt6-base-dev qt6-base-private-dev libjpeg62-turbo-dev libjpeg-turbo-progs
      libgtest-dev libgmock-dev libbenchmark-dev libmypaint-dev libzstd-dev
      clang libclang-rt-14-dev xvfb xauth xdotool x11-utils x11-apps openbox
      fonts-ipafont-gothic qt6-translations-l10n)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
