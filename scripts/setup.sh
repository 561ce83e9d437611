#!/usr/bin/env bash
# Installs what the build and the tests need and is missing; quiet and idempotent.
# Usage: scripts/setup.sh [build|fuzz]   (default: build)
set -euo pipefail

cd "$(dirname "$0")/.."

flavour="${1:-build}"
# How long apt waits for another apt or dpkg run to let go of its lock (a freshly booted machine's
# daily apt job holds it for minutes), in seconds.
apt_lock_seconds=600

build_packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libabsl-dev
  libevent-dev libssl-dev libcurl4-openssl-dev libyajl-dev libpcre3-dev libboost-dev zlib1g-dev
  python3 openssl
)
# llvm-16 brings llvm-symbolizer-16, which names the functions and lines in a finding's stack trace.
fuzz_packages=(clang-16 libclang-rt-16-dev llvm-16)

wanted=("${build_packages[@]}")
if [ "$flavour" = "fuzz" ]; then
  wanted+=("${fuzz_packages[@]}")
fi
# The npm test peers need Node.js and npm: Debian's own are enough. A Node.js with its npm that was
# installed some other way is kept.
if ! command -v npm >/dev/null 2>&1; then
  wanted+=(nodejs npm)
fi

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

if [ "${#missing[@]}" -ne 0 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "setup: ${missing[*]} must be installed: run as root, or install sudo" >&2
      exit 1
    fi
    sudo_cmd=(sudo)
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt_options=(-qq -o "DPkg::Lock::Timeout=$apt_lock_seconds")
  # apt is quiet here unless it fails: then all it said, on both outputs, tells why (its last line
  # alone, such as "E: Unable to correct problems", does not).
  run_apt() {
    local said
    if ! said="$("${sudo_cmd[@]}" apt-get "${apt_options[@]}" "$@" 2>&1)"; then
      printf '%s\n' "$said" >&2
      echo "setup: apt-get $1 failed" >&2
      exit 1
    fi
  }
  run_apt update
  run_apt install -y --no-install-recommends "${missing[@]}"
fi

# The npm test peers (pouchdb-server, rcon-client), pinned by tests/peers/package-lock.json. They are
# installed again only when node_modules is missing or the lock file changed since the last install.
peers=tests/peers
stamp="$peers/node_modules/.orv-lock-sha256"
lock_sum="$(sha256sum "$peers/package-lock.json" | cut -d' ' -f1)"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$lock_sum" ]; then
  echo "setup: installing the npm test peers"
  (cd "$peers" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
  echo "$lock_sum" >"$stamp"
fi
