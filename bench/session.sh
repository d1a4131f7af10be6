# Sourced by the benchmark scripts that run the real program: a desktop session of its own in a
# temporary folder ($work), ended on exit. An X server (Xvfb), a session bus that starts no
# services, and a PulseAudio server whose null sink "bench" stands in for the sound card (its
# monitor is bench.monitor). The sink takes floats, so that its monitor gives what a player
# rendered unchanged: a stream's end of sound is its last sample that is not 0. Quavrel plays
# through its own PulseAudio stream unless QUAVREL_AUDIO_DRIVER names another output. Needs the packages xvfb dbus pulseaudio pulseaudio-utils.
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -s "$work/runtime/pulse/pid" ] && kill "$(cat "$work/runtime/pulse/pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

unset QT_QPA_PLATFORM
export QUAVREL_SOUNDFONT=/usr/share/sounds/sf2/FluidR3_GM.sf2
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
read -r -t 10 display <"$work/display"
export DISPLAY=:$display
printf '%s\n' '<busconfig><listen>unix:tmpdir=/tmp</listen><policy context="default">' \
  '<allow send_destination="*"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>' \
  >"$work/bus.conf"
dbus-daemon --nofork --print-address=3 --config-file="$work/bus.conf" 3>"$work/bus" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/bus" ] && break; sleep 0.1; done
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target="file:$work/pulse.log" \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=bench format=float32le rate=44100 channels=2" >/dev/null 2>&1
pactl set-default-sink bench
sleep 1

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
peak_mb() { awk '$1 == "VmHWM:" { printf "%.0f", $2 / 1024 }' "/proc/$1/status"; }
finish() { kill "$1" 2>/dev/null || true; sleep 0.5; kill -9 "$1" 2>/dev/null || true; sleep 0.3; }
# Starts Quavrel with no album and these arguments; prints its pid once its media player answers.
start_quavrel() {
  mkdir -p "$work/config"
  XDG_CONFIG_HOME=$work/config "$build/quavrel" "$@" >/dev/null 2>&1 &
  local pid=$!
  for _ in $(seq 200); do
    dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.quavrel /org/mpris/MediaPlayer2 \
      org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player string:CanPlay \
      >/dev/null 2>&1 && break
    sleep 0.05
  done
  echo "$pid"
}
