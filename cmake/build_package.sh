#!/bin/sh
# Builds the Debian package in its own tree, configured for /usr with the udev
# rule where udev reads packaged rules; prints the package's path.
# usage: build_package.sh SOURCE_DIR BUILD_DIR [CMAKE]
set -eu
src=$1 build=$2 cmake=${3:-cmake}
"$cmake" -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUILLON_TESTS=OFF -DQUILLON_BENCH=OFF -DQUILLON_INSTALL_UDEV_RULE=ON \
    -DQUILLON_UDEV_RULES_DIR:STRING=lib/udev/rules.d >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log" >&2; exit 1; }
"$cmake" --build "$build" -j "${JOBS:-2}" >"$build.build.log" 2>&1 ||
    { tail -n 40 "$build.build.log" >&2; exit 1; }
rm -f "$build"/quillonlib_*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
ls "$build"/quillonlib_*_*.deb
