#!/usr/bin/env bash
# Fails when a file of the core library includes a file from a layer above its own. The layers,
# lowest first: the GPU toolkit (viewer/gpu) and the build configurations (deliverables), which
# depend on nothing of the project; lightfield; postprocessing; the viewer window (viewer); the
# application (app). Tools, benchmarks and tests stand above all of them.
#
#   scripts/check-layers.sh [ROOT]
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"

# The layer of a project path (a directory and file name), or nothing outside the core.
layer_of() {
    case $1 in
    viewer/gpu/*) echo 0 ;;
    deliverables/*) echo 0 ;;
    lightfield/*) echo 1 ;;
    postprocessing/*) echo 2 ;;
    viewer/*) echo 3 ;;
    app/*) echo 4 ;;
    esac
}

failures=0
while IFS= read -r file; do
    own=$(layer_of "$file")
    [[ -n $own ]] || continue
    while IFS= read -r line; do
        included=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")
        # A name is looked up next to the including file first, then from the root.
        candidate=$(dirname "$file")/$included
        [[ -f $candidate ]] || candidate=$included
        [[ -f $candidate ]] || continue
        candidate=$(realpath --relative-to=. "$candidate")
        theirs=$(layer_of "$candidate")
        if [[ -n $theirs && $theirs -gt $own ]]; then
            echo "$file includes $candidate, from a layer above its own" >&2
            failures=$((failures + 1))
        fi
    done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find viewer deliverables lightfield postprocessing app -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.in' \) | sort)

if ((failures > 0)); then
    echo "$failures includes go up the layers: viewer/gpu, deliverables <- lightfield <- postprocessing <- viewer <- app" >&2
    exit 1
fi
echo "Every include of the core library goes down the layers"
