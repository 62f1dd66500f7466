#!/usr/bin/env bash
# A private PostgreSQL server for the tests: loopback only, trust authentication, all its files
# in one folder that nothing else uses.
#   pg-test-server.sh start <dir> [port]   port omitted or 0: a free port is chosen
#   pg-test-server.sh stop <dir>           stops the server and removes <dir>
# start creates the database doorlock_test (superuser postgres) and writes its libpq
# connection string to <dir>/conninfo, e.g. "host=127.0.0.1 port=41234 dbname=doorlock_test
# user=postgres". PostgreSQL refuses to run as root, so as root the server runs as the
# postgres user. PG_BINDIR overrides the folder of the PostgreSQL programs.
set -euo pipefail

usage() {
    echo "usage: $0 start <dir> [port] | stop <dir>" >&2
    exit 2
}

[[ $# -ge 2 ]] || usage
command=$1
dir=$2
port=${3:-0}
marker="$dir/.doorlock-pg-test"

bindir=${PG_BINDIR:-}
if [[ -z "$bindir" ]]; then
    bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
fi
if [[ -z "$bindir" || ! -x "$bindir/pg_ctl" ]]; then
    echo "PostgreSQL server programs not found (install the postgresql package)" >&2
    exit 1
fi

as_owner=()
if [[ $(id -u) -eq 0 ]]; then
    as_owner=(runuser -u postgres --)
fi
run() { "${as_owner[@]}" "$@"; }

stop_server() {
    if [[ -f "$dir/data/postmaster.pid" ]]; then
        run "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null || true
    fi
}

remove_dir() {
    # Only ever remove a folder this script made.
    if [[ -e "$dir" ]]; then
        if [[ ! -f "$marker" ]]; then
            echo "$dir was not made by $0; not removing it" >&2
            exit 1
        fi
        rm -rf -- "$dir"
    fi
}

port_in_use() {
    [[ -n $(ss -Htln "sport = :$1" 2>/dev/null) ]]
}

start() {
    # A folder left by an aborted run is cleared first.
    stop_server
    remove_dir
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    marker="$dir/.doorlock-pg-test"
    touch "$marker"
    if [[ ${#as_owner[@]} -gt 0 ]]; then
        chown postgres:postgres "$dir"
        if ! run test -w "$dir"; then
            echo "the postgres user cannot reach $dir" >&2
            exit 1
        fi
    fi

    run "$bindir/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --no-locale --no-sync \
        >"$dir/initdb.log"

    # The socket path must fit in sun_path (108 bytes); without it the server is TCP only.
    local socket_dir="$dir"
    if [[ $((${#dir} + 20)) -ge 108 ]]; then
        socket_dir=""
    fi
    run tee -a "$dir/data/postgresql.conf" >/dev/null <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$socket_dir'
max_connections = 40
shared_buffers = 16MB
EOF
    run tee "$dir/data/pg_hba.conf" >/dev/null <<EOF
local all all trust
host all all 127.0.0.1/32 trust
EOF

    local attempt chosen
    for attempt in $(seq 1 20); do
        chosen=$port
        if [[ "$port" == 0 ]]; then
            chosen=$(shuf -i 20000-60000 -n 1)
            port_in_use "$chosen" && continue
        fi
        if run "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
            -o "-c port=$chosen" start >/dev/null; then
            "${as_owner[@]}" "$bindir/createdb" -h 127.0.0.1 -p "$chosen" -U postgres doorlock_test
            echo "host=127.0.0.1 port=$chosen dbname=doorlock_test user=postgres" >"$dir/conninfo"
            echo "PostgreSQL test server on 127.0.0.1:$chosen ($dir)"
            return 0
        fi
        # A fixed port that is taken will not come free by trying again.
        [[ "$port" == 0 ]] || break
    done
    echo "PostgreSQL test server did not start; see $dir/server.log" >&2
    cat "$dir/server.log" >&2 || true
    exit 1
}

case "$command" in
start)
    start
    ;;
stop)
    stop_server
    remove_dir
    ;;
*)
    usage
    ;;
esac
