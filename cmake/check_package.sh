#!/bin/sh
# Builds the Debian package, checks what it holds and declares, installs it
# into a scratch root as dpkg would (its files, then its script run against
# that root) and uses it from there: `quillon list` on the simulated module
# and Debian's python3 importing the package, each with the root's library.
# usage: check_package.sh SOURCE_DIR WORK_DIR
set -eu
src=$1 work=$2
rm -rf "$work/root" "$work/control" "$work/stub"
mkdir -p "$work"
deb=$(sh "$src/cmake/build_package.sh" "$src" "$work/tree")
fail() { echo "package: $*" >&2; exit 1; }
basename "$deb" | grep -Eq '^quillonlib_[0-9]+\.[0-9]+\.[0-9]+_[a-z0-9]+\.deb$' ||
    fail "named $(basename "$deb"), not quillonlib_<version>_<arch>.deb"

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
lib=usr/lib/$multiarch
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in $lib/libquillonlib.so.1 $lib/libquillonlib.so $lib/libquillon_sim.so \
         $lib/pkgconfig/quillonlib.pc $lib/cmake/quillonlib/quillonlibConfig.cmake \
         usr/include/quillonlib.h usr/bin/quillon usr/lib/udev/rules.d/60-quillon.rules \
         usr/lib/python3/dist-packages/quillon/__init__.py \
         usr/lib/python3/dist-packages/quillon/_installed.py; do
    echo "$contents" | grep -qx "\./$f" || fail "does not hold /$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libhidapi-hidraw0 python3-numpy libc6 libgcc-s1; do
    echo "$depends" | grep -Eq "(^|, )($d)" || fail "does not depend on $d: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
objdump -p "$root/$lib/libquillonlib.so.1" | grep -q 'SONAME *libquillonlib\.so\.1$' ||
    fail "the library's soname is not libquillonlib.so.1"
# Installed into another root, the script leaves this machine's udev alone.
mkdir -p "$work/stub"
printf '#!/bin/sh\necho "$*" >>"%s/udevadm.log"\n' "$work" >"$work/stub/udevadm"
chmod +x "$work/stub/udevadm"
rm -f "$work/udevadm.log"
PATH="$work/stub:$PATH" DPKG_ROOT=$root sh "$work/control/postinst" configure ||
    fail "postinst failed"
test ! -e "$work/udevadm.log" || fail "postinst ran udevadm for another root"

cd "$work"
export QUILLONLIB_SIMULATOR=1 QUILLONLIB_SIMULATOR_TIME_SCALE=0
unset LD_LIBRARY_PATH QUILLONLIB_LIBRARY PYTHONPATH
listed=$("$root/usr/bin/quillon" list) || fail "quillon list failed"
echo "$listed" | grep -q "1 module found" || fail "quillon list: $listed"
loaded=$(PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
    'import quillon, quillon._library as l; print(l.lib._name, quillon.list_modules())') ||
    fail "python3 -c 'import quillon' failed"
case $loaded in
    "$root/$lib/libquillonlib.so.1 [0]") ;;
    *) fail "python3 loaded: $loaded" ;;
esac
echo "package $(basename "$deb") installs and works; depends: $depends"
