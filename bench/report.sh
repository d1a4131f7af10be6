#!/usr/bin/env bash
# Prints Quavrel's performance report beside TiMidity++ (timidity -Os) and Audacious with its
# FluidSynth plug-in, all on the same song and SoundFont (FluidR3_GM) and measured in one run,
# the players taking turns. Each program runs for real: under Xvfb, playing to a private PulseAudio
# server whose null sink stands in for the sound card. Start-up and first sound are timed from
# outside by bench_launch: to the window's MapNotify, and to the first loud sample at the sink's
# monitor. Figures are medians of RUNS runs (5) for start-up and of PLAY_RUNS (3) while playing.
#   bench/report.sh [BUILD_DIR]     (a Release or RelWithDebInfo build with bench_launch)
# The comparison players are no dependencies of Quavrel or of its tests: this script installs
# what it needs itself when missing (apt-get, through sudo unless run as root): xvfb pulseaudio
# pulseaudio-utils libasound2-plugins (TiMidity's ALSA output reaches PulseAudio through it)
# timidity audacious audacious-plugins fluid-soundfont-gm.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${RUNS:-5}
play_runs=${PLAY_RUNS:-3}
soundfont=/usr/share/sounds/sf2/FluidR3_GM.sf2
song=$(realpath "${SONG:-../shared/midi/real/midly__Clementi.mid}")
launch=$build/bench/bench_launch
[ -x "$launch" ] || { echo "no $launch: build it (needs libx11-dev libxtst-dev libxdamage-dev libpulse-dev)" >&2; exit 1; }

packages=(xvfb pulseaudio pulseaudio-utils libasound2-plugins timidity audacious audacious-plugins
  fluid-soundfont-gm)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi

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
# A display of its own: Xvfb picks a free number and writes it to the pipe.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
read -r -t 10 display <"$work/display"
export DISPLAY=:$display
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target="file:$work/pulse.log" \
  --load=module-native-protocol-unix --load=module-cli-protocol-unix \
  --load="module-null-sink sink_name=bench" >/dev/null 2>&1
pactl set-default-sink bench
server=$(pgrep -n -x pulseaudio)
sleep 1

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
switches() { cat /proc/"$1"/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'; }
rss_mb() { awk -v key="$2:" '$1 == key { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
hz=$(getconf CLK_TCK)

# Settings folders: Quavrel with no album and with an album of the one song; Audacious fresh for
# each run, its FluidSynth plug-in on the same SoundFont.
mkdir -p "$work/empty" "$work/dense/Quavrel"
printf '%s\r\n' "$song" >"$work/dense.alp"
printf '[Startup]\nAlbum=%s\n' "$work/dense.alp" >"$work/dense/Quavrel/Quavrel.conf"
audacious_config() {
  rm -rf "$work/audacious"
  mkdir -p "$work/audacious/audacious"
  printf '[amidiplug]\nfsyn_soundfont_file=%s\n' "$soundfont" >"$work/audacious/audacious/config"
  echo "$work/audacious"
}

# launch NAME: starts one program under bench_launch; prints "mapped key sound pid".
launch() {
  case $1 in
  bare) "$launch" --title "Bare Qt window" -- "$build/bench/bench_bare_window" ;;
  quavrel) XDG_CONFIG_HOME=$work/dense "$launch" --title "Quavrel v1.04" --key alt+p \
    --source bench.monitor -- "$build/quavrel" ;;
  quavrel-up) XDG_CONFIG_HOME=$work/dense "$launch" --title "Quavrel v1.04" --key alt+p \
    --delay 2000 --source bench.monitor -- "$build/quavrel" ;;
  quavrel-idle) XDG_CONFIG_HOME=$work/empty "$launch" --title "Quavrel v1.04" -- "$build/quavrel" ;;
  timidity) "$launch" --source bench.monitor -- timidity -Os "$song" ;;
  audacious) XDG_CONFIG_HOME=$(audacious_config) "$launch" --title "Audacious" \
    --source bench.monitor -- audacious -p "$song" ;;
  audacious-idle) XDG_CONFIG_HOME=$(audacious_config) "$launch" --title "Audacious" -- audacious ;;
  esac
}
finish() { kill "$1" 2>/dev/null || true; sleep 0.5; kill -9 "$1" 2>/dev/null || true; sleep 0.3; }

# Start-up and first sound, the programs taking turns.
for _ in $(seq "$runs"); do
  for who in bare quavrel quavrel-up timidity audacious; do
    out=$(launch $who)
    echo "$out" >>"$work/launch-$who.txt"
    finish "${out##* }"
  done
done
field() { awk -v f="$2" '$f >= 0 { print $f }' "$work/launch-$1.txt" | median; }
minus() { awk -v a="$2" -v b="$3" '$a >= 0 && $b >= 0 { print $a - $b }' "$work/launch-$1.txt" | median; }
failed() { awk -v f="$2" '$f < 0' "$work/launch-$1.txt" | wc -l; }

# Idle: memory of the shown window and, for Quavrel, CPU ticks over 10 s while stopped.
for who in quavrel-idle audacious-idle; do
  for _ in $(seq "$play_runs"); do
    out=$(launch $who)
    pid=${out##* }
    sleep 3
    t0=$(cpu_ticks "$pid")
    rss=$(rss_mb "$pid" VmRSS)
    [ $who = quavrel-idle ] && sleep 10
    echo "$rss $(( $(cpu_ticks "$pid") - t0 ))" >>"$work/idle-$who.txt"
    finish "$pid"
  done
done

# While the song plays: CPU of the player and of the sound server over 10 s, their voluntary
# context switches (wake-ups), the player's peak memory, and then the server's underruns over 5 s
# (its debug log).
playing() {
  local out pid p0 s0 w0 v0 p1 s1 w1 v1 peak before underruns
  out=$(launch "$1")
  pid=${out##* }
  sleep 3
  p0=$(cpu_ticks "$pid"); s0=$(cpu_ticks "$server"); w0=$(switches "$pid"); v0=$(switches "$server")
  sleep 10
  p1=$(cpu_ticks "$pid"); s1=$(cpu_ticks "$server"); w1=$(switches "$pid"); v1=$(switches "$server")
  peak=$(rss_mb "$pid" VmHWM)
  before=$(grep -c "Underrun on" "$work/pulse.log" || true)
  pacmd set-log-level 4 >/dev/null
  sleep 5
  pacmd set-log-level 1 >/dev/null
  underruns=$(( $(grep -c "Underrun on" "$work/pulse.log" || true) - before ))
  finish "$pid"
  echo "$(( p1 - p0 )) $(( s1 - s0 )) $(( (w1 - w0) / 10 )) $(( (v1 - v0) / 10 )) $peak $underruns"
}
for _ in $(seq "$play_runs"); do
  for who in quavrel timidity audacious; do playing $who >>"$work/play-$who.txt"; done
done
col() { awk -v f="$2" '{ print $f }' "$work/$1.txt" | median; }
pct() { awk -v t="$1" -v hz="$hz" 'BEGIN { printf "%.1f %%", 100 * t / hz / 10 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || a == "-" || b == "-" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }
row() { # row LABEL UNIT QUAVREL TIMIDITY AUDACIOUS TARGET
  printf '| %s | %s%s | %s%s | %s%s | %s | %s | %s |\n' "$1" "$3" "$2" "$4" "${4:+$2}" "$5" "${5:+$2}" \
    "$(ratio "$3" "$4")" "$(ratio "$3" "$5")" "$6"
}

for who in quavrel timidity audacious; do
  for f in 1 2 3 4 5 6; do eval "p_${who}_$f=$(col play-$who $f)"; done
done
printf '\nSong %s, SoundFont %s; medians of %s runs (start-up) and %s runs (playing).\n' \
  "$(basename "$song")" "$(basename "$soundfont")" "$runs" "$play_runs"
printf '\n| figure | Quavrel | TiMidity++ | Audacious | Quavrel/TiMidity++ | Quavrel/Audacious | target |\n'
printf '|---|---|---|---|---|---|---|\n'
row "start to window mapped" " ms" "$(field quavrel 1)" "" "$(field audacious 1)" \
  "bare Qt window $(field bare 1) ms"
row "start and Play to first sound at the sink" " ms" "$(field quavrel 3)" "$(field timidity 3)" \
  "$(field audacious 3)" "no more than TiMidity++"
row "Play to first sound, window up for 2 s" " ms" "$(minus quavrel-up 3 2)" "" "" "under 30 ms"
printf '| CPU while playing: player + sound server | %s + %s | %s + %s | %s + %s | %s | %s | no more than TiMidity++ |\n' \
  "$(pct "$p_quavrel_1")" "$(pct "$p_quavrel_2")" "$(pct "$p_timidity_1")" "$(pct "$p_timidity_2")" \
  "$(pct "$p_audacious_1")" "$(pct "$p_audacious_2")" \
  "$(ratio $((p_quavrel_1 + p_quavrel_2)) $((p_timidity_1 + p_timidity_2)))" \
  "$(ratio $((p_quavrel_1 + p_quavrel_2)) $((p_audacious_1 + p_audacious_2)))"
printf '| voluntary context switches per second: player / server | %s / %s | %s / %s | %s / %s | %s | %s | player under 150 |\n' \
  "$p_quavrel_3" "$p_quavrel_4" "$p_timidity_3" "$p_timidity_4" "$p_audacious_3" "$p_audacious_4" \
  "$(ratio "$p_quavrel_3" "$p_timidity_3")" "$(ratio "$p_quavrel_3" "$p_audacious_3")"
row "memory while playing (peak RSS)" " MB" "$p_quavrel_5" "$p_timidity_5" "$p_audacious_5" "under 55 MB"
row "memory of the idle window (RSS)" " MB" "$(col idle-quavrel-idle 1)" "" "$(col idle-audacious-idle 1)" \
  "under 30 MB"
printf '| CPU ticks over 10 s while stopped | %s | | | | | 0 |\n' "$(col idle-quavrel-idle 2)"
printf '| underruns at the sink over 5 s of playing | %s | %s | %s | | | 0 |\n' \
  "$p_quavrel_6" "$p_timidity_6" "$p_audacious_6"
for who in quavrel quavrel-up timidity audacious; do
  n=$(failed $who 3)
  [ "$n" -eq 0 ] || printf '(%s: %s of %s runs heard no sound and are left out)\n' "$who" "$n" "$runs"
done
printf '\nLoad average at the end: %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"

printf '\nSong list (32767 songs):\n'
QT_QPA_PLATFORM=offscreen "$build/bench/bench_songlist" 2>/dev/null | sed 's/^/  /'
printf '\nAlbums (32767 songs):\n'
QT_QPA_PLATFORM=offscreen "$build/bench/bench_album" 2>/dev/null | sed 's/^/  /'
