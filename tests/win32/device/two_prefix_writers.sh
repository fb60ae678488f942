#!/usr/bin/env bash
# Two stations on two computers, as near as one machine gets: the writer of
# job_database_win_test in two Wine prefixes (two wineservers, nothing shared
# but the database), started together; every row must be in the table once.
#
#   two_prefix_writers.sh TEST_EXE TEST_DB_SCRIPT STATE_DIR SECOND_PREFIX
set -euo pipefail
exe=$1 db=$2 state=$3 second=$4
kRowsPerWriter=60 # as the writer sends them: 20 shared, 40 of its own
kSharedRows=20

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
first=${WINEPREFIX:?run under the Wine environment}
if [ ! -f "$second/system.reg" ]; then
  mkdir -p "$second"
  WINEPREFIX="$second" wineboot -i >/dev/null 2>&1 || true
fi

bash "$db" sql "$state" "DROP TABLE IF EXISTS qv_jobs"
go="$state/writers-go"
rm -f "$go" "$go".ready-*
export QV_TEST_DB_STATE="$state" QV_FLEET_WRITER_GO_FILE="Z:$go"
unset GTEST_OUTPUT
QV_FLEET_WRITER=1 WINEPREFIX="$first" wine "$exe" --gtest_filter=FleetDatabaseWriter.* \
  >"$state/writer-1.log" 2>&1 &
one=$!
QV_FLEET_WRITER=2 WINEPREFIX="$second" wine "$exe" --gtest_filter=FleetDatabaseWriter.* \
  >"$state/writer-2.log" 2>&1 &
two=$!
for _ in $(seq 600); do
  [ -f "$go.ready-1" ] && [ -f "$go.ready-2" ] && break
  sleep 0.1
done
touch "$go"
status=0
wait $one || { echo "writer 1 failed:"; cat "$state/writer-1.log"; status=1; }
wait $two || { echo "writer 2 failed:"; cat "$state/writer-2.log"; status=1; }
WINEPREFIX="$second" wineserver -k >/dev/null 2>&1 || true

expected=$((kSharedRows + 2 * (kRowsPerWriter - kSharedRows)))
counts=$(bash "$db" sql "$state" \
  "SELECT count(*) || ' ' || count(DISTINCT job_id) || ' ' || count(DISTINCT station) FROM qv_jobs")
echo "rows, distinct job ids, stations: $counts (expected $expected $expected 2)"
[ "$counts" = "$expected $expected 2" ] || status=1
exit $status
