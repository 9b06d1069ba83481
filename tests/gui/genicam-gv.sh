#!/bin/sh
# The program against Aravis's GigE Vision camera simulator on 127.0.0.1, inside a network namespace that
# has only the loopback interface, so that no discovery packet leaves it: `kestrane --camera=genicam`
# analyses at least 20 frames in 6 s with at most 1 in 10 dropped, then the window test records through the
# camera and has the simulator killed mid-recording. Exit 77 (skipped) without root or namespaces.
# usage: genicam-gv.sh KESTRANE GENICAM_WINDOW_TEST
skip() {
    echo "genicam-gv: SKIPPED: $*"
    exit 77
}
if [ "${1:-}" != "--inside" ]; then
    [ "$(id -u)" -eq 0 ] || skip "needs root for a network namespace of its own"
    for tool in unshare ip arv-fake-gv-camera-0.8 ffprobe; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
    unshare --net true 2>/dev/null || skip "unshare --net is not available here"
    exec unshare --net sh -c 'ip link set lo up && exec sh "$0" --inside "$@"' "$0" "$@"
fi
shift
program=$1
window_test=$2
fail() {
    echo "genicam-gv: FAILED: $*" >&2
    exit 1
}
# Nothing but the loopback interface may be up in here.
others=$(ip -o link show up | grep -v ': lo:')
[ -z "$others" ] || fail "the namespace has other interfaces up: $others"

work=$(mktemp -d)
simulator=
live=
cleanup() {
    [ -n "$live" ] && kill "$live" 2>/dev/null
    [ -n "$simulator" ] && kill "$simulator" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
start_simulator() {
    arv-fake-gv-camera-0.8 -i 127.0.0.1 >"$work/simulator.log" 2>&1 &
    simulator=$!
    sleep 1
    kill -0 "$simulator" 2>/dev/null || fail "the simulator did not start: $(cat "$work/simulator.log")"
}

# Live: the counters once a second; the passes and drops of six seconds after a warm-up.
start_simulator
mkdir "$work/data"
KESTRANE_DATA_DIR="$work/data/" KESTRANE_LIVE_STATS=1 QT_QPA_PLATFORM=offscreen \
    "$program" --camera=genicam 2>"$work/live.log" &
live=$!
counters() {
    grep '^kestrane-live ' "$work/live.log" | tail -n 1 | sed 's/.*frames=\([0-9]*\) dropped=\([0-9]*\).*/\1 \2/'
}
waited=0
until [ -n "$(counters)" ]; do
    sleep 1
    waited=$((waited + 1))
    [ "$waited" -lt 30 ] || fail "no live counters after 30 s: $(cat "$work/live.log")"
done
sleep 3
set -- $(counters)
frames0=$1 dropped0=$2
sleep 6
set -- $(counters)
passes=$(($1 - frames0)) dropped=$(($2 - dropped0))
kill "$live"
wait "$live" 2>/dev/null
live=
echo "genicam-gv: kestrane --camera=genicam: $passes passes in 6 s, $dropped camera frames dropped"
[ "$passes" -ge 20 ] || fail "fewer than 20 passes in 6 s"
[ $((dropped * 10)) -le $((passes + dropped)) ] || fail "more than 1 in 10 frames dropped"

# The window: a clip through the camera, then the camera lost mid-recording.
kill "$simulator" 2>/dev/null
wait "$simulator" 2>/dev/null
start_simulator
KESTRANE_GV_SIMULATOR_PID=$simulator QT_QPA_PLATFORM=offscreen "$window_test" || fail "the window test"
echo "genicam-gv: passed"
