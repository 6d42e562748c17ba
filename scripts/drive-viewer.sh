#!/usr/bin/env bash
# Drives one of the viewer programs the way a user does, on the X display in $DISPLAY (a bare
# server such as Xvfb is enough): opens FILE through the selector window and its file dialog (or
# gives it to the program to open), drags the camera, saves screenshots and closes the viewer.
#
#   scripts/drive-viewer.sh [options] PROGRAM FILE OUTDIR
#
#   --open-directly
#                  start the program with FILE as its argument, as a file manager does, rather
#                  than choose FILE in the selector
#   --drag DX,DY   after the first screenshot, drag with the left button by (DX, DY) window
#                  pixels and take another screenshot (view-1.png, view-2.png, ...); repeatable
#   --key KEY      the same with a key press (xdotool's name for the key) instead of a drag
#   --wheel N      the same with N notches of the mouse wheel over the window's centre, away from
#                  the user (negative: towards)
#   --click X,Y    the same with a left click on window pixel (X, Y)
#                  drags, keys, wheels and clicks take their turns in the order given; the
#                  window's title after each is kept in OUTDIR/view-titles.txt
#   --expect-error the file is expected to be refused: screenshot the error dialog, dismiss it
#   --again S      after the last screenshot, leave the camera where it is for S more seconds and
#                  take view-again.png, to see whether the picture still changes on its own
#   --close-while-loading
#                  close the viewer as soon as its title counts the views it loads; the titles
#                  seen are kept in OUTDIR/titles.txt
#   --close-within S
#                  the program must end within S seconds of the close request (default 10)
#   --count-frames S
#                  count the frames the program draws (the camera's per-frame line on standard
#                  error): once it has drawn none for half a second after the first picture and
#                  after each drag (for at most 10 s), those it draws over S more seconds without
#                  input; and those that each drag and its settling time take
#
# Run it from the directory that holds shaders/. It prints what it does and where the
# screenshots are, and exits with the program's exit status (or 124 when a window never came).
# The program's standard error is kept in OUTDIR/stderr.log.
set -euo pipefail

actions=()
open_directly=0
expect_error=0
again=
close_while_loading=0
close_within=10
count_frames=
while [[ $# -gt 0 ]]; do
    case "$1" in
        --open-directly) open_directly=1; shift ;;
        --drag) actions+=("drag $2"); shift 2 ;;
        --key) actions+=("key $2"); shift 2 ;;
        --wheel) actions+=("wheel $2"); shift 2 ;;
        --click) actions+=("click $2"); shift 2 ;;
        --expect-error) expect_error=1; shift ;;
        --again) again=$2; shift 2 ;;
        --close-while-loading) close_while_loading=1; shift ;;
        --close-within) close_within=$2; shift 2 ;;
        --count-frames) count_frames=$2; shift 2 ;;
        -h|--help) sed -n '2,36p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) break ;;
    esac
done
if [[ $# -ne 3 ]]; then
    echo "usage: $0 [--open-directly] [--drag DX,DY | --key KEY | --wheel N | --click X,Y]..." \
        "[--again S] [--expect-error]" \
        "[--close-while-loading] [--close-within S] [--count-frames S] PROGRAM FILE OUTDIR" >&2
    exit 2
fi
program=$1
file=$(realpath "$2")
outdir=$3
here=$(cd "$(dirname "$0")" && pwd)
xclose=${XCLOSE:-$(dirname "$(realpath "$program")")/xclose}
mkdir -p "$outdir"
outdir=$(realpath "$outdir")

say() { echo "[drive-viewer] $*"; }

# Qt's own file dialog, whatever desktop integration happens to be installed.
export QT_QPA_PLATFORMTHEME=generic
# The camera logs a line per frame; keep the log to what matters, unless the frames are counted.
if [[ -n $count_frames ]]; then
    export QT_LOGGING_RULES=default.debug=true
else
    export QT_LOGGING_RULES=${QT_LOGGING_RULES:-default.debug=false}
fi

if [[ $open_directly == 1 ]]; then
    "$program" "$file" 2>"$outdir/stderr.log" &
else
    "$program" 2>"$outdir/stderr.log" &
fi
pid=$!
finish() { kill "$pid" 2>/dev/null || true; }
trap finish EXIT

# The program's visible windows whose name matches the extended regular expression NAME. (The
# name is matched here: xdotool's own search takes a window that matches the process or the
# name, and finds no name at all among one process's windows.)
program_windows() {
    local name=$1 id
    for id in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
        [[ $(xdotool getwindowname "$id" 2>/dev/null) =~ $name ]] && echo "$id"
    done
    return 0
}

# The first visible window of the program whose name matches, other than those given.
wait_window() {
    local name=$1; shift
    for _ in $(seq 300); do
        local id
        for id in $(program_windows "$name"); do
            local skip=0 other
            for other in "$@"; do [[ $id == "$other" ]] && skip=1; done
            if [[ $skip == 0 ]]; then echo "$id"; return 0; fi
        done
        if ! kill -0 "$pid" 2>/dev/null; then return 1; fi
        sleep 0.1
    done
    return 1
}

give_up() {
    say "$1"
    if ! kill -0 "$pid" 2>/dev/null; then
        local status=0
        wait "$pid" || status=$?
        trap - EXIT
        say "the program ended with status $status"
        exit "$status"
    fi
    exit 124
}

screenshot() {
    local window=$1 name=$2
    eval "$(xdotool getwindowgeometry --shell "$window")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$outdir/$name"
    say "screenshot: $outdir/$name (${WIDTH}x${HEIGHT} at $X,$Y)"
}

frames_drawn() {
    grep -c 'positionX:' "$outdir/stderr.log" || true
}

# Waits for the program to draw no frame for half a second (at most 10 s), then says how many it
# draws over the next $count_frames seconds.
count_idle_frames() {
    local when=$1 before after
    for _ in $(seq 20); do
        before=$(frames_drawn)
        sleep 0.5
        after=$(frames_drawn)
        [[ $before == "$after" ]] && break
    done
    before=$(frames_drawn)
    sleep "$count_frames"
    after=$(frames_drawn)
    say "frames drawn without input $when: $((after - before)) in $count_frames s"
}

key() {
    local window=$1; shift
    xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
    xdotool key --clearmodifiers "$@"
}

selector=
dialog=
if [[ $open_directly == 0 ]]; then
    selector=$(wait_window '.') || give_up "no selector window appeared"
    say "selector window $selector"
    sleep 0.3
    screenshot "$selector" selector.png

    key "$selector" alt+b
    dialog=$(wait_window 'Open lightfield file' "$selector") || give_up "no file dialog appeared"
    say "file dialog $dialog; choosing $file"
    # A dialog that has only just appeared may not take keys yet (the first one of a slow
    # program, for instance): type the path again until it takes it and closes.
    for attempt in 1 2 3 4 5; do
        sleep 0.5
        xdotool windowfocus --sync "$dialog" 2>/dev/null || true
        xdotool key --clearmodifiers ctrl+a
        xdotool type --delay 2 "$file"
        sleep 0.2
        xdotool key --clearmodifiers Return
        for _ in $(seq 30); do
            [[ -n $(program_windows 'Open lightfield file') ]] || break 2
            sleep 0.1
        done
        say "the file dialog is still open; typing the path again"
    done
    sleep 0.3
    screenshot "$selector" selector-with-file.png
    key "$selector" alt+s
else
    say "started with $file"
fi

closed_at=
if [[ $expect_error == 1 ]]; then
    error=$(wait_window 'Lightfield viewer' "$selector") || give_up "no error dialog appeared"
    sleep 0.5
    screenshot "$error" error-dialog.png
    key "$error" Return
elif [[ $close_while_loading == 1 ]]; then
    viewer=$(wait_window '.' "$selector" "$dialog") || give_up "no viewer window appeared"
    say "viewer window $viewer"
    loading=
    for _ in $(seq 300); do
        title=$(xdotool getwindowname "$viewer" 2>/dev/null || true)
        if [[ $title == "Loading "*" of "*" views" ]]; then loading=$title; break; fi
        sleep 0.1
    done
    [[ -n $loading ]] || give_up "the viewer never said it was loading"
    echo "$loading" >"$outdir/titles.txt"
    sleep 0.5
    xdotool getwindowname "$viewer" >>"$outdir/titles.txt" 2>/dev/null || true
    say "titles while loading: $(paste -sd '|' "$outdir/titles.txt")"
    closed_at=$(date +%s.%N)
    "$xclose" "$viewer"
    say "closed the viewer while it loaded"
else
    viewer=$(wait_window '.' "$selector" "$dialog") || give_up "no viewer window appeared"
    say "viewer window $viewer"
    # The title says "Loading ..." until the first picture is shown.
    for _ in $(seq 1200); do
        [[ $(xdotool getwindowname "$viewer" 2>/dev/null || true) == Loading* ]] || break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    # Give a few frames time to be shown.
    sleep "${SETTLE_SECONDS:-2}"
    screenshot "$viewer" view-0.png
    [[ -z $count_frames ]] || count_idle_frames "after the first picture"
    count=0
    eval "$(xdotool getwindowgeometry --shell "$viewer")"
    for action in "${actions[@]}"; do
        count=$((count + 1))
        drawn_before=$(frames_drawn)
        if [[ $action == key* ]]; then
            key "$viewer" "${action#key }"
            say "pressed ${action#key }"
        elif [[ $action == wheel* ]]; then
            notches=${action#wheel }
            button=4
            if [[ $notches == -* ]]; then button=5; notches=${notches#-}; fi
            xdotool mousemove --window "$viewer" $((WIDTH / 2)) $((HEIGHT / 2))
            sleep 0.2
            xdotool click --repeat "$notches" --delay 50 "$button"
            say "turned the wheel ${action#wheel } notches"
        elif [[ $action == click* ]]; then
            at=${action#click }
            xdotool mousemove --window "$viewer" "${at%,*}" "${at#*,}"
            sleep 0.2
            xdotool click 1
            say "clicked at ($at)"
        else
            drag=${action#drag }
            dx=${drag%,*}
            dy=${drag#*,}
            xdotool mousemove --window "$viewer" $((WIDTH / 2)) $((HEIGHT / 2))
            sleep 0.2
            xdotool mousedown 1
            # In small steps, as a hand moves.
            steps=10
            for step in $(seq $steps); do
                xdotool mousemove_relative -- $((dx * step / steps - dx * (step - 1) / steps)) \
                    $((dy * step / steps - dy * (step - 1) / steps))
                sleep 0.03
            done
            xdotool mouseup 1
            say "dragged by ($dx, $dy)"
        fi
        sleep "${SETTLE_SECONDS:-2}"
        screenshot "$viewer" "view-$count.png"
        echo "view-$count: $(xdotool getwindowname "$viewer" 2>/dev/null || true)" \
            >>"$outdir/view-titles.txt"
        if [[ -n $count_frames ]]; then
            say "frames drawn for ${action%% *} $count: $(($(frames_drawn) - drawn_before))"
            count_idle_frames "after ${action%% *} $count"
        fi
    done
    if [[ -n $again ]]; then
        sleep "$again"
        screenshot "$viewer" view-again.png
    fi
    closed_at=$(date +%s.%N)
    "$xclose" "$viewer"
    say "closed the viewer"
fi

status=0
for _ in $(seq "$(awk -v s="$close_within" 'BEGIN { print int(s * 20) }')"); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
if kill -0 "$pid" 2>/dev/null; then
    give_up "the program did not end within $close_within s"
fi
wait "$pid" || status=$?
trap - EXIT
if [[ -n $closed_at ]]; then
    say "the program ended $(awk -v a="$closed_at" -v b="$(date +%s.%N)" \
        'BEGIN { printf "%.2f", b - a }') s after the close request, with status $status"
else
    say "the program ended with status $status"
fi
if [[ -s "$outdir/stderr.log" ]]; then
    say "its standard error ($outdir/stderr.log):"
    sed 's/^/    /' "$outdir/stderr.log"
fi
exit "$status"
