#!/usr/bin/env bash
# Runs the benchmarks on a machine with an NVIDIA GPU that has nothing of ours installed: no Qt,
# no X server, no Mesa, and no package registry to fetch them from.
#
#   scripts/gpu-check.sh --bundle [DIR]   here, after scripts/build.sh: packs lfbench, its
#                                         shaders, the synthetic light fields it is run on, Qt,
#                                         Xvfb and Mesa into DIR (default gpu-bundle/)
#   scripts/gpu-check.sh --run [DIR]      on the GPU machine: starts the bundled Xvfb, prints the
#                                         GL renderer, then lfbench pipeline and hdr in windows
#                                         of 512 x 512 and 1920 x 1080
#
# The bundle carries every shared library the programs load except the NVIDIA driver's, glibc's
# (libc, libm, ld.so and the like) and those of the packages every Debian or Ubuntu system has
# (apt, bash, coreutils and login need them: zlib, xz, zstd, bzip2, lz4, libselinux, PCRE2,
# libgcrypt, libsystemd, libcap, libaudit, ncurses). glibc must be the host's: the driver's
# libraries are loaded into the same processes and were linked against it. The host's glibc must
# be at least Debian 12's (2.36), and its base libraries at least as new, which a host of that
# age has. libstdc++ and libgcc_s are carried, so that the host's compiler does not matter.
# Leaving the base libraries out keeps the bundle inside what a run there takes along.
#
# Xvfb needs Mesa even when the programs render on the NVIDIA GPU: its GLX extension, which
# every GLX client needs, exists only while its software renderer loads. Mesa's renderer and
# the LLVM it links are most of the bundle, hence xz.
#
# lf2d is not carried: it reads photographs through OpenImageIO, whose libraries alone are
# several times what a run there takes along. The light fields it makes here are packed
# instead.
#
# --run copies what it prints to $OUT/gpu-check.log when OUT is set. GPU_CHECK_FRAMES is
# lfbench's --frames (default 100, or 5 where Mesa renders), GPU_CHECK_SECONDS (default 280) the
# time all of --run may take; benchmarks that would run past it are stopped or skipped, and the
# summary says which.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
readonly root
readonly mib=$((1024 * 1024))
# What a run on the GPU machine takes along: the bundle and the repository's working tree.
readonly carry_limit=$((64 * mib))
# The pipeline figures' light fields: 9 x 9 views of 512 x 512 of each synthetic scene.
readonly scenes=(layers clutter)
readonly scene_size=512

usage() {
    echo "usage: $0 --bundle [DIR] | --run [DIR]" >&2
    exit 2
}

die() {
    echo "gpu-check: $*" >&2
    exit 1
}

in_mib() {
    awk -v bytes="$1" -v mib="$mib" 'BEGIN { printf "%.1f MiB", bytes / mib }'
}

# Whether a library is left to the host; see the top of this file.
from_host() {
    [[ $1 =~ ^(ld-linux-x86-64|libc|libm|libmvec|libpthread|libdl|librt|libresolv|libutil|libanl|libnss_[a-z]+)\.so ]] ||
        [[ $1 =~ ^(libz|liblzma|libzstd|libbz2|liblz4|libselinux|libpcre2-8|libgcrypt|libgpg-error|libsystemd|libcap|libaudit|libcap-ng|libtinfo)\.so ]]
}

# The path of a library in the loader's cache, if it is there. ldconfig is in sbin, which
# PATH may leave out.
cached_library() {
    { ldconfig -p 2>/dev/null || /sbin/ldconfig -p 2>/dev/null || true; } |
        awk -v name="$1" '$1 == name { print $NF; exit }'
}

# Prints "NAME PATH" for every library the ELF files load, the host's left out, as the loader
# finds them with LD_LIBRARY_PATH set to the first argument and nothing else from the
# environment.
shared_libraries() {
    local library_path=$1 file output line name path
    shift
    for file in "$@"; do
        output=$(env -i PATH=/usr/bin:/bin "LD_LIBRARY_PATH=$library_path" ldd "$file") ||
            die "ldd failed on $file"
        while read -r line; do
            [[ $line == *" => "* ]] || continue # the vDSO and the loader
            read -r name _ path _ <<<"$line"
            [[ $path != not ]] || die "$file needs $name, which cannot be found"
            from_host "$name" || echo "$name $path"
        done <<<"$output"
    done
}

# The whole environment of the bundled programs: nothing of the caller's gets through, so what
# runs here runs on a bare machine too. LD_LIBRARY_PATH may name directories after the bundle's.
bundle_environment() {
    local bundle=$1 library_path=$2
    printf '%s\n' \
        "PATH=/usr/bin:/bin" \
        "HOME=$bundle/home" \
        "XDG_RUNTIME_DIR=$bundle/home/runtime" \
        "LANG=C.UTF-8" \
        "LD_LIBRARY_PATH=$library_path" \
        "LIBGL_DRIVERS_PATH=$bundle/lib/dri" \
        "QT_PLUGIN_PATH=$bundle/plugins" \
        "QT_QPA_PLATFORM=xcb" \
        "QT_XCB_GL_INTEGRATION=xcb_glx" \
        "XKB_CONFIG_ROOT=$bundle/share/X11/xkb" \
        "FONTCONFIG_FILE=$bundle/share/fonts.conf"
}

xvfb_pid=
xkbcomp_installed=
stop_xvfb() {
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=
    fi
    if [[ -n $xkbcomp_installed ]]; then
        rm -f "$xkbcomp_installed"
        xkbcomp_installed=
    fi
}

# Starts the bundle's Xvfb (1920x1080, 24 bits) on a free display and adds DISPLAY to the
# caller's environment array.
start_xvfb() {
    local bundle=$1
    # Xvfb runs its keymap compiler from the directory it was built for, whatever PATH says.
    # Where there is none, the bundle's is put there for as long as the server runs.
    if [[ ! -x /usr/bin/xkbcomp ]]; then
        [[ -w /usr/bin ]] ||
            die "Xvfb needs /usr/bin/xkbcomp, and only root can put the bundle's there"
        printf '#!/bin/sh\n# For the Xvfb of %s; removed when it ends.\nLD_LIBRARY_PATH=%q exec %q "$@"\n' \
            "$bundle" "$bundle/lib" "$bundle/bin/xkbcomp" >/usr/bin/xkbcomp
        chmod 755 /usr/bin/xkbcomp
        xkbcomp_installed=/usr/bin/xkbcomp
        echo "Keymap compiler: the bundle's, as /usr/bin/xkbcomp while Xvfb runs"
    fi
    local number_file=$bundle/home/display log=$bundle/home/xvfb.log number_fd number=
    rm -f "$number_file"
    # Xvfb writes its display number to the descriptor once it takes connections. Its GLX loads
    # Mesa's renderer from LIBGL_DRIVERS_PATH; the fonts a server must open are built in.
    exec {number_fd}>"$number_file"
    env -i "${environment[@]}" "$bundle/bin/Xvfb" -displayfd "$number_fd" -nolisten tcp \
        -screen 0 1920x1080x24 -noreset -fp built-ins -xkbdir "$bundle/share/X11/xkb" \
        >"$log" 2>&1 &
    xvfb_pid=$!
    exec {number_fd}>&-
    for _ in $(seq 200); do
        read -r number <"$number_file" 2>/dev/null || true
        [[ $number =~ ^[0-9]+$ ]] && break
        number=
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    if [[ -z $number ]]; then
        sed 's/^/    /' "$log" >&2
        die "the bundled Xvfb did not start (its output is above)"
    fi
    environment+=("DISPLAY=:$number")
}

bundle() {
    local dir=$1
    local lfbench=$root/build/lfbench lf2d=$root/build/lf2d
    [[ -x $lfbench && -x $lf2d ]] || die "$lfbench and $lf2d are missing: run scripts/build.sh"
    local tool
    for tool in ldd strip tar xz Xvfb xkbcomp; do
        command -v "$tool" >/dev/null || die "$tool is missing: scripts/setup.sh installs it"
    done
    local qt_plugins mesa_glx mesa_dri
    qt_plugins=$(/usr/lib/qt5/bin/qmake -query QT_INSTALL_PLUGINS)
    mesa_glx=$(cached_library libGLX_mesa.so.0)
    mesa_dri=$(dirname "${mesa_glx:-/}")/dri
    [[ -f $mesa_dri/swrast_dri.so ]] ||
        die "Mesa's GLX library or software renderer is missing: scripts/setup.sh installs them"

    local stage
    stage=$(mktemp -d "${TMPDIR:-/tmp}/gpu-bundle.XXXXXX")
    # shellcheck disable=SC2064 # the directory is known now
    trap "stop_xvfb; rm -rf '$stage'" EXIT
    mkdir -p "$stage"/{bin,lib/dri,plugins/platforms,plugins/xcbglintegrations,share/X11/xkb,home}
    mkdir -m 700 "$stage/home/runtime"
    cp "$lfbench" "$(command -v Xvfb)" "$(command -v xkbcomp)" "$stage/bin/"
    # lfbench runs in the bundle's root, where it finds its shaders as in the repository's.
    cp -r "$root/shaders" "$stage/"
    cp "$qt_plugins/platforms/libqxcb.so" "$stage/plugins/platforms/"
    cp "$qt_plugins/xcbglintegrations/libqxcb-glx-integration.so" \
        "$stage/plugins/xcbglintegrations/"
    # libglvnd loads GLX vendor libraries by name; Mesa's is Xvfb's and the fallback.
    cp -L "$mesa_glx" "$stage/lib/libGLX_mesa.so.0"
    cp -L "$mesa_dri/swrast_dri.so" "$stage/lib/dri/"
    local part
    for part in rules keycodes types compat symbols geometry; do
        cp -rL "/usr/share/X11/xkb/$part" "$stage/share/X11/xkb/"
    done
    # lfbench draws no text; an empty configuration keeps Qt's font library from complaining
    # about a host without one.
    printf '<?xml version="1.0"?>\n<fontconfig></fontconfig>\n' >"$stage/share/fonts.conf"

    local programs=("$stage"/bin/* "$stage"/lib/*.so* "$stage"/lib/dri/*.so "$stage"/plugins/*/*.so)
    local libraries name path
    libraries=$(shared_libraries "" "${programs[@]}" | sort -u)
    while read -r name path; do
        [[ -e $stage/lib/$name ]] || cp -L "$path" "$stage/lib/$name"
    done <<<"$libraries"
    if compgen -G "$stage/lib/*nvidia*" >/dev/null || compgen -G "$stage/lib/libcuda*" >/dev/null; then
        die "an NVIDIA library was collected; those must come from the GPU machine's driver"
    fi
    local file
    for file in "$stage"/bin/* "$stage"/lib/*.so* "$stage"/lib/dri/*.so "$stage"/plugins/*/*.so; do
        strip --strip-unneeded "$file"
    done
    echo "Collected $(wc -l <<<"$libraries") libraries; $(du -sm "$stage" | cut -f1) MiB unpacked"

    # Every library must now resolve inside the bundle, the host's aside.
    local found
    for file in "$stage"/bin/* "$stage"/lib/*.so* "$stage"/lib/dri/*.so "$stage"/plugins/*/*.so; do
        found=$(shared_libraries "$stage/lib" "$file")
        while read -r name path; do
            [[ -z $name || $path == "$stage"/* ]] ||
                die "$file loads $name from $path, outside the bundle"
        done <<<"$found"
    done

    local -a environment
    mapfile -t environment < <(bundle_environment "$stage" "$stage/lib")
    start_xvfb "$stage"
    local help
    help=$(cd "$stage" && env -i "${environment[@]}" bin/lfbench --help 2>&1) ||
        die "lfbench --help failed from the bundle: $help"
    echo "lfbench --help from the bundle, in its environment alone:"
    head -n 2 <<<"$help" | sed 's/^/    /'
    stop_xvfb

    echo "Making the light fields with lf2d synth"
    local scene
    for scene in "${scenes[@]}"; do
        "$lf2d" synth --scene "$scene" --width "$scene_size" --height "$scene_size" \
            "$stage/$scene.lf2d" >/dev/null
    done
    rm -rf "${stage:?}/home"

    # Two streams: x86 code compresses better through xz's branch filter, which would only get in
    # the light fields' way. Packed one thread each, side by side, as more threads cost ratio.
    echo "Packing with xz (a few minutes)"
    rm -rf "$dir"
    mkdir -p "$dir"
    local lightfields=("${scenes[@]/%/.lf2d}") programs_pid lightfields_pid
    tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner \
        "${lightfields[@]/#/--exclude=./}" -cf - . |
        xz -T1 --x86 --lzma2=preset=9e >"$dir/programs.tar.xz" &
    programs_pid=$!
    tar -C "$stage" --owner=0 --group=0 --numeric-owner -cf - "${lightfields[@]}" |
        xz -T1 --lzma2=preset=9e,dict=192MiB >"$dir/lightfields.tar.xz" &
    lightfields_pid=$!
    wait "$programs_pid" || die "packing the programs failed"
    wait "$lightfields_pid" || die "packing the light fields failed"
    # The GPU machine may have no xz of its own; liblzma is a base library.
    cp "$(command -v xz)" "$dir/xz"
    strip --strip-unneeded "$dir/xz"

    local size tree
    size=$(du -sb "$dir" | cut -f1)
    tree=$(cd "$root" && git ls-files -z --cached --others --exclude-standard |
        du -cb --files0-from=- 2>/dev/null | tail -n 1 | cut -f1)
    echo "Bundle: $dir, $(in_mib "$size"); the working tree adds $(in_mib "$tree")"
    ((size + tree <= carry_limit)) ||
        die "together they pass the $(in_mib "$carry_limit") a run on the GPU machine takes along"
}

run() {
    local dir=$1 started=$SECONDS
    [[ -f $dir/programs.tar.xz && -f $dir/lightfields.tar.xz ]] ||
        die "no bundle in $dir: make one with $0 --bundle"
    local bundle
    bundle=$(mktemp -d "${TMPDIR:-/tmp}/gpu-check.XXXXXX")
    # shellcheck disable=SC2064 # the directory is known now
    trap "stop_xvfb; rm -rf '$bundle'" EXIT
    local xz=xz archive
    command -v xz >/dev/null || xz=$dir/xz
    for archive in programs lightfields; do
        "$xz" -dc "$dir/$archive.tar.xz" | tar -C "$bundle" -xf -
    done
    mkdir "$bundle/home"
    mkdir -m 700 "$bundle/home/runtime"
    echo "Bundle unpacked in $((SECONDS - started)) s"

    # libglvnd loads libGLX_nvidia.so.0 by name: from the loader's cache, or from a driver
    # directory outside it, which then follows the bundle's in LD_LIBRARY_PATH.
    local vendor=mesa library_path=$bundle/lib nvidia candidate
    nvidia=$(cached_library libGLX_nvidia.so.0)
    if [[ -z $nvidia ]]; then
        for candidate in /usr/local/nvidia/lib64 /usr/local/nvidia/lib /usr/lib64 \
            /usr/lib/x86_64-linux-gnu/nvidia/current /usr/lib/nvidia; do
            if [[ -e $candidate/libGLX_nvidia.so.0 ]]; then
                nvidia=$candidate/libGLX_nvidia.so.0
                library_path+=:$candidate
                break
            fi
        done
    fi
    if [[ -n $nvidia ]]; then
        vendor=nvidia
        echo "GLX vendor: nvidia ($nvidia)"
    else
        echo "GLX vendor: mesa, as this machine has no NVIDIA GLX library (libGLX_nvidia.so.0)"
    fi

    # A library this host lacks shows here, all of them at once, rather than as a program that
    # does not start.
    local file found missing=()
    for file in "$bundle"/bin/* "$bundle"/lib/*.so* "$bundle"/lib/dri/*.so "$bundle"/plugins/*/*.so; do
        found=$(env -i PATH=/usr/bin:/bin "LD_LIBRARY_PATH=$library_path" ldd "$file" |
            awk '$3 == "not" { printf " %s", $1 }')
        [[ -z $found ]] || missing+=("${file#"$bundle"/} needs$found")
    done
    if ((${#missing[@]} > 0)); then
        printf '    %s\n' "${missing[@]}" >&2
        die "this machine lacks the libraries above, which the bundle leaves to the host"
    fi

    local -a environment
    mapfile -t environment < <(bundle_environment "$bundle" "$library_path")
    start_xvfb "$bundle"
    echo "Xvfb: display ${environment[-1]#DISPLAY=}"

    # lfbench without a command opens its context, prints the renderer, compiles every shader
    # and exits 2 after its help. Should the NVIDIA library make no context on this server, the
    # output says why and Mesa takes over.
    local probe
    probe=$(cd "$bundle" && env -i "${environment[@]}" "__GLX_VENDOR_LIBRARY_NAME=$vendor" \
        timeout -k 5 60 bin/lfbench 2>&1) || true
    if [[ $probe != *$'\n'"OpenGL: "* && $probe != "OpenGL: "* && $vendor == nvidia ]]; then
        echo "The NVIDIA GLX library made no OpenGL context; falling back to Mesa. It said:"
        head -n 20 <<<"$probe" | sed 's/^/    /'
        vendor=mesa
        probe=$(cd "$bundle" && env -i "${environment[@]}" "__GLX_VENDOR_LIBRARY_NAME=$vendor" \
            timeout -k 5 60 bin/lfbench 2>&1) || true
    fi
    local renderer
    renderer=$(grep -m 1 '^OpenGL: ' <<<"$probe") ||
        die "lfbench made no OpenGL context on the bundled Xvfb: $(head -n 20 <<<"$probe")"
    renderer="${renderer#OpenGL: } (GLX vendor $vendor)"
    # llvmpipe takes about a second for the frames a GPU draws in a millisecond: a few frames
    # show that the bundle works within the time.
    local frames=${GPU_CHECK_FRAMES:-100}
    if [[ -z ${GPU_CHECK_FRAMES:-} && $renderer == *llvmpipe* ]]; then
        frames=5
    fi
    echo "Renderer: $renderer"
    if [[ $vendor == nvidia && $renderer == *llvmpipe* ]]; then
        echo "Warning: the NVIDIA GLX library was asked for, yet Mesa's llvmpipe renders"
    fi

    local scene
    local deadline=$((started + ${GPU_CHECK_SECONDS:-280}))
    local -a titles=() commands=() results=()
    for scene in "${scenes[@]}"; do
        titles+=("pipeline, $scene, ${scene_size}x${scene_size} window"
            "pipeline, $scene, 1920x1080 window")
        commands+=("pipeline $scene.lf2d --frames $frames"
            "pipeline $scene.lf2d --window 1920x1080 --frames $frames")
    done
    titles+=("hdr, ${scene_size}x${scene_size} and 1920x1080 windows")
    commands+=("hdr --size $scene_size --frames $frames")

    # Each benchmark may take an equal share of the time left, so that one that hangs leaves the
    # others theirs; what one leaves unused goes to those after it.
    local i count=${#titles[@]} left limit status
    for ((i = 0; i < count; i++)); do
        echo
        echo "== ${titles[i]}: lfbench ${commands[i]}"
        left=$((deadline - SECONDS))
        limit=$((left / (count - i)))
        if ((limit < 5)); then
            echo "skipped: out of time"
            results+=("${titles[i]}: skipped, out of time")
            continue
        fi
        status=0
        # shellcheck disable=SC2086 # the command's words
        (cd "$bundle" && env -i "${environment[@]}" "__GLX_VENDOR_LIBRARY_NAME=$vendor" \
            timeout -k 5 "$limit" bin/lfbench ${commands[i]}) || status=$?
        case $status in
        0) results+=("${titles[i]}: done") ;;
        124 | 137) results+=("${titles[i]}: stopped after its $limit s") ;;
        *) results+=("${titles[i]}: failed (exit status $status)") ;;
        esac
    done

    echo
    echo "== Summary"
    echo "Renderer: $renderer"
    printf '%s\n' "${results[@]}"
    echo "Total: $((SECONDS - started)) s"
    [[ ${results[*]} != *failed* && ${results[*]} != *stopped* && ${results[*]} != *skipped* ]]
}

# An interrupted run still stops its Xvfb and takes its keymap compiler away again.
trap 'exit 130' INT TERM
[[ $# -ge 1 && $# -le 2 ]] || usage
case $1 in
--bundle) bundle "$(realpath -m "${2:-$root/gpu-bundle}")" ;;
--run)
    if [[ -n ${OUT:-} ]]; then
        mkdir -p "$OUT"
        run "$(realpath -m "${2:-$root/gpu-bundle}")" 2>&1 | tee -a "$OUT/gpu-check.log"
    else
        run "$(realpath -m "${2:-$root/gpu-bundle}")"
    fi
    ;;
*) usage ;;
esac
