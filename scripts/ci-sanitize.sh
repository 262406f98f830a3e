#!/usr/bin/env bash
# Builds the whole project again with AddressSanitizer and
# UndefinedBehaviorSanitizer in its own folder and runs every test there.
# tests/CMakeLists.txt hands the tests the sanitizer options and
# tests/lsan.supp.
#
#   SANITIZE_BUILD  build folder (default build-sanitize)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${SANITIZE_BUILD:-build-sanitize}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOMBRIX_SANITIZE=ON
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --no-tests=error
