#!/usr/bin/env bash
# Installs the Debian packages a job needs that are not installed yet, from
# the project's one list, .ci/packages.txt. Silent when nothing is missing.
#   scripts/setup.sh [build|test|check|bench]...   (default: build)
# test includes build, check includes test, bench includes build.
# Installs with apt-get as root, through sudo otherwise; without either it
# names the missing packages and exits with status 1.
set -euo pipefail
list=$(dirname "$0")/../.ci/packages.txt

groups=()
for job in "${@:-build}"; do
  case $job in
    build) groups+=(build) ;;
    test) groups+=(build test) ;;
    check) groups+=(build test check) ;;
    bench) groups+=(build bench) ;;
    *) echo "setup.sh: unknown job '$job' (build, test, check or bench)" >&2; exit 2 ;;
  esac
done

wanted=$(awk -v groups=" ${groups[*]} " '
  /^[[:space:]]*(#|$)/ { next }
  index(groups, " " $1 " ") && !seen[$2]++ { print $2 }' "$list")

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}
missing=()
for pkg in $wanted; do
  installed "$pkg" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup.sh: please install these Debian packages: apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "setup.sh: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
