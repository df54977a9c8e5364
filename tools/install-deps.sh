#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the examples need,
# when any of them is missing. Runs apt-get through sudo when not root.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev
  libbenchmark-dev
  libboost-dev libboost-timer-dev libboost-date-time-dev
  libsqlite3-dev
  # The PostgreSQL host's client library, and the server its tests start
  # privately (the package's own cluster is not used and may stay down).
  libpq-dev postgresql-15
  gdb
  locales
  python3-jsonschema
  "$@"
)
# npm fetches the speedscope schema the profile export tests validate
# against; a node installation from elsewhere is used as it is.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
