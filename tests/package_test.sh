#!/usr/bin/env bash
# What a packager gets: the stripped install, and the Debian package and
# tarball that CPack builds from it.
source "$2/tests/harness.sh"
BUILD=$(dirname "$BIN")

VERSION=$(sed -n 's/^project(zeb_tools VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")
DATE=$(sed -n 's/^set(ZEB_DATE \(.*\))$/\1/p' "$SRC/CMakeLists.txt")
{
  for tool in $ALL_TOOLS; do echo "bin/$tool"; echo "share/man/man1/$tool.1.gz"; done
  echo share/man/man7/zeb-tools.7.gz
  echo share/doc/zeb-tools/copyright
  echo share/doc/zeb-tools/changelog.gz
} | sort >"$WORK/expected_files"

begin "cmake --install --strip: the tools stripped, their pages compressed and dated, licence and changelog"
cmake --install "$BUILD" --prefix "$WORK/prefix" --strip >/dev/null || bad "the install failed"
(cd "$WORK/prefix" && find . -type f | sed 's|^\./||' | sort) >files
expect_same files "$WORK/expected_files"
for tool in $ALL_TOOLS; do
  readelf -S "$WORK/prefix/bin/$tool" | grep -q '\.symtab' && bad "bin/$tool is not stripped"
  zgrep -q '^\.SH SEE ALSO' "$WORK/prefix/share/man/man1/$tool.1.gz" || bad "$tool.1 without SEE ALSO"
done
for page in "$WORK"/prefix/share/man/man*/*.gz; do
  zcat "$page" | head -n 1 | grep -q "^\.TH [^ ]* [17] \"$DATE\" \"zeb tools $VERSION\" " ||
    bad "$page: its footer does not show version $VERSION of $DATE"
done
zcat "$WORK/prefix/share/doc/zeb-tools/changelog.gz" | head -n 1 | grep -q "^zeb-tools ($VERSION) " ||
  bad "the changelog does not begin with version $VERSION"
zcat "$WORK/prefix/share/doc/zeb-tools/changelog.gz" | grep -m 1 '^ -- ' | grep -q "  $(date -u -d "$DATE" +'%a, %d %b %Y') " ||
  bad "the changelog's last entry is not dated $DATE"

# Each install keeps its own manifest: the package builds below rewrite
# CMake's, and so would an install elsewhere.
begin "uninstall removes what the install to its prefix put there, nothing else"
cmake --install "$BUILD" --prefix "$WORK/other" >/dev/null || bad "the install failed"
cpack --config "$BUILD/CPackConfig.cmake" -G TGZ -B "$WORK/scratch" >/dev/null || bad "cpack failed"
: >"$WORK/prefix/bin/not_ours"
cmake -D PREFIX="$WORK/prefix" -P "$BUILD/uninstall.cmake" >/dev/null || bad "uninstall failed"
(cd "$WORK/prefix" && find . -type f) >left
expect_file left './bin/not_ours\n'
(cd "$WORK/other" && find . -type f | sed 's|^\./||' | sort) >files
expect_same files "$WORK/expected_files"
cmake -D PREFIX="$WORK/other" -P "$BUILD/uninstall.cmake" >/dev/null || bad "uninstall failed"
[ -z "$(find "$WORK/other" -type f)" ] || bad "left behind: $(find "$WORK/other" -type f)"

begin "cpack: a Debian package and a tarball, each with the same files"
cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/packages" >/dev/null || bad "cpack failed"
deb=("$WORK"/packages/zeb-tools_"$VERSION"_*.deb)
tarball=("$WORK"/packages/zeb-tools-"$VERSION"-*.tar.gz)
dpkg-deb -c "${deb[0]}" | grep '^-' | awk '{print $NF}' | sed 's|.*/usr/||' | sort >deb_files
tar tzvf "${tarball[0]}" | grep '^-' | awk '{print $NF}' | sed 's|^[^/]*/||' | sort >tar_files
expect_same deb_files "$WORK/expected_files"
expect_same tar_files "$WORK/expected_files"
[ "$(dpkg-deb -f "${deb[0]}" Version)" = "$VERSION" ] || bad "package version is not $VERSION"

summary
