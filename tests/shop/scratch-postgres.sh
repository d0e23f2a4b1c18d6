#!/usr/bin/env bash
# A throw-away PostgreSQL server for the shop record's tests, registered
# nowhere: its cluster, its Unix socket and its logs all live in DIR, it
# listens on no network address, and logins need a password.
#
#   scratch-postgres.sh start DIR    make the cluster and start it; prints the
#                                    facts a test needs as KEY=VALUE lines
#   scratch-postgres.sh stop DIR     stop the server (the cluster stays)
#   scratch-postgres.sh resume DIR   start it again
#   scratch-postgres.sh psql DIR SQL run SQL as the owner, rows as a|b lines
#
# As root the server runs as the postgres user, as PostgreSQL requires.
# Exits 77 when PostgreSQL, psqlODBC or unixODBC are not installed.
set -euo pipefail
command=${1:?usage: scratch-postgres.sh start|stop|resume|psql DIR [SQL]}
dir=${2:?usage: scratch-postgres.sh start|stop|resume|psql DIR [SQL]}
port=5432
owner=velmora_owner
owner_password=owner-secret-1

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1 || true)
driver=$(ls /usr/lib/*/odbc/psqlodbcw.so 2>/dev/null | head -1 || true)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ] || [ -z "$driver" ] || ! command -v psql >/dev/null ||
    ! ls /usr/lib/*/libodbc.so.2 >/dev/null 2>&1; then
    echo "scratch-postgres.sh: PostgreSQL, psqlODBC or unixODBC is not installed" \
        "(Debian: postgresql odbc-postgresql unixodbc)" >&2
    exit 77
fi

as_server() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

server() {
    as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-k $dir -p $port -c listen_addresses=''" "$@" >>"$dir/pg_ctl.log" 2>&1
}

owner_sql() {
    PGPASSWORD=$owner_password psql -X -q -A -t -v ON_ERROR_STOP=1 -h "$dir" -p "$port" \
        -U "$owner" -d "${2:-shop}" -c "$1"
}

case $command in
    start)
        mkdir -p "$dir"
        chmod 755 "$dir"
        if [ "$(id -u)" -eq 0 ]; then
            chown postgres "$dir"
        fi
        printf '%s\n' "$owner_password" >"$dir/pwfile"
        chmod 644 "$dir/pwfile"
        as_server "$bin/initdb" -D "$dir/data" -U "$owner" --pwfile="$dir/pwfile" \
            --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
        rm -f "$dir/pwfile"
        server start
        owner_sql "CREATE DATABASE shop" postgres
        echo "SOCKET_DIR=$dir"
        echo "PORT=$port"
        echo "DRIVER=$driver"
        echo "OWNER=$owner"
        echo "OWNER_PASSWORD=$owner_password"
        ;;
    stop) server -m fast stop ;;
    resume) server start ;;
    psql) owner_sql "${3:?SQL}" ;;
    *)
        echo "scratch-postgres.sh: unknown command $command" >&2
        exit 2
        ;;
esac
