#!/usr/bin/env bash
# Builds the Debian package from the release preset, unpacks it into a
# temporary root and checks that what a user gets works: the desktop entry
# validates, the file type and manual page are well-formed, and the unpacked
# cv-qrn-cli heartlines an installed sample track and writes the same bytes
# as the dev build (DEV_DIR) on every installed sample and on 100 builder-made
# layouts.
#
#   bash packaging/check_package.sh [BUILD_DIR [DEV_DIR]]
#   (defaults: build/release, build/dev)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build/release}
dev_dir=${2:-build/dev}
jobs=$(nproc)

fail() {
  echo "check_package: $*" >&2
  exit 1
}

echo "-- configuring and building the release preset in $build_dir"
cmake --preset release -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$jobs"

echo "-- packaging"
rm -f "$build_dir"/cv-qrn_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
debs=("$build_dir"/cv-qrn_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no cv-qrn_*.deb in $build_dir"
[ "${#debs[@]}" -eq 1 ] || fail "more than one package in $build_dir: ${debs[*]}"
deb=${debs[0]}
echo "   $deb"

depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || fail "the package declares no dependencies"
echo "   Depends: $depends"

root=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$root" "$work"' EXIT
dpkg-deb -x "$deb" "$root"

echo "-- installed files"
expect=(
  usr/bin/cv-qrn-cli
  usr/share/man/man1/cv-qrn-cli.1.gz
  usr/share/mime/packages/cv-qrn.xml
)
if [ -f app/CMakeLists.txt ]; then
  expect+=(
    usr/bin/cv-qrn
    usr/share/applications/cv-qrn.desktop
    usr/share/icons/hicolor/scalable/apps/cv-qrn.svg
    usr/share/icons/hicolor/48x48/apps/cv-qrn.png
    usr/share/icons/hicolor/256x256/apps/cv-qrn.png
  )
fi
for f in "${expect[@]}"; do
  [ -f "$root/$f" ] || fail "missing from the package: /$f"
done

if [ -f "$root/usr/share/applications/cv-qrn.desktop" ]; then
  desktop-file-validate "$root/usr/share/applications/cv-qrn.desktop" ||
    fail "the desktop entry does not validate"

  # As a desktop sees the installed package: the file type and the desktop
  # entry in a data folder of their own (nothing of the user's is read or
  # changed), then ask which program opens track files.
  echo "-- default program for track files"
  data="$work/xdg-data"
  mkdir -p "$data/applications" "$data/mime/packages" "$work/xdg-config"
  cp "$root/usr/share/applications/cv-qrn.desktop" "$data/applications/"
  cp "$root/usr/share/mime/packages/cv-qrn.xml" "$data/mime/packages/"
  update-mime-database "$data/mime" >/dev/null 2>&1 || fail "the track file type does not load"
  update-desktop-database "$data/applications" || fail "update-desktop-database failed"
  default=$(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION XDG_DATA_HOME="$data" \
    XDG_DATA_DIRS="$data" XDG_CONFIG_HOME="$work/xdg-config" XDG_CONFIG_DIRS="$work/xdg-config" \
    xdg-mime query default application/x-cvtrack)
  [ "$default" = "cv-qrn.desktop" ] ||
    fail "xdg-mime names '$default', not cv-qrn.desktop, for application/x-cvtrack"
  echo "   $default"
fi

# update-mime-database refuses a malformed type definition.
mkdir -p "$work/mime/packages"
cp "$root/usr/share/mime/packages/cv-qrn.xml" "$work/mime/packages/"
mime_log=$(update-mime-database "$work/mime" 2>&1) ||
  fail "the track file type does not load: $mime_log"
grep -q '^application/x-cvtrack$' "$work/mime/types" ||
  fail "the track file type is not registered"
# By the name alone: cv-qrn refuses a file whose name does not end in .cvtrack.
! grep -q 'x-cvtrack' "$work/mime/magic" ||
  fail "the track file type is matched by content, so renamed files would be offered to cv-qrn"

warnings=$(zcat "$root/usr/share/man/man1/cv-qrn-cli.1.gz" |
  LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1 || true)
[ -z "$warnings" ] || fail "the manual page has formatting problems: $warnings"

echo "-- version"
cli="$root/usr/bin/cv-qrn-cli"
package_version=$(dpkg-deb -f "$deb" Version)
"$cli" --version | grep -qF "$package_version" ||
  fail "cv-qrn-cli --version does not show the package version $package_version"

echo "-- heartlining an installed sample"
samples=("$root"/usr/share/cv-qrn/samples/*.cvtrack)
[ -f "${samples[0]}" ] || fail "no sample tracks under /usr/share/cv-qrn/samples"
sample=${samples[0]}
echo "   $(basename "$sample")"
"$cli" heartline "$sample" "$work/out.cvtrack" || fail "cv-qrn-cli heartline failed on $sample"
[ "$(head -c 4 "$work/out.cvtrack")" = "CORV" ] || fail "the heartlined track is not a track file"
"$cli" info "$work/out.cvtrack" >/dev/null || fail "the heartlined track does not load again"

echo "-- the packaged cv-qrn-cli writes the dev build's bytes"
cmake --preset dev -B "$dev_dir" >/dev/null
cmake --build "$dev_dir" -j "$jobs" --target cv-qrn-cli make_corpus
tests/corpus/compare_builds.sh "$dev_dir/cli/cv-qrn-cli" "$cli" "$dev_dir/samples/make_corpus" 100 \
  "$root/usr/share/cv-qrn/samples" || fail "the packaged cv-qrn-cli writes other tracks than the dev build"
CVQRN_CORPUS_OPTIONS=--smooth tests/corpus/compare_builds.sh "$dev_dir/cli/cv-qrn-cli" "$cli" \
  "$dev_dir/samples/make_corpus" 100 "$root/usr/share/cv-qrn/samples" ||
  fail "the packaged cv-qrn-cli's smooth rebuild writes other tracks than the dev build's"

echo "check_package: the package is complete and works"
