# Sourced by the end-to-end tests: a private X display with a window manager, a private sound
# server whose output is recorded, and helpers to drive the real program as a user would.
# Everything started here is stopped when the test's shell exits.
set -euo pipefail

E2E_DIR=$(mktemp -d /tmp/tamborel-e2e.XXXXXX)
E2E_PIDS=()
KEEP_ARTIFACTS=${KEEP_ARTIFACTS:-}

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "$KEEP_ARTIFACTS" ]; then echo "artifacts kept in $E2E_DIR"; else rm -rf "$E2E_DIR"; fi
}
trap e2e_cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -s "$E2E_DIR/program.log" ]; then
    echo "-- the program's last output:" >&2
    tail -n 20 "$E2E_DIR/program.log" >&2
  fi
  exit 1
}
note() { echo "-- $*"; }

# wait_for SECONDS COMMAND...: retries the command until it succeeds or time runs out. The
# arguments are expanded once, by the caller: to look again on every try, pass a function or
# eval '...'.
wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

start_display() {
  # Xvfb takes the first free display itself and names it once it accepts connections: two
  # sessions started at once on one machine cannot both pick the same one. An X server resets
  # when its last client leaves, and a client connecting meanwhile is refused: a desktop's
  # server never does while its session lives.
  Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$E2E_DIR/display" \
    >"$E2E_DIR/xvfb.log" 2>&1 &
  E2E_PIDS+=($!)
  wait_for 10 test -s "$E2E_DIR/display" || fail "Xvfb did not start: $(cat "$E2E_DIR/xvfb.log")"
  export DISPLAY=":$(cat "$E2E_DIR/display")"
  start_session_bus
  wait_for 10 xdotool getdisplaygeometry || fail "Xvfb did not start"
  if command -v openbox >/dev/null; then
    openbox --sm-disable >"$E2E_DIR/openbox.log" 2>&1 &
    E2E_PIDS+=($!)
    wait_for 10 window_manager_running \
      || fail "openbox did not start: $(cat "$E2E_DIR/openbox.log")"
  fi
}

# A desktop has a session bus, and PipeWire uses it. Without one, libdbus (used by SDL and Qt)
# forks to start one, and a child forked from a sanitized, many-threaded program can hang for
# ever.
start_session_bus() {
  local bus
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || fail "no session bus"
  export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus")
  E2E_PIDS+=($(sed -n 2p <<<"$bus"))
}

# A window manager that has taken over the display says so on the root window.
window_manager_running() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }

# The rate of the sink start_sound makes, and of its recordings: 48 kHz unless SINK_RATE says
# otherwise.
SINK_RATE=${SINK_RATE:-48000}
# The sink whose monitor record_start records, and how many channels it keeps.
RECORDED_SINK=cap RECORDED_CHANNELS=1

# start_sound: a sound server with one null sink, "cap", at SINK_RATE, whose monitor is what we
# record: PulseAudio, or PipeWire with WirePlumber and its PulseAudio server when E2E_SERVER is
# "pipewire". The program finds it as it would on a desktop, through XDG_RUNTIME_DIR.
start_sound() {
  export XDG_RUNTIME_DIR="$E2E_DIR/run"
  mkdir -p "$XDG_RUNTIME_DIR" "$SOUND_STATE"
  chmod 700 "$XDG_RUNTIME_DIR"
  SOUND_PIDS=()
  case "${E2E_SERVER:-pulseaudio}" in
    pipewire) start_pipewire ;;
    pulseaudio) start_pulseaudio ;;
    *) fail "no such sound server: $E2E_SERVER" ;;
  esac
  pactl set-default-sink cap
  start_pause_probes || true
}

# The probes wake every millisecond at the highest priority. On the virtual machines here they
# woke under 0.2 ms late 99 times in 100 on an idle machine: a wake-up 1 ms late is the
# processor taken away, not the probe's own timer. And it is under half the smallest buffer the
# program plays on (128 frames, 2.7 ms), so any stop that could empty one is noted.
PAUSE_MS=1

# monotonic_now: the monotonic clock in seconds, as the program's log and the probes tell time.
monotonic_now() { "${DROPCHECK:-false}" now || true; }

# start_pause_probes: a minimal real-time thread on each processor, from now to the test's end,
# noting in PAUSES each stretch in which it woke PAUSE_MS or more late: the moments the machine
# itself stopped, the only excuse a drop-out has. Returns 1 when they may not run real-time.
start_pause_probes() {
  [ -z "${PAUSES:-}" ] || return 0
  [ -n "${DROPCHECK:-}" ] || return 1
  PAUSES="$E2E_DIR/pauses"
  "$DROPCHECK" pauses 3600 "$PAUSE_MS" >"$PAUSES" &
  E2E_PIDS+=($!)
  wait_for 5 test -s "$PAUSES" || fail "the pause probes did not start"
  note "$(sed -n 1p "$PAUSES")"
  grep -q '^probe real-time' "$PAUSES"
}

# What the servers remember of a session (the default sink chosen, where a stream was moved)
# stays with the test: a sink chosen by one test would draw the streams of the next.
SOUND_STATE="$E2E_DIR/sound-state"
sound_server=(env XDG_STATE_HOME="$SOUND_STATE" XDG_CONFIG_HOME="$SOUND_STATE")

# Each process of the server is stopped with the test, even when it fails while starting.
sound_server_started() {
  SOUND_PIDS+=("$1")
  E2E_PIDS+=("$1")
}

start_pulseaudio() {
  "${sound_server[@]}" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --system=false --load="module-native-protocol-unix socket=$E2E_DIR/pulse auth-anonymous=1" \
    --load="module-null-sink sink_name=cap rate=$SINK_RATE" >"$E2E_DIR/pulse.log" 2>&1 &
  sound_server_started $!
  export PULSE_SERVER="unix:$E2E_DIR/pulse"
  wait_for 10 pactl info || fail "PulseAudio did not start: $(cat "$E2E_DIR/pulse.log")"
}

# Uses the session bus that start_display or start_session_bus started.
start_pipewire() {
  "${sound_server[@]}" pipewire >"$E2E_DIR/pipewire.log" 2>&1 &
  sound_server_started $!
  wait_for 10 pw-cli info 0 || fail "PipeWire did not start: $(cat "$E2E_DIR/pipewire.log")"
  "${sound_server[@]}" wireplumber >"$E2E_DIR/wireplumber.log" 2>&1 &
  sound_server_started $!
  "${sound_server[@]}" pipewire-pulse >"$E2E_DIR/pipewire-pulse.log" 2>&1 &
  sound_server_started $!
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  wait_for 10 pactl info || fail "pipewire-pulse did not start: $(cat "$E2E_DIR/pipewire-pulse.log")"
  # A device that runs at another rate sets the graph's: so does this one.
  if [ "$SINK_RATE" != 48000 ]; then
    pw-metadata -n settings 0 clock.rate "$SINK_RATE" >/dev/null || fail "cannot set the graph's rate"
  fi
  add_sink cap
}

# add_sink NAME: one more null sink, at SINK_RATE, on the server start_sound started.
add_sink() {
  case "${E2E_SERVER:-pulseaudio}" in
    pipewire)
      pw-cli create-node adapter "{ factory.name=support.null-audio-sink node.name=$1
        media.class=Audio/Sink audio.position=[FL FR] audio.rate=$SINK_RATE object.linger=true }" \
        >/dev/null || fail "no null sink $1 on PipeWire"
      ;;
    *) pactl load-module module-null-sink sink_name="$1" rate="$SINK_RATE" >/dev/null ||
      fail "no null sink $1 on PulseAudio" ;;
  esac
  wait_for 10 eval "pactl list short sinks | grep -q '^[0-9]*[[:space:]]$1[[:space:]]'" ||
    fail "the null sink $1 did not appear"
}

# start_program BINARY WORKDIR [TITLE]: starts it there and waits for its visible window.
start_program() {
  local binary=$1 workdir=$2 title=${3:-Tamborel}
  (cd "$workdir" && exec "$binary") >"$E2E_DIR/program.log" 2>&1 &
  PROGRAM_PID=$!
  E2E_PIDS+=($PROGRAM_PID)
  wait_for 20 xdotool search --onlyvisible --name "^$title\$" || {
    cat "$E2E_DIR/program.log" >&2
    fail "no window named $title appeared"
  }
  WINDOW=$(xdotool search --onlyvisible --name "^$title\$" | head -n 1)
  focus_window "$WINDOW"
}

# start_playing BINARY KITS: display, sound server, and the program started in a folder whose
# kits/ is the given one; sets WINDOW to its main window.
start_playing() {
  start_display
  start_sound
  mkdir -p "$E2E_DIR/play"
  ln -s "$2" "$E2E_DIR/play/kits"
  start_program "$1" "$E2E_DIR/play"
}

focus_window() {
  xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1"
  wait_for 5 has_focus "$1" || fail "window $1 did not take the keyboard focus"
}

has_focus() { [ "$(xdotool getwindowfocus)" = "$1" ]; }

# window_geometry WINDOW: sets WX WY WW WH, the window's inside on the screen, without the frame.
window_geometry() {
  local info
  info=$(xwininfo -id "$1")
  WX=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  WY=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  WW=$(sed -n 's/.*Width: *//p' <<<"$info")
  WH=$(sed -n 's/.*Height: *//p' <<<"$info")
}

screenshot() { import -window root "$1"; }

# record_sink SINK FILE LATENCY_MS CHANNELS: what SINK plays, into FILE, through the server's
# PulseAudio interface, until killed. Run in the background, it is the recorder's own process,
# so that $! names the recorder.
record_sink() {
  exec parec -d "$1.monitor" --format=s16le --rate="$SINK_RATE" --channels="$4" \
    --latency-msec="$3" >"$2"
}

# record_start FILE [LATENCY_MS] [CHANNELS]: records what the sound server plays into FILE
# until record_stop, mixed to mono unless CHANNELS says 2; sets RECORDING. Positions in a
# recording are told by its length, the recorder's own clock: the null sink renders ahead of
# the wall clock, in bursts. The recorder's latency (20 ms unless given) is how finely its
# length follows the sound; asking for little sets the pace of the whole PipeWire graph (20 ms:
# 512 frames), whatever the program asked for.
# A second recorder, a process of its own, records the same into FILE.twin: a recorder the
# machine holds up can lose frames that the sink played, and what either recording holds, the
# sink played. The second one starts a little later: its positions are the first's less up to
# a fragment.
record_start() {
  RECORDING=$1 RECORDED_CHANNELS=${3:-1}
  record_sink "$RECORDED_SINK" "$1" "${2:-20}" "$RECORDED_CHANNELS" &
  RECORDER_PID=$!
  case "${E2E_SERVER:-pulseaudio}" in
    pipewire)
      pw-record --target "$RECORDED_SINK" -P '{ stream.capture.sink = true }' --format s16 \
        --rate "$SINK_RATE" --channels "$RECORDED_CHANNELS" --latency "${2:-20}ms" - >"$1.twin" &
      ;;
    *) record_sink "$RECORDED_SINK" "$1.twin" "${2:-20}" "$RECORDED_CHANNELS" & ;;
  esac
  TWIN_PID=$!
  E2E_PIDS+=($RECORDER_PID $TWIN_PID)
  # The first recording of a fresh server takes a moment to start flowing: press nothing
  # before it does.
  wait_for 5 test -s "$1" || fail "the recorder delivers nothing"
  wait_for 5 test -s "$1.twin" || fail "the second recorder delivers nothing"
  local first
  first=$(stat -c %s "$1")
  wait_for 5 eval '[ "$(stat -c %s "$RECORDING")" -gt "$first" ]' || fail "the recorder stalled"
}

record_stop() {
  kill "$RECORDER_PID" "$TWIN_PID" 2>/dev/null || true
  wait "$RECORDER_PID" "$TWIN_PID" 2>/dev/null || true
  RECORDED_UNTIL=$(monotonic_now)
}

# recorded_seconds: how much the running recording holds.
recorded_seconds() {
  awk -v bytes="$(stat -c %s "$RECORDING")" -v rate="$SINK_RATE" -v channels="$RECORDED_CHANNELS" \
    'BEGIN { printf "%.4f", bytes / (2 * channels * rate) }'
}

# press KEY: presses the key while a recording runs, and notes where the press falls in it:
# PRESSED_FROM just before xdotool ran (nothing the key starts can sound earlier) and
# PRESSED_TO once it has sent the key; and PRESSED_AT, the monotonic clock just before.
press() {
  PRESSED_AT=$(monotonic_now)
  PRESSED_FROM=$(recorded_seconds)
  xdotool key "$1"
  PRESSED_TO=$(recorded_seconds)
}

# record_sound SECONDS [FROM]: waits until the recording holds SECONDS of a sound that began at
# or after FROM (by default the last press). Returns 1 when none came in time.
record_sound() {
  local from=${2:-$PRESSED_FROM}
  wait_for $((${1%.*} + 10)) sound_held "$1" "$from"
}
sound_held() {
  "$AUDIOCHECK" sounding "$RECORDING" "$SINK_RATE" "$2" |
    awk -v want="$1" '$1 == "start" && $4 >= want { ok = 1 } END { exit !ok }'
}

# record_until SECONDS: waits until the running recording holds that much.
record_until() {
  local target=$1
  wait_for $((${1%.*} + 10)) eval 'at_least "$(recorded_seconds)" "$target"' \
    || fail "the recorder stalled"
}

# record_past_press SECONDS: waits until the recording runs SECONDS past the last press.
record_past_press() { record_until "$(awk "BEGIN { print $PRESSED_TO + $1 }")"; }

# wait_until_quiet: records until the output has been silent for a moment, so that what was
# ringing does not sound under the next recording.
wait_until_quiet() {
  record_start "$E2E_DIR/quiet.raw"
  wait_for 20 "$AUDIOCHECK" quiet "$RECORDING" "$SINK_RATE" 0.2 || fail "the output never went quiet"
  record_stop
}

program_alive() { kill -0 "$PROGRAM_PID" 2>/dev/null; }

# read_sink_input: the program's stream as the server's PulseAudio interface shows it
# (PipeWire's too, which names the node but not the process): sets SINK_INPUT to its index,
# SINK_INPUT_SINK to the name of the sink it plays on, SINK_INPUT_RATE to its rate in Hz, and
# SINK_INPUT_BUFFER and SINK_INPUT_LATENCY to its buffer's and its sink's latency in
# microseconds. Returns 1 when there is no such stream.
read_sink_input() {
  local fields
  fields=$(pactl list sink-inputs | awk -v pid="$PROGRAM_PID" '
    /^Sink Input #/ { id = substr($3, 2); sink = rate = buffer = latency = "" }
    /^[[:space:]]*Sink:/ { sink = $2 }
    /^[[:space:]]*Sample [[:alpha:]]+:/ { rate = $5; sub(/Hz$/, "", rate) }
    /^[[:space:]]*Buffer Latency:/ { buffer = $3 }
    /^[[:space:]]*Sink Latency:/ { latency = $3 }
    ($1 == "application.process.id" && $3 == "\"" pid "\"") ||
      ($1 == "node.name" && $3 == "\"tamborel\"") { print id, sink, rate, buffer, latency; exit }')
  read -r SINK_INPUT SINK_INPUT_SINK SINK_INPUT_RATE SINK_INPUT_BUFFER SINK_INPUT_LATENCY \
    <<<"$fields"
  [[ $SINK_INPUT_RATE =~ ^[0-9]+$ ]] || return 1
  SINK_INPUT_SINK=$(pactl list short sinks | awk -v id="$SINK_INPUT_SINK" '$1 == id { print $2 }')
}

# read_program_buffer: the buffer the program's stream asks for now, as the sound server shows
# it: on PipeWire the latency its node asks for, on PulseAudio its sink input's buffer latency
# plus the sink's. Sets BUFFER_USEC to it in microseconds, BUFFER_SHOWN to the figures read and
# STREAM_BUFFER_USEC to the stream's own part, which moves only when the program asks for
# another buffer: a sink's latency, read at one moment, differs by a fraction of a millisecond
# from the next. Returns 1 when the server shows no such stream.
read_program_buffer() {
  BUFFER_USEC="" BUFFER_SHOWN="" STREAM_BUFFER_USEC=""
  case "${E2E_SERVER:-pulseaudio}" in
    pipewire)
      local latency
      latency=$(pw-dump | jq -r '.[] | select(.type == "PipeWire:Interface:Node") | .info.props
        | select(."node.name" == "tamborel") | ."node.latency" // empty' | head -n 1)
      [[ $latency =~ ^([0-9]+)/([0-9]+)$ ]] || return 1
      BUFFER_USEC=$((BASH_REMATCH[1] * 1000000 / BASH_REMATCH[2]))
      STREAM_BUFFER_USEC=$BUFFER_USEC
      BUFFER_SHOWN="node.latency $latency"
      ;;
    *)
      read_sink_input && [[ $SINK_INPUT_BUFFER =~ ^[0-9]+$ ]] || return 1
      BUFFER_USEC=$((SINK_INPUT_BUFFER + SINK_INPUT_LATENCY))
      STREAM_BUFFER_USEC=$SINK_INPUT_BUFFER
      BUFFER_SHOWN="buffer latency $SINK_INPUT_BUFFER usec, sink latency $SINK_INPUT_LATENCY usec"
      ;;
  esac
}

# The 24 default keys as xdotool names them, with the sample each plays, in drum order.
DEFAULT_KEYS=(q:Bass w:Bass e:Snare r:Snare t:Tom1 y:Tom1 g:Tom2 h:Tom2 b:FloorTom n:FloorTom
  p:HiHat x:HiHat i:OHiHat c:OHiHat l:Ride m:Ride k:RideCup j:RideCup o:Crash u:Crash
  period:China z:China comma:Splash a:Splash)
SAMPLES=(Bass Snare Tom1 Tom2 FloorTom HiHat OHiHat Ride RideCup Crash China Splash)

# sample_seconds FILE: a sample file's length.
sample_seconds() { "$AUDIOCHECK" length "$1"; }

# kit_samples KITDIR: the kit's sample files that are there, in drum order.
kit_samples() {
  local s
  for s in "${SAMPLES[@]}"; do [ -f "$1/$s.wav" ] && echo "$1/$s.wav"; done
}

# read_best OUTPUT: sets HEARD to the best-matching sample's name ("nothing" when none), SCORE
# to its normalised correlation and MARGIN to its lead over the next best, from what
# audiocheck printed.
read_best() {
  HEARD=$(awk '$1 == "best" { sub(/\.wav$/, "", $2); print $2 == "none" ? "nothing" : $2 }' \
    <<<"$1")
  SCORE=$(awk '$1 == "best" { print $4 }' <<<"$1")
  MARGIN=$(awk '$1 == "best" { print $4 - $6 }' <<<"$1")
}

# identify RECORDING KITDIR: which sample of the kit the recording holds (see read_best).
identify() { read_best "$("$AUDIOCHECK" identify "$1" "$SINK_RATE" $(kit_samples "$2"))"; }

# How soon after its key press a sound must start. Measured in the recording from the press,
# it covers X delivering the key, the program, the stream's buffer at the sound server and the
# recorder's 20 ms fragments: about 50 ms when the machine is idle. The null sink renders in
# bursts ahead of the wall clock, which moves a sound by up to a burst either way; and on a
# machine shared with builds a key can wait for the X server. Generous for all that, and still
# far under what a drummer would call late.
ONSET_LIMIT=0.25

# check_heard RECORDING KITDIR SAMPLE WHAT: the recording of the last press must hold SAMPLE of
# KITDIR (a name such as Bass): it wins with the score and lead identification asks
# (tests/support/dsp/Match.h) against every sample of the kit, it starts after the press and
# within ONSET_LIMIT of it. Drop-outs that cost it that score pass only where the whole sample
# came around them and the second recorder heard it intact, or the program logged an underrun
# that a stop of the machine, seen by the probes, explains. Sets HEARD, SCORE and MARGIN; fails
# with what was heard.
check_heard() {
  local out status=0 latest
  latest=$(awk "BEGIN { print $PRESSED_TO + $ONSET_LIMIT }")
  out=$("$AUDIOCHECK" expect "$1" "$SINK_RATE" "$PRESSED_FROM" "$latest" "$2/$3.wav" \
    $(kit_samples "$2")) || status=$?
  read_best "$out"
  note "$4: $(grep '^expected' <<<"$out")"
  local twin=""
  [ "$status" -ne 3 ] ||
    twin=$("$AUDIOCHECK" expect "$1.twin" "$SINK_RATE" 0 1e9 "$2/$3.wav" $(kit_samples "$2") ||
      true)
  if grep -q '^expected.*; intact$' <<<"$twin"; then
    note "$4: the second recorder heard it intact: the drop-outs were the first recorder's"
    return 0
  fi
  [ "$status" -ne 3 ] || excuse_dropouts "$out" "$4"
  [ "$status" -eq 0 ] || [ "$status" -eq 3 ] ||
    fail "$4: $(sed -n 's/^fail: //p' <<<"$out" | paste -sd ';' -)"
}

# excuse_dropouts OUT WHAT: the sample came out whole around drop-outs, moved by them
# (audiocheck expect said so in OUT): fails unless what the program logged and the probes saw
# excuse them.
excuse_dropouts() {
  local moved verdict status=0
  moved=$(awk '$1 == "moved" { print $2 }' <<<"$1")
  verdict=$("$DROPCHECK" excuse "$moved" "$PRESSED_AT" "$RECORDED_UNTIL" "${PAUSES:-/dev/null}" \
    "$E2E_DIR/program.log") || status=$?
  note "$2: $(paste -sd ';' - <<<"$verdict")"
  local what
  what=$(sed -n 's/^owed to drop-outs: //p' <<<"$1" | paste -sd ';' -)
  [ -n "$what" ] || what=$(grep '^drop-out' <<<"$1")
  [ "$status" -eq 0 ] ||
    fail "$2: $what; no pause excuses them: $(sed -n 's/^fail: //p' <<<"$verdict")"
}

# still_plays OUT LEAST WHAT TWIN_OUT: what audiocheck follow said in OUT scores at least LEAST,
# or falls short of it only by drop-outs around which the sound came whole, which the second
# recorder did not hear (TWIN_OUT, follow on the same window of its recording) or which
# excuse_dropouts excuses from PRESSED_AT on. Returns 1 when it scores too little with no
# drop-out to blame.
still_plays() {
  at_least "$(awk 'NR == 1 { print $4 }' <<<"$1")" "$2" && return 0
  grep -q '^moved ' <<<"$1" || return 1
  note "$3: $(grep '^drop-out' <<<"$1")"
  if at_least "$(awk 'NR == 1 { print $4 + 0 }' <<<"${4:-}")" "$2" &&
    ! grep -q '^drop-out' <<<"${4:-}"; then
    note "$3: the second recorder heard it whole: the drop-outs were the first recorder's"
    return 0
  fi
  excuse_dropouts "$1" "$3"
}

# press_and_record KEY SECONDS FILE: records while the key is pressed and SECONDS of the sound
# it starts (the whole sample, for a test that tells which one it was).
press_and_record() {
  record_start "$3"
  press "$1"
  record_sound "$2" || note "no sound of $2 s came after pressing $1"
  record_stop
}

# expect_drum KEY KITDIR SAMPLE [WHAT]: presses KEY, records as long as SAMPLE lasts from the
# sound's start, and checks that it was SAMPLE of KITDIR (see check_heard).
RECORDINGS=0
expect_drum() {
  RECORDINGS=$((RECORDINGS + 1))
  local recording="$E2E_DIR/$RECORDINGS-$1.raw"
  press_and_record "$1" "$(sample_seconds "$2/$3.wav")" "$recording"
  check_heard "$recording" "$2" "$3" "${4:-key $1}"
}

at_least() { awk "BEGIN { exit !($1 >= $2) }"; }

# seconds_since EPOCHREALTIME: the wall time gone since then.
seconds_since() { awk -v then="$1" -v now="$EPOCHREALTIME" 'BEGIN { printf "%.3f", now - then }'; }

# negative_wait SECONDS: how long a negative check (no second dialog, no extra report) waits
# after the event it follows, which took SECONDS to come: three times that, and a second at
# least. Another event of its kind would come about as soon as the first.
negative_wait() { awk -v took="$1" 'BEGIN { t = 3 * took; print (t > 1 ? t : 1) }'; }

# The program's visible "Error" dialogs.
error_windows() { xdotool search --onlyvisible --name '^Error$' 2>/dev/null || true; }

# answer_error KEY BUTTON: answers the open "Error" dialog with KEY (Return for OK, Escape for
# Cancel) and waits until it has closed.
answer_error() {
  focus_window "$(error_windows | head -n 1)"
  xdotool key "$1"
  wait_for 10 eval 'test -z "$(error_windows)"' || fail "the Error dialog did not close on $2"
}

# The visible top-level windows named exactly TITLE.
windows_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true; }

# find_window_sized TITLE WIDTH HEIGHT: prints the visible window of that name and inside size.
find_window_sized() {
  local w
  for w in $(windows_named "$1"); do
    window_geometry "$w"
    if [ "$WW" -eq "$2" ] && [ "$WH" -eq "$3" ]; then echo "$w"; return 0; fi
  done
  return 1
}

# The visible main window: the one named Tamborel that is 601 wide.
find_main_window() {
  local w
  for w in $(windows_named Tamborel); do
    window_geometry "$w"
    if [ "$WW" -eq 601 ]; then echo "$w"; return 0; fi
  done
  return 1
}

# click_at X Y: a real mouse click at a point of the screen.
click_at() { xdotool mousemove --sync "$1" "$2" click 1; }

# The program's open popups, menus and drop-down lists: its visible override-redirect windows.
popups() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$PROGRAM_PID" 2>/dev/null); do
    xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && echo "$w"
  done
  return 0
}
popup_open() { [ -n "$(popups)" ]; }
no_popup() { [ -z "$(popups)" ]; }

# open_popup X Y: clicks a menu title or a drop-down list there and waits for what it opens.
open_popup() {
  click_at "$1" "$2"
  wait_for 5 popup_open || fail "the click at $1,$2 opened nothing"
}

# choose_in_popup KEY...: types the keys into the open popup and waits for it to close.
choose_in_popup() {
  xdotool key "$@"
  wait_for 5 no_popup || fail "the popup stayed open after $*"
}

# open_options_item N: opens the Options menu from the keyboard (a tap of Alt, then H) and picks
# its N-th item; the caller waits for what the item does.
open_options_item() {
  focus_window "$WINDOW"
  xdotool key alt h
  wait_for 5 popup_open || fail "Alt, then H opened no menu"
  local keys=() i
  for i in $(seq "$1"); do keys+=(Down); done
  choose_in_popup "${keys[@]}" Return
}

# save_and_close X Y: clicks Save and Close of the configuration window whose inside starts at
# X Y, and waits for the new main window; sets WINDOW to it.
save_and_close() {
  click_at $(($1 + 228 + 70)) $(($2 + 268 + 11))
  wait_for 5 find_main_window || fail "Save and Close brought no main window"
  WINDOW=$(find_main_window)
  focus_window "$WINDOW"
}

# open_main_item N: the same for the Main menu, opened with a click on its title.
open_main_item() {
  window_geometry "$WINDOW"
  open_popup $((WX + 20)) $((WY + 9))
  local keys=() i
  for i in $(seq "$1"); do keys+=(Down); done
  choose_in_popup "${keys[@]}" Return
}

# stop_sound: ends the sound server that start_sound started at once, as a crash would, and
# clears its sockets so that start_sound can start a new one in the same place.
stop_sound() {
  [ ${#SOUND_PIDS[@]} -gt 0 ] || fail "no sound server to stop"
  local pid
  for pid in "${SOUND_PIDS[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  # Waited for here, so that the shell does not report each one as killed.
  for pid in "${SOUND_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  # Their numbers may be given to other processes now: the cleanup must not stop those.
  local kept=() e s gone
  for e in "${E2E_PIDS[@]}"; do
    gone=
    for s in "${SOUND_PIDS[@]}"; do [ "$e" != "$s" ] || gone=1; done
    [ -n "$gone" ] || kept+=("$e")
  done
  E2E_PIDS=("${kept[@]}")
  SOUND_PIDS=()
  rm -rf "$E2E_DIR/pulse" "$XDG_RUNTIME_DIR/pulse" "$XDG_RUNTIME_DIR"/pipewire-0*
}

# count_in_log PATTERN: how many lines of the program's output match.
count_in_log() { grep -c -- "$1" "$E2E_DIR/program.log" || true; }

# log_reaches COUNT PATTERN: whether at least COUNT lines of the program's output match (for
# wait_for, which must count again on every try).
log_reaches() { [ "$(count_in_log "$2")" -ge "$1" ]; }
