#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine. As root it
# runs apt-get; otherwise it prints the exact apt-get line and stops.
#   tools/setup.sh [base|browser|arm|fuzz|bench|lint|deb|all]...
set -euo pipefail
# --help: the comment above, the script's usage.
case "${1:-}" in --help | -h) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac

# dpkg-dev (dpkg-shlibdeps) and systemd (systemd-analyze) let the package and
# service unit tests run; both are small beside the compilers.
need_base=(g++ cmake make libssl-dev zlib1g-dev libgtest-dev libgmock-dev clang-format dpkg-dev systemd)
# node and npm may come from another packaging of node that holds both in one
# package and conflicts with Debian's npm: working commands are enough.
# The browser group also holds the reverse proxy of the end-to-end proxy test
# (nginx, with openssl to make its certificate).
need_browser=(chromium nginx openssl)
command -v node >/dev/null || need_browser+=(nodejs)
command -v npm >/dev/null || need_browser+=(npm)
need_arm=(g++-arm-linux-gnueabihf qemu-user libssl-dev:armhf zlib1g-dev:armhf libstdc++6:armhf)
need_fuzz=(clang libclang-rt-14-dev)
need_bench=(libbenchmark-dev valgrind python3)
need_lint=(clang-tidy)
# make deb: the packages' check (dpkg-deb builds them as root-owned without fakeroot).
need_deb=(dpkg-dev lintian)

wanted=()
for group in "${@:-base}"; do
  case "$group" in
    base) wanted+=("${need_base[@]}") ;;
    browser) wanted+=("${need_browser[@]}") ;;
    arm) wanted+=("${need_arm[@]}") ;;
    fuzz) wanted+=("${need_fuzz[@]}") ;;
    bench) wanted+=("${need_bench[@]}") ;;
    lint) wanted+=("${need_lint[@]}") ;;
    deb) wanted+=("${need_deb[@]}") ;;
    all) wanted+=("${need_base[@]}" "${need_browser[@]}" "${need_arm[@]}" "${need_fuzz[@]}"
                  "${need_bench[@]}" "${need_lint[@]}" "${need_deb[@]}") ;;
    *) echo "setup.sh: unknown group $group" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

needs_armhf=0
for package in "${missing[@]}"; do
  case "$package" in *:armhf) needs_armhf=1 ;; esac
done

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Install them with:" >&2
  [ $needs_armhf -eq 1 ] && echo "  sudo dpkg --add-architecture armhf" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

if [ $needs_armhf -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx armhf; then
  dpkg --add-architecture armhf
fi
export DEBIAN_FRONTEND=noninteractive
# Installing nginx would start it as a system service on port 80; the tests
# run their own. Where no policy says otherwise, services are not started
# during this install (the policy file is removed again after it).
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' >"$policy"
  chmod 755 "$policy"
  trap 'rm -f "$policy"' EXIT
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
