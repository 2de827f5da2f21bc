#!/usr/bin/env bash
# program_cpu.sh PROGRAM [FILES] [SECONDS] [SETTLE]
# Runs the program on the offscreen platform with FILES small files waiting in
# its inbox and the service off. After it has settled (SETTLE seconds), prints
# the share of one core it used over SECONDS (from /proc/PID/stat), then drops
# one more file in and prints how long the program took to look at it (its
# first open of the file, seen with strace).
set -euo pipefail
program=$(realpath "$1")
files=${2:-10000}
seconds=${3:-30}
settle=${4:-5}
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/config/Valdrome Kestu Tovrel" "$work/inbox" "$work/outbox" "$work/errors"
cat >"$work/config/Valdrome Kestu Tovrel/Valdrome Kestu Tovrel.ini" <<INI
[Startup]
State=false
inboxpath=$work/inbox
outboxpath=$work/outbox
errorspath=$work/errors
INI
(cd "$work/inbox" && seq -f "song %06g.mp3" 1 "$files" | xargs -d '\n' touch)
XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state HOME=$work QT_QPA_PLATFORM=offscreen "$program" &
pid=$!
sleep "$settle"
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
before=$(ticks)
sleep "$seconds"
after=$(ticks)
hz=$(getconf CLK_TCK)
awk -v t=$((after - before)) -v hz="$hz" -v s="$seconds" -v f="$files" \
    'BEGIN { printf "%d files, service off: %.2f %% of a core over %d s\n", f, 100 * t / hz / s, s }'
if command -v strace >/dev/null; then
    strace -f -tt -e trace=openat -p "$pid" -o "$work/trace" 2>/dev/null &
    tracer=$!
    sleep 1
    dropped=$(date +%s.%N)
    touch "$work/inbox/dropped.mp3"
    sleep 2.5
    kill "$tracer"
    wait "$tracer" 2>/dev/null || true
    seen=$(grep -m1 'dropped.mp3' "$work/trace" | awk '{print $2}')
    awk -v d="$dropped" -v s="$seen" 'BEGIN { split(s, t, ":"); x = t[1]*3600 + t[2]*60 + t[3];
        split(strftime("%H:%M:%S", int(d), 1), u, ":"); y = u[1]*3600 + u[2]*60 + u[3] + (d - int(d));
        printf "dropped file first looked at after %.0f ms\n", (x - y) * 1000 }'
fi
