#!/bin/sh
# Installs with apt-get whatever the build and the tests need and this
# machine lacks. Debian packages only; nothing is downloaded otherwise.
set -eu
need=""
want() { # want COMMAND-OR-PATH PACKAGE
    case "$1" in
    /*) [ -e "$1" ] || need="$need $2" ;;
    *) command -v "$1" >/dev/null 2>&1 || need="$need $2" ;;
    esac
}
want cmake cmake
want make make
want python3 python3
want x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
want x86_64-w64-mingw32-gcc-posix gcc-mingw-w64-x86-64-posix
want x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
want /usr/src/googletest/CMakeLists.txt googletest
want wine wine
want /usr/lib/wine/wine64 wine64
want Xvfb xvfb
want xdpyinfo x11-utils
want xdotool xdotool
want genisoimage genisoimage
want /usr/lib/python3/dist-packages/crcmod/__init__.py python3-crcmod
want /usr/include/zlib.h zlib1g-dev
want xorriso xorriso
want bchunk bchunk
want toc2cue cdrdao
want iat iat
want jlha jlha-utils
want lhasa lhasa
want /usr/include/liblhasa-1.0/lhasa.h liblhasa-dev
want icotool icoutils
want 7z p7zip-full
want /usr/bin/convert imagemagick
want clang clang
want /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a libclang-rt-14-dev
want flock util-linux
want fusermount3 fuse3
want /usr/include/fuse3/fuse.h libfuse3-dev
if [ -n "$need" ]; then
    echo "Installing:$need"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends $need
fi
