#!/usr/bin/env bash
# Opens one light field in each of the eleven programs through their windows and puts what each
# shows side by side, labelled, into one picture:
#
#   scripts/show-all-programs.sh [--drag DX,DY] FILE OUTPUT.png
#
# Run from the repository root after a build. Without a display it runs on a virtual one. With
# --drag the camera is dragged first and the picture after the drag is used. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."

drag=()
if [[ ${1:-} == --drag ]]; then
    drag=(--drag "$2")
    shift 2
fi
if [[ $# -ne 2 ]]; then
    echo "usage: $0 [--drag DX,DY] FILE OUTPUT.png" >&2
    exit 2
fi
file=$(realpath "$1")
output=$2

if [[ -z ${DISPLAY:-} ]] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" "$0" "${drag[@]}" "$file" "$output"
fi

mapfile -t programs < <(grep -v -e '^#' -e '^[[:space:]]*$' deliverables/programs.txt)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
shown=${#drag[@]}
shown=$((shown > 0 ? 1 : 0))

tiles=()
for program in "${programs[@]}"; do
    if ! SETTLE_SECONDS=${SETTLE_SECONDS:-2} scripts/drive-viewer.sh "${drag[@]}" \
        "build/$program" "$file" "$work/$program" >"$work/$program.log" 2>&1; then
        echo "$program failed; its log:" >&2
        cat "$work/$program.log" >&2
        exit 1
    fi
    tiles+=(-label "$program" "$work/$program/view-$shown.png")
    echo "$program: done"
done

montage "${tiles[@]}" -tile 4x -geometry 'x240+6+6' -pointsize 14 -background '#202020' \
    -fill white "$output"
echo "wrote $output"
