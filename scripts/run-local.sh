#!/usr/bin/env bash
# Runs the server on this machine against the local match-making peer: build/run/ becomes the
# working folder (the defaults of scripts/run/ are copied in where missing, so local edits stay;
# ORV_RUN_DIR names another folder; a folder another run uses is refused), pouchdb-server runs in
# memory with a "stats" database holding the scripted player's statistics, the peer listens on a
# free loopback port in demo mode (it accepts the server with that database as "StatsURL") and
# prints every message it receives, the server runs in the foreground with the switches of
# switches.txt, and once the link is up the published properties are queried over UDP and printed
# on one line, and a scripted game client logs in, is admitted, greets the players in the chat and
# plays along: the game launches by itself and goes through every phase, and the result endpoint
# (tests/peers/http_endpoint.py, the server's "+game_reporting" URL) prints the report it receives
# at the debriefing. Ctrl-C asks the server to exit (a second Ctrl-C makes it exit at once); when it
# has ended, every process started here is stopped by its process id.
# Usage: scripts/run-local.sh PATH_TO_DedicatedServer
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
server="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
run_dir="${ORV_RUN_DIR:-$root/build/run}"
mkdir -p "$run_dir"
# One run per working folder: two would overwrite each other's log, replays and peers' logs. The lock
# is held by this script and the processes it starts, so it is let go when the last of them ends.
exec {run_lock}>"$run_dir/.run-lock"
if ! flock -n "$run_lock"; then
  echo "run: $run_dir is in use by another run; give this one a working folder of its own:" \
    "ORV_RUN_DIR=build/run2 make run" >&2
  exit 1
fi
for file in "$root"/scripts/run/*; do
  name="$(basename "$file")"
  if [ ! -e "$run_dir/$name" ]; then
    cp "$file" "$run_dir/$name"
    echo "run: $name copied from scripts/run/"
  fi
done
cd "$run_dir"

# The five ports, free now and all different (picked together: scripts/free_ports.py).
ports="$(python3 "$root/scripts/free_ports.py" tcp tcp+udp tcp tcp tcp)"
{ read -r mms_port; read -r client_port; read -r db_port; read -r result_port; read -r console_port; } <<<"$ports"
# The remote console's password for this run.
console_password="local-console"

peer_pid=""
tail_pid=""
result_pid=""
result_tail_pid=""
server_pid=""
db_pid=""
query_pid=""
client_pid=""
replay_pid=""
console_pid=""
stop_all() {
  for pid in $server_pid $console_pid $replay_pid $client_pid $query_pid $peer_pid $tail_pid $result_pid $result_tail_pid $db_pid; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
}
trap stop_all EXIT

# Waits up to 30 s for a process's start line in its log; stops the script when the process ended or
# the line did not come.
wait_for_start() {
  local log="$1" line="$2" pid="$3" what="$4"
  for _ in $(seq 300); do
    grep -qF "$line" "$log" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "run: $what did not start (see $log)" >&2
  exit 1
}

# The statistics database: pouchdb-server in memory (scripts/setup.sh installs it), quiet but for
# its start line, with the "stats" database the server reads player statistics from, holding the
# general and the per-game document (game id 24) of the scripted player 5.
pouchdb="$root/tests/peers/node_modules/.bin/pouchdb-server"
[ -x "$pouchdb" ] || { echo "run: $pouchdb is missing: run scripts/setup.sh" >&2; exit 1; }
db_log="$run_dir/pouchdb.log"
: >"$db_log"
echo '{}' >"$run_dir/pouchdb-config.json"
setsid node "$pouchdb" --in-memory --host 127.0.0.1 --port "$db_port" --config "$run_dir/pouchdb-config.json" \
  </dev/null >"$db_log" 2>&1 &
db_pid=$!
wait_for_start "$db_log" "pouchdb-server has started" "$db_pid" pouchdb-server
stats_url="http://127.0.0.1:$db_port/stats/"
python3 - "$stats_url" <<'PY'
import json, sys, urllib.request
def put(url, document=None):
    data = None if document is None else json.dumps(document).encode()
    request = urllib.request.Request(url, data=data, method="PUT", headers={"Content-Type": "application/json"})
    urllib.request.urlopen(request, timeout=10).read()
put(sys.argv[1])
put(sys.argv[1] + "u0_5", {"@name": "Scripted Player"})
put(sys.argv[1] + "u24_5", {"@level": "3", "ELO": 1500})
PY

# The peer runs in a session of its own, so the terminal's Ctrl-C reaches only the server. Its
# events (JSON lines) go to mms_peer.log, shown here as they come.
peer_log="$run_dir/mms_peer.log"
: >"$peer_log"
setsid python3 -u "$root/tests/peers/mms_peer.py" --demo --stats-url "$stats_url" --port "$mms_port" \
  </dev/null >"$peer_log" 2>&1 &
peer_pid=$!
setsid tail -n +1 -f "$peer_log" </dev/null &
tail_pid=$!
# The server connects at once: the peer must be listening first.
wait_for_start "$peer_log" '"event": "listening"' "$peer_pid" "the match-making peer"

# The result endpoint answers every report with 200; its events (JSON lines) go to
# result_endpoint.log, and each report is shown here as it comes: who sent it and the document.
result_log="$run_dir/result_endpoint.log"
: >"$result_log"
setsid python3 -u "$root/tests/peers/http_endpoint.py" --port "$result_port" </dev/null >"$result_log" 2>&1 &
result_pid=$!
wait_for_start "$result_log" '"event": "listening"' "$result_pid" "the result endpoint"
result_url="http://127.0.0.1:$result_port/recorddedicatedgame"
setsid python3 -u - "$result_log" <<'PY' &
import json, sys, time
with open(sys.argv[1], encoding="utf-8") as log:
    while True:
        line = log.readline()
        if not line:
            time.sleep(0.2)
            continue
        try:
            event = json.loads(line)
        except ValueError:
            continue
        if event.get("event") != "request":
            continue
        parts = {part["name"]: part["content"] for part in event.get("parts") or []}
        print("run: result endpoint: %s %s, login %r, password %r, game:"
              % (event["method"], event["path"], parts.get("login"), parts.get("password")))
        for text in parts.get("game", "").splitlines():
            print("run: result endpoint:   " + text)
PY
result_tail_pid=$!

echo "run: match-making peer on 127.0.0.1:$mms_port, statistics database $stats_url,"
echo "run: result endpoint $result_url,"
echo "run: server on port $client_port, working folder $run_dir"
# Once the link is up, one property query (the log is the new run's: the old one goes first).
rm -f serverlog.txt
setsid bash -c '
  for _ in $(seq 600); do
    grep -q "ServerPropertyReporting listening for client !" serverlog.txt 2>/dev/null && break
    sleep 0.1
  done
  echo "run: property query: $(python3 "$1" --port "$2" --line)"
' run-query "$root/tests/peers/udp_query.py" "$client_port" </dev/null &
query_pid=$!
# Then one scripted game client: it connects, the peer validates it, the server fetches its
# statistics and admits it, and it greets the players; then it plays along: one player is enough to
# launch a game, and it asks for each next phase, answers every tick with one order and one tick
# report, and asks for the debriefing after 50 ticks (10 s) of battle and then for match making,
# where the next game launches. Its admission, the events about the players, the chat, the player
# numbers and the phases are printed as they come (not the pings, the timers or the relayed orders
# and tick reports, several a second).
setsid bash -c '
  for _ in $(seq 600); do
    grep -q "ServerPropertyReporting listening for client !" serverlog.txt 2>/dev/null && break
    sleep 0.1
  done
  python3 -u "$1" --port "$2" --player-id 5 --demo \
    --print connected,admission,client_event,relay,player_numbers,next_state,last_packet,closed </dev/null |
    grep --line-buffered -v "\"letter\": \"[dg]\"" | sed -u "s/^/run: game client: /"
' run-client "$root/tests/peers/game_client.py" "$client_port" </dev/null &
client_pid=$!
# Each replay the server seals is read back with the test peers' reader: its digest checked and its
# ticks counted, one line per saved game.
setsid python3 -u - "$root/tests/peers" "$run_dir/Replays" <<'PY' &
import os, sys, time
sys.path.insert(0, sys.argv[1])
import replay_reader
folder = sys.argv[2]
seen = {}
if os.path.isdir(folder):
    for name in os.listdir(folder):
        seen[name] = os.stat(os.path.join(folder, name)).st_mtime_ns
while True:
    time.sleep(0.5)
    if not os.path.isdir(folder):
        continue
    for name in sorted(os.listdir(folder)):
        # Sealed replays only: the recording in progress is not a whole replay yet.
        if not name.endswith(".orvgamerpl2"):
            continue
        path = os.path.join(folder, name)
        stamp = os.stat(path).st_mtime_ns
        if seen.get(name) == stamp:
            continue
        time.sleep(0.2)  # the server writes the file in one go; let it finish
        seen[name] = os.stat(path).st_mtime_ns
        with open(path, "rb") as handle:
            replay = replay_reader.read_replay(handle.read())
        state = "digest ok" if replay.digest_ok and not replay.problems else "BROKEN: %s" % (replay.problems or "digest")
        print("run: replay Replays/%s: %s, %d ticks" % (name, state, len(replay.ticks)))
PY
replay_pid=$!
# The remote console: the command an operator runs with the npm client is printed, and once the
# scripted client is admitted the script runs "display_all_clients" through it once.
console_command="node $root/tests/peers/rcon_command.js --port $console_port --password $console_password"
echo "run: console: $console_command display_all_clients"
setsid bash -c '
  for _ in $(seq 600); do
    grep -q "Client added in session" serverlog.txt 2>/dev/null && break
    sleep 0.1
  done
  $1 display_all_clients 2>&1 | sed -u "s/^/run: console: /"
' run-console "$console_command" </dev/null &
console_pid=$!
# Extra switches, one a line, from switches.txt (";" starts a comment line).
switches=()
while read -r line; do
  case "$line" in ""|";"*) continue ;; esac
  read -r -a words <<<"$line"
  switches+=("${words[@]}")
done <switches.txt
"$server" +port "$client_port" +ip_mms 127.0.0.1 +port_mms "$mms_port" +game_reporting "$result_url" \
  +rcon_port "$console_port" +rcon_password "$console_password" \
  "${switches[@]}" &
server_pid=$!

# The server gets the terminal's Ctrl-C itself; here it only interrupts the wait, which goes on
# until the server has ended. A SIGTERM sent to this script is passed on.
trap ':' INT
trap 'kill -TERM "$server_pid" 2>/dev/null || true' TERM
status=0
while :; do
  if wait "$server_pid"; then status=0; else status=$?; fi
  kill -0 "$server_pid" 2>/dev/null || break
done
server_pid=""
echo "run: server ended with status $status"
exit "$status"
