#!/usr/bin/env bash
# Builds and runs every test, then builds everything again with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/) and runs every test there too. The OpenGL tests render
# for real on the display's driver: on a machine without a display they run on a virtual one
# (Xvfb, 1920x1080) with Mesa's llvmpipe. Arguments go to ctest; LF_SANITIZED=0 skips the
# sanitized build.
set -euo pipefail
cd "$(dirname "$0")/.."

run_tests() {
    local ctest_command=(ctest --test-dir "$1" --output-on-failure -j"$(nproc)" "${@:2}")
    if [[ -n "${DISPLAY:-}" ]] && xdotool getdisplaygeometry >/dev/null 2>&1; then
        "${ctest_command[@]}"
    else
        xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "${ctest_command[@]}"
    fi
}

scripts/build.sh
run_tests build "$@"
if [[ ${LF_SANITIZED:-1} != 0 ]]; then
    scripts/build-sanitized.sh
    run_tests build-asan "$@"
fi
