#!/usr/bin/env bash
# What a storm of LLDP neighbours costs our agent and lldpd: each receiver in turn
# in its own fresh pair of namespaces, the same storm from the peer namespace
# (SENDERS senders, RATE frames per second, SECONDS seconds), then the receiver's
# CPU seconds over the storm (utime + stime) and its peak resident memory (VmHWM),
# what each held at the end, and the ratios ours/lldpd. Run as root.
#
#   bench/storm_compare.sh [SENDERS [RATE [SECONDS]]]     (default 1000 2000 20)
set -euo pipefail
# shellcheck source=bench/lab.sh
source "$(dirname "$0")/lab.sh"

senders=${1:-1000}
rate=${2:-2000}
seconds=${3:-20}
settle=2  # after the storm, so that queued frames are processed before the reading

lab_build
echo "storm: $senders senders, $rate frames/s, $seconds s; load average: $(cut -d' ' -f1-3 /proc/loadavg)"

# measure NAME PID...: runs the storm against the current lab and sets cpu_NAME
# (seconds) and hwm_NAME (KiB) from the listed processes.
measure() {
  local name=$1; shift
  local before after out p
  local -A split_before
  for p in "$@"; do split_before[$p]=$(lab_ticks_split "$p"); done
  before=$(lab_ticks "$@")
  out=$(timeout $((seconds + 30)) ip netns exec "$tx_ns" "$sender" -i tx0 -n "$senders" -r "$rate" -d "$seconds")
  echo "  $out"
  sleep "$settle"
  after=$(lab_ticks "$@")
  for p in "$@"; do
    read -r u0 s0 <<< "${split_before[$p]}"
    read -r u1 s1 <<< "$(lab_ticks_split "$p")"
    echo "  CPU of $p over the storm: user $(awk -v t=$((u1 - u0)) -v hz="$clk_tck" 'BEGIN { printf "%.2f", t / hz }') s," \
         "system $(awk -v t=$((s1 - s0)) -v hz="$clk_tck" 'BEGIN { printf "%.2f", t / hz }') s"
  done
  printf -v "cpu_$name" '%s' "$(awk -v t=$((after - before)) -v hz="$clk_tck" 'BEGIN { printf "%.2f", t / hz }')"
  printf -v "hwm_$name" '%s' "$(lab_hwm "$@")"
  echo "  memory: $(lab_hwm_each "$@")"
}

echo "== our agent (MaxNeighbors 1024 per port)"
lab_make ours 1
lab_start_ours 1024
pids=$(lab_tree "$ours_pid")
measure ours $pids
held_ours=$(ours_count)
echo "  processes: $pids; CPU ${cpu_ours} s; VmHWM ${hwm_ours} KiB; neighbours held (nbrlist): $held_ours"
lab_stop "$ours_pid"
lab_remove

echo "== lldpd (max-neighbors $senders)"
lab_make lldpd 2
lab_start_lldpd "$senders"
pids=$(lab_tree "$lldpd_pid")
measure lldpd $pids
held_lldpd=$(lldpd_held)
worker=$(lldpd_worker)
hwm_lldpd_worker=$( [ -n "$worker" ] && lab_hwm "$worker" || echo 0)
listed_lldpd=$(lldpd_listed)
echo "  processes: $pids; CPU ${cpu_lldpd} s; VmHWM ${hwm_lldpd} KiB (summed over both);" \
     "neighbours held (its process title): $held_lldpd; listed by lldpcli show neighbors: $listed_lldpd"
lab_stop "$lldpd_pid"
lab_remove

echo
printf '%-10s %12s %14s %10s\n' receiver "CPU s" "VmHWM KiB" held
printf '%-10s %12s %14s %10s\n' ours "$cpu_ours" "$hwm_ours" "$held_ours"
printf '%-10s %12s %14s %10s\n' lldpd "$cpu_lldpd" "$hwm_lldpd" "$held_lldpd"
echo "ratio ours/lldpd: CPU $(lab_ratio "$cpu_ours" "$cpu_lldpd"), memory $(lab_ratio "$hwm_ours" "$hwm_lldpd")" \
     "(against lldpd's worker process alone, VmHWM $hwm_lldpd_worker KiB: $(lab_ratio "$hwm_ours" "$hwm_lldpd_worker"))"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
