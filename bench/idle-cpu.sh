#!/usr/bin/env bash
# Idle CPU of the running tool: `zelmar --open` on a virtual display, polling
# zelmar-sim (moving values, alarms coming and going), its recording database
# in a fresh folder. Each run lets the tool settle, then counts the CPU time the
# process used (user and system, from /proc) over the given seconds; the median
# of the runs is printed last.
#
#   bench/idle-cpu.sh [BUILD_DIR] [RUNS] [SECONDS] [--day-of-events]
#
# --day-of-events fills the events table first with a day of alarm and link
# events (33,000), as a tool that has run for a day sees them.
set -euo pipefail

build=$(realpath "${1:-build}")
runs=${2:-3}
seconds=${3:-60}
events=${4:-}
settle=8

for tool in "$build/zelmar" "$build/zelmar-sim"; do
    [ -x "$tool" ] || { echo "no $tool: build the project first" >&2; exit 1; }
done
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (package xvfb)" >&2; exit 1; }
command -v sqlite3 >/dev/null || { echo "sqlite3 is missing (package sqlite3)" >&2; exit 1; }

fill_events() {
    sqlite3 "$1" <<'SQL'
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 33000),
  t(i, s) AS (SELECT i, julianday('now', 'localtime') - 2415018.5
                         - (33000 - i) * 2.6 / 86400.0 - 60 / 86400.0 FROM n)
INSERT INTO events (ev_id, ev_date, ev_time, ev_kind, ev_source, ev_detail)
SELECT 1000 + i, CAST(s AS INTEGER), s - CAST(s AS INTEGER),
       CASE WHEN i % 20 = 0 THEN 'link' ELSE 'alarm' END,
       CASE WHEN i % 20 = 0 THEN '端口 1 /dev/ttyUSB0' ELSE '通道一报警' END,
       CASE WHEN i % 20 = 0 THEN (CASE WHEN i % 40 = 0 THEN '在线' ELSE '无应答: no reply' END)
            ELSE (CASE WHEN i % 2 = 0 THEN 'ON 300' ELSE 'OFF 20' END) END
FROM t;
UPDATE events_void SET newest_event = 34000;
SQL
}

# The zelmar process started by xvfb-run with the given marker in its command line.
tool_pid() {
    pgrep -f "^$build/zelmar --open --port 1 --address 1 --baud 9600 --parity none$" | tail -1
}

one_run() {
    local work sim pid wrapper a b t0 t1
    work=$(mktemp -d)
    export ZELMAR_DB=$work/Rdatabj.db ZELMAR_PORT_1=$work/tty
    "$build/zelmar-sim" --link "$work/tty" >/dev/null 2>&1 &
    sim=$!
    sleep 0.5
    if [ "$events" = "--day-of-events" ]; then
        # A first start creates the database with its events table.
        xvfb-run -a "$build/zelmar" --open --port 1 --address 1 --baud 9600 --parity none \
            >/dev/null 2>&1 &
        wrapper=$!
        sleep 5
        kill "$(tool_pid)" 2>/dev/null || true
        wait "$wrapper" 2>/dev/null || true
        fill_events "$ZELMAR_DB"
    fi
    xvfb-run -a "$build/zelmar" --open --port 1 --address 1 --baud 9600 --parity none \
        >"$work/log" 2>&1 &
    wrapper=$!
    sleep "$settle"
    pid=$(tool_pid)
    a=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    t0=$(date +%s.%N)
    sleep "$seconds"
    b=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    t1=$(date +%s.%N)
    kill "$pid" 2>/dev/null || true
    wait "$wrapper" 2>/dev/null || true
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    rm -rf "$work"
    echo "scale=3; ($b - $a) / $(getconf CLK_TCK) * 100 / ($t1 - $t0)" | bc
}

results=()
for run in $(seq "$runs"); do
    cpu=$(one_run)
    results+=("$cpu")
    echo "run $run: $cpu % CPU over $seconds s"
done
median=$(printf '%s\n' "${results[@]}" | sort -n | awk '{v[NR] = $1} END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "median of $runs runs: $median % CPU (${events:-no events beforehand})"
