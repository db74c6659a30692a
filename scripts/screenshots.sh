#!/usr/bin/env bash
# Takes the README's screenshots under a virtual X server with a tray: the
# main window during a run, then the graph window opened by its button,
# into docs/screenshots/run.png and graph.png.
#
# The run loads every processor for about two minutes. Its temperature
# comes from a recorded machine with a k10temp sensor played by umockdev,
# which this script warms and cools as the run goes: machines that build
# the screenshots seldom have a sensor of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target vorsk vorsk-worker Burnmod
out=$PWD/docs/screenshots
mkdir -p "$out"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A run that starts by itself, on the processor's temperature, under a limit.
cat > "$work/Vorsk.ini" <<'INI'
[General]
AutoStart=true
Monitoring=7
TempSensor=k10temp Tctl
MaxTemp=85
INI

export VORSK_BIN=$PWD/build/bin/vorsk OUT=$out SECONDS_OF_RUN=${SECONDS_OF_RUN:-120}
cd "$work"
umockdev-run --device "$OLDPWD/tests/sensors/machines/k10temp-zen4.umockdev" -- \
  xvfb-run -a -s "-screen 0 1024x768x24" bash -s <<'IN_X'
set -euo pipefail
trayer &
tray=$!
sleep 2
"$VORSK_BIN" &
vorsk=$!
tctl=$UMOCKDEV_DIR/sys/devices/pci0000:00/0000:00:18.3/hwmon/hwmon2/temp1_input
# Warms up quickly, then settles with slow swings of a degree and a half.
for ((s = 0; s < SECONDS_OF_RUN; s++)); do
  swing=$((s % 40 < 20 ? s % 40 : 40 - s % 40))
  echo $((52000 + 22000 * s / (s + 15) + swing * 150)) > "$tctl"
  sleep 1
done
window=$(xdotool search --name '^Vorsk 1\.0\.4' | head -n 1)
import -window "$window" "$OUT/run.png"
# The "Graphiques" button, in the middle of the window's bottom row.
height=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: [0-9]*x//p')
xdotool mousemove --window "$window" 205 $((height - 20)) click 1
sleep 2
import -window "$(xdotool search --name '^Graphiques$' | head -n 1)" "$OUT/graph.png"
kill $vorsk $tray
wait $vorsk || true
IN_X
ls -l "$out"
