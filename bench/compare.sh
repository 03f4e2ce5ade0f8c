#!/usr/bin/env bash
# Times vorpex against plain text tools on generated BASIC sources and prints Markdown: the run
# that docs/performance.md shows, from its machine line to its goals.
#
#   bench/compare.sh
#
# Builds the Release binaries in build-release/ (and vorpex linked statically, as the release
# tarball's is, in build-release-static/), generates a deterministic realistic source of 64 MiB
# (also with 50 and 1000 DEFINE lines on top of the same body), one of 1 MiB and 100 small ones of
# 2 to 20 KiB in a temporary folder, then runs every command once untimed (a warm-up that also brings the inputs
# into the page cache) and RUNS times more. The runs are interleaved, one round of all commands
# after another, so that other load on the machine falls on all of them alike. It reports the
# median and the best wall time, the median CPU time (user + system), the throughput over the
# input file, the time as a multiple of vorpex's and the peak resident set size. Every command
# writes its output to a file. The small sources are converted one process per file, as a build
# does, and timed as a batch of five passes over them: the CPU time of all the processes against
# that of `cat` over the same files, for vorpex with the shared C++ runtime (the Debian package's
# build), vorpex linked statically (the release tarball's build), and a C++ program that does
# nothing but load the shared runtime (what the Debian package's build cannot go below).
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
# Linked as packaging/release.sh links the release tarball's binary.
cmake -S . -B "$BUILD_DIR-static" -DCMAKE_BUILD_TYPE=Release -DVORPEX_BUILD_TESTS=OFF \
  -DVORPEX_BUILD_BENCHMARKS=OFF -DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
cmake --build "$BUILD_DIR-static" -j"$(nproc)" --target vorpex >/dev/null
vorpex=$PWD/$BUILD_DIR/vorpex
vorpex_static=$PWD/$BUILD_DIR-static/vorpex
gen=$PWD/$BUILD_DIR/vorpex_gen

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
big=$tmp/big.bas
small=$tmp/small.bas
out=$tmp/out
echo "Generating the sources ..." >&2
"$gen" -s "$SIZE" -o "$big"
"$gen" -s "$SIZE" -d 50 -o "$tmp/big-50.bas"
"$gen" -s "$SIZE" -d 1000 -o "$tmp/big-1000.bas"
# The same body for both, using only names that both define: only the size of the table differs.
"$gen" -s "$SIZE" -d 50 -u 50 -o "$tmp/big-50u.bas"
"$gen" -s "$SIZE" -d 1000 -u 50 -o "$tmp/big-1000u.bas"
"$gen" -s "$SIZE" -u 50 -o "$tmp/big-0u.bas"
# The same statements in lines of 40 to 80 bytes and in lines of 200 to 400: the statements of the
# realistic source without their line numbers, comments and strings, joined with ", ".
lines_of() {
  awk -v lo="$1" -v hi="$2" -v want="$1" -v sq="'" 'BEGIN { srand(7) }
    /REM|DEFINE/ || index($0, sq) || index($0, "\"") { next }
    { sub(/\r$/, ""); sub(/^[ \t]*[0-9]*[ \t]*/, ""); if ($0 == "") next
      line = line == "" ? $0 : line ", " $0
      if (length(line) >= want) { print line; line = ""; want = lo + int(rand() * (hi - lo)) } }
    END { if (line != "") print line }' "$big"
}
lines_of 40 80 >"$tmp/short.bas"
lines_of 200 400 >"$tmp/long.bas"
# Lines longer than a window (16 KiB): the same statements in lines of 20 000 to 30 000 bytes.
lines_of 20000 30000 >"$tmp/window.bas"
# The quoted kind, a quote against a word as many programs write it (`PRINT"TEXT"`): the PRINT lines
# of the realistic source, each string of letters, digits and blanks upper-cased against its PRINT,
# repeated to the size of the source; and the same lines with the blank (`PRINT "TEXT"`).
awk '{ out = ""; rest = $0
       while (match(rest, /PRINT "[A-Za-z0-9 ]*"/)) {
         out = out substr(rest, 1, RSTART - 1) "PRINT" toupper(substr(rest, RSTART + 6, RLENGTH - 6))
         rest = substr(rest, RSTART + RLENGTH) }
       if (out != "") print out rest }' "$big" >"$tmp/quoted-lines.bas"
while [ "$(stat -c %s "$tmp/quoted.bas" 2>/dev/null || echo 0)" -lt "$(stat -c %s "$big")" ]; do
  cat "$tmp/quoted-lines.bas" >>"$tmp/quoted.bas"
done
sed 's/PRINT"/PRINT "/g' "$tmp/quoted.bas" >"$tmp/blank.bas"
"$gen" -s "$SMALL" -o "$small"
# The other mixes, each with 50 constants: comment-heavy, string-heavy, and shaped like
# hand-written sources (TABs, comments after statements, joins, long lines, any case).
mixes=(comments strings handwritten)
for mix in "${mixes[@]}"; do
  "$gen" -s "$SIZE" -m "$mix" -d 50 -o "$tmp/$mix.bas"
done
# A warning every ten lines or so: the handwritten mix (one in sixteen of its lines gives one) with a
# REM after a statement after every 25th line, converted with the warnings written to a file and
# with -w.
awk '{ print } NR % 25 == 0 { print "A = A + 1 REM counted" }' "$tmp/handwritten.bas" >"$tmp/warn.bas"
mkdir "$tmp/batch"
for ((i = 1; i <= 100; i++)); do
  "$gen" -s "$((2 + (i * 7) % 19))K" -r "$i" -o "$tmp/batch/$i.bas"
done
batch_bytes=$(cat "$tmp"/batch/*.bas | wc -c)
# batch.sh TOOL: one process per small source, each writing to $out; five passes, so that the
# batch's CPU time is well above the hundredth of a second that GNU time counts in.
cat >"$tmp/batch.sh" <<EOF
#!/usr/bin/env bash
for pass in 1 2 3 4 5; do
  for f in "$tmp"/batch/*.bas; do
    if [ "\$1" = cat ]; then cat "\$f" >"$out"; else "\$1" -i "\$f" -o "$out" >/dev/null; fi
  done
done
EOF
# The floor of a run with the shared C++ runtime: loading it and nothing else.
echo 'int main() { return 0; }' |
  g++ -O2 -x c++ - -Wl,--no-as-needed -o "$tmp/load-runtime"

# The commands, by key: how they are shown, whether they may fail (cpp complains about BASIC), the
# standard input and output, and the command line. Each writes to $out.
keys=(vorpex cat tr-delete tr-upper cpp vorpex-small vorpex-50 vorpex-1000 vorpex-50u vorpex-1000u
  vorpex-0u vorpex-short vorpex-long vorpex-window quoted quoted-w blank-w warn-file warn-off batch-cat batch-vorpex batch-static batch-runtime)
for mix in "${mixes[@]}"; do
  keys+=("$mix-vorpex" "$mix-cat" "$mix-tr-upper" "$mix-cpp")
done
declare -A shown may_fail stdin stdout stderr command input
add() {
  shown[$1]=$2 may_fail[$1]=$3 stdin[$1]=$4 stdout[$1]=$5 input[$1]=$6 stderr[$1]=/dev/null
  shift 6
  command[$1]=$(printf '%q ' "${@:2}")
}
add vorpex "vorpex -i in -o out" 0 /dev/null /dev/null "$big" vorpex "$vorpex" -i "$big" -o "$out"
add cat "cat in > out" 0 /dev/null "$out" "$big" cat cat "$big"
add tr-delete "tr -d ' \\t' < in > out" 0 "$big" "$out" "$big" tr-delete tr -d ' \t'
add tr-upper "tr a-z A-Z < in > out" 0 "$big" "$out" "$big" tr-upper tr a-z A-Z
add cpp "cpp -P -traditional in > out" 1 /dev/null "$out" "$big" cpp cpp -P -traditional "$big"
add vorpex-small "" 0 /dev/null /dev/null "$small" vorpex-small "$vorpex" -i "$small" -o "$out"
add vorpex-50 "" 0 /dev/null /dev/null "$tmp/big-50.bas" vorpex-50 \
  "$vorpex" -i "$tmp/big-50.bas" -o "$out"
add vorpex-1000 "" 0 /dev/null /dev/null "$tmp/big-1000.bas" vorpex-1000 \
  "$vorpex" -i "$tmp/big-1000.bas" -o "$out"
add vorpex-50u "" 0 /dev/null /dev/null "$tmp/big-50u.bas" vorpex-50u \
  "$vorpex" -i "$tmp/big-50u.bas" -o "$out"
add vorpex-1000u "" 0 /dev/null /dev/null "$tmp/big-1000u.bas" vorpex-1000u \
  "$vorpex" -i "$tmp/big-1000u.bas" -o "$out"
add vorpex-0u "" 0 /dev/null /dev/null "$tmp/big-0u.bas" vorpex-0u \
  "$vorpex" -i "$tmp/big-0u.bas" -o "$out"
add vorpex-short "" 0 /dev/null /dev/null "$tmp/short.bas" vorpex-short \
  "$vorpex" -w -i "$tmp/short.bas" -o "$out"
add vorpex-long "" 0 /dev/null /dev/null "$tmp/long.bas" vorpex-long \
  "$vorpex" -w -i "$tmp/long.bas" -o "$out"
add vorpex-window "" 0 /dev/null /dev/null "$tmp/window.bas" vorpex-window \
  "$vorpex" -w -i "$tmp/window.bas" -o "$out"
add quoted "" 0 /dev/null /dev/null "$tmp/quoted.bas" quoted "$vorpex" -i "$tmp/quoted.bas" -o "$out"
stderr[quoted]=$tmp/quoted-warnings.txt
add quoted-w "" 0 /dev/null /dev/null "$tmp/quoted.bas" quoted-w \
  "$vorpex" -w -i "$tmp/quoted.bas" -o "$out"
add blank-w "" 0 /dev/null /dev/null "$tmp/blank.bas" blank-w \
  "$vorpex" -w -i "$tmp/blank.bas" -o "$out"
for mix in "${mixes[@]}"; do
  source=$tmp/$mix.bas
  add "$mix-vorpex" "" 0 /dev/null /dev/null "$source" "$mix-vorpex" "$vorpex" -w -i "$source" -o "$out"
  add "$mix-cat" "" 0 /dev/null "$out" "$source" "$mix-cat" cat "$source"
  add "$mix-tr-upper" "" 0 "$source" "$out" "$source" "$mix-tr-upper" tr a-z A-Z
  add "$mix-cpp" "" 1 /dev/null "$out" "$source" "$mix-cpp" cpp -P -traditional "$source"
done
add warn-file "" 0 /dev/null /dev/null "$tmp/warn.bas" warn-file \
  "$vorpex" -i "$tmp/warn.bas" -o "$out"
stderr[warn-file]=$tmp/warnings.txt
add warn-off "" 0 /dev/null /dev/null "$tmp/warn.bas" warn-off \
  "$vorpex" -w -i "$tmp/warn.bas" -o "$out"

add batch-cat "" 0 /dev/null /dev/null "$small" batch-cat bash "$tmp/batch.sh" cat
add batch-vorpex "" 0 /dev/null /dev/null "$small" batch-vorpex bash "$tmp/batch.sh" "$vorpex"
add batch-static "" 0 /dev/null /dev/null "$small" batch-static \
  bash "$tmp/batch.sh" "$vorpex_static"
add batch-runtime "" 0 /dev/null /dev/null "$small" batch-runtime \
  bash "$tmp/batch.sh" "$tmp/load-runtime"

# run_once KEY: runs the command of KEY once, after removing the output file; appends its wall
# and CPU seconds to walls[KEY] and cpus[KEY] and keeps its largest peak RSS (KiB) in rss[KEY].
declare -A walls cpus rss
run_once() {
  local key=$1 status=0 t0 t1 times
  rm -f "$out"
  t0=$EPOCHREALTIME
  eval "/usr/bin/time -f '%U %S %M' -o \"\$tmp/time\" ${command[$key]}" \
    <"${stdin[$key]}" >"${stdout[$key]}" 2>"${stderr[$key]}" || status=$?
  t1=$EPOCHREALTIME
  if [ "$status" -ne 0 ] && [ "${may_fail[$key]}" -ne 1 ]; then
    echo "compare.sh: '${command[$key]}' failed with status $status" >&2
    exit 1
  fi
  read -r -a times < <(tail -n 1 "$tmp/time")
  walls[$key]+="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }') "
  cpus[$key]+="$(awk -v u="${times[0]}" -v s="${times[1]}" 'BEGIN { printf "%.2f", u + s }') "
  if ((times[2] > ${rss[$key]:-0})); then rss[$key]=${times[2]}; fi
}

# median VALUES / best VALUES: of a blank-separated list.
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
best() { tr ' ' '\n' <<<"$1" | grep . | sort -g | head -n 1; }
mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { printf "%.1f", bytes / 1e6 / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "Timing: a warm-up round, then $RUNS rounds of ${#keys[@]} commands ..." >&2
for key in "${keys[@]}"; do
  run_once "$key"
done
walls=() cpus=() rss=()
for ((round = 1; round <= RUNS; round++)); do
  for key in "${keys[@]}"; do
    run_once "$key"
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

declare -A med best_wall med_cpu bytes
for key in "${keys[@]}"; do
  med[$key]=$(median "${walls[$key]}")
  best_wall[$key]=$(best "${walls[$key]}")
  med_cpu[$key]=$(median "${cpus[$key]}")
  bytes[$key]=$(stat -c %s "${input[$key]}")
done

cpu_model=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "Machine: $(nproc) CPUs, ${cpu_model:-unknown CPU}, Linux $(uname -r)," \
  "$(g++ --version | head -n 1); load average $load_before before and $load_after after the run."
echo
echo "Input: a generated realistic source of ${bytes[vorpex]} bytes (\`vorpex_gen -s $SIZE\`);" \
  "$RUNS interleaved runs after a warm-up; MB/s is 10^6 bytes of input per second of median" \
  "wall time."
echo
echo "| tool | command | median s | best s | median CPU s | MB/s | time ÷ vorpex | peak RSS KiB |"
echo "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: |"
for key in vorpex cat tr-delete tr-upper cpp; do
  printf '| %s | `%s` | %.3f | %.3f | %.2f | %s | %s | %s |\n' "${key%%-*}" "${shown[$key]}" \
    "${med[$key]}" "${best_wall[$key]}" "${med_cpu[$key]}" "$(mbps "${bytes[$key]}" "${med[$key]}")" \
    "$(ratio "${med[$key]}" "${med[vorpex]}")" "${rss[$key]}"
done
echo
rates=() best_rates=()
for key in vorpex vorpex-50 vorpex-1000; do
  rates+=("$(mbps "${bytes[$key]}" "${med[$key]}")")
  best_rates+=("$(mbps "${bytes[$key]}" "${best_wall[$key]}")")
done
echo "- vorpex on the same ${SIZE} body with 0 / 50 / 1000 defined symbols:" \
  "${rates[0]} / ${rates[1]} / ${rates[2]} MB/s (best runs: ${best_rates[0]} / ${best_rates[1]} /" \
  "${best_rates[2]}); 1000 vs 50 symbols: $(ratio "${rates[2]}" "${rates[1]}") of the throughput" \
  "($(ratio "${best_rates[2]}" "${best_rates[1]}") for the best runs)."
echo "- the same ${SIZE} body using only 50 names, with those 50 or with 1000 defined:" \
  "$(mbps "${bytes[vorpex-50u]}" "${med[vorpex-50u]}") / $(mbps "${bytes[vorpex-1000u]}" "${med[vorpex-1000u]}") MB/s;" \
  "1000 vs 50 symbols: $(ratio "$(mbps "${bytes[vorpex-1000u]}" "${med[vorpex-1000u]}")" "$(mbps "${bytes[vorpex-50u]}" "${med[vorpex-50u]}")")" \
  "of the throughput."
for mix in "${mixes[@]}"; do
  echo "- the $mix mix (\`vorpex_gen -s $SIZE -m $mix -d 50\`, ${bytes[$mix-vorpex]} bytes," \
    "warnings off): vorpex $(mbps "${bytes[$mix-vorpex]}" "${med[$mix-vorpex]}") MB/s;" \
    "\`tr a-z A-Z\` takes $(ratio "${med[$mix-tr-upper]}" "${med[$mix-vorpex]}") × vorpex's time," \
    "\`cpp -P -traditional\` $(ratio "${med[$mix-cpp]}" "${med[$mix-vorpex]}") ×, \`cat\`" \
    "$(ratio "${med[$mix-cat]}" "${med[$mix-vorpex]}") ×."
done
echo "- vorpex peak RSS: ${rss[vorpex-small]} KiB on the ${SMALL} source (${bytes[vorpex-small]}" \
  "bytes, $(mbps "${bytes[vorpex-small]}" "${med[vorpex-small]}") MB/s), ${rss[vorpex]} KiB on the" \
  "${SIZE} source."
echo "- the quoted kind (\`PRINT\"TEXT\"\`, ${bytes[quoted]} bytes): peak RSS ${rss[quoted]} KiB with" \
  "its warnings, ${rss[quoted-w]} KiB with -w; CPU ${med_cpu[quoted]} s with its warnings," \
  "${med_cpu[quoted-w]} s with -w, against ${med_cpu[blank-w]} s for the same lines with the" \
  "blank (\`PRINT \"TEXT\"\`, -w): $(ratio "${med_cpu[quoted-w]}" "${med_cpu[blank-w]}") ×."
echo "- lines longer than a window (20 000 to 30 000 bytes, ${bytes[vorpex-window]} bytes):" \
  "$(mbps "${bytes[vorpex-window]}" "${med[vorpex-window]}") MB/s, peak RSS ${rss[vorpex-window]} KiB."
echo "- 100 small sources of 2 to 20 KiB (${batch_bytes} bytes), one process per file, CPU time of" \
  "five passes over the batch (median): cat ${med_cpu[batch-cat]} s; vorpex linked statically" \
  "(the release tarball's build) ${med_cpu[batch-static]} s" \
  "($(ratio "${med_cpu[batch-static]}" "${med_cpu[batch-cat]}") × cat); vorpex with the shared C++" \
  "runtime (the Debian package's build) ${med_cpu[batch-vorpex]} s" \
  "($(ratio "${med_cpu[batch-vorpex]}" "${med_cpu[batch-cat]}") × cat), where a program that only" \
  "loads that runtime takes ${med_cpu[batch-runtime]} s" \
  "($(ratio "${med_cpu[batch-runtime]}" "${med_cpu[batch-cat]}") × cat)."
warnings=$(grep -c 'warning:' "$tmp/warnings.txt" || true)
warn_lines=$(wc -l <"$tmp/warn.bas")
echo "- a warning every $(ratio "$warn_lines" "$warnings") lines (the handwritten mix with" \
  "\`A = A + 1 REM counted\` after every 25th line, $warnings warnings written to a file) against" \
  "the same run with \`-w\`:" \
  "$(ratio "${med_cpu[warn-file]}" "${med_cpu[warn-off]}") × the CPU time (${med_cpu[warn-file]}" \
  "against ${med_cpu[warn-off]} s)."

# Every goal, met or not, from the medians above.
verdict() { awk -v v="$1" -v goal="$2" -v dir="$3" \
  'BEGIN { ok = dir == "max" ? v <= goal : v >= goal; printf "%s", ok ? "met" : "not met" }'; }
echo
echo "| goal | realistic | comments | strings | handwritten |"
echo "| --- | ---: | ---: | ---: | ---: |"
row() {  # row TITLE GOAL max|min TOOL-KEY-SUFFIX OVER-VORPEX(1)|UNDER(0)
  local line="| $1 |" prefix value
  for prefix in "" comments- strings- handwritten-; do
    local v=${prefix}vorpex t=${prefix}$4
    [ -z "$prefix" ] && v=vorpex
    if [ "$5" = 1 ]; then value=$(ratio "${med[$v]}" "${med[$t]}"); else value=$(ratio "${med[$t]}" "${med[$v]}"); fi
    line+=" $value ($(verdict "$value" "$2" "$3")) |"
  done
  echo "$line"
}
row "vorpex ÷ \`tr a-z A-Z\`, at most 1.0" 1.0 max tr-upper 1
row "vorpex ÷ \`tr a-z A-Z\`, stretch: at most 0.5" 0.5 max tr-upper 1
row "\`cpp -P -traditional\` ÷ vorpex, at least 10" 10 min cpp 0
echo
none=$(mbps "${bytes[vorpex-0u]}" "${med[vorpex-0u]}")
thousand=$(mbps "${bytes[vorpex-1000u]}" "${med[vorpex-1000u]}")
v=$(ratio "$thousand" "$none")
echo "- 1000 constants, at least 0.9 × the throughput without constants on the same body (the one" \
  "that uses 50 names): $v ($(verdict "$v" 0.9 min)); on the body that uses them all, where 1000" \
  "constants replace more of its names:" \
  "$(ratio "$(mbps "${bytes[vorpex-1000]}" "${med[vorpex-1000]}")" "$(mbps "${bytes[vorpex]}" "${med[vorpex]}")")."
per_byte() { awk -v s="$1" -v b="$2" 'BEGIN { printf "%.3e", s / b }'; }
v=$(awk -v l="${med_cpu[vorpex-long]}" -v lb="${bytes[vorpex-long]}" -v s="${med_cpu[vorpex-short]}" \
  -v sb="${bytes[vorpex-short]}" 'BEGIN { printf "%.2f", (l / lb) / (s / sb) }')
echo "- lines of 200 to 400 bytes, at most 1.1 × the CPU time a byte of lines of 40 to 80 (the same" \
  "statements, ${bytes[vorpex-long]} and ${bytes[vorpex-short]} bytes): $v ($(verdict "$v" 1.1 max))."
echo "- peak RSS at most 4 MiB whatever the input's size: ${rss[vorpex-small]} KiB (${SMALL})," \
  "${rss[vorpex]} KiB (${SIZE}) ($(verdict "${rss[vorpex]}" 4096 max))."
v=$(ratio "${med_cpu[warn-file]}" "${med_cpu[warn-off]}")
echo "- warnings to a file, at most 1.3 × the time with \`-w\`: $v ($(verdict "$v" 1.3 max))."
v=$(ratio "${med_cpu[batch-static]}" "${med_cpu[batch-cat]}")
w=$(ratio "${med_cpu[batch-vorpex]}" "${med_cpu[batch-cat]}")
echo "- 100 small files, at most 1.1 × \`cat\`'s CPU time: linked statically $v ($(verdict "$v" 1.1 max))," \
  "with the shared C++ runtime $w ($(verdict "$w" 1.1 max)); a program that only loads that runtime:" \
  "$(ratio "${med_cpu[batch-runtime]}" "${med_cpu[batch-cat]}")."
