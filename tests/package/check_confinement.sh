#!/usr/bin/env bash
# The recorder's unit as systemd would confine it, checked without a running
# systemd: the unit's exposure score, and the real recorder run under what can
# be applied from here (no new privileges, no capabilities, no memory that is
# writable and executable at once) while every system call it makes is
# recorded and held against the unit's SystemCallFilter.
# Usage: check_confinement.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source=$1
build=$2
unit="$source/packaging/zelmar-recorder.service"
work=$(mktemp -d)
sim_pid=
recorder=
cleanup() {
    if [ -n "$recorder" ]; then kill -KILL "$recorder" 2> /dev/null || true; fi
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2> /dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# systemd's own measure of what the unit leaves open: 3.0 or less ("OK").
score=$(systemd-analyze security --offline=true "$unit" 2>&1 | sed -n 's/.*exposure level for .*: \([0-9.]*\) .*/\1/p')
[ -n "$score" ] || fail "systemd-analyze security gave no score"
echo "exposure: $score"
awk -v s="$score" 'BEGIN { exit !(s <= 3.0) }' || fail "exposure $score above 3.0"

# The unit's filter, expanded: "@group" lines name groups, "~" lines deny.
expand() {
    systemd-analyze syscall-filter "$1" | sed -n '2,$p' | sed 's/^ *//' | grep -v '^#' | grep -v '^$' |
        while read -r name; do
            case $name in
            @*) expand "$name" ;;
            *) echo "$name" ;;
            esac
        done
}
allowed="$work/allowed"
denied="$work/denied"
: > "$allowed"
: > "$denied"
while read -r filter; do
    for group in $filter; do
        case $group in
        ~*) expand "${group#\~}" >> "$denied" ;;
        @*) expand "$group" >> "$allowed" ;;
        *) echo "$group" >> "$allowed" ;;
        esac
    done
done < <(sed -n 's/^SystemCallFilter=//p' "$unit")
[ -s "$allowed" ] || fail "the unit has no SystemCallFilter"
sort -u -o "$allowed" "$allowed"
sort -u -o "$denied" "$denied"

# The unit's environment for the recorder.
env_args=()
while read -r assignment; do env_args+=("$assignment"); done < <(sed -n 's/^Environment=//p' "$unit")

# The recorder on the simulator, under strace, with the web view answering.
"$build/zelmar-sim" --link "$work/tty" > "$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/tty" ] && break; sleep 0.1; done
[ -e "$work/tty" ] || fail "the simulator did not start"
# The unit's run-time user is no one in particular: as root here, the recorder
# runs as nobody, allowed the simulator's terminal as dialout allows the serial
# lines (SQLite gives root's new files their database's owner, which the
# filter refuses and which never happens under the unit).
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    as_user=(--reuid=65534 --regid=65534 --clear-groups)
    chmod 0777 "$work"
    chmod 0666 "$(readlink -f "$work/tty")"
fi
# A build inside a folder closed to others (a tree unpacked under mktemp -d)
# is out of nobody's reach: the recorder runs from a copy in the work folder.
recorder_program="$build/zelmar"
if [ "${#as_user[@]}" -gt 0 ] && ! setpriv "${as_user[@]}" test -x "$recorder_program"; then
    cp "$build/zelmar" "$work/zelmar"
    recorder_program="$work/zelmar"
fi
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# PR_SET_MDWE (65) with PR_MDWE_REFUSE_EXEC_GAIN (1): what MemoryDenyWriteExecute= sets.
cat > "$work/mdwe.py" << 'PY'
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
if libc.prctl(65, 1, 0, 0, 0) != 0:
    sys.exit("prctl(PR_SET_MDWE): " + os.strerror(ctypes.get_errno()))
with open(sys.argv[1], "w") as f:
    f.write(str(os.getpid()))
os.execv(sys.argv[2], sys.argv[2:])
PY
env "${env_args[@]}" ZELMAR_PORT_1="$work/tty" QT_QPA_PLATFORM=offscreen \
    strace -f -qq -o "$work/calls" \
    setpriv "${as_user[@]}" --no-new-privs --inh-caps=-all --bounding-set=-all \
    /usr/bin/python3 "$work/mdwe.py" "$work/recorder.pid" "$recorder_program" --record --port 1 --address 1 --baud 9600 --parity none \
    --db "$work/rec.db" --web "127.0.0.1:$port" > "$work/recorder.log" 2>&1 &
tracer=$!
for _ in $(seq 100); do [ -s "$work/recorder.pid" ] && break; sleep 0.1; done
recorder=$(cat "$work/recorder.pid")
for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$port/api/live" -o "$work/live.json" 2> /dev/null && break
    sleep 0.1
done
sleep 4
curl -sf "http://127.0.0.1:$port/api/events" -o /dev/null || fail "the web view did not answer"
kill -TERM "$recorder"
wait "$tracer" || { cat "$work/recorder.log"; fail "the recorder exited $?"; }
grep -q '"quality":192' "$work/live.json" || { cat "$work/recorder.log"; fail "no live reading: $(cat "$work/live.json")"; }

# Calls after the exec into the recorder (the launchers' own come before it).
awk '/execve\("[^"]*\/zelmar"/ { on = 1 } on' "$work/calls" |
    sed -n 's/^[0-9]* *\([a-z_0-9]*\)(.*/\1/p' | sort -u > "$work/made"
[ -s "$work/made" ] || fail "strace recorded no calls"
outside=$(comm -23 "$work/made" "$allowed")
[ -z "$outside" ] || fail "calls outside SystemCallFilter: $(echo $outside)"
refused=$(comm -12 "$work/made" "$denied")
[ -z "$refused" ] || fail "calls the unit denies: $(echo $refused)"
echo "confinement ok: $(wc -l < "$work/made") distinct calls, all allowed"
