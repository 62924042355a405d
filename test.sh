#!/bin/sh
# Builds everything and runs every test: the Windows programs under Wine in a
# private prefix inside build/, the format code natively under sanitizers.
set -eu
cd "$(dirname "$0")"
tools/deps.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
ctest --test-dir build -j2 --output-on-failure
