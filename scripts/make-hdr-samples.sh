#!/usr/bin/env bash
# Makes RGBE light fields of real high-dynamic-range photographs, for judging tone mapping by eye:
# samples/photo-NAME.lf2d (disparity maps) and samples/photo-NAME-no-disparity.lf2d.
#
# The photographs are OpenEXR files from the Debian package psychtoolbox-3-common (BSD-3-Clause,
# Industrial Light & Magic), fetched with apt-get download (no root needed) and cached with the
# package's copyright file in samples/hdr-photos/. Only the four photographs are unpacked, not the
# package. Existing light fields are kept; delete them to make them again, for instance after
# changing the options below.
set -euo pipefail
cd "$(dirname "$0")/.."

package=psychtoolbox-3-common
inside=usr/share/psychtoolbox-3/PsychDemos/OpenEXRImages
cache=samples/hdr-photos
# Light field name and photograph: a bright sky and the sun on the sea behind dark trees; an
# interior lit through a stained-glass window; oil lamps in a dark room; a city's lights at dusk.
photos=(
    ocean:Ocean.exr
    desk:Desk.exr
    still-life:StillLife.exr
    golden-gate:GoldenGate.exr
)

if [[ ! -x build/lf2d ]]; then
    echo "build/lf2d is missing: run scripts/build.sh first." >&2
    exit 1
fi

mkdir -p "$cache"
missing=()
for entry in "${photos[@]}"; do
    file=${entry#*:}
    [[ -s $cache/$file ]] || missing+=("$file")
done

if [[ ${#missing[@]} -gt 0 ]]; then
    if [[ -d /$inside ]]; then
        echo "Copying ${missing[*]} from the installed $package"
        for file in "${missing[@]}"; do
            cp "/$inside/$file" "$cache/"
        done
        cp "/usr/share/doc/$package/copyright" "$cache/COPYRIGHT-$package"
    else
        scratch=$(mktemp -d)
        trap 'rm -rf "$scratch"' EXIT
        echo "Fetching $package from the Debian archive (about 26 MB) for ${missing[*]}"
        if ! (cd "$scratch" && apt-get download -q "$package"); then
            cat >&2 <<EOF
Cannot fetch $package with apt-get download, so there are no HDR photograph samples.
The Debian archive may be out of reach, or apt's package lists may be missing or stale
(run 'apt-get update' as root). Installing the package ('apt-get install $package') also
works: this script then copies the photographs from /$inside.
EOF
            exit 1
        fi
        deb=$(echo "$scratch"/"$package"_*.deb)
        echo "Unpacking ${missing[*]} from $(basename "$deb")"
        members=("./usr/share/doc/$package/copyright")
        for file in "${missing[@]}"; do
            members+=("./$inside/$file")
        done
        dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$scratch" "${members[@]}"
        for file in "${missing[@]}"; do
            mv "$scratch/$inside/$file" "$cache/"
        done
        mv "$scratch/usr/share/doc/$package/copyright" "$cache/COPYRIGHT-$package"
    fi
fi

make_sample() {
    local name=$1; shift
    if [[ ! -s samples/$name ]]; then
        build/lf2d photo "$@" "samples/$name"
    fi
}
for entry in "${photos[@]}"; do
    name=${entry%%:*}
    file=${entry#*:}
    make_sample "photo-$name.lf2d" "$cache/$file"
    make_sample "photo-$name-no-disparity.lf2d" --no-disparity "$cache/$file"
done
echo "HDR photograph light fields in $PWD/samples: photo-*.lf2d (licence: $cache/COPYRIGHT-$package)"
