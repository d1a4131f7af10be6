#!/usr/bin/env bash
# The silence between two songs on the real program: Quavrel plays a queue of six one-note piano
# songs of different lengths (so that their ends fall at different moments of the player's
# one-second poll) to a private PulseAudio server (bench/session.sh), whose null sink's monitor
# parec records. For each pair of songs, bench_song_end measures the silence from the end of the
# first song's sound to the first sample of the next: from its last sample above -60 dBFS (the
# end a listener hears), and from its last sample that is not 0 (the end of its tail, where the
# device no longer renders the song).
# Medians and ranges over RUNS queues (3), 5 pairs each.
#   bench/song_gaps.sh [BUILD_DIR]    (a Release or RelWithDebInfo build)
#   QUAVREL_AUDIO_DRIVER=pulseaudio bench/song_gaps.sh [BUILD_DIR]    (FluidSynth's driver)
# Needs the packages xvfb dbus pulseaudio pulseaudio-utils fluid-soundfont-gm.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${RUNS:-3}
tool=$build/bench/bench_song_end
[ -x "$tool" ] || { echo "no $tool: build it" >&2; exit 1; }
source bench/session.sh

songs=()
for ms in 300 470 640 810 980 1150; do
  songs+=("$work/note $ms.mid")
  "$tool" note "$ms" "${songs[-1]}"
done
status() {
  dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.quavrel /org/mpris/MediaPlayer2 \
    org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player \
    string:PlaybackStatus 2>/dev/null | sed -n 's/.*string "\(.*\)"/\1/p'
}

for run in $(seq "$runs"); do
  parec --latency-msec=10 --raw --format=float32le --rate=44100 --channels=2 -d bench.monitor >"$work/run$run.raw" &
  recorder=$!
  sleep 0.5
  pid=$(start_quavrel "${songs[@]}")
  # The queue has played once the player stops.
  for want in Playing Stopped; do
    for _ in $(seq 600); do
      [ "$(status)" = $want ] && break
      sleep 0.1
    done
  done
  sleep 0.5
  kill "$recorder"
  wait "$recorder" || true
  finish "$pid"
  "$tool" silences "$work/run$run.raw" >>"$work/silences"
done

range() { sort -n | awk 'NR == 1 { min = $1 } { max = $1 } END { printf "%s to %s", min, max }'; }
printf '\n%s silences between songs, %s queues; load average %s\n' "$(wc -l <"$work/silences")" \
  "$runs" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '| silence between songs | median | range |\n|---|---|---|\n'
printf '| from the last sample above -60 dBFS | %s ms | %s ms |\n' \
  "$(cut -d' ' -f1 "$work/silences" | median)" "$(cut -d' ' -f1 "$work/silences" | range)"
printf '| from the last sample that is not 0 | %s ms | %s ms |\n' \
  "$(cut -d' ' -f2 "$work/silences" | median)" "$(cut -d' ' -f2 "$work/silences" | range)"
printf 'each (ms, -60 dBFS / not 0): %s\n' "$(tr ' \n' '/ ' <"$work/silences")"
