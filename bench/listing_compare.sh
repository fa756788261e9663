#!/usr/bin/env bash
# A full listing of a large neighbour table: `nbrlist` against our agent holding
# 10,000 neighbours on one port, and `lldpcli show neighbors` against lldpd holding
# as many as it will list, each the median of RUNS runs with the output to
# /dev/null; then the times per neighbour and the ratios. Run as root.
#
#   bench/listing_compare.sh [NEIGHBOURS [RUNS]]     (default 10000 5)
set -euo pipefail
# shellcheck source=bench/lab.sh
source "$(dirname "$0")/lab.sh"

target=${1:-10000}
runs=${2:-5}
ttl=900          # the fill and every listing end well inside this
fill_rate=5000
max_rounds=4     # each round sends every sender's frame once

lab_build
(cd "$lab_root" && cmake --build --preset release --target lldp_bench >/dev/null) || { echo "build failed"; exit 1; }
echo "listing: $target neighbours, median of $runs; load average: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== our agent (MaxNeighbors $target, one port)"
lab_make ours 1
lab_start_ours "$target"
held_ours=$(fill "$target" ours_count)
listed_ours=$(ours_count)
# nbrlist's exit status is 1 after a listing, 0 when the agent does not answer.
rc=0; ours_nbrlist > /dev/null || rc=$?
[ "$rc" -eq 1 ] || { echo "nbrlist did not list (exit status $rc)"; exit 1; }
time_runs ours_nbrlist
ms_ours=$median_ms
echo "  held: $held_ours; nbrlist lists $listed_ours; nbrlist: median $ms_ours ms (runs: $all_runs)"
lab_stop "$ours_pid"
lab_remove

echo "== lldpd filled like our agent (max-neighbors $target)"
lab_make lldpd 2
lab_start_lldpd "$target"
held_lldpd_full=$(fill "$target" lldpd_held)
listed_lldpd_full=$(lldpd_listed)
why=$(lldpcli_ show neighbors 2>&1 >/dev/null | sort -u | head -n 2 | tr '\n' ' ')
echo "  held (its process title): $held_lldpd_full; lldpcli show neighbors lists $listed_lldpd_full ${why:+($why)}"
lab_stop "$lldpd_pid"
lab_remove

# The most neighbours that lldpcli still lists: grows a fresh lldpd's table in
# steps, timing the listing at each size that lists whole; coarse steps first,
# then fine steps from the last good size in another fresh lldpd.
best_n=0 ms_lldpd=0
grow() {  # grow FROM STEP LIMIT
  local n=$1 step=$2 limit=$3 held listed steps=0
  while [ "$n" -le "$limit" ] && [ $steps -lt 100 ]; do
    steps=$((steps + 1))
    held=$(fill "$n" lldpd_held)
    listed=$(lldpd_listed)
    [ "$held" = "$n" ] && [ "$listed" = "$n" ] || { echo "  $n held $held, listed $listed: stop"; return 0; }
    time_runs lldpcli_ show neighbors
    echo "  $n held and listed: median $median_ms ms (runs: $all_runs)"
    best_n=$n ms_lldpd=$median_ms
    n=$((n + step))
  done
}
echo "== lldpd: the largest table that lldpcli show neighbors lists"
lab_make lldpdc 3
lab_start_lldpd "$target"
grow 100 100 "$target"
lab_stop "$lldpd_pid"
lab_remove
if [ "$best_n" -gt 0 ] && [ "$best_n" -lt "$target" ]; then
  coarse=$best_n
  lab_make lldpdf 4
  lab_start_lldpd "$target"
  timeout 60 ip netns exec "$tx_ns" "$sender" -q -i tx0 -n "$coarse" -c "$coarse" -r "$fill_rate" -d 30 -t "$ttl"
  grow $((coarse + 10)) 10 $((coarse + 90))
  lab_stop "$lldpd_pid"
  lab_remove
fi

echo
printf '%-8s %10s %10s %12s %14s\n' lister held listed "median ms" "us/neighbour"
per_ours=$(awk -v m="$ms_ours" -v n="$listed_ours" 'BEGIN { if (n) printf "%.2f", m * 1000 / n; else print "n/a" }')
per_lldpd=$(awk -v m="$ms_lldpd" -v n="$best_n" 'BEGIN { if (n) printf "%.2f", m * 1000 / n; else print "n/a" }')
printf '%-8s %10s %10s %12s %14s\n' nbrlist "$held_ours" "$listed_ours" "$ms_ours" "$per_ours"
printf '%-8s %10s %10s %12s %14s\n' lldpcli "$best_n" "$best_n" "$ms_lldpd" "$per_lldpd"
echo "lldpd filled with $target senders held $held_lldpd_full and lldpcli listed $listed_lldpd_full of them"
echo "ratio ours/lldpd: per neighbour $(lab_ratio "$per_ours" "$per_lldpd"); overall (ours $listed_ours, lldpd $best_n) $(lab_ratio "$ms_ours" "$ms_lldpd")"
verdict=$(awk -v m="$ms_ours" 'BEGIN { print (m < 100) ? "under" : "NOT under" }')
echo "nbrlist of $listed_ours neighbours: $ms_ours ms, $verdict the 100 ms target"
# The floor under a listing that pages one record per request: one pipe round trip
# (code 1, client and agent threads in one process) on this machine, now.
floor=$("$lab_root/build/release/bench/lldp_bench" --benchmark_filter='^BM_PipeRoundTripSettings' \
          --benchmark_min_time=1 --benchmark_format=csv 2>/dev/null | awk -F, '/PipeRoundTrip/ {printf "%.1f", $3 / 1000}')
[ -n "$floor" ] && echo "one pipe round trip (lldp_bench, code 1): $floor us; $listed_ours of them: $(awk -v f="$floor" -v n="$listed_ours" 'BEGIN { printf "%.0f", f * n / 1000 }') ms"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
