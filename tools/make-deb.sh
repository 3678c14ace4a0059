#!/usr/bin/env bash
# Builds the Debian package of one build folder with Debian's own tools:
#   tools/make-deb.sh BUILD OUT ARCH [EMULATOR...]
# The build's install rules lay the files out (prefix /usr); then the unit
# moves to /lib/systemd/system (where Debian 12's packages keep units), the
# example settings become /etc/default/panel-server (a conffile), and the
# maintainer scripts, copyright, changelog and md5sums join them.
# dpkg-shlibdeps computes the dependencies from the programs themselves.
# The version is the release the server's --version prints (run through
# EMULATOR when it is built for another architecture) and a suffix naming the
# sources' last commit, +git<UTC commit time, YYYYMMDDhhmmss>.<hash>, so
# that each build of a later commit sorts after every earlier one and apt
# upgrades to it; uncommitted changes add .m<build time in seconds since
# 1970> so that each such build moves too (and the file name stays within
# lintian's 80 characters). PANEL_DEB_VERSION, when set, is the whole
# version instead.
# Writes OUT/panel-server_<version>_<arch>.deb and prints its path.
set -euo pipefail
# --help: the comment above, the script's usage.
case "${1:-}" in --help | -h) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
if [ $# -lt 3 ]; then
  echo "usage: $0 BUILD OUT ARCH [EMULATOR...]" >&2
  exit 2
fi
build=$1 out=$2 arch=$3
shift 3
tools=$(cd "$(dirname "$0")" && pwd)
for tool in dpkg-deb dpkg-shlibdeps; do
  command -v $tool >/dev/null || { echo "$0: $tool is missing (tools/setup.sh deb)" >&2; exit 3; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/panel-deb-XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr --strip >"$work/install.log"

release=$("$@" "$root/usr/bin/panel-server" --version | sed -n 's/.*Version : *//p')
if ! [[ $release =~ ^[0-9][0-9A-Za-z.+~]*$ ]]; then
  echo "$0: no version in the server's --version: '$release'" >&2
  exit 4
fi
stamp=$(git -C "$tools" log -1 --format=%ct 2>/dev/null || date +%s)
if [ -n "${PANEL_DEB_VERSION:-}" ]; then
  version=$PANEL_DEB_VERSION
elif commit=$(git -C "$tools" log -1 --format=%h --abbrev=7 2>/dev/null); then
  version="$release+git$(date -u -d "@$stamp" +%Y%m%d%H%M%S).$commit"
  git -C "$tools" diff --quiet HEAD -- || version="$version.m$(date +%s)"
else
  version=$release
fi
if ! [[ $version =~ ^[0-9][0-9A-Za-z.+~]*$ ]]; then
  echo "$0: '$version' is not a version of a native Debian package" >&2
  exit 4
fi

mkdir -p "$root/lib/systemd/system" "$root/etc/default" "$root/usr/share/doc/panel-server"
if [ -e "$root/usr/lib/systemd/system/panel-server.service" ]; then
  mv "$root/usr/lib/systemd/system/panel-server.service" "$root/lib/systemd/system/"
  rmdir --ignore-fail-on-non-empty "$root/usr/lib/systemd/system" "$root/usr/lib/systemd" "$root/usr/lib"
fi
mv "$root/usr/share/panel-server/panel-server.default" "$root/etc/default/panel-server"
gzip -9n "$root"/usr/share/man/man1/*.1
static=0
grep -q '^PANEL_STATIC:BOOL=ON' "$build/CMakeCache.txt" && static=1
# The licences of what the program carries: its own, and for the device
# build (PANEL_STATIC) those of libcrypto and zlib, linked into it.
{
  cat "$tools/deb/copyright"
  [ $static = 0 ] || { echo; cat "$tools/deb/copyright-linked"; }
} >"$root/usr/share/doc/panel-server/copyright"
# The changelog of a package built from the project's sources: one entry,
# dated by the last commit so the same sources give the same package.
maintainer=${DEB_MAINTAINER:-$(git -C "$tools" log -1 --format='%an <%ae>' 2>/dev/null ||
  echo "panel-server builder <root@localhost>")}
{
  echo "panel-server ($version) unstable; urgency=medium"
  echo
  echo "  * Built from the project's sources."
  echo
  echo " -- $maintainer  $(LC_ALL=C date -u -R -d "@$stamp")"
} | gzip -9n >"$root/usr/share/doc/panel-server/changelog.gz"
# The device build (PANEL_STATIC) links zlib and libcrypto into the server
# so that a board needs nothing but its C library: said so to lintian.
if [ $static = 1 ]; then
  mkdir -p "$root/usr/share/lintian/overrides"
  cat >"$root/usr/share/lintian/overrides/panel-server" <<'OVERRIDES'
# The device build links zlib in on purpose (PANEL_STATIC): the server
# needs nothing on the board but the C library.
panel-server: embedded-library zlib [usr/bin/panel-server]
# The licence of libcrypto, linked into the server, travels whole with it
# (also in /usr/share/common-licenses/Apache-2.0, as the file says).
panel-server: copyright-file-contains-full-apache-2-license
OVERRIDES
fi
chmod -R u=rwX,go=rX "$root"
chmod 755 "$root/usr/bin/panel-server"

# dpkg-shlibdeps reads the architecture from the environment and wants a
# source package's control file beside it.
mkdir -p "$work/debian"
printf 'Source: panel-server\n\nPackage: panel-server\nArchitecture: any\n' >"$work/debian/control"
programs=()
for program in "$root"/usr/bin/*; do [ -L "$program" ] || programs+=(-e "$program"); done
depends=$(cd "$work" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O "${programs[@]}" 2>"$work/shlibdeps.log" |
  sed -n 's/^shlibs:Depends=//p') || { cat "$work/shlibdeps.log" >&2; exit 5; }

mkdir -p "$root/DEBIAN"
cp "$tools/deb/postinst" "$tools/deb/prerm" "$tools/deb/postrm" "$root/DEBIAN/"
echo /etc/default/panel-server >"$root/DEBIAN/conffiles"
(cd "$root" && find usr lib -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
cat >"$root/DEBIAN/control" <<CONTROL
Package: panel-server
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Section: net
Priority: optional
Description: control panel of a device, shown in any web browser
 A small server that keeps one BMP picture as its frame buffer, draws push
 buttons and sliders on it and streams it to up to five browsers over
 WebSocket; the browsers' presses drive the panel. The service runs it
 sandboxed on port 8080 from /var/lib/panel-server, with its settings in
 /etc/default/panel-server and an optional access key (panel-key).
CONTROL

mkdir -p "$out"
deb="$out/panel-server_${version}_${arch}.deb"
SOURCE_DATE_EPOCH=$stamp dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
