#!/usr/bin/env bash
# Large songs opened by the real program, beside FluidSynth's own program (fluidsynth 2.3.1,
# real-time to PulseAudio) on the same generated "black MIDI" files of 1 M and 8 M notes, written
# at run time (bench_large_song write) and never kept. In a private session (bench/session.sh):
#   - Quavrel: started idle; its media player is asked for PlaybackStatus every 20 ms for a few
#     seconds (idle), then again while "quavrel song.mid" hands it the song over the session bus.
#     Printed: time from starting "quavrel song.mid" to the first sound at the null sink
#     (bench_launch), the longest and median call while the song opens and when idle, and the
#     program's peak memory (VmHWM) a few seconds into the song.
#   - fluidsynth -ni -a pulseaudio: from its start to its first sound, and its VmHWM then.
#   - The device alone (bench_large_song open): the worker's time to read and load the song.
# Medians of RUNS runs (3), the programs taking turns.
#   bench/large_songs.sh [BUILD_DIR]    (a Release or RelWithDebInfo build)
# Needs the packages xvfb dbus pulseaudio pulseaudio-utils fluidsynth fluid-soundfont-gm and
# bench_launch's development files.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${RUNS:-3}
tool=$build/bench/bench_large_song
launch=$build/bench/bench_launch
for program in "$tool" "$launch"; do
  [ -x "$program" ] || { echo "no $program: build it" >&2; exit 1; }
done
source bench/session.sh
export XDG_CONFIG_HOME=$work/config

"$tool" write 1 "$work/note.mid"
"$tool" write 1000000 "$work/1M.mid"
"$tool" write 8000000 "$work/8M.mid"

# run_quavrel SONG SECONDS: one run; prints "sound_ms idle_median idle_longest median longest peak_mb".
run_quavrel() {
  local pid idle probe out
  pid=$(start_quavrel)
  sleep 2 # the synthesizer and its SoundFont are readied after the window shows
  idle=$("$tool" probe 3)
  "$tool" probe "$2" >"$work/probe" &
  probe=$!
  sleep 0.5
  out=$("$launch" --timeout 60000 --source bench.monitor -- "$build/quavrel" "$1")
  wait "$probe"
  echo "$(echo "$out" | cut -d' ' -f3) $(echo "$idle" | cut -d' ' -f3,4)" \
    "$(cut -d' ' -f3,4 "$work/probe") $(peak_mb "$pid")"
  finish "$pid"
}
# run_fluidsynth SONG: prints "sound_ms peak_mb".
run_fluidsynth() {
  local out pid
  out=$("$launch" --timeout 60000 --source bench.monitor -- \
    /usr/bin/fluidsynth -ni -a pulseaudio "$QUAVREL_SOUNDFONT" "$1")
  pid=${out##* }
  sleep 2
  echo "$(echo "$out" | cut -d' ' -f3) $(peak_mb "$pid")"
  finish "$pid"
}

for _ in $(seq "$runs"); do
  for song in note 1M 8M; do
    seconds=$([ $song = 8M ] && echo 20 || echo 6)
    run_quavrel "$work/$song.mid" "$seconds" >>"$work/quavrel-$song"
    run_fluidsynth "$work/$song.mid" >>"$work/fluidsynth-$song"
    "$tool" open "$work/$song.mid" >>"$work/device-$song"
  done
done

col() { awk -v f="$2" '{ print $f }' "$work/$1" | median; }
device() { sed -E "s/.*$2 ([0-9.]+) ms.*/\1/" "$work/device-$1" | median; }
device_mb() { sed -E 's/.*, ([0-9.]+) MB after.*/\1/' "$work/device-$1" | median; }
printf '\nSoundFont %s; medians of %s runs; load average %s\n\n' "$(basename "$QUAVREL_SOUNDFONT")" \
  "$runs" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '| song | file | Quavrel: first sound | longest D-Bus call while opening (median) | idle: longest (median) | Quavrel peak memory | fluidsynth: first sound | fluidsynth peak memory | device: open command / on the worker |\n'
printf '|---|---|---|---|---|---|---|---|---|\n'
for song in note 1M 8M; do
  printf '| %s | %.1f MB | %s ms | %s ms (%s) | %s ms (%s) | %s MB | %s ms | %s MB | %s / %s ms |\n' \
    "$song" "$(stat -c %s "$work/$song.mid" | awk '{ print $1 / 1e6 }')" \
    "$(col quavrel-$song 1)" "$(col quavrel-$song 5)" "$(col quavrel-$song 4)" \
    "$(col quavrel-$song 3)" "$(col quavrel-$song 2)" "$(col quavrel-$song 6)" \
    "$(col fluidsynth-$song 1)" "$(col fluidsynth-$song 2)" \
    "$(device $song 'open command')" "$(device $song 'on the worker')"
done
printf '\nEach run (Quavrel: sound idle-median idle-longest median longest peak; fluidsynth: sound peak):\n'
for song in note 1M 8M; do
  printf '%s: Quavrel %s; fluidsynth %s\n' "$song" "$(paste -sd'|' "$work/quavrel-$song")" \
    "$(paste -sd'|' "$work/fluidsynth-$song")"
done
printf 'device peak memory after the open (MB): note %s, 1M %s, 8M %s\n' "$(device_mb note)" \
  "$(device_mb 1M)" "$(device_mb 8M)"
for song in 1M 8M; do
  printf '%s on the worker, of it (ms): read %s, canonical form %s, written %s\n' "$song" \
    "$(device $song read)" "$(device $song 'canonical form')" "$(device $song written)"
done
