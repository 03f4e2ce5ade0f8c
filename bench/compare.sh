#!/usr/bin/env bash
# Times vorpex against plain text tools on generated BASIC sources and prints Markdown.
#
#   bench/compare.sh
#
# Builds the Release binaries in build-release/, generates a deterministic realistic source of
# 64 MiB and one of 1 MiB in a temporary folder, then runs each command RUNS times (after one
# untimed warm-up run that also brings the input into the page cache) and reports the median wall
# time, the median CPU time (user + system), the throughput over the input file, the time as a
# multiple of vorpex's and the peak resident set size. Every command writes its output to a file.
#
# Settings (environment): RUNS (default 5), SIZE (64M), SMALL (1M), BUILD_DIR (build-release).
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."

RUNS=${RUNS:-5}
SIZE=${SIZE:-64M}
SMALL=${SMALL:-1M}
BUILD_DIR=${BUILD_DIR:-build-release}

need=()
[ -x /usr/bin/time ] || need+=(time)
command -v cpp >/dev/null || need+=(cpp)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "compare.sh needs: ${need[*]} (apt-get install ${need[*]})" >&2
    exit 1
  fi
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

echo "Building the Release binaries in $BUILD_DIR ..." >&2
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DVORPEX_BUILD_TESTS=OFF \
  -DVORPEX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target vorpex vorpex_gen >/dev/null
vorpex=$PWD/$BUILD_DIR/vorpex
gen=$PWD/$BUILD_DIR/vorpex_gen

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
big=$tmp/big.bas
small=$tmp/small.bas
out=$tmp/out
echo "Generating the sources ..." >&2
"$gen" -s "$SIZE" -o "$big"
"$gen" -s "$SMALL" -o "$small"

# measure MAY_FAIL STDIN STDOUT COMMAND...: runs COMMAND once untimed, then RUNS times, each time
# after removing the output file. Sets med_wall and med_cpu (seconds) and peak_rss (KiB, the
# largest of the timed runs). A command that fails stops the script unless MAY_FAIL is 1.
measure() {
  local may_fail=$1 stdin=$2 stdout=$3
  shift 3
  local walls=() cpus=() status t0 t1 times i
  peak_rss=0
  for ((i = 0; i <= RUNS; i++)); do
    rm -f "$out"
    t0=$EPOCHREALTIME
    status=0
    /usr/bin/time -f '%U %S %M' -o "$tmp/time" "$@" <"$stdin" >"$stdout" 2>/dev/null || status=$?
    t1=$EPOCHREALTIME
    if [ "$status" -ne 0 ] && [ "$may_fail" -ne 1 ]; then
      echo "compare.sh: '$*' failed with status $status" >&2
      exit 1
    fi
    ((i > 0)) || continue
    read -r -a times < <(tail -n 1 "$tmp/time")
    walls+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')")
    cpus+=("$(awk -v u="${times[0]}" -v s="${times[1]}" 'BEGIN { printf "%.2f", u + s }')")
    ((times[2] > peak_rss)) && peak_rss=${times[2]}
  done
  med_wall=$(printf '%s\n' "${walls[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
  med_cpu=$(printf '%s\n' "${cpus[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
}

mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { printf "%.1f", bytes / 1e6 / s }'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
big_bytes=$(stat -c %s "$big")
small_bytes=$(stat -c %s "$small")

names=(vorpex cat tr-delete tr-upper cpp)
commands=(
  "vorpex -i in -o out"
  "cat in > out"
  "tr -d ' \\t' < in > out"
  "tr a-z A-Z < in > out"
  "cpp -P -traditional in > out"
)
declare -A wall cpu rss
echo "Timing on the ${SIZE} source ($RUNS runs each) ..." >&2
measure 0 /dev/null /dev/null "$vorpex" -i "$big" -o "$out"
wall[vorpex]=$med_wall cpu[vorpex]=$med_cpu rss[vorpex]=$peak_rss
measure 0 /dev/null "$out" cat "$big"
wall[cat]=$med_wall cpu[cat]=$med_cpu rss[cat]=$peak_rss
measure 0 "$big" "$out" tr -d ' \t'
wall[tr-delete]=$med_wall cpu[tr-delete]=$med_cpu rss[tr-delete]=$peak_rss
measure 0 "$big" "$out" tr a-z A-Z
wall[tr-upper]=$med_wall cpu[tr-upper]=$med_cpu rss[tr-upper]=$peak_rss
measure 1 /dev/null "$out" cpp -P -traditional "$big"
wall[cpp]=$med_wall cpu[cpp]=$med_cpu rss[cpp]=$peak_rss

echo "Timing vorpex on the ${SMALL} source and with defined symbols ..." >&2
measure 0 /dev/null /dev/null "$vorpex" -i "$small" -o "$out"
small_wall=$med_wall small_rss=$peak_rss
declare -A define_bytes define_wall define_cpu
define_bytes[0]=$big_bytes define_wall[0]=${wall[vorpex]} define_cpu[0]=${cpu[vorpex]}
for defines in 50 1000; do
  "$gen" -s "$SIZE" -d "$defines" -o "$big"
  define_bytes[$defines]=$(stat -c %s "$big")
  measure 0 /dev/null /dev/null "$vorpex" -i "$big" -o "$out"
  define_wall[$defines]=$med_wall define_cpu[$defines]=$med_cpu
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

cpu_model=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "Machine: $(nproc) CPUs, ${cpu_model:-unknown CPU}, Linux $(uname -r), $(g++ --version | head -n 1);" \
  "load average $load_before before and $load_after after the run."
echo
echo "Input: a generated realistic source of $big_bytes bytes (\`vorpex_gen -s $SIZE\`);" \
  "median of $RUNS runs after one warm-up; MB/s is 10^6 bytes of input per wall-clock second."
echo
echo "| tool | command | median s | median CPU s | MB/s | time ÷ vorpex | peak RSS KiB |"
echo "| --- | --- | ---: | ---: | ---: | ---: | ---: |"
for i in "${!names[@]}"; do
  n=${names[$i]}
  ratio=$(awk -v a="${wall[$n]}" -v b="${wall[vorpex]}" 'BEGIN { printf "%.2f", a / b }')
  printf '| %s | `%s` | %.3f | %.2f | %s | %s | %s |\n' "${n%%-*}" "${commands[$i]}" \
    "${wall[$n]}" "${cpu[$n]}" "$(mbps "$big_bytes" "${wall[$n]}")" "$ratio" "${rss[$n]}"
done
echo
wall_rates=() cpu_rates=()
for defines in 0 50 1000; do
  wall_rates+=("$(mbps "${define_bytes[$defines]}" "${define_wall[$defines]}")")
  cpu_rates+=("$(mbps "${define_bytes[$defines]}" "${define_cpu[$defines]}")")
done
echo "- vorpex on the same ${SIZE} body with 0 / 50 / 1000 defined symbols:" \
  "${wall_rates[0]} / ${wall_rates[1]} / ${wall_rates[2]} MB/s" \
  "(per CPU second: ${cpu_rates[0]} / ${cpu_rates[1]} / ${cpu_rates[2]});" \
  "1000 vs 50 symbols: $(awk -v a="${wall_rates[2]}" -v b="${wall_rates[1]}" \
    'BEGIN { printf "%.2f", a / b }') of the throughput" \
  "($(awk -v a="${cpu_rates[2]}" -v b="${cpu_rates[1]}" 'BEGIN { printf "%.2f", a / b }') per CPU second)."
echo "- vorpex peak RSS: $small_rss KiB on the ${SMALL} source ($small_bytes bytes," \
  "$(mbps "$small_bytes" "$small_wall") MB/s), ${rss[vorpex]} KiB on the ${SIZE} source."
