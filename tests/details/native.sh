#!/bin/sh
# The report's tests built with the host's compiler under AddressSanitizer
# and UndefinedBehaviorSanitizer and run without Wine: the code that reads
# the log and writes the report is pure, so a change to it can be checked
# in seconds.
#   tests/details/native.sh [BUILD] [gtest options]
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$src/build/native-details}
[ $# -gt 0 ] && shift
gt=${GTEST_SOURCE_DIR:-/usr/src/googletest}/googletest
mkdir -p "$out"
flags="-std=c++17 -O1 -g -Wall -Wextra -Wshadow -Wno-ignored-attributes -fsanitize=address,undefined -fno-sanitize-recover=all"
# GoogleTest is built once per build folder.
if [ ! -f "$out/gtest.o" ]; then
    ${CXX:-c++} $flags -isystem "$gt/include" -I"$gt" -c "$gt/src/gtest-all.cc" -o "$out/gtest.o"
    ${CXX:-c++} $flags -isystem "$gt/include" -I"$gt" -c "$gt/src/gtest_main.cc" -o "$out/gtest_main.o"
fi
${CXX:-c++} $flags -I"$src/src" -isystem "$gt/include" -o "$out/details_test" \
    "$src/tests/details/details_test.cpp" "$src/src/setup/details.cpp" "$src/src/editions/editions.cpp" \
    "$src/src/util/format.cpp" "$src/src/util/names.cpp" "$out/gtest.o" "$out/gtest_main.o" -pthread
"$out/details_test" "$@"
