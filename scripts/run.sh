#!/usr/bin/env bash
# Builds the viewer, makes the sample light fields and starts viewer-interp-reinhard05.
#
# With a display, the selector window opens: browse to samples/ (the file dialog starts in this
# directory), pick a light field and start the viewer; drag with the left mouse button to move
# the camera. Without a display, the same program runs on a virtual screen and is driven through
# its windows: it opens samples/layers-8bit.lf2d, drags the camera, saves screenshots in
# screenshots/ and closes the viewer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
scripts/make-samples.sh
program=build/viewer-interp-reinhard05

if [[ -n "${DISPLAY:-}" ]] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    # The viewer reads shaders/ from the directory it starts in, or else build/shaders.
    exec "$program"
fi

echo "No display: running $program on a virtual screen and driving it."
rm -rf screenshots
xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" \
    scripts/drive-viewer.sh --drag 60,0 --drag 0,60 --drag -90,40 \
    "$program" samples/layers-8bit.lf2d screenshots
echo "Screenshots of the selector and of the viewer before and after each drag: $PWD/screenshots"
