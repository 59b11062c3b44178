#!/usr/bin/env bash
# Builds the Debian package from the build tree with CPack and checks what a user would get: the
# exact file list (binaries, data, desktop entry, icon, metainfo, manual pages, and no sample
# card), the control fields with the computed and the declared dependencies, and that the
# packaged CLI runs and finds its data beside itself.
#   check_package.sh BUILD_DIR APP_ID
set -uo pipefail
build=$1 appid=$2
work=$build/package-test
failed=0
fail() { echo "FAIL: $*"; failed=1; }

rm -rf "$work" && mkdir -p "$work" || exit 1
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack -G DEB failed"
  exit 1
fi
shopt -s nullglob
debs=("$work"/lumafind_*.deb)
if [ ${#debs[@]} != 1 ]; then
  cat "$work/cpack.log"
  echo "FAIL: expected one lumafind_*.deb in $work, found ${#debs[@]}"
  exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# The file list, exactly.
expected=$(sort <<EOT
./usr/bin/lumafind
./usr/bin/lumafind-cli
./usr/share/applications/lumafind.desktop
./usr/share/icons/hicolor/scalable/apps/lumafind.svg
./usr/share/lumafind/Help.pdf
./usr/share/lumafind/KovExt2.dll
./usr/share/lumafind/KovExt2Adv.dll
./usr/share/lumafind/KovRaw.dll
./usr/share/lumafind/KovRawAdv.dll
./usr/share/lumafind/KovVideo.dll
./usr/share/lumafind/KovVideoAdv.dll
./usr/share/lumafind/NoPreview.png
./usr/share/man/man1/lumafind-cli.1.gz
./usr/share/man/man1/lumafind.1.gz
./usr/share/metainfo/$appid.metainfo.xml
EOT
)
actual=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
if [ "$actual" != "$expected" ]; then
  fail "the package's files differ from the expected list (< expected, > packaged):"
  diff <(echo "$expected") <(echo "$actual")
fi
grep -q 'sample-card' <<<"$actual" && fail "the sample card is in the package"

# Control fields. Depends holds what dpkg-shlibdeps computed from the binaries (the Qt and C
# libraries, Exiv2, LibRaw and libheif) and what Qt loads at run time; Recommends holds udisks2.
info=$(dpkg-deb --info "$deb")
field() { sed -n "s/^ $1: //p" <<<"$info"; }
[ "$(field Package)" = lumafind ] || fail "Package is '$(field Package)'"
[ "$(field Maintainer)" = Norvo ] || fail "Maintainer is '$(field Maintainer)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Section)" ] || fail "no Section"
depends=$(field Depends)
recommends=$(field Recommends)
echo "Depends: $depends"
echo "Recommends: $recommends"
names() { sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$1"; }
for p in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6multimedia6 libqt6multimediawidgets6 \
         libexiv2-27 libraw20 libheif1 \
         gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav \
         qt6-image-formats-plugins; do
  names "$depends" | grep -qxF "$p" || fail "Depends does not name $p"
done
names "$recommends" | grep -qxF udisks2 || fail "Recommends does not name udisks2"
grep -q "^ Description: " <<<"$info" || fail "no Description"

# The packaged binaries: stripped, and the CLI finds its databases in ../share/lumafind.
root=$work/root
dpkg-deb -x "$deb" "$root"
for b in lumafind lumafind-cli; do
  kind=$(file -b "$root/usr/bin/$b")
  case "$kind" in
    ELF*", stripped"*) ;;
    *) fail "usr/bin/$b is not a stripped executable: $kind" ;;
  esac
done
formats=$(env -u LUMAFIND_RESOURCES "$root/usr/bin/lumafind-cli" formats --mode raw 2>&1) \
  || fail "the packaged lumafind-cli formats failed: $formats"
grep -q ' KovRaw.dll ' <<<"$formats" && grep -q ' KovRawAdv.dll ' <<<"$formats" \
  || fail "the packaged lumafind-cli lists no types from its databases: $formats"
# Only a build has the sample card: the packaged CLI asks for a SOURCE instead.
noSource=$(env -u LUMAFIND_RESOURCES "$root/usr/bin/lumafind-cli" scan 2>&1)
rc=$?
[ "$rc" = 2 ] && grep -q 'name the device or disk image' <<<"$noSource" \
  || fail "the packaged lumafind-cli scan without SOURCE exited $rc: $noSource"

# The installed tree as a software centre reads it: the metainfo, its desktop entry and icon.
tree=$(appstreamcli validate-tree --no-net "$root" 2>&1) || fail "appstreamcli validate-tree: $tree"

[ "$failed" = 0 ] && rm -rf "$root"
exit $failed
