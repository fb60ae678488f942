#!/usr/bin/env bash
# A throwaway PostgreSQL server for the fleet database's tests:
#
#   test_db.sh start STATE_DIR   initdb in a new temporary folder, a free port
#                                on 127.0.0.1, the server started; writes
#                                STATE_DIR/connection.txt (an ODBC connection
#                                string for the tests' administrator role),
#                                STATE_DIR/port and STATE_DIR/data
#   test_db.sh stop STATE_DIR    stops the server and removes its folder
#   test_db.sh halt STATE_DIR    stops the server, keeps its folder
#   test_db.sh resume STATE_DIR  starts the kept server again, same port
#                                (halt and resume leave STATE_DIR/ACTION.done)
#   test_db.sh sql STATE_DIR SQL  runs SQL as the administrator, prints the
#                                rows unaligned
#
# The server refuses to run as root: as root it runs as the unprivileged
# system user qvtestdb (made by scripts/setup, or here when missing). Nothing
# outside the temporary folder is touched: no system cluster, no service, no
# socket in /run.
set -euo pipefail

kUser=qvtestdb
kDatabase=qv_fleet
kAdmin=qv_admin
# Not a secret: the server listens on 127.0.0.1 only and lives for one run.
kAdminPassword=qv-admin-pw

action=${1:-}
state=${2:-}
if [ -z "$action" ] || [ -z "$state" ]; then
  echo "usage: $0 start|stop|halt|resume STATE_DIR | sql STATE_DIR SQL" >&2
  exit 2
fi

pg_bin() {
  local found
  found=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  [ -n "$found" ] || { echo "test_db: PostgreSQL is not installed (scripts/setup)" >&2; exit 1; }
  echo "$found"
}

as_server_user() {
  if [ "$(id -u)" -eq 0 ]; then
    if ! id "$kUser" >/dev/null 2>&1; then
      useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$kUser"
    fi
    setpriv --reuid="$kUser" --regid="$kUser" --init-groups -- "$@"
  else
    "$@"
  fi
}

free_port() {
  python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()'
}

start_server() { # data port
  local bin data=$1 port=$2
  bin=$(pg_bin)
  as_server_user "$bin/pg_ctl" -D "$data" -l "$data/server.log" -w -t 30 \
    -o "-p $port -k $data -c listen_addresses=127.0.0.1" start >/dev/null
}

stop_server() { # data
  local bin data=$1
  bin=$(pg_bin)
  [ -f "$data/postmaster.pid" ] || return 0
  as_server_user "$bin/pg_ctl" -D "$data" -m fast -w -t 30 stop >/dev/null || true
}

case "$action" in
start)
  mkdir -p "$state"
  [ -f "$state/data" ] && stop_server "$(cat "$state/data")" && rm -rf "$(cat "$state/data")"
  bin=$(pg_bin)
  top=$(mktemp -d /tmp/qv-test-db.XXXXXX)
  data="$top/cluster"
  echo "$top" >"$state/top"
  echo "$data" >"$state/data"
  printf '%s\n' "$kAdminPassword" >"$top/pw"
  if [ "$(id -u)" -eq 0 ]; then
    as_server_user true # makes the user when missing
    chown "$kUser:" "$top" "$top/pw"
  fi
  chmod 700 "$top"
  as_server_user "$bin/initdb" -D "$data" -U "$kAdmin" --pwfile="$top/pw" -E UTF8 \
    --locale=C.UTF-8 --auth-local=trust --auth-host=scram-sha-256 >"$top/initdb.log" 2>&1 ||
    { cat "$top/initdb.log" >&2; exit 1; }
  port=$(free_port)
  echo "$port" >"$state/port"
  start_server "$data" "$port" || { cat "$data/server.log" >&2; exit 1; }
  as_server_user "$bin/psql" -q -h "$data" -p "$port" -U "$kAdmin" -d postgres \
    -c "CREATE DATABASE $kDatabase" >/dev/null
  printf 'Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=%s;Database=%s;Uid=%s;Pwd=%s;' \
    "$port" "$kDatabase" "$kAdmin" "$kAdminPassword" >"$state/connection.txt"
  echo "test_db: PostgreSQL on 127.0.0.1:$port in $data"
  ;;
halt)
  rm -f "$state/halt.done"
  stop_server "$(cat "$state/data")"
  # A test under Wine starts this without a process handle to wait on: it
  # waits for this file instead.
  touch "$state/halt.done"
  ;;
resume)
  rm -f "$state/resume.done"
  start_server "$(cat "$state/data")" "$(cat "$state/port")"
  touch "$state/resume.done"
  ;;
sql)
  as_server_user "$(pg_bin)/psql" -q -At -v ON_ERROR_STOP=1 -h "$(cat "$state/data")" \
    -p "$(cat "$state/port")" -U "$kAdmin" -d "$kDatabase" -c "${3:?SQL}"
  ;;
stop)
  if [ -f "$state/data" ]; then
    stop_server "$(cat "$state/data")"
    rm -rf "$(cat "$state/top")"
  fi
  rm -f "$state/data" "$state/top" "$state/port" "$state/connection.txt"
  echo "test_db: stopped"
  ;;
*)
  echo "test_db: unknown action $action" >&2
  exit 2
  ;;
esac
