#!/usr/bin/env bash
# The program as a user meets it: the real sorvik on a real X server (Xvfb) with a window
# manager (openbox), driven by the keyboard alone.
#   1. sorvik with a folder of files on its command line (a relative path): select all,
#      make them primary, scan, acknowledge the counts; Select First in Group, Reverse
#      Selection and Move to Trash through the list's menu (the Menu key and Shift+F10),
#      Yes to the question, and Enter to the one about the unique files' last copies, which
#      must answer No: every file still on disk; Enter to the first question of another
#      move answers No too; show the Size field through the list's menu, open Help through
#      the menu bar (No to its question), add a folder of 20,000 files through the menu
#      bar and the real folder dialog while the window is resized (it must repaint at its
#      new size and show the files), save the results through the menu bar and the real
#      file dialog, close (answering the question), and the saved file must equal what
#      sorvik-scan writes for the same folder;
#   2. sorvik again, from another folder, with column widths, fields and a placement set in
#      its settings file: the window must come up where the file says, and on closing write
#      back the same widths, fields, placement and the remembered current folder;
#   3. a settings file that cannot be read: an error box, and the program ends with status 1
#      leaving the file as it was.
# Before any of it, --help and --version answer without a display, and a wrong option with
# status 2.
#   sorvik_keyboard.sh SORVIK SORVIK_SCAN
# KEEP=1 keeps the work folder (the logs, the settings, the results) for a look.
set -euo pipefail

sorvik=$(realpath "$1")
scan=$(realpath "$2")
limit=20 # seconds any one wait may take

work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    [ -n "${KEEP:-}" ] || rm -rf "$work"; [ -z "${KEEP:-}" ] || echo "kept $work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    if [ -n "${DISPLAY:-}" ]; then
        import -window root "$work/failure.png" 2>/dev/null &&
            cp "$work/failure.png" "${TMPDIR:-/tmp}/sorvik_keyboard_failure.png" &&
            echo "screen: ${TMPDIR:-/tmp}/sorvik_keyboard_failure.png" >&2
    fi
    exit 1
}

# Polls the command until it succeeds, at most $limit seconds.
wait_for() {
    local what=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || fail "waiting for $what"
        sleep 0.05
    done
}

# The program in a folder of its own, so that its settings file lies beside it; a home of
# the test's own, so that nothing of the user's is read or written.
mkdir -p "$work/bin" "$work/home" "$work/runtime" "$work/elsewhere" "$work/out"
chmod 700 "$work/runtime"
cp "$sorvik" "$work/bin/sorvik"
settings=$work/bin/Settings.ini
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_CACHE_HOME=$work/home/.cache
export XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME= QT_STYLE_OVERRIDE=fusion
unset SESSION_MANAGER
# Under AddressSanitizer: libxkbcommon-x11 reads its keymap names with strndup() from
# buffers that hold no terminating NUL, which is correct and which the strict string checks
# take for an overflow.
# Leaks of the desktop's libraries are left out of the leak report.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
    export LSAN_OPTIONS="suppressions=$(dirname "$(realpath "$0")")/lsan_desktop.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
fi

# A folder with copies in it: three of one file, two of another, unique files, an empty
# file and a name with a blank.
tree=$work/tree
mkdir -p "$tree/photos/2019" "$tree/backup/photos" "$tree/docs"
head -c 30000 /dev/urandom >"$tree/photos/2019/beach.jpg"
cp "$tree/photos/2019/beach.jpg" "$tree/backup/photos/beach.jpg"
cp "$tree/photos/2019/beach.jpg" "$tree/backup/beach copy.jpg"
printf 'minutes of the meeting\n' >"$tree/docs/minutes.txt"
printf 'minutes of the meeting\n' >"$tree/backup/minutes.txt"
printf 'something else\n' >"$tree/docs/notes.txt"
head -c 30000 /dev/urandom >"$tree/photos/2019/harbour.jpg"
: >"$tree/docs/empty"

# --- Without a display -------------------------------------------------------------------
(
    unset DISPLAY WAYLAND_DISPLAY
    version=$("$work/bin/sorvik" --version) || fail "--version failed"
    [[ $version == "sorvik "[0-9]* ]] || fail "--version printed: $version"
    "$work/bin/sorvik" --help | grep -q '^Usage: sorvik \[PATH\]\.\.\.$' || fail "--help"
)

# The X server on a free display (not reset when a client leaves), and the window manager.
# A display is free when neither its lock file nor its abstract socket exists: other X
# servers of this machine may live in other file-system namespaces and show only the latter.
free_display() {
    local n
    for n in $(shuf -i 100-999 -n 100); do
        [ -e "/tmp/.X$n-lock" ] && continue
        grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix && continue
        echo "$n"
        return 0
    done
    return 1
}
display=$(free_display) || fail "no free display"
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb=$!
pids+=("$xvfb")
export DISPLAY=:$display
server_up() {
    kill -0 "$xvfb" 2>/dev/null || fail "Xvfb ended: $(cat "$work/xvfb.log")"
    xprop -root >/dev/null 2>&1
}
wait_for "the X server" server_up
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for "the window manager" sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'

visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null; }
# Whether exactly COUNT windows named NAME are shown: shown NAME COUNT.
shown() { [ "$(visible "$1" | wc -l)" -eq "$2" ]; }
main_window() { visible '^Sorvik$' | head -1; }
# The number of the program's windows shown, its popup menus among them.
program_windows() { xdotool search --onlyvisible --class sorvik 2>/dev/null | wc -l; }
menus_at_least() { [ "$(program_windows)" -ge "$1" ]; }
menus_closed() { [ "$(program_windows)" -eq 1 ]; }
key() { xdotool key --clearmodifiers "$@"; }
# Keys typed into a window that is shown but not yet given the keyboard by the window
# manager would reach the window behind it: wait until it is the active one.
active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
# Whether the window that FINDER... prints is the active one; asked anew at every look, as
# a window may be replaced (the progress dialog by the box after it) or not yet found.
found_active() {
    local id
    id=$("$@" 2>/dev/null) && [ -n "$id" ] && active "$id"
}
keyboard_to() { # FINDER...
    wait_for "the keyboard to reach the window of: $*" found_active "$@"
}
first_visible() { visible "$1" | head -1; }

# The share of the window's pixels in the selection colour: rows are listed and selected.
selected_rows_shown() {
    local share
    share=$(import -window "$1" png:- 2>/dev/null |
        convert - -fuzz 12% -fill white -opaque '#308cc6' -fill black +opaque white \
            -format '%[fx:mean]' info:)
    [ "$(echo "$share > 0.02" | bc -l)" = 1 ]
}

start() { # FOLDER ARGS...
    local folder=$1
    shift
    (cd "$folder" && exec "$work/bin/sorvik" "$@") >>"$work/sorvik.log" 2>&1 &
    app=$!
    pids+=("$app")
    wait_for "the main window" shown '^Sorvik$' 1
    window=$(main_window)
    xdotool windowactivate --sync "$window"
}

# The program has ended (a child that ended stays a zombie until it is waited for).
finished() {
    local state
    state=$(ps -o stat= -p "$app" 2>/dev/null) || return 0
    [[ $state == Z* ]]
}

# An option of neither the program nor Qt's (those Qt takes, as -platform, are known only
# once Qt runs, so this one needs the display).
status=0
"$work/bin/sorvik" -x 2>"$work/option.log" || status=$?
[ "$status" -eq 2 ] && grep -q "unknown option -x" "$work/option.log" ||
    fail "a wrong option ended with status $status: $(cat "$work/option.log")"

# --- Run 1: the user's path -------------------------------------------------------------
start "$work" tree
wait_for "the command line's files in the list" selected_rows_shown "$window"
key ctrl+a ctrl+1 Return
# The progress dialog and the box of the counts are both called Scan; the progress dialog
# is never narrower than its 421-pixel bar.
counts_box() {
    local id width
    for id in $(visible '^Scan$'); do
        width=$(xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: *\([0-9]*\)x.*/\1/p')
        [ -n "$width" ] && [ "$width" -lt 421 ] && echo "$id" && return 0
    done
    return 1
}
wait_for "the scan's counts" counts_box
keyboard_to counts_box
key Return
wait_for "the counts acknowledged" shown '^Scan$' 0
# The common way to the trash: Select First in Group, Reverse Selection, Move to Recycle
# Bin. The selection holds the unique files, the last copies of their contents: a second
# question comes, and Enter answers it No.
every_file_on_disk() {
    local file
    for file in photos/2019/beach.jpg backup/photos/beach.jpg "backup/beach copy.jpg" \
        docs/minutes.txt backup/minutes.txt docs/notes.txt photos/2019/harbour.jpg docs/empty; do
        [ -f "$tree/$file" ] || fail "$file left its place"
    done
}
from_list_menu() { # KEYS...
    key Menu
    wait_for "the list's menu" menus_at_least 2
    key "$@"
    wait_for "the menu to close" menus_closed
}
# The message box in front of the main window, if any.
question() { visible '^Sorvik$' | grep -vx "$window" | head -1; }
another_question() { # OTHER_THAN
    local shown
    shown=$(question)
    [ -n "$shown" ] && [ "$shown" != "$1" ]
}
from_list_menu g
from_list_menu v
# Shift+F10 is the Menu key of a keyboard without one.
key shift+F10
wait_for "the list's menu" menus_at_least 2
key f t
wait_for "the question before the move" another_question none
first=$(question)
keyboard_to echo "$first"
key y
wait_for "the question about the last copies" another_question "$first"
keyboard_to question
key Return
wait_for "the questions answered" shown '^Sorvik$' 1
every_file_on_disk
# Enter at the first question is No as well.
key Menu
wait_for "the list's menu" menus_at_least 2
key f t
wait_for "the question before the move" another_question none
keyboard_to question
key Return
wait_for "the question answered" shown '^Sorvik$' 1
every_file_on_disk
# View > Fields > Size through the list's menu.
key Menu
wait_for "the list's menu" menus_at_least 2
key w f s
wait_for "the menu to close" menus_closed
# Help through the menu bar: its question, answered No (no browser is started).
key alt+h
wait_for "the Help menu" menus_at_least 2
key h
wait_for "the question before the help opens" another_question none
key n
wait_for "the question answered" shown '^Sorvik$' 1
# A folder of 20,000 files through the menu bar; the window is resized while they are
# read, and must show itself at the new size with the files listed.
mkdir -p "$work/many"
for d in $(seq 20); do
    mkdir "$work/many/d$d"
    (cd "$work/many/d$d" && seq -f 'f%g' 1000 | xargs touch)
done
key alt+f
wait_for "the File menu" menus_at_least 2
key d
wait_for "the folder dialog" shown '^Choose a directory\.$' 1
key ctrl+a
xdotool type --delay 10 "$work/many"
key Return
xdotool windowsize "$window" 900 640
window_size() { xwininfo -id "$window" | grep -q "Width: 900" && xwininfo -id "$window" | grep -q "Height: 640"; }
wait_for "the window at its new size" window_size
wait_for "the folder dialog closed" shown '^Choose a directory\.$' 0
wait_for "the added files shown as selected rows" selected_rows_shown "$window"
every_row_painted() { # the bottom right of the list, at the new size, drawn and not black
    import -window "$window" -crop 40x40+840+520 png:- 2>/dev/null |
        convert - -format '%[fx:mean]' info: | awk '{ exit !($1 > 0.2) }'
}
wait_for "the window repainted at its new size" every_row_painted
# Save Results through the menu bar.
key alt+f
wait_for "the File menu" menus_at_least 2
key s
wait_for "the save dialog" shown '^Save Results$' 1
keyboard_to first_visible '^Save Results$'
key ctrl+a
xdotool type --delay 10 "$work/out/results.txt"
key Return
wait_for "the results file" test -s "$work/out/results.txt"
key alt+F4
wait_for "the question before the list is emptied" shown '^Sorvik$' 2
keyboard_to question
key y
wait_for "the program to end" finished
wait "$app" || fail "sorvik ended with status $?"

(cd "$work" && "$scan" tree >"$work/expected.txt" 2>"$work/scan.log") || fail "sorvik-scan failed"
cmp "$work/out/results.txt" "$work/expected.txt" || {
    diff <(tr -d '\r' <"$work/out/results.txt") <(tr -d '\r' <"$work/expected.txt") >&2 || true
    fail "the saved results differ from sorvik-scan's"
}
grep -q "^5 duplicate files in 2 groups were found\.$" "$work/scan.log" ||
    fail "unexpected counts: $(cat "$work/scan.log")"
[ -f "$settings" ] || fail "no settings file after closing"
grep -q '^Fields=01100100000011' "$settings" || fail "the Size field was not stored"
grep -q "^CurrentDirectory=\"$work/out\"" "$settings" ||
    fail "the folder of the saved results is not the current directory: $(grep Current "$settings")"

# --- Run 2: the settings come back ------------------------------------------------------
sed -i -e 's/^Left=.*/Left=140/' -e 's/^Top=.*/Top=90/' -e 's/^Right=.*/Right=900/' \
    -e 's/^Bottom=.*/Bottom=650/' -e 's/^FieldWidths\[2\]=.*/FieldWidths[2]=333/' \
    -e 's/^FieldWidths\[5\]=.*/FieldWidths[5]=77/' "$settings"
before=$(tr -d '\r' <"$settings")
start "$work/elsewhere"
geometry=$(xwininfo -id "$window")
x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$geometry")
y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$geometry")
w=$(sed -n 's/.*Width: *//p' <<<"$geometry")
h=$(sed -n 's/.*Height: *//p' <<<"$geometry")
[ "$x,$y,$w,$h" = "140,90,760,560" ] || fail "the window is at $x,$y size ${w}x$h"
# An empty list closes without a question.
key alt+F4
wait_for "the program to end" finished
wait "$app" || fail "sorvik ended with status $?"
after=$(tr -d '\r' <"$settings")
[ "$after" = "$before" ] || {
    diff <(echo "$before") <(echo "$after") >&2 || true
    fail "the settings did not come back as they were stored"
}
# --- Run 3: settings that cannot be read end the start with the error box ----------------
sed -i 's/^Fields=.*/Fields=1/' "$settings"
broken=$(cat "$settings")
(cd "$work" && exec "$work/bin/sorvik") >>"$work/sorvik.log" 2>&1 &
app=$!
pids+=("$app")
wait_for "the error box" shown '^Sorvik$' 1
window=$(main_window)
xdotool windowactivate --sync "$window"
key Return
wait_for "the program to end" finished
status=0
wait "$app" || status=$?
[ "$status" -eq 1 ] || fail "a failed start ended with status $status"
[ "$(cat "$settings")" = "$broken" ] || fail "a failed start changed the settings file"
echo "ok: keyboard path, no last copy moved on Enter, results equal to sorvik-scan's, settings restored, a failed start ended"
