#!/usr/bin/env bash
# Makes the sample light fields in samples/ with lf2d synth: 8-bit and RGBE, with and without
# disparity maps. Existing samples are kept.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p samples
make_sample() {
    local name=$1; shift
    if [[ ! -s samples/$name ]]; then
        build/lf2d synth "$@" "samples/$name"
    fi
}
make_sample layers-8bit.lf2d
make_sample layers-8bit-no-disparity.lf2d --no-disparity
make_sample layers-rgbe.lf2d --hdr
make_sample layers-rgbe-no-disparity.lf2d --hdr --no-disparity
