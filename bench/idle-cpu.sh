#!/usr/bin/env bash
# Idle CPU of the running tool: `zelmar --open` on a virtual display, polling
# zelmar-sim (moving values, alarms coming and going), its recording database
# in a fresh folder. Each run lets the tool settle, then counts the CPU time the
# process used (user and system, from /proc) over the given seconds; the median
# of the runs is printed last.
#
#   bench/idle-cpu.sh [BUILD_DIR] [RUNS] [SECONDS] [--day-of-events] [--historian]
#
# --day-of-events fills the events table first with a day of alarm and link
# events (33,000), as a tool that has run for a day sees them.
# --historian forwards to a throw-away PostgreSQL cluster (made once for all
# runs in a temporary folder, reached through its own socket), as a tool with
# ZELMAR_HISTORIAN set does.
set -euo pipefail

build=$(realpath "${1:-build}")
runs=${2:-3}
seconds=${3:-60}
events=
historian=
for option in "${@:4}"; do
    case $option in
    --day-of-events) events=$option ;;
    --historian) historian=$option ;;
    *) echo "unknown option $option" >&2; exit 1 ;;
    esac
done
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

# A PostgreSQL cluster of its own, as tests/historian makes one: the server
# runs as postgres when this script runs as root, and listens only on a socket
# in its folder. Sets ZELMAR_HISTORIAN; stopped and removed at exit.
pg_start() {
    local bin port=$((20000 + $$ % 10000))
    bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
    [ -x "$bin/pg_ctl" ] || { echo "no PostgreSQL server binaries" >&2; exit 1; }
    pgdir=$(mktemp -d)
    mkdir "$pgdir/socket"
    as_server=()
    if [ "$(id -u)" = 0 ]; then
        chown -R postgres "$pgdir"
        as_server=(runuser -u postgres --)
    fi
    "${as_server[@]}" "$bin/initdb" -D "$pgdir/data" -U zelmar --auth=trust --no-sync -E UTF8 \
        --locale=C >/dev/null
    "${as_server[@]}" "$bin/pg_ctl" -D "$pgdir/data" -l "$pgdir/server.log" \
        -o "-k $pgdir/socket -c listen_addresses='' -p $port -c fsync=off" -w start >/dev/null
    trap pg_stop EXIT
    "$bin/psql" -X -q -h "$pgdir/socket" -p "$port" -U zelmar -d postgres \
        -c "CREATE DATABASE historian"
    export ZELMAR_HISTORIAN="postgresql:///historian?host=$pgdir/socket&port=$port&user=zelmar"
    pg_bin=$bin
    pg_port=$port
}

# How many 1-second rows reached the server: proof that the runs forwarded.
pg_rows() {
    "$pg_bin/psql" -X -q -A -t -h "$pgdir/socket" -p "$pg_port" -U zelmar -d historian \
        -c "SELECT count(*) FROM samples_1s" 2>/dev/null || echo "none (no table)"
}

pg_stop() {
    "${as_server[@]}" "$pg_bin/pg_ctl" -D "$pgdir/data" -m fast -w stop >/dev/null || true
    rm -rf "$pgdir"
}

# The zelmar process started by xvfb-run with the given marker in its command line.
tool_pid() {
    pgrep -f "^$build/zelmar --open --port 1 --address 1 --baud 9600 --parity none$" | tail -1
}

one_run() {
    local work sim pid wrapper a b t0 t1
    work=$(mktemp -d)
    export ZELMAR_DB=$work/Rdatabj.db ZELMAR_PORT_1=$work/tty
    # A station of its own for each run: the server keeps every run's rows.
    export ZELMAR_STATION=idle-${work##*.}
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

[ -n "$historian" ] && pg_start
results=()
for run in $(seq "$runs"); do
    cpu=$(one_run)
    results+=("$cpu")
    echo "run $run: $cpu % CPU over $seconds s"
done
median=$(printf '%s\n' "${results[@]}" | sort -n | awk '{v[NR] = $1} END {
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
[ -n "$historian" ] && echo "rows forwarded to the historian: $(pg_rows)"
echo "median of $runs runs: $median % CPU (${events:-no events beforehand}${historian:+, forwarding to a historian})"
