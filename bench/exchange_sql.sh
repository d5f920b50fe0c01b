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

best_of_three sh -c "pgdbf '$work/big.dbf' | '$bin/psql' -X -q -h '$pg' -U postgres -d pgdbf"
pgdbf_wall=$min_wall
report "pgdbf | psql"

best_of_three "$cli" export "$work/big.dbf" --format postgresql --drop \
  --to "host=$pg user=postgres dbname=fendral"
pg_wall=$min_wall
report "fendral-cli export --to postgresql"
echo "  rows: $("$bin/psql" -X -At -h "$pg" -U postgres -d fendral -c 'SELECT count(*) FROM big')" \
  "(pgdbf: $("$bin/psql" -X -At -h "$pg" -U postgres -d pgdbf -c 'SELECT count(*) FROM big'))"

printf 'sqlite export / dump:            %s (target at most 3)\n' \
  "$(echo "scale=2; $sqlite_wall / $dump_wall" | bc)"
printf 'postgresql --to / pgdbf | psql:  %s (target at most 1.0)\n' \
  "$(echo "scale=2; $pg_wall / $pgdbf_wall" | bc)"
