#!/usr/bin/env bash
# The Debian package as `make package` builds it: its name, its files, its
# control fields, and what Debian's own checkers say about it.
#
#   package-test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$1 source=$2 version=$3
id=io.github.elsted.TuningLattice

fail() { echo "package-test: $*" >&2; exit 1; }
for tool in cpack dpkg-deb desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || fail "$tool is missing; scripts/setup.sh installs it"
done

scratch=$(mktemp -d "$build/package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$scratch/tuning-lattice_${version}-1_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$scratch")"
ls -l "$deb"

# Every file, and nothing else: the fixed ones, then the patch set and the
# data as the source tree holds them.
expected=$scratch/expected
{
    printf './usr/bin/%s\n' lattice-tool tuning-lattice
    echo "./usr/share/applications/$id.desktop"
    echo "./usr/share/metainfo/$id.metainfo.xml"
    printf './usr/share/doc/tuning-lattice/%s\n' changelog.Debian.gz copyright
    printf './usr/share/man/man1/%s.1.gz\n' lattice-tool tuning-lattice
    echo ./usr/share/lintian/overrides/tuning-lattice
    for size in 16 22 24 32 48 64 128 256; do
        echo "./usr/share/icons/hicolor/${size}x$size/apps/$id.png"
    done
    (cd "$source" && find patches -type f -printf './usr/share/tuning-lattice/%p\n')
    (cd "$source/resources/data" && find . -type f -printf './usr/share/tuning-lattice/%P\n')
} | sort >"$expected"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$scratch/listed"
diff -u "$expected" "$scratch/listed" || fail "the package's files differ from the expected set"

dpkg-deb -f "$deb" Package Version Section Maintainer Depends
[ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || fail "version is not $version-1"
[ "$(dpkg-deb -f "$deb" Section)" = sound ] || fail "section is not sound"
for library in libqt5widgets5 libqt5svg5 libportaudio2 librtmidi; do
    dpkg-deb -f "$deb" Depends | grep -q "$library" || fail "Depends lacks $library"
done

root=$scratch/root
dpkg-deb -x "$deb" "$root"
# The stripped programs still run, and the tool's manual page has every command.
"$root/usr/bin/tuning-lattice" --version | grep -qxF "tuning-lattice (Elsted Tuning Lattice) $version" ||
    fail "tuning-lattice --version"
commands=$("$root/usr/bin/lattice-tool" --help | sed -n 's/^  lattice-tool \([a-z]\+\).*/\1/p' | sort -u)
[ -n "$commands" ] || fail "lattice-tool --help lists no command"
for command in $commands; do
    zgrep -q "^\\\\fB$command\\b" "$root/usr/share/man/man1/lattice-tool.1.gz" ||
        fail "lattice-tool.1 does not describe $command"
done

desktop-file-validate "$root/usr/share/applications/$id.desktop"
appstreamcli validate-tree --no-net --strict "$root"

if command -v lintian >/dev/null; then
    # Root is how CI runs; lintian only notes it.
    lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v "running with root privileges" | tee "$scratch/lintian" || true
    ! grep -q '^E:' "$scratch/lintian" || fail "lintian reports errors"
else
    echo "package-test: lintian is not installed; the package was not linted"
fi
echo "package-test: passed"
