#!/bin/sh
# Paired runs of each workload on the script engine (vbs-run) and on Lua 5.4; prints the
# median user CPU seconds of each and their ratio. The RegExp workloads run with the program's
# 60 s deadline (vbs-run's default) and without one instead. Usage: bench/script/run.sh
# BUILD_DIR [RUNS]
set -e
build=${1:-build}
runs=${2:-5}
here=$(dirname "$0")
vbs="$build/tests/script/vbs-run"
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# The user CPU seconds of one run of a command, its output dropped.
cpu() { { /usr/bin/time -f %U "$@" >/dev/null; } 2>&1; }
for w in fib calls midwalk midwalk_utf8 instr mixed; do
  ours=""; lua=""
  i=0
  while [ $i -lt "$runs" ]; do
    ours="$ours $(cpu "$vbs" "$here/$w.vbs")"
    lua="$lua $(cpu lua5.4 "$here/$w.lua")"
    i=$((i + 1))
  done
  o=$(echo $ours | tr ' ' '\n' | median)
  l=$(echo $lua | tr ' ' '\n' | median)
  echo "$w ours=${o}s lua=${l}s ratio=$(awk -v o="$o" -v l="$l" 'BEGIN {printf "%.1f", (l > 0 ? o / l : 0)}')"
done
for w in regexp_scan regexp_patterns; do
  deadline=""; none=""
  i=0
  while [ $i -lt "$runs" ]; do
    deadline="$deadline $(cpu "$vbs" "$here/$w.vbs")"
    none="$none $(VBS_RUN_TIMEOUT_MS=0 cpu "$vbs" "$here/$w.vbs")"
    i=$((i + 1))
  done
  d=$(echo $deadline | tr ' ' '\n' | median)
  n=$(echo $none | tr ' ' '\n' | median)
  echo "$w deadline=${d}s none=${n}s ratio=$(awk -v d="$d" -v n="$n" 'BEGIN {printf "%.2f", (n > 0 ? d / n : 0)}')"
done
