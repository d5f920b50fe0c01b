#!/bin/sh
# The SQL exports on the generated 1,000,000-record table: `export --format sqlite` against
# `dump`, and `export --format postgresql --to` against `pgdbf TABLE | psql` into the same
# throwaway PostgreSQL server (its own folder and socket, never the system's cluster), in
# the same run. Prints the best of three wall-clock and CPU times, the ratios and the peak
# resident memory of each.
#
# usage: bench/exchange_sql.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
need "$cli"
for tool in pgdbf sqlite3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps installs it)"; exit 1; }
done
bin=$(pg_config --bindir 2>/dev/null || true)
if [ ! -x "$bin/initdb" ]; then
  bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
fi
[ -x "$bin/initdb" ] || { echo "no PostgreSQL server (scripts/install-deps installs it)"; exit 1; }

big_table

# The server: run as the postgres user when we are root.
pg="$work/pg"
mkdir "$pg"
as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- sh -c "cd '$pg' && $1"
  else
    sh -c "cd '$pg' && $1"
  fi
}
# The server user must reach its folder inside the scratch folder.
[ "$(id -u)" -ne 0 ] || { chmod 711 "$work"; chown postgres "$pg"; }
as_server "'$bin/initdb' -D data -U postgres -A trust -E UTF8 --no-locale >/dev/null"
as_server "'$bin/pg_ctl' -D data -l server.log -w -o \"-c listen_addresses='' -c unix_socket_directories='$pg'\" start >/dev/null"
trap 'as_server "\"$bin/pg_ctl\" -D data -m immediate -w stop >/dev/null"; rm -rf "$work"' EXIT
"$bin/createdb" -h "$pg" -U postgres pgdbf
"$bin/createdb" -h "$pg" -U postgres fendral

report() {  # label
  printf '%-34s wall %6ss   cpu %6ss   peak memory %7s KB\n' "$1" "$min_wall" "$cpu" "$peak"
}

best_of_three "$cli" dump "$work/big.dbf"
dump_wall=$min_wall
report "fendral-cli dump"

before_run='rm -f "$work/big.sqlite"'
best_of_three "$cli" export "$work/big.dbf" --format sqlite --to "$work/big.sqlite"
before_run=""
sqlite_wall=$min_wall
report "fendral-cli export --format sqlite"
echo "  rows: $(sqlite3 "$work/big.sqlite" 'SELECT count(*) FROM big')"

one_run() {  # command...: one timed run; sets run_wall, run_cpu, run_kb
  /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
    cat "$work/err"
    exit 1
  }
  read -r run_wall run_kb run_user run_sys <"$work/time"
  run_cpu=$(echo "$run_user + $run_sys" | bc)
}

# The two loads take turns, three rounds, so that the server's background work (checkpoints,
# dropped tables) falls on both alike; the best wall-clock time of each counts.
pgdbf_wall=""
pg_wall=""
pgdbf_cpu=""
pg_cpu=""
pgdbf_peak=0
pg_peak=0
for _ in 1 2 3; do
  one_run sh -c "pgdbf '$work/big.dbf' | '$bin/psql' -X -q -h '$pg' -U postgres -d pgdbf"
  if [ -z "$pgdbf_wall" ] || [ "$(echo "$run_wall < $pgdbf_wall" | bc)" = 1 ]; then
    pgdbf_wall=$run_wall
    pgdbf_cpu=$run_cpu
  fi
  [ "$run_kb" -le "$pgdbf_peak" ] || pgdbf_peak=$run_kb
  one_run "$cli" export "$work/big.dbf" --format postgresql --drop \
    --to "host=$pg user=postgres dbname=fendral"
  if [ -z "$pg_wall" ] || [ "$(echo "$run_wall < $pg_wall" | bc)" = 1 ]; then
    pg_wall=$run_wall
    pg_cpu=$run_cpu
  fi
  [ "$run_kb" -le "$pg_peak" ] || pg_peak=$run_kb
done
min_wall=$pgdbf_wall cpu=$pgdbf_cpu peak=$pgdbf_peak report "pgdbf | psql (client cpu)"
min_wall=$pg_wall cpu=$pg_cpu peak=$pg_peak report "fendral-cli export --to postgresql"
echo "  rows: $("$bin/psql" -X -At -h "$pg" -U postgres -d fendral -c 'SELECT count(*) FROM big')" \
  "(pgdbf: $("$bin/psql" -X -At -h "$pg" -U postgres -d pgdbf -c 'SELECT count(*) FROM big'))"

printf 'sqlite export / dump:            %s (target at most 3)\n' \
  "$(echo "scale=2; $sqlite_wall / $dump_wall" | bc)"
printf 'postgresql --to / pgdbf | psql:  %s (target at most 1.0)\n' \
  "$(echo "scale=2; $pg_wall / $pgdbf_wall" | bc)"
