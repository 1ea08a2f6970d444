#!/usr/bin/env bash
# The main job, end to end on one machine: a local service with a demo account,
# Pictoport with a demo profile of its own, and a phone that sends a few items.
# Without a display it runs under Xvfb, saves screenshots and ends.
set -euo pipefail
build=${1:-build/default}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
demo=$build/demo
service=$build/localservice/scanlume-local
# Pictoport with a scripted user who presses the lab extraction button once the lab
# report has arrived (tools/uDemoDriver.cpp); the window is the program's own.
pictoport=$build/tools/pictoport-demo
profile=$build/tools/pictoport-profile
user=demo@example.com
password=demo-password

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${PICTOPORT_DEMO_INNER:-}" ]; then
  echo "No display: running the demo under Xvfb."
  export PICTOPORT_DEMO_INNER=1
  exec xvfb-run -a -s "-screen 0 ${PICTOPORT_DEMO_SCREEN:-1400x900}x24" "$0" "$build"
fi

rm -rf "$demo"
mkdir -p "$demo/config" "$demo/runtime" "$demo/samples" "$demo/received"
chmod 700 "$demo/runtime"
# The demo profile: its own settings folder, its own key file, its own instance lock.
# The desktop's session bus and Wayland socket are found through XDG_RUNTIME_DIR, so
# name them absolutely before it changes.
if [ -n "${XDG_RUNTIME_DIR:-}" ]; then
  if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && [ -S "$XDG_RUNTIME_DIR/bus" ]; then
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
  fi
  case "${WAYLAND_DISPLAY:-}" in
    "" | /*) ;;
    *) export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ;;
  esac
fi
export XDG_CONFIG_HOME=$demo/config XDG_RUNTIME_DIR=$demo/runtime PICTOPORT_KEYRING=off

cleanup() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "${service_pid:-}" ] && kill "$service_pid" 2>/dev/null || true
}
trap cleanup EXIT

"$service" --listen 127.0.0.1:0 --data "$demo/service-data" --user "$user:$password" \
  > "$demo/service.log" 2>&1 &
service_pid=$!
for _ in $(seq 100); do
  url=$(sed -n 's/^listening on //p' "$demo/service.log" | head -n1)
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "${url:-}" ] || { echo "scanlume-local did not start:"; cat "$demo/service.log"; exit 1; }
echo "scanlume-local is listening on $url"

# Patient 12345's earlier visits, as Pictoport saved their lab tables (UTF-8 with its mark,
# CR LF), so that the trend window has a history to show next to today's report.
past=$demo/received/2024
mkdir -p "$past"
lab_table() { # FILE DATE then "test value unit" lines on standard input
  { printf '\xef\xbb\xbf検査実施日\t%s\n検査医療機関\tさくら内科クリニック\n\n項目\t検査値\t単位\n' "$2"
    tr ' ' '\t'; } | sed 's/$/\r/' > "$1"
}
lab_table "$past/12345_検査_20231101_093000.txt" 2023-11-01 <<'EOT'
AST 31 U/L
ALT 45 U/L
BS 138 mg/dL
HbA1c 7.4H %
EOT
lab_table "$past/12345_検査_20240115_101500.txt" 2024-01-15 <<'EOT'
AST 27 U/L
ALT 38 U/L
BS 126 mg/dL
HbA1c 7.0H %
EOT
lab_table "$past/12345_検査_20240311_094500.txt" 2024-03-11 <<'EOT'
AST 25 U/L
ALT 33 U/L
BS 118 mg/dL
HbA1c 6.7H %
CRP <0.1 mg/dL
EOT

"$profile" "$url" "$user" "$password" "$demo/received" > /dev/null
if [ -n "${PICTOPORT_DEMO_INNER:-}" ]; then
  "$pictoport" --shots "$demo" --quit &
else
  "$pictoport" --shots "$demo" &
fi
app_pid=$!

# Samples as the phone would send them: a lab report photographed sideways (stored
# landscape, Exif orientation 6), a PNG, and a Japanese text.
convert -size 900x1200 xc:white -font Noto-Sans-CJK-JP -fill black \
  -pointsize 44 -draw "text 60,110 '検査結果報告書'" \
  -pointsize 28 -draw "text 60,170 'さくら内科クリニック'" \
  -draw "text 60,215 '検査日 2024年5月1日'" \
  -draw "text 60,290 'AST(GOT)      24   U/L    13-30'" \
  -draw "text 60,350 'ALT(GPT)      31   U/L    10-42'" \
  -draw "text 60,410 'γ-GTP         88   U/L    13-64   H'" \
  -draw "text 60,470 'HbA1c         6.4  %      4.9-6.0 H'" \
  -draw "text 60,530 '血糖          112  mg/dL  73-109  H'" \
  -rotate -90 -quality 90 "$demo/samples/sideways.jpg"
# The camera's Exif orientation 6 ("turn clockwise to view"), right after the start marker:
# APP1, length 34, "Exif\0\0", little-endian TIFF header, one entry: tag 0x0112 = 6.
{
  printf '\xff\xd8\xff\xe1\x00\x22Exif\x00\x00II\x2a\x00\x08\x00\x00\x00'
  printf '\x01\x00\x12\x01\x03\x00\x01\x00\x00\x00\x06\x00\x00\x00\x00\x00\x00\x00'
  tail -c +3 "$demo/samples/sideways.jpg"
} > "$demo/samples/lab-report.jpg"
rm "$demo/samples/sideways.jpg"
convert -size 640x400 gradient:'#1e88a8'-'#ffd166' -font Noto-Sans-CJK-JP -pointsize 40 \
  -fill white -draw "text 40,220 '処方箋のサンプル (PNG)'" "$demo/samples/prescription.png"

sleep 2
"$service" send --server "$url" --user "$user:$password" \
  --text "本日の検査: HbA1c 6.4 % (H)、血糖 112 mg/dL (H)。次回は6月に再検査。" --filename "メモ.txt" \
  --file "$demo/samples/prescription.png" \
  --file "$demo/samples/lab-report.jpg"

# Wait until all three items are saved.
for _ in $(seq 150); do
  [ "$(find "$demo/received" -maxdepth 1 -type f | wc -l)" -ge 3 ] && break
  sleep 0.2
done
echo "Received files were saved in $demo/received:"
ls -l "$demo/received"

echo "Recognising the lab report (real recognition by scanlume-local; a few seconds)..."
if [ -n "${PICTOPORT_DEMO_INNER:-}" ]; then
  # Pictoport ends by itself once the lab results window has been shown.
  for _ in $(seq 600); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.5
  done
  rc=0
  wait "$app_pid" || rc=$?
  app_pid=
  exit "$rc"
else
  echo "Pictoport is running; send your own files with:"
  echo "  $service send --server $url --user $user:$password --file PATH"
  echo "Close the window to end the demo."
  wait "$app_pid" || true
fi
