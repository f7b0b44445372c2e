#!/usr/bin/env bash
# A plant on one machine, for trying the plant's side: mosquitto, a
# PostgreSQL cluster in a scratch folder, zentrel-ingest, and N stations
# (each a simulated meter in cell mode and a zentrel-logger publishing its
# readings and cell records). Everything on 127.0.0.1, on free ports.
#   tools/fleet.sh [--stations N] [--build DIR] [--keep]
# Ctrl-C (or SIGTERM) stops it all; --keep leaves the scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."
stations=4 build=build keep=0
while [ $# -gt 0 ]; do
    case "$1" in
        --stations) stations="$2"; shift 2 ;;
        --build) build="$2"; shift 2 ;;
        --keep) keep=1; shift ;;
        -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "fleet.sh: unknown option $1 (--help)" >&2; exit 2 ;;
    esac
done
bin="$(cd "$build/tools" 2>/dev/null && pwd || echo "$build/tools")"
for p in "$bin/zentrel-ingest" "$bin/zentrel-logger" "$bin/zentrel-metersim" "$bin/zentrel-report"; do
    [ -x "$p" ] || { echo "fleet.sh: $p is missing: build first (tools/dev.sh run)" >&2; exit 2; }
done
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -n "$pgbin" ] || { echo "fleet.sh: PostgreSQL is missing (apt-get install postgresql)" >&2; exit 2; }
mosquitto=$(command -v mosquitto || echo /usr/sbin/mosquitto)
[ -x "$mosquitto" ] || { echo "fleet.sh: mosquitto is missing (apt-get install mosquitto)" >&2; exit 2; }

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zentrel-fleet-XXXXXX")
chmod 755 "$scratch"
pids=()
stop() {
    trap - EXIT INT TERM
    echo "stopping the fleet..."
    # Stations first, then the ingest, then the broker: each says goodbye.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[$i]}" 2>/dev/null || true
        wait "${pids[$i]}" 2>/dev/null || true
    done
    as_pg "$pgbin/pg_ctl" -D "$scratch/pg" -m fast stop >/dev/null 2>&1 || true
    if [ "$keep" = 1 ]; then echo "kept: $scratch"; else rm -rf "$scratch"; fi
}
trap stop EXIT INT TERM

# PostgreSQL refuses to run as root: then it runs as the postgres user.
as_pg() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
mkdir -p "$scratch/pg"
[ "$(id -u)" = 0 ] && chown postgres "$scratch/pg"
pgport=$(free_port)
as_pg "$pgbin/initdb" -D "$scratch/pg" -U postgres -A trust >/dev/null
as_pg "$pgbin/pg_ctl" -D "$scratch/pg" -l "$scratch/pg/server.log" -w \
    -o "-p $pgport -k $scratch/pg -c listen_addresses=127.0.0.1" start >/dev/null
psql -X -q -h 127.0.0.1 -p "$pgport" -U postgres -c "CREATE DATABASE plant"
db="postgresql://postgres@127.0.0.1:$pgport/plant"

mqport=$(free_port)
mkdir -p "$scratch/broker"
{
    [ "$(id -u)" = 0 ] && echo "user root"
    echo "listener $mqport 127.0.0.1"
    echo "allow_anonymous true"
    echo "persistence true"
    echo "persistence_location $scratch/broker/"
    echo "max_queued_messages 0"
} > "$scratch/broker/mosquitto.conf"
# Each in a session of its own: Ctrl-C reaches this script only, which
# then stops them in order.
setsid "$mosquitto" -c "$scratch/broker/mosquitto.conf" > "$scratch/broker/log" 2>&1 &
pids+=($!)

setsid "$bin/zentrel-ingest" --mqtt "127.0.0.1:$mqport" --db "$db" --lang en 2> "$scratch/ingest.log" &
pids+=($!)

for i in $(seq 1 "$stations"); do
    name=$(printf "station-%02d" "$i")
    dir="$scratch/$name"
    mkdir -p "$dir/journal"
    # A cell every 5 s, one in nine out of range.
    setsid "$bin/zentrel-metersim" --link "$dir/meter" --interval 500 --cells 100000 --contact-ms 4000 --lift-ms 1000 \
        --out-every 9 -r "$(awk -v i="$i" 'BEGIN { printf "%.3f", 11.8 + i * 0.02 }')" > "$dir/meter.log" 2>&1 &
    pids+=($!)
    cat > "$dir/logger.ini" <<EOF
[Meters]
m1=$dir/meter,station=$name,limits=fleet
[Station]
SettleMs=1000
Operator=fleet
[MQTT]
Prefix=zentrel/$name
ClientId=zentrel-$name
EOF
    cat > "$dir/limitsets.json" <<'EOF'
{"sets": [{"name": "fleet", "r": {"low": 11, "high": 13}, "v": {"low": 3.5, "high": 4.2},
           "grades": [{"name": "A", "rLow": 11, "rHigh": 12}, {"name": "B", "rLow": 12, "rHigh": 13}]}]}
EOF
    setsid "$bin/zentrel-logger" --config "$dir/logger.ini" --journal-dir "$dir/journal" --limit-sets "$dir/limitsets.json" \
        --cells --mqtt "127.0.0.1:$mqport" --lang en 2> "$dir/logger.log" &
    pids+=($!)
done

cat <<EOF
A plant of $stations stations is running (scratch folder $scratch).
  broker      127.0.0.1:$mqport   (watch: mosquitto_sub -h 127.0.0.1 -p $mqport -t 'zentrel/#' -v)
  database    $db
              psql $db -c 'SELECT * FROM station_hours ORDER BY hour DESC LIMIT 10'
              psql $db -c 'SELECT * FROM lots'
  ingest      $scratch/ingest.log
  stations    $scratch/station-NN/ (journal/, logger.log, meter.log)
  report      $bin/zentrel-report --db $db --pdf plant.pdf
Ctrl-C stops everything.
EOF
while :; do
    sleep 30
    echo "$(date +%T) readings $(psql -X -At -h 127.0.0.1 -p "$pgport" -U postgres -d plant -c 'SELECT count(*) FROM readings') cells $(psql -X -At -h 127.0.0.1 -p "$pgport" -U postgres -d plant -c 'SELECT count(*) FROM cells')"
done
