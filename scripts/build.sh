#!/usr/bin/env bash
# Configures and builds everything (programs, tools, tests, benchmark) into build/, warnings as
# errors.
set -euo pipefail
cd "$(dirname "$0")/.."
"$PWD/scripts/setup.sh"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLF_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
