#!/bin/sh
# Installs the build into a scratch prefix and checks that a developer can
# use it: the files are in place, the example builds through the CMake
# package and through pkg-config, and both builds (and the installed quillon)
# run against the simulated module.
# usage: check_install.sh BUILD_DIR SOURCE_DIR WORK_DIR CC CMAKE PKG_CONFIG
set -eu
build=$1 src=$2 work=$3 cc=$4 cmake=$5 pkgconfig=$6
prefix=$work/prefix
rm -rf "$work"
mkdir -p "$work"

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"
for f in include/quillonlib.h bin/quillon share/quillonlib/udev/60-quillon.rules; do
    test -e "$prefix/$f" || { echo "not installed: $f"; exit 1; }
done
lib=$(find "$prefix" -name 'libquillonlib.so' | head -n 1)
test -n "$lib" || { echo "libquillonlib.so not installed"; exit 1; }
libdir=$(dirname "$lib")
test -e "$libdir/libquillon_sim.so" || { echo "libquillon_sim.so not installed beside the library"; exit 1; }
for f in cmake/quillonlib/quillonlibConfig.cmake cmake/quillonlib/quillonlibConfigVersion.cmake \
         pkgconfig/quillonlib.pc; do
    test -e "$libdir/$f" || { echo "not installed: $libdir/$f"; exit 1; }
done

export QUILLONLIB_SIMULATOR=1 QUILLONLIB_SIMULATOR_TIME_SCALE=0
check_scan() {
    "$@" >"$work/scan.txt"
    head -n 1 "$work/scan.txt" | grep -Eq '^# [1-9][0-9]* points$' || { echo "no spectrum from $1"; exit 1; }
    points=$(head -n 1 "$work/scan.txt" | cut -d' ' -f2)
    lines=$(grep -Ec '^[0-9]+\.[0-9]+	-?[0-9]+$' "$work/scan.txt")
    test "$lines" -eq "$points" || { echo "$1 printed $lines points of $points"; exit 1; }
}

# find_package(quillonlib) and the quillonlib::quillonlib target.
"$cmake" -S "$src/examples" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
         -DCMAKE_C_COMPILER="$cc" >"$work/consumer.log"
"$cmake" --build "$work/consumer" >>"$work/consumer.log"
check_scan "$work/consumer/scan_once"

# pkg-config, with the prefix found from where the .pc file lies.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
"$pkgconfig" --exists quillonlib || { echo "pkg-config does not find quillonlib"; exit 1; }
# shellcheck disable=SC2046
"$cc" $("$pkgconfig" --cflags quillonlib) "$src/examples/scan_once.c" \
      $("$pkgconfig" --libs quillonlib) -o "$work/scan_once_pc"
LD_LIBRARY_PATH="$libdir" check_scan "$work/scan_once_pc"

# The installed program finds the installed library by itself.
"$prefix/bin/quillon" limits | grep -q '^Scan types: Column Hadamard$' \
    || { echo "installed quillon does not run"; exit 1; }
# The Python package finds the installed library from where it lies.
python=/usr/bin/python3
if "$python" -c 'import numpy' 2>/dev/null; then
    pydir=$(find "$prefix" -type d -name quillon -path '*dist-packages*' | head -n 1)
    test -n "$pydir" || { echo "the quillon Python package is not installed"; exit 1; }
    (unset QUILLONLIB_LIBRARY; cd "$work" && PYTHONPATH=$(dirname "$pydir") "$python" -c \
        'import quillon, sys; sp = quillon.Spectrometer(); sys.exit(len(sp.scan()) == 0)') \
        || { echo "the installed quillon package does not scan"; exit 1; }
fi
echo "install check passed"
