#!/usr/bin/env bash
# Takes the pictures for the README: docs/overview.png, the tool under a
# virtual X server with zelmar-sim on port 1 and a recording database that
# already holds the hour before, "打开" pressed, then half a minute of live
# chart; docs/history.png, "历史曲线" opened on the last hour with the cursor on
# it; docs/health-fault.png, the overview seconds after the simulator's device
# vanished (as an unplugged adapter does); docs/health-details.png, the details
# view "通讯状态" opened from the status strip in that fault. The hour is written
# with the simulator's own waves, counted back from its start, so that the
# recorded curves run on into the live ones.
#   scripts/screenshot.sh [build folder]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs/overview.png
history_out=docs/history.png
fault_out=docs/health-fault.png
details_out=docs/health-details.png
live_seconds=25
fault_seconds=5
history_seconds=3600

for tool in Xvfb xdotool python3; do
    command -v "$tool" > /dev/null || { echo "screenshot: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
done
for program in zelmar zelmar-sim; do
    [ -x "$build/$program" ] || { echo "screenshot: no $build/$program; build first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    wait 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A window that does not open within a minute ends the script instead of hanging it.
window_timeout=60

wait_for() { # path
    for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.1; done
    echo "screenshot: $1 did not appear" >&2
    exit 1
}

# capture WINDOW FILE: the screen's XWD file to PNG, cropped to the window,
# with the standard library.
capture() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    mkdir -p "$(dirname "$2")"
    python3 - "$work/Xvfb_screen0" "$2" "$X" "$Y" "$WIDTH" "$HEIGHT" << 'EOF'
import struct, sys, zlib
source, target = sys.argv[1], sys.argv[2]
left, top, width, height = map(int, sys.argv[3:7])
data = open(source, "rb").read()
header = struct.unpack(">25I", data[:100])
header_size, byte_order, bits_per_pixel, bytes_per_line = header[0], header[7], header[11], header[12]
masks, ncolors = header[14:17], header[19]
if bits_per_pixel != 32:
    sys.exit("screenshot: the screen is not 32 bits a pixel")
pixels = data[header_size + 12 * ncolors:]
fmt = "<I" if byte_order == 0 else ">I"
shifts = [(m & -m).bit_length() - 1 for m in masks]
raw = bytearray()
for y in range(top, top + height):
    raw.append(0)  # no filter
    row = pixels[y * bytes_per_line:(y + 1) * bytes_per_line]
    for x in range(left, left + width):
        (p,) = struct.unpack_from(fmt, row, 4 * x)
        raw += bytes((p & m) >> s for m, s in zip(masks, shifts))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
open(target, "wb").write(png)
EOF
    echo "screenshot: $2 ($(stat -c %s "$2") bytes)"
}

# A free display; Xvfb keeps its screen as an XWD file in $work.
display=
for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=$n; break; }
done
[ -n "$display" ] || { echo "screenshot: no free X display from :90 to :120" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x800x24 -fbdir "$work" -nolisten tcp 2> /dev/null &
pids+=($!)
wait_for "/tmp/.X11-unix/X$display"
export DISPLAY=":$display"
export ZELMAR_DB="$work/Rdatabj.db"

# The first start creates the database and its tables; the tool ends only by
# "退出", so it is stopped.
"$build/zelmar" > /dev/null 2>&1 &
first=$!
pids+=("$first")
timeout "$window_timeout" xdotool search --sync --name 'ZELMAR  OverView' > /dev/null ||
    { echo "screenshot: the overview did not open" >&2; exit 1; }
kill "$first"
wait "$first" 2> /dev/null || true

"$build/zelmar-sim" --link "$work/tty" &
sim=$!
pids+=("$sim")
wait_for "$work/tty"

# The hour before: one pv_data row a second, ids 1 .. $history_seconds, the
# newest one second ago; the simulator's time 0 is now.
python3 - "$ZELMAR_DB" "$history_seconds" << 'EOF'
import datetime, math, sqlite3, sys
path, count = sys.argv[1], int(sys.argv[2])
waves = [(150, 120, 60, 0), (80, 40, 45, 1), (200, 90, 90, 2), (60, 35, 75, 3)]
day_zero = datetime.datetime(1899, 12, 30)
now = datetime.datetime.now().replace(microsecond=0)
db = sqlite3.connect(path)
rows = []
for age in range(count, 0, -1):
    moment = now - datetime.timedelta(seconds=age)
    since = moment - day_zero
    values = [round(c + s * math.sin(2 * math.pi * -age / p + ph)) for c, s, p, ph in waves]
    retransmission = round(min(100, max(0, 100 * values[0] / 300)))  # channel 1, 0..300
    rows.append((count - age + 1, float(since.days), since.seconds / 86400,
                 *map(float, values), float(retransmission), 25.0, 0.0, 0.0))
with db:
    db.executemany("insert or replace into pv_data values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", rows)
    db.execute("delete from sl_void")
    db.execute("insert into sl_void values (?, ?, 0, 0)", (count, count))
EOF

ZELMAR_PORT_1="$work/tty" "$build/zelmar" > /dev/null 2>&1 &
pids+=($!)
window=$(timeout "$window_timeout" xdotool search --sync --onlyvisible --name 'ZELMAR  OverView' |
    head -1) || true
[ -n "$window" ] || { echo "screenshot: the overview did not open" >&2; exit 1; }
# "打开" (Command9): 10770, 120, 825 × 435 twips, 15 twips to the pixel; then the
# pointer out of the picture.
xdotool mousemove --sync --window "$window" 745 22 click 1 mousemove 0 799
sleep "$live_seconds"

capture "$window" "$out"

# "历史曲线" (Command29): 150, 7080, 1095 × 405 twips inside the function frame at
# 13920, 1860. The window opens on the last hour; the pointer on its chart
# shows the cursor and its read-out.
xdotool mousemove --sync --window "$window" 974 609 click 1
history=$(timeout "$window_timeout" xdotool search --sync --onlyvisible --name '^历史曲线$' |
    head -1) || true
[ -n "$history" ] || { echo "screenshot: the history window did not open" >&2; exit 1; }
xdotool windowmove --sync "$history" 90 60
sleep 2
xdotool mousemove --sync --window "$history" 640 330
sleep 1
capture "$history" "$history_out"
# Out of the way of the overview's pictures that follow.
xdotool windowmove --sync "$history" 1280 800

# The fault: the device vanishes; the link tries to open it again every 2 s.
kill -USR1 "$sim"
sleep "$fault_seconds"
capture "$window" "$fault_out"

# The details view, from a click on the status strip (below the 11085 twips
# of the designed window).
xdotool mousemove --sync --window "$window" 300 751 click 1 mousemove 0 799
details=$(timeout "$window_timeout" xdotool search --sync --onlyvisible --name '通讯状态' |
    head -1) || true
[ -n "$details" ] || { echo "screenshot: the details view did not open" >&2; exit 1; }
sleep 1
capture "$details" "$details_out"
