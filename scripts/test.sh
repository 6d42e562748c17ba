#!/usr/bin/env bash
# Builds and runs every test. The OpenGL tests render for real on the display's driver: on a
# machine without a display they run on a virtual one (Xvfb, 1920x1080) with Mesa's llvmpipe.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
cd build
ctest_command=(ctest --output-on-failure -j"$(nproc)" "$@")
if [[ -n "${DISPLAY:-}" ]] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    "${ctest_command[@]}"
else
    xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "${ctest_command[@]}"
fi
