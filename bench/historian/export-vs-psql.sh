#!/usr/bin/env bash
# The CSV of a station from the historian against psql's \copy of the same
# rows and columns: a throw-away PostgreSQL cluster on a Unix socket, a station
# of 18 hours of seconds (64,800 rows) whose values are whole numbers (WHOLE,
# as the instrument's registers give them) or carry decimals (DECIMAL), then
# `zelmar --export-csv` and psql taking turns, RUNS times each. Prints the
# median wall seconds of each and their ratio, per station.
#
#   bench/historian/export-vs-psql.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build=$(realpath "${1:-build}")
runs=${2:-5}
[ -x "$build/zelmar" ] || { echo "no $build/zelmar: build the project first" >&2; exit 1; }
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
[ -x "$bin/initdb" ] || { echo "PostgreSQL's server is missing (package postgresql)" >&2; exit 1; }

dir=$(mktemp -d)
as_server=()
if [ "$(id -u)" = 0 ]; then
    chown postgres "$dir"
    as_server=(runuser -u postgres --)
fi
port=$((20000 + RANDOM % 20000))
stop() { "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true; rm -rf "$dir"; }
trap stop EXIT
"${as_server[@]}" "$bin/initdb" -D "$dir/data" -U zelmar --auth=trust >/dev/null
"${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w \
    -o "-k $dir -p $port -c listen_addresses=''" start >/dev/null
sql() { psql -q -X -h "$dir" -p "$port" -U zelmar -d "${2:-historian}" -c "$1"; }
sql "CREATE DATABASE historian" postgres
# The table as the tool makes it (historian/historianserver.cpp).
sql "CREATE TABLE samples_1s (station text NOT NULL, ts timestamptz NOT NULL, v1 real, v2 real,
     v3 real, v4 real, v5 real, v6 real, v7 real, v8 real, ring_id integer NOT NULL DEFAULT 0,
     quality smallint, utc_offset integer, seq bigserial NOT NULL,
     PRIMARY KEY (station, ts, ring_id))"
for station in WHOLE DECIMAL; do
    scale=1
    [ $station = DECIMAL ] && scale=0.37
    sql "INSERT INTO samples_1s (station, ts, v1, v2, v3, v4, v5, v6, v7, v8, ring_id, quality,
         utc_offset) SELECT '$station', timestamptz '2026-12-07 00:00:00+00' + g * interval '1 s',
         (200 + g % 97) * $scale, (350 + g % 13) * $scale, -(g % 50) * $scale, 1000 + g % 7,
         5000 + g % 300, 0, 1, g % 2, g % 65500 + 1, CASE WHEN g % 100 = 0 THEN 68 ELSE 0 END,
         3600 FROM generate_series(0, 64799) g"
done
sql "VACUUM ANALYZE samples_1s"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
seconds() { local start end; start=$(date +%s%N); "$@" >/dev/null; end=$(date +%s%N); echo "scale=4; ($end - $start) / 1000000000" | bc; }

for station in WHOLE DECIMAL; do
    tool=() copy=()
    for ((i = 0; i < runs + 1; ++i)); do # the first of each warms the caches
        t=$(TZ=Europe/Berlin seconds "$build/zelmar" --export-csv "$dir/$station.csv" \
            --from "2026-12-07 00:00" --to "2026-12-07 18:00" \
            --db "postgresql://zelmar@localhost:$port/historian?host=$dir&station=$station")
        p=$(seconds psql -q -X -h "$dir" -p "$port" -U zelmar -d historian -c "\\copy (SELECT ts,
            v1, v2, v3, v4, v5, v6, v7, v8, quality FROM samples_1s WHERE station = '$station'
            AND ts BETWEEN '2026-12-07 00:00:00+01' AND '2026-12-07 18:00:00+01' ORDER BY seq, ts)
            TO '$dir/$station-psql.csv' WITH (FORMAT csv, HEADER)")
        if ((i > 0)); then tool+=("$t"); copy+=("$p"); fi
    done
    a=$(printf '%s\n' "${tool[@]}" | median)
    b=$(printf '%s\n' "${copy[@]}" | median)
    printf '%-8s rows %s  zelmar %.3f s  psql %.3f s  ratio %.2f\n' "$station" \
        "$(($(wc -l <"$dir/$station.csv") - 1))" "$a" "$b" "$(echo "$a / $b" | bc -l)"
done
