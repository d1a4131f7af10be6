#!/usr/bin/env bash
# Takes the README's screenshot of the real window under Xvfb, showing a remembered album.
# Needs a build in build/ and the packages xvfb, xdotool and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/Quavrel"
album="$work/Favourites.alp"
for song in "Clair de Lune" "Entertainer" "Fur Elise" "Gymnopedie No 1" "Maple Leaf Rag" \
  "Minuet in G" "Moonlight Sonata" "Prelude in C" "Turkish March"; do
  printf '%s\r\n' "/home/user/Music/MIDI/$song.mid"
done >"$album"
printf '[Startup]\nAlbum=%s\n' "$album" >"$work/config/Quavrel/Quavrel.conf"

XDG_CONFIG_HOME="$work/config" QUAVREL_AUDIO_DRIVER=file xvfb-run -a -s "-screen 0 640x480x24" \
  bash -c '
    ./build/quavrel &
    pid=$!
    for _ in $(seq 50); do
      id=$(xdotool search --name "^Quavrel v1.04$" 2>/dev/null | head -n 1) && [ -n "$id" ] && break
      sleep 0.1
    done
    sleep 0.5
    import -window "$id" data/screenshot.png
    kill "$pid"
  '
echo "wrote data/screenshot.png"
