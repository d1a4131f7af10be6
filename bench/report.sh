#!/usr/bin/env bash
# Prints Quavrel's performance report: each figure a median of several runs, each comparison
# measured side by side in the same run. Runs the real program under Xvfb, with a private
# PulseAudio server whose null sink stands in for the sound card.
#   bench/report.sh [BUILD_DIR]     (a Release or RelWithDebInfo build; RUNS=5 by default)
# Needs: xvfb xdotool pulseaudio pulseaudio-utils fluidsynth fluid-soundfont-gm.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${RUNS:-5}
soundfont=${QUAVREL_SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
song=$(realpath "${SONG:-../shared/midi/real/midly__Clementi.mid}")
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "${XDG_RUNTIME_DIR:-}" ] && pulseaudio --kill 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export QUAVREL_SOUNDFONT=$soundfont
unset QUAVREL_AUDIO_DRIVER QT_QPA_PLATFORM
Xvfb :87 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=:87
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --load=module-native-protocol-unix \
  --load="module-null-sink sink_name=bench" >/dev/null 2>&1
pactl set-default-sink bench
sleep 1

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_mb() { awk -v key="$2:" '$1 == key { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
window_of() { # window_of TITLE: waits for a window with exactly that title
  local id=""
  for _ in $(seq 2000); do
    id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1) && [ -n "$id" ] && break
  done
  echo "$id"
}

# The settings folders: none, and one remembering an album of 1,000 songs.
mkdir -p "$work/empty" "$work/album/Quavrel" "$work/dense/Quavrel"
for i in $(seq 1000); do printf '/home/user/Music/MIDI/Collection/Song number %04d.mid\r\n' "$i"; done >"$work/big.alp"
printf '[Startup]\nAlbum=%s\n' "$work/big.alp" >"$work/album/Quavrel/Quavrel.conf"
printf '%s\r\n' "$song" >"$work/dense.alp"
printf '[Startup]\nAlbum=%s\n' "$work/dense.alp" >"$work/dense/Quavrel/Quavrel.conf"

start_ms() { # start_ms PROGRAM TITLE CONFIG: time from launch to its window on screen
  local t0 pid ms
  t0=$(now_ms)
  XDG_CONFIG_HOME=$3 "$1" >/dev/null 2>&1 &
  pid=$!
  window_of "$2" >/dev/null
  ms=$(( $(now_ms) - t0 ))
  kill "$pid"; wait "$pid" 2>/dev/null || true
  echo "$ms"
}
bare=$(for _ in $(seq "$runs"); do start_ms "$build/bench/bench_bare_window" "Bare Qt window" "$work/empty"; done | median)
plain=$(for _ in $(seq "$runs"); do start_ms "$build/quavrel" "Quavrel v1.04" "$work/empty"; done | median)
remembered=$(for _ in $(seq "$runs"); do start_ms "$build/quavrel" "Quavrel v1.04" "$work/album"; done | median)

# Idle: memory of the shown window, and CPU ticks over 10 s while stopped.
XDG_CONFIG_HOME=$work/empty "$build/quavrel" >/dev/null 2>&1 &
idle=$!
pids+=($idle)
window_of "Quavrel v1.04" >/dev/null
sleep 1
idle_rss=$(rss_mb $idle VmRSS)
ticks0=$(cpu_ticks $idle)
sleep 10
idle_ticks=$(( $(cpu_ticks $idle) - ticks0 ))
kill $idle; wait $idle 2>/dev/null || true

# Play to first sound at the sink: record the sink's monitor, press Alt+P, and place the first
# loud frame on the clock by counting back from the end of the recording.
first_sound() { # first_sound COLD|WARM
  local pid window parec t_key t_stop result frames first
  XDG_CONFIG_HOME=$work/dense "$build/quavrel" >/dev/null 2>&1 &
  pid=$!
  window=$(window_of "Quavrel v1.04")
  xdotool windowfocus --sync "$window"
  if [ "$1" = WARM ]; then # play once so that the SoundFont is loaded, then stop
    xdotool key alt+p; sleep 2; xdotool key alt+t; sleep 1
  fi
  parec -d bench.monitor --raw --format=s16le --channels=2 --rate=44100 --latency-msec=5 >"$work/capture.raw" &
  parec=$!
  sleep 1
  t_key=$(now_ms)
  xdotool key alt+p
  sleep 2
  t_stop=$(now_ms)
  kill $parec; wait $parec 2>/dev/null || true
  kill "$pid"; wait "$pid" 2>/dev/null || true
  result=$("$build/bench/bench_scan_raw" <"$work/capture.raw")
  frames=${result% *}
  first=${result#* }
  [ "$first" -ge 0 ] || { echo "-1"; return; }
  echo $(( t_stop - (frames - first) * 1000 / 44100 - t_key ))
}
cold=$(for _ in $(seq "$runs"); do first_sound COLD; done | median)
warm=$(for _ in $(seq "$runs"); do first_sound WARM; done | median)

# While a dense song plays: CPU of the player and of the sound server over 10 s, and the
# player's peak memory; Quavrel against the fluidsynth command-line player on the same song.
server=$(pgrep -n -x pulseaudio)
playing() { # playing quavrel|fluidsynth: prints "player% server% peakMB"
  local pid window p0 s0 p1 s1 peak
  if [ "$1" = quavrel ]; then
    XDG_CONFIG_HOME=$work/dense "$build/quavrel" >/dev/null 2>&1 &
    pid=$!
    window=$(window_of "Quavrel v1.04")
    xdotool windowfocus --sync "$window" key alt+p
  else
    fluidsynth -q -n -i -a pulseaudio "$soundfont" "$song" >/dev/null 2>&1 &
    pid=$!
  fi
  sleep 3
  p0=$(cpu_ticks "$pid"); s0=$(cpu_ticks "$server")
  sleep 10
  p1=$(cpu_ticks "$pid"); s1=$(cpu_ticks "$server")
  peak=$(rss_mb "$pid" VmHWM)
  kill "$pid"; wait "$pid" 2>/dev/null || true
  echo "$(( p1 - p0 )) $(( s1 - s0 )) $peak"
}
hz=$(getconf CLK_TCK)
declare -A cpu_player cpu_server peak
for who in quavrel fluidsynth; do
  for _ in $(seq 3); do playing $who; done >"$work/$who.txt"
  cpu_player[$who]=$(awk '{ print $1 }' "$work/$who.txt" | median)
  cpu_server[$who]=$(awk '{ print $2 }' "$work/$who.txt" | median)
  peak[$who]=$(awk '{ print $3 }' "$work/$who.txt" | median)
done
pct() { awk -v t="$1" -v hz="$hz" 'BEGIN { printf "%.1f %%", 100 * t / hz / 10 }'; }

printf '\n| measure | Quavrel | reference | target |\n|---|---|---|---|\n'
printf '| start to window shown, no album | %s ms | bare Qt window %s ms | 30 ms |\n' "$plain" "$bare"
printf '| start to window shown, album of 1,000 songs | %s ms | | |\n' "$remembered"
printf '| memory of the idle window (RSS) | %s MB | | 30 MB |\n' "$idle_rss"
printf '| CPU ticks over 10 s while stopped | %s | | 0 |\n' "$idle_ticks"
printf '| Play to first sound at the sink, SoundFont not loaded | %s ms | | 250 ms |\n' "$cold"
printf '| Play to first sound at the sink, SoundFont loaded | %s ms | | 40 ms |\n' "$warm"
printf '| CPU while playing %s: player + sound server | %s + %s | fluidsynth %s + %s | 3 %% together |\n' \
  "$(basename "$song")" "$(pct "${cpu_player[quavrel]}")" "$(pct "${cpu_server[quavrel]}")" \
  "$(pct "${cpu_player[fluidsynth]}")" "$(pct "${cpu_server[fluidsynth]}")"
printf '| peak memory while playing | %s MB | fluidsynth %s MB | no more than fluidsynth |\n' "${peak[quavrel]}" "${peak[fluidsynth]}"

printf '\nSong list (32767 songs):\n'
QT_QPA_PLATFORM=offscreen "$build/bench/bench_songlist" 2>/dev/null | sed 's/^/  /'
printf '\nAlbums (32767 songs):\n'
QT_QPA_PLATFORM=offscreen "$build/bench/bench_album" 2>/dev/null | sed 's/^/  /'
