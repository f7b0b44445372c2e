#!/usr/bin/env bash
# A plant on one machine, for trying the plant's side: mosquitto, a
# PostgreSQL cluster in a scratch folder, zentrel-ingest, and N stations
# (each a simulated meter in cell mode and a zentrel-logger publishing its
# readings and cell records). Everything on 127.0.0.1, on free ports.
#   tools/fleet.sh [--stations N] [--build DIR] [--keep]
# Ctrl-C (or SIGTERM) stops it all; --keep leaves the scratch folder.
# Nothing is open to other local users: the database takes a generated
# password (SCRAM), the broker a user and password per station and its ACL
# (each station publishes only under its own topic level), folders are 0700
# (0710 for the postgres group when run as root) and files 0640.
set -euo pipefail
umask 027
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
command -v mosquitto_passwd >/dev/null || { echo "fleet.sh: mosquitto_passwd is missing (apt-get install mosquitto)" >&2; exit 2; }
for p in "$bin/zentrel-ingest" "$bin/zentrel-logger" "$bin/zentrel-metersim" "$bin/zentrel-report"; do
    [ -x "$p" ] || { echo "fleet.sh: $p is missing: build first (tools/dev.sh run)" >&2; exit 2; }
done
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -n "$pgbin" ] || { echo "fleet.sh: PostgreSQL is missing (apt-get install postgresql)" >&2; exit 2; }
mosquitto=$(command -v mosquitto || echo /usr/sbin/mosquitto)
[ -x "$mosquitto" ] || { echo "fleet.sh: mosquitto is missing (apt-get install mosquitto)" >&2; exit 2; }

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
secret() { python3 -c 'import secrets; print(secrets.token_urlsafe(24))'; }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zentrel-fleet-XXXXXX")
chmod 700 "$scratch"
pids=()
stopped=0
stop() {
    trap - EXIT INT TERM
    [ "$stopped" = 1 ] && return
    stopped=1
    echo "stopping the fleet..."
    # Stations first, then the ingest, then the broker: each says goodbye.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[$i]}" 2>/dev/null || true
        wait "${pids[$i]}" 2>/dev/null || true
    done
    as_pg "$pgbin/pg_ctl" -D "$scratch/pg/data" -m fast stop >/dev/null 2>&1 || true
    if [ "$keep" = 1 ]; then echo "kept: $scratch"; else rm -rf "$scratch"; fi
}
trap stop EXIT
trap 'stop; exit 0' INT TERM

# PostgreSQL refuses to run as root: then it runs as the postgres user,
# which alone may pass the scratch folder (by its group).
as_pg() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
mkdir -p "$scratch/pg"
if [ "$(id -u)" = 0 ]; then
    chgrp postgres "$scratch" && chmod 710 "$scratch"
    chown postgres "$scratch/pg"
fi
chmod 700 "$scratch/pg"
pgport=$(free_port)
# The superuser's password, generated: initdb reads it from a file only
# postgres can read (gone again at once), clients from a .pgpass of 0600.
pgpassword=$(secret)
(umask 077; printf '%s\n' "$pgpassword" > "$scratch/pg/initdb-password")
[ "$(id -u)" = 0 ] && chown postgres "$scratch/pg/initdb-password"
as_pg "$pgbin/initdb" -D "$scratch/pg/data" -U postgres --auth=scram-sha-256 --pwfile="$scratch/pg/initdb-password" >/dev/null
rm -f "$scratch/pg/initdb-password"
(umask 077; printf '127.0.0.1:%s:*:postgres:%s\n' "$pgport" "$pgpassword" > "$scratch/pgpass")
export PGPASSFILE="$scratch/pgpass"
as_pg "$pgbin/pg_ctl" -D "$scratch/pg/data" -l "$scratch/pg/server.log" -w \
    -o "-p $pgport -k $scratch/pg -c listen_addresses=127.0.0.1" start >/dev/null
psql -X -q -h 127.0.0.1 -p "$pgport" -U postgres -c "CREATE DATABASE plant"
db="postgresql://postgres@127.0.0.1:$pgport/plant"

mqport=$(free_port)
mkdir -p "$scratch/broker" "$scratch/secrets"
chmod 700 "$scratch/secrets"
# A user and password per station and one for the ingest; each station
# may publish only under its own level (the ingest takes a message only
# on its station's topic) and hears only its own replay requests; the
# ingest reads them all and asks any station for lines it lacks.
touch "$scratch/broker/passwords"
mqtt_user() { # NAME: a generated password, in the broker's file and in secrets/NAME (0600)
    local password
    password=$(secret)
    mosquitto_passwd -b "$scratch/broker/passwords" "$1" "$password" 2>/dev/null
    (umask 077; printf '%s\n' "$password" > "$scratch/secrets/$1")
}
mqtt_user zentrel-ingest
for i in $(seq 1 "$stations"); do mqtt_user "$(printf "station-%02d" "$i")"; done
printf 'user zentrel-ingest\ntopic read zentrel/#\ntopic write zentrel/+/replay\n\npattern write zentrel/%%u/#\npattern read zentrel/%%u/replay\n' \
    > "$scratch/broker/acl"
{
    [ "$(id -u)" = 0 ] && echo "user root"
    echo "listener $mqport 127.0.0.1"
    echo "allow_anonymous false"
    echo "password_file $scratch/broker/passwords"
    echo "acl_file $scratch/broker/acl"
    echo "persistence true"
    echo "persistence_location $scratch/broker/"
    echo "max_queued_messages 0"
    echo "autosave_interval 10"   # the queue on disk every 10 s: what a crash loses is seconds, not half an hour
} > "$scratch/broker/mosquitto.conf"
# Each in a session of its own: Ctrl-C reaches this script only, which
# then stops them in order.
setsid "$mosquitto" -c "$scratch/broker/mosquitto.conf" > "$scratch/broker/log" 2>&1 &
pids+=($!)

# Loopback only, so no TLS: the passwords go in the clear on purpose.
setsid "$bin/zentrel-ingest" --mqtt "127.0.0.1:$mqport" --db "$db" --user zentrel-ingest \
    --password-file "$scratch/secrets/zentrel-ingest" --allow-plain-password --repair --lang en 2> "$scratch/ingest.log" &
pids+=($!)

# The line board reads as a role that can only read: made once the ingest
# has made the tables; its password generated, in the same .pgpass.
boardpassword=$(secret)
for _ in $(seq 300); do grep -q "database connected" "$scratch/ingest.log" 2>/dev/null && break; sleep 0.1; done
psql -X -q -h 127.0.0.1 -p "$pgport" -U postgres -d plant -v pw="$boardpassword" >/dev/null <<'SQL'
CREATE ROLE zentrel_board LOGIN PASSWORD :'pw';
GRANT CONNECT ON DATABASE plant TO zentrel_board;
GRANT USAGE ON SCHEMA public TO zentrel_board;
GRANT SELECT ON ALL TABLES IN SCHEMA public TO zentrel_board;
ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT SELECT ON TABLES TO zentrel_board;
ALTER ROLE zentrel_board SET default_transaction_read_only = on;
SQL
(umask 077; printf '127.0.0.1:%s:*:zentrel_board:%s\n' "$pgport" "$boardpassword" >> "$scratch/pgpass")
boardport=$(free_port)
board_url=""
if [ -x "$bin/zentrel-board" ]; then
    # A token, so the machine's other users cannot read the plant either.
    (umask 077; secret > "$scratch/secrets/board-token")
    setsid "$bin/zentrel-board" --db "postgresql://zentrel_board@127.0.0.1:$pgport/plant" --listen "127.0.0.1:$boardport" \
        --token-file "$scratch/secrets/board-token" 2> "$scratch/board.log" &
    pids+=($!)
    board_url="http://127.0.0.1:$boardport/?token=$(cat "$scratch/secrets/board-token")   ($scratch/board.log)"
else
    board_url="not built ($bin/zentrel-board is missing: tools/dev.sh installs cpp-httplib and the page's npm packages)"
fi

for i in $(seq 1 "$stations"); do
    name=$(printf "station-%02d" "$i")
    dir="$scratch/$name"
    mkdir -p "$dir/journal"
    chmod 700 "$dir" "$dir/journal"
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
ClientId=zentrel-$name
User=$name
PasswordFile=$scratch/secrets/$name
AllowPlainPassword=true
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
  broker      127.0.0.1:$mqport   (watch: mosquitto_sub -h 127.0.0.1 -p $mqport -u zentrel-ingest
                                  -P "\$(cat $scratch/secrets/zentrel-ingest)" -t 'zentrel/#' -v)
  database    $db   (PGPASSFILE=$scratch/pgpass)
              psql $db -c 'SELECT * FROM station_hours ORDER BY hour DESC LIMIT 10'
              psql $db -c 'SELECT * FROM lots'
  ingest      $scratch/ingest.log
  board       $board_url
  stations    $scratch/station-NN/ (journal/, logger.log, meter.log)
  report      PGPASSFILE=$scratch/pgpass $bin/zentrel-report --db $db --pdf plant.pdf
Ctrl-C stops everything.
EOF
while :; do
    # In the background, so a signal is handled at once, not after the sleep.
    sleep 30 & wait $! || true
    echo "$(date +%T) readings $(psql -X -At -h 127.0.0.1 -p "$pgport" -U postgres -d plant -c 'SELECT count(*) FROM readings') cells $(psql -X -At -h 127.0.0.1 -p "$pgport" -U postgres -d plant -c 'SELECT count(*) FROM cells')"
done
