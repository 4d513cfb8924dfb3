#!/usr/bin/env bash
# Installs the Debian packages that building the tools, their tests and
# the demo need; only those missing, so it is safe to run again. Runs as
# root, or through sudo when there is one.
#   bash install_dependencies.sh        to build and test
#   bash install_dependencies.sh --ci   also the sanitizer and fuzzing
#                                       compiler, valgrind and lintian
set -euo pipefail

# The tests use strace to inject failures, and Debian's Python with numpy
# and mrcfile to make and read maps; without them those tests are skipped.
packages=(cmake make g++ libgtest-dev libxxhash-dev strace python3 python3-numpy python3-mrcfile)
case ${1-} in
  "") ;;
  --ci) packages+=(clang libclang-rt-dev valgrind lintian) ;;
  *) echo "usage: bash install_dependencies.sh [--ci]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null)" = "ii " ] || missing+=("$package")
done
if [ ${#missing[@]} = 0 ]; then
  echo "install_dependencies: all installed"
  exit 0
fi

if [ "$(id -u)" = 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "install_dependencies: installing ${missing[*]} needs root: run this as root, or install sudo" >&2
  exit 1
fi
echo "install_dependencies: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "${missing[@]}"
