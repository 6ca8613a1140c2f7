#!/usr/bin/env bash
# Builds the demo catalogue server folder: a dozen channels over four
# countries and three types, each a short generated clip with its name drawn
# into the picture and a tone, served by lumivex-server from DEMO_DIR.
#
#   demo.sh BUILD_DIR DEMO_DIR [HOST:PORT]
#
# HOST:PORT is where the demo server will answer (default 127.0.0.1:8391,
# the player's default catalogue server); every address in the catalogue
# points there. Among the channels: plain MP4 addresses, one ASX playlist of
# two entries, one HLS channel, and one channel on a closed port that never
# answers (the failure road).
#
# A second run reuses the clips. The catalogue is rebuilt only when its
# listing changes (another HOST:PORT, another channel list), and then its
# version rises, so a player that has the old one downloads the new one.
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: demo.sh BUILD_DIR DEMO_DIR [HOST:PORT]" >&2
  exit 2
fi
build="$1"
demo="$2"
address="${3:-127.0.0.1:8391}"
host="${address%:*}"
base="http://$address"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -r "$font" ] || { echo "demo: $font is missing (Debian package fonts-dejavu-core)" >&2; exit 1; }
mkdir -p "$demo"

seconds=24
# The picture of a clip: a test source, the channel's name across the lower
# part and a running clock in the corner, so that every clip moves.
picture() { # source, title
  printf '%s,drawtext=fontfile=%s:text=%s:fontsize=44:fontcolor=white:borderw=3:bordercolor=black@0.8:x=(w-text_w)/2:y=h-text_h-40,drawtext=fontfile=%s:text=%s:fontsize=22:fontcolor=white:box=1:boxcolor=black@0.5:boxborderw=6:x=w-text_w-16:y=16' \
    "$1" "$font" "'$2'" "$font" "'%{pts\\:hms}'"
}
encode() { # output, source, title, tone frequency, format options...
  local out="$1" source="$2" title="$3" tone="$4"
  shift 4
  ffmpeg -loglevel error -nostdin -y \
    -f lavfi -i "$(picture "$source" "$title")" \
    -f lavfi -i "sine=frequency=$tone:beep_factor=2:sample_rate=48000" \
    -t "$seconds" -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 -c:a aac -b:a 96k "$@"
}
clip() { # file name, title, source, tone frequency
  local out="$demo/$1.mp4"
  [ -s "$out" ] && return 0
  echo "demo: making $1.mp4" >&2
  encode "$out.part" "$3" "$2" "$4" -movflags +faststart -f mp4 "$out.part" && mv "$out.part" "$out"
}
hls() { # folder name, title, source, tone frequency
  local folder="$demo/$1"
  [ -s "$folder/index.m3u8" ] && return 0
  echo "demo: making $1/index.m3u8" >&2
  rm -rf "$folder.part" && mkdir -p "$folder.part"
  encode "$folder.part" "$3" "$2" "$4" -f hls -hls_time 4 -hls_playlist_type vod \
    -hls_segment_filename "$folder.part/segment%02d.ts" "$folder.part/index.m3u8"
  rm -rf "$folder" && mv "$folder.part" "$folder"
}
size=640x360:rate=25
moving() { # background colour, box colour
  printf 'color=c=%s:size=%s,drawbox=x=mod(t*120\\,600):y=140:w=40:h=40:c=%s:t=fill' "$1" "$size" "$2"
}

clip news      "Lumivex News"     "testsrc2=size=$size"                  440
clip alps      "Alpine Lakes"     "gradients=size=$size:speed=0.05"      330
clip chanson   "Chanson"          "$(moving maroon gold)"                523
clip ocean     "Ocean"            "$(moving teal white)"                 294
clip lisbon    "Lisbon Today"     "smptehdbars=size=$size"               392
hls  fado      "Fado Nights"      "life=size=160x90:rate=25:mold=10:ratio=0.2:death_color=#203040:life_color=#f0c040,scale=640:360:flags=neighbor" 349
clip evening-1 "City Evening (1)" "mandelbrot=size=$size"                466
clip evening-2 "City Evening (2)" "$(moving darkorange navy)"            587
clip madrid    "Madrid 24"        "rgbtestsrc=size=$size"                415
clip sierra    "Sierra"           "$(moving darkgreen yellow)"           262
clip rome      "Rome Bulletin"    "testsrc=size=$size"                   494
clip opera     "Opera Live"       "$(moving indigo pink)"                659

# The ASX playlist is rewritten on every run: its entries carry HOST:PORT.
cat > "$demo/evening.asx.part" <<ASX
<ASX version="3.0">
  <Entry><Ref href="$base/evening-1.mp4"/></Entry>
  <Entry><Ref href="$base/evening-2.mp4"/></Entry>
</ASX>
ASX
mv "$demo/evening.asx.part" "$demo/evening.asx"

# Port 9 (discard) on the demo's host: nothing listens there, so this
# channel shows what a dead address does.
printf '%s\t%s\t%s\t%s\t%s\n' \
  "France"   "News"   "Lumivex News"  "Test card and tone, all day"           "$base/news.mp4" \
  "France"   "Nature" "Alpine Lakes"  "Slow colours over the mountains"       "$base/alps.mp4" \
  "France"   "Music"  "Chanson"       "A golden square crossing a red stage"  "$base/chanson.mp4" \
  "Portugal" "Nature" "Ocean"         "A calm sea with one white sail"        "$base/ocean.mp4" \
  "Portugal" "News"   "Lisbon Today"  "Colour bars from the capital"          "$base/lisbon.mp4" \
  "Portugal" "Music"  "Fado Nights"   "Live streaming in segments (HLS)"      "$base/fado/index.m3u8" \
  "Spain"    "Music"  "City Evening"  "A playlist of two programmes (ASX)"    "$base/evening.asx" \
  "Spain"    "News"   "Madrid 24"     "Red, green and blue around the clock"  "$base/madrid.mp4" \
  "Spain"    "Nature" "Sierra"        "A yellow bird over green hills"        "$base/sierra.mp4" \
  "Italy"    "News"   "Rome Bulletin" "The classic test card"                 "$base/rome.mp4" \
  "Italy"    "Music"  "Opera Live"    "A pink note on an indigo curtain"      "$base/opera.mp4" \
  "Italy"    "Nature" "Dolomites"     "Off the air: this address never answers" "http://$host:9/dolomites.mp4" \
  > "$demo/listing.txt.part"

if [ -s "$demo/database" ] && [ -s "$demo/dbversion" ] && cmp -s "$demo/listing.txt.part" "$demo/listing.txt"; then
  rm -f "$demo/listing.txt.part"
  exit 0
fi
rm -f "$demo/database.part"
"$build/bin/lumivex-catalogue" build "$demo/listing.txt.part" "$demo/database.part" >/dev/null
mv "$demo/database.part" "$demo/database"
mv "$demo/listing.txt.part" "$demo/listing.txt"
# The version is the time of the build: it rises with every new catalogue,
# also above the version of an earlier demo folder a player already has.
old=""
[ -f "$demo/dbversion" ] && old="$(tr -dc 0-9 < "$demo/dbversion")"
version="$(date +%s)"
if [ -n "$old" ] && [ "$version" -le "$old" ]; then
  version=$((old + 1))
fi
echo "$version" > "$demo/dbversion.part"
mv "$demo/dbversion.part" "$demo/dbversion"
