#!/usr/bin/env bash
# Configures and builds everything into build-asan/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, warnings as errors. Its tests preload a library that keeps the GL
# driver loaded and read their leak suppressions from tests/sanitizer/.
set -euo pipefail
cd "$(dirname "$0")/.."
"$PWD/scripts/setup.sh"
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLF_SANITIZE=ON -DLF_WERROR=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
