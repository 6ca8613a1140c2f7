#!/usr/bin/env bash
# Builds a small demo catalogue server folder: generated clips, an ASX
# playlist, the catalogue and its version. Usage: demo.sh BUILD_DIR DEMO_DIR
# Idempotent: what exists is kept.
set -euo pipefail
build="$1"
demo="$2"
port=8391
mkdir -p "$demo"

clip() { # name, video source, tone frequency
  local out="$demo/$1.mp4"
  [ -s "$out" ] && return 0
  ffmpeg -loglevel error -y -f lavfi -i "$2" -f lavfi -i "sine=frequency=$3:sample_rate=48000:duration=30" \
    -t 30 -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 96k -movflags +faststart \
    -f mp4 "$out.part" && mv "$out.part" "$out"
}
clip news "testsrc2=size=640x360:rate=25:duration=30" 440
clip ocean "color=c=teal:size=640x360:rate=25:duration=30,drawbox=x='mod(t*80,600)':y=150:w=40:h=40:c=white:t=fill" 330
clip city "mandelbrot=size=640x360:rate=25" 550

if [ ! -s "$demo/evening.asx" ]; then
  cat > "$demo/evening.asx" <<ASX
<ASX version="3.0">
  <Entry><Ref href="http://127.0.0.1:$port/city.mp4"/></Entry>
  <Entry><Ref href="http://127.0.0.1:$port/news.mp4"/></Entry>
</ASX>
ASX
fi

printf '%s\t%s\t%s\t%s\t%s\n' \
  "France" "News" "Lumivex News" "Test card and tone, all day" "http://127.0.0.1:$port/news.mp4" \
  "Portugal" "Nature" "Ocean" "A calm sea with one white sail" "http://127.0.0.1:$port/ocean.mp4" \
  "Spain" "Culture" "City Evening" "A playlist of two programmes" "http://127.0.0.1:$port/evening.asx" \
  > "$demo/listing.txt"
if [ ! -s "$demo/database" ] || [ "$demo/listing.txt" -nt "$demo/database" ]; then
  "$build/bin/lumivex-catalogue" build "$demo/listing.txt" "$demo/database" >/dev/null
fi
[ -s "$demo/dbversion" ] || echo 1 > "$demo/dbversion"
