#!/usr/bin/env bash
# Installs what the instrument needs to build, run and test on Debian 12,
# then builds libpd from Debian's own Pure Data source package.
# Idempotent: a second run finds everything in place and does nothing.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$here/build
pd_root=${LIBPD_PREFIX:-$build_dir/libpd}

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

packages=(
  build-essential cmake pkg-config dpkg-dev
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev fonts-dejavu-core
  libboost-dev portaudio19-dev librtmidi-dev liblo-dev
  # test and demonstration harness
  xvfb xdotool x11-utils openbox imagemagick jackd2 libjack-jackd2-dev sox puredata-core
  # checks of the installed files and the Debian package
  lintian desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

apt_updated=0
apt_update() {
  if [ "$apt_updated" = 0 ]; then
    "${sudo_cmd[@]}" apt-get update -q
    apt_updated=1
  fi
}

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt_update
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# libpd: built once into the build tree from the puredata source package.
if [ -f "$pd_root/lib/libpd.a" ] && [ -f "$pd_root/include/z_libpd.h" ]; then
  exit 0
fi

# Source entries are derived from the binary ones already configured, so that
# no mirror is named here.
have_src() {
  grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/
}
if ! have_src; then
  echo "setup: adding source entries derived from the configured binary ones"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/tuning-lattice-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed -E 's/^deb /deb-src /' |
      "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/tuning-lattice-src.list >/dev/null
  else
    echo "setup: no apt sources found to derive source entries from" >&2
    exit 1
  fi
  apt_updated=0
fi
apt_update

src_parent=$build_dir/pd-source
rm -rf "$src_parent"
mkdir -p "$src_parent"
(cd "$src_parent" && apt-get source -q --download-only puredata >/dev/null &&
  dpkg-source -x ./puredata_*.dsc pd >/dev/null)

# libpd's own Makefile builds the static library from that same source. The
# objects stay in the source tree, which is thrown away afterwards.
echo "setup: building libpd"
make -C "$src_parent/pd/libpd" -j"$(nproc)" libpd.a >"$build_dir/libpd-build.log" 2>&1 || {
  tail -n 40 "$build_dir/libpd-build.log" >&2
  echo "setup: building libpd failed (log: $build_dir/libpd-build.log)" >&2
  exit 1
}
staging=$build_dir/libpd.tmp
rm -rf "$staging"
mkdir -p "$staging/include" "$staging/lib"
cp "$src_parent/pd/libpd/libpd.a" "$staging/lib/"
for h in z_libpd.h z_ringbuffer.h m_pd.h; do
  cp "$src_parent/pd/src/$h" "$staging/include/"
done
cp "$src_parent/pd/LICENSE.txt" "$staging/LICENSE.txt"
rm -rf "$pd_root"
mv "$staging" "$pd_root"
rm -rf "$src_parent"
echo "setup: libpd ready in $pd_root"
