#!/bin/sh
# The window program without a usable display: one line on stderr and exit 2, with no display set and with
# one that nobody answers.
program="$1"
for display in "" ":987"; do
    err=$(env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb DISPLAY="$display" "$program" --camera=none 2>&1 >/dev/null)
    code=$?
    printf 'DISPLAY=%s -> exit %s: %s\n' "$display" "$code" "$err"
    [ "$code" -eq 2 ] || exit 1
    [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || exit 1
    case "$err" in *kestrane-analyse*) ;; *) exit 1 ;; esac
done
