#!/usr/bin/env bash
# What a packager gets: the stripped install, and the Debian package and
# tarball that CPack builds from it.
source "$2/tests/harness.sh"
BUILD=$(dirname "$BIN")

begin "cmake --install --strip: the seven tools stripped, their pages, the overview page"
cmake --install "$BUILD" --prefix "$WORK/prefix" --strip >/dev/null || bad "the install failed"
for tool in $ALL_TOOLS; do
  [ -x "$WORK/prefix/bin/$tool" ] || bad "bin/$tool missing"
  readelf -S "$WORK/prefix/bin/$tool" | grep -q '\.symtab' && bad "bin/$tool is not stripped"
  grep -q '^\.SH SEE ALSO' "$WORK/prefix/share/man/man1/$tool.1" || bad "$tool.1 missing or without SEE ALSO"
done
[ -f "$WORK/prefix/share/man/man7/zeb-tools.7" ] || bad "man7/zeb-tools.7 missing"

begin "cpack: a Debian package and a tarball, each with the tools and the eight pages"
cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/packages" >/dev/null || bad "cpack failed"
VERSION=$(sed -n 's/^project(zeb_tools VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")
deb=("$WORK"/packages/zeb-tools_"$VERSION"_*.deb)
tarball=("$WORK"/packages/zeb-tools-"$VERSION"-*.tar.gz)
dpkg-deb -c "${deb[0]}" | awk '{print $NF}' | grep -E '/(bin|man[17])/.' | sed 's|.*/usr/||' | sort >deb_files
tar tzf "${tarball[0]}" | grep -E '/(bin|man[17])/.' | sed 's|^[^/]*/||' | sort >tar_files
{
  for tool in $ALL_TOOLS; do echo "bin/$tool"; echo "share/man/man1/$tool.1"; done
  echo share/man/man7/zeb-tools.7
} | sort >expected_files
expect_same deb_files expected_files
expect_same tar_files expected_files
[ "$(dpkg-deb -f "${deb[0]}" Version)" = "$VERSION" ] || bad "package version is not $VERSION"

summary
