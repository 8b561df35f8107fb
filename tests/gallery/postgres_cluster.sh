#!/usr/bin/env bash
# A throwaway PostgreSQL 15 cluster for the gallery service's tests: made in a
# temporary folder, reachable only through a Unix socket in that folder (no TCP
# port at all), run as an unprivileged user when started by root, and stopped
# by the pid of its postmaster.
#   postgres_cluster.sh start STATE_FILE    writes the cluster's URL and folder into STATE_FILE
#   postgres_cluster.sh stop STATE_FILE     stops the cluster and removes its folder
set -euo pipefail
action="$1" state="$2"
bin="$(ls -d /usr/lib/postgresql/15/bin 2>/dev/null || true)"

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all -- "$@"
  else
    "$@"
  fi
}

case "$action" in
start)
  rm -f "$state"
  if [ -z "$bin" ]; then
    echo "postgres_cluster: PostgreSQL 15 is not installed (scripts/setup.sh installs it)" >&2
    exit 1
  fi
  dir="$(mktemp -d /tmp/kfg-pg.XXXXXX)"
  chmod 700 "$dir"
  if [ "$(id -u)" -eq 0 ]; then chown nobody:nogroup "$dir"; fi
  as_owner "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; exit 1; }
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-k $dir -c listen_addresses='' -F -c max_connections=200 -c shared_buffers=32MB" start >/dev/null ||
    { cat "$dir/server.log" >&2; exit 1; }
  {
    echo "postgresql://postgres@/postgres?host=$dir"
    echo "$dir"
  } >"$state"
  echo "postgres_cluster: running in $dir (pid $(head -n 1 "$dir/data/postmaster.pid"))"
  ;;
stop)
  [ -f "$state" ] || exit 0
  dir="$(sed -n 2p "$state")"
  rm -f "$state"
  case "$dir" in /tmp/kfg-pg.*) ;; *) echo "postgres_cluster: not a cluster folder: $dir" >&2; exit 1 ;; esac
  if [ -f "$dir/data/postmaster.pid" ]; then
    pid="$(head -n 1 "$dir/data/postmaster.pid")"
    kill -INT "$pid" 2>/dev/null || true  # fast shutdown
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
  echo "postgres_cluster: stopped"
  ;;
*)
  echo "usage: postgres_cluster.sh start|stop STATE_FILE" >&2
  exit 2
  ;;
esac
