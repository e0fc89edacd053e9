#!/usr/bin/env bash
# Builds the Debian package from a clean copy of the committed tree and checks that everything a
# user installs with it is inside. Leaves quarnel_<version>_<arch>.deb in build/package/.
#   scripts/package.sh [--source DIR] [--lintian]
#     --source DIR  build from DIR as it is on disk (uncommitted changes included), not git HEAD
#     --lintian     also run lintian on the package (installed when missing) and fail on its errors
# Two minutes on two cores (four where the tools and build dependencies are installed first);
# the build is stopped after 40 minutes.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

source_dir=
lintian=no
while (($#)); do
    case $1 in
        --source) source_dir=$(cd "${2:?--source needs a folder}" && pwd); shift 2 ;;
        --lintian) lintian=yes; shift ;;
        *) echo "package: unknown option $1 (use --source DIR, --lintian)" >&2; exit 2 ;;
    esac
done

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
# apt-get quietly: only its errors reach the terminal.
apt_get() {
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq --no-install-recommends "$@" \
        2> >(grep -v '^debconf: delaying package configuration' >&2) >/dev/null
}
missing_packages() {
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

tools=(build-essential dpkg-dev debhelper fakeroot)
[ "$lintian" = yes ] && tools+=(lintian)
mapfile -t missing < <(missing_packages "${tools[@]}")
if ((${#missing[@]})); then
    echo "package: installing ${missing[*]}"
    apt_get update
    apt_get install "${missing[@]}"
fi

out=$repo/build/package
mkdir -p "$out"
rm -f "$out"/quarnel_* "$out"/quarnel-dbgsym_* "$out"/lintian.txt
work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/quarnel
mkdir "$src"

# A fresh copy: the checkout stays clean and no build folder of the developer's leaks in.
if [ -n "$source_dir" ]; then
    tar -C "$source_dir" --exclude=./build --exclude='./build-*' --exclude=./.git -cf - . | tar -C "$src" -xf -
else
    git -C "$repo" archive --format=tar HEAD | tar -C "$src" -xf -
fi

# The package's version is the project's: the changelog's entry takes it from CMakeLists.txt.
version=$(sed -n 's/^project(Quarnel VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
sed -i "1s/^quarnel ([^)]*)/quarnel ($version)/" "$src/debian/changelog"

# The build dependencies come from debian/control, so this script never repeats them.
if ! (cd "$src" && dpkg-checkbuilddeps >/dev/null 2>&1); then
    echo "package: installing the build dependencies"
    apt_get update
    apt_get build-dep "$src"
fi

log=$out/build.log
echo "package: dpkg-buildpackage -us -uc -b (log: ${log#"$repo"/})"
if ! (cd "$src" && timeout 40m dpkg-buildpackage -us -uc -b -j"$(nproc)") >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "package: the package build failed; the whole log is $log" >&2
    exit 1
fi
cp "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes "$out"/

deb=$(find "$out" -maxdepth 1 -name 'quarnel_*.deb' | head -n 1)
[ -n "$deb" ] || { echo "package: dpkg-buildpackage made no quarnel_*.deb" >&2; exit 1; }

expected=(
    ./usr/bin/Quarnel
    ./usr/share/applications/quarnel.desktop
    ./usr/share/icons/hicolor/scalable/apps/quarnel.svg
    ./usr/share/icons/hicolor/48x48/apps/quarnel.png
    ./usr/lib/systemd/user/quarnel.service
    ./usr/share/man/man1/Quarnel.1.gz
    ./usr/share/metainfo/io.github.tolmar.Quarnel.metainfo.xml
)
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
absent=()
for f in "${expected[@]}"; do
    grep -qxF "$f" <<<"$contents" || absent+=("${f#.}")
done
if ((${#absent[@]})); then
    echo "package: $(basename "$deb") lacks: ${absent[*]}" >&2
    exit 1
fi
if ! dpkg-deb -f "$deb" Depends | grep -qw hamradio-files; then
    echo "package: $(basename "$deb") does not depend on hamradio-files (for cty.dat)" >&2
    exit 1
fi

if [ "$lintian" = yes ]; then
    # Errors fail the build; warnings are printed for the reader (and kept in lintian.txt).
    status=0
    lintian --fail-on error "$out"/quarnel_*.changes >"$out/lintian.txt" 2>&1 || status=$?
    grep -v '^running with root privileges' "$out/lintian.txt" >&2 || true
    ((status == 0)) || { echo "package: lintian found errors" >&2; exit 1; }
fi
echo "package: ${deb#"$repo"/} ($(du -h "$deb" | cut -f1)), every expected file inside"
