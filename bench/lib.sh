# Shared by the benchmark scripts, which source it first:   . "$(dirname "$0")/lib.sh"
# It reads their arguments [BUILD_DIR] [RECORDS] and sets root, build, records, shared
# (the shared folder), cli (fendral-cli) and work (a scratch folder removed on exit).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
records=${2:-1000000}
shared=${FENDRAL_SHARED_DIR:-"$root/../shared"}
cli="$build/cli/fendral-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# need PROGRAM...: stops unless every one was built.
need() {
  for program in "$@"; do
    [ -x "$program" ] || {
      echo "build $(basename "$program") first ($program)"
      exit 1
    }
  done
}

# big_table: the generated table $work/big.dbf with $records records.
big_table() {
  /usr/bin/python3 "$shared/peers/gen_big.py" "$work/big.dbf" --records "$records" 2>/dev/null
  echo "table: $records records, $(stat -c %s "$work/big.dbf") bytes"
}

# raw_scan: compiles the plain read() loop that the index benchmarks compare with.
raw_scan() { cc -O2 -o "$work/raw_scan" "$shared/peers/raw_scan.c"; }

# raw_read_seconds: the best wall-clock seconds of ten raw reads of $work/big.dbf.
raw_read_seconds() {
  /usr/bin/python3 - "$work/raw_scan" "$work/big.dbf" <<'PY'
import subprocess, sys, time
best = None
for _ in range(10):
    t = time.perf_counter()
    subprocess.run([sys.argv[1], sys.argv[2]], check=True, stdout=subprocess.DEVNULL)
    best = min(best or 1e9, time.perf_counter() - t)
print("%.4f" % best)
PY
}

# best_of_three COMMAND...: runs the command three times, its output thrown away (with
# $before_run evaluated before each run when it is set). Leaves, in seconds, the lowest CPU
# time (user + system) in cpu with that run's wall-clock time in wall, the lowest wall-clock
# time in min_wall, and the highest peak resident memory in peak (KB). CPU time is the
# steady figure on a machine shared with other work.
best_of_three() {
  cpu=""
  wall=""
  min_wall=""
  peak=0
  for _ in 1 2 3; do
    if [ -n "${before_run:-}" ]; then eval "$before_run"; fi
    /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
      cat "$work/err"
      exit 1
    }
    read -r run_wall run_kb run_user run_sys <"$work/time"
    run_cpu=$(echo "$run_user + $run_sys" | bc)
    if [ -z "$cpu" ] || [ "$(echo "$run_cpu < $cpu" | bc)" = 1 ]; then
      cpu=$run_cpu
      wall=$run_wall
    fi
    if [ -z "$min_wall" ] || [ "$(echo "$run_wall < $min_wall" | bc)" = 1 ]; then
      min_wall=$run_wall
    fi
    if [ "$run_kb" -gt "$peak" ]; then peak=$run_kb; fi
  done
}

# ms SECONDS: the same time in whole milliseconds.
ms() { echo "$1 * 1000 / 1" | bc; }

# copy_baseline: times `fendral-cli copy` of the table (best of three), prints it and
# leaves its CPU milliseconds in copy: what the window's table commands are compared with.
copy_baseline() {
  before_run='rm -f "$work/copy.dbf"'
  best_of_three "$cli" copy "$work/big.dbf" "$work/copy.dbf"
  before_run=""
  copy=$(ms "$cpu")
  printf '%-24s wall %8s ms   cpu %8s ms\n' "fendral-cli copy" "$(ms "$wall")" "$copy"
}

# legacy_table: the legacy engine's generated table, $legacy/bench.dbf ($records records),
# written by ../shared/peers/bin/hb-bench (or taken from $LEGACY_DIR when set); both
# programs index that same file.
legacy_table() {
  hb="$shared/peers/bin/hb-bench"
  need "$hb"
  legacy="$work/legacy"
  mkdir -p "$legacy"
  if [ -n "${LEGACY_DIR:-}" ]; then legacy=$LEGACY_DIR; return; fi
  "$hb" "$legacy" create "$records" >/dev/null
}

# legacy_cleanup: removes the legacy table (not one given in $LEGACY_DIR).
legacy_cleanup() { [ -n "${LEGACY_DIR:-}" ] || rm -rf "$legacy"; }

# median FILE: the median of the numbers in FILE, one a line.
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# vs_legacy LABEL STEP INDEXFILE ARGS...: five interleaved runs of `fendral-cli index
# $legacy/bench.dbf INDEXFILE ARGS...` and of `hb-bench $legacy STEP`; prints the medians of
# Fendral's wall-clock seconds (process start included), its peak resident memory (the
# highest of the runs, /usr/bin/time -v), the legacy engine's own timing of the step, and
# the ratio. STEP "-" runs Fendral alone (a key the legacy program does not time).
vs_legacy() {
  label=$1
  step=$2
  out=$3
  shift 3
  : >"$work/f.times"
  : >"$work/h.times"
  vpeak=0
  for _ in 1 2 3 4 5; do
    rm -f "$out"
    start=$(date +%s%N)
    /usr/bin/time -v -o "$work/vtime" "$cli" index "$legacy/bench.dbf" "$out" "$@" >/dev/null
    end=$(date +%s%N)
    echo "scale=3; ($end - $start) / 1000000000" | bc >>"$work/f.times"
    kb=$(awk -F': ' '/Maximum resident/ { print $2 }' "$work/vtime")
    if [ "$kb" -gt "$vpeak" ]; then vpeak=$kb; fi
    if [ "$step" != "-" ]; then
      "$hb" "$legacy" "$step" "$records" | awk -F'\t' -v s="$step" '$1 == s { print $2 + 0 }' >>"$work/h.times"
    fi
  done
  f=$(median "$work/f.times")
  if [ "$step" = "-" ]; then
    printf '%-34s fendral %6.3fs  peak %4d MB\n' "$label" "$f" "$((vpeak / 1024))"
  else
    h=$(median "$work/h.times")
    printf '%-34s fendral %6.3fs  peak %4d MB   hb-bench %6.3fs   ratio %5.2f\n' "$label" "$f" \
      "$((vpeak / 1024))" "$h" "$(echo "$f / $h" | bc -l)"
  fi
}
