#!/usr/bin/env bash
# Walks of lldpRemTable with NEIGHBOURS neighbours (from the storm sender in the
# peer namespace), side by side: `snmpwalk -v1` and `snmpbulkwalk -v2c` through a
# private snmpd (the receiver namespace's 127.0.0.1) that serves our library by
# dlmod, then through our AgentX subagent, then through lldpd's own AgentX
# subagent holding the same neighbours. snmpd logs warnings only, as Debian runs
# it (-Lo would write a line for every request). Each figure is the median of
# RUNS walks; the CPU each process spent over the walks shows where the time
# goes. Run as root.
#
#   bench/nbrmib_compare.sh [NEIGHBOURS [RUNS]]     (default 1000 3)
set -euo pipefail
# shellcheck source=bench/lab.sh
source "$(dirname "$0")/lab.sh"

target=${1:-1000}
runs=${2:-3}
ttl=1800         # the fill and every walk end well inside this
fill_rate=5000
max_rounds=4
port=19161
table=.1.0.8802.1.1.2.1.4.1   # lldpRemTable
library="$lab_root/build/release/nbrmib/libnbrmib.so"
subagent="$lab_root/build/release/nbrmib/nbrmib-agentx"

lab_build
(cd "$lab_root" && cmake --build --preset release --target nbrmib nbrmib-agentx >/dev/null) ||
  { echo "build failed"; exit 1; }
echo "lldpRemTable walks: $target neighbours, median of $runs; load average: $(cut -d' ' -f1-3 /proc/loadavg)"

# snmpd_start NAME CONFIG_LINES...: a private snmpd in $rx_ns on 127.0.0.1:$port with
# its own configuration, AgentX socket and state under $lab_work/snmp.NAME. Sets
# snmp_dir and snmpd_pid.
snmpd_start() {
  snmp_dir="$lab_work/snmp.$1"
  shift
  mkdir -p "$snmp_dir/conf" "$snmp_dir/state" "$snmp_dir/client"
  chmod 755 "$snmp_dir"
  { echo "rocommunity tarlow 127.0.0.1"; printf '%s\n' "$@"; } > "$snmp_dir/conf/snmpd.conf"
  TORVANE_PIPE="${ours_dir:-/nonexistent}/pipe" MIBS= SNMP_PERSISTENT_DIR="$snmp_dir/state" \
    ip netns exec "$rx_ns" snmpd -f -LOw -C -I -smux -c "$snmp_dir/conf/snmpd.conf" \
    -p "$snmp_dir/snmpd.pid" "udp:127.0.0.1:$port" > "$snmp_dir/snmpd.out" 2>&1 &
  snmpd_pid=$!
  lab_pids+=("$snmpd_pid")
  for _ in $(seq 1 50); do
    snmp snmpget .1.3.6.1.2.1.1.1.0 -v2c -c tarlow -On 2>/dev/null | grep -q STRING && return 0
    sleep 0.1
  done
  echo "snmpd did not start:"; tail "$snmp_dir/snmpd.out"; exit 1
}
# Stops snmpd by the PID in its PID file.
snmpd_stop() { lab_stop "$(cat "$snmp_dir/snmpd.pid")"; }

# snmp TOOL OID OPTIONS...: one net-snmp command against the private snmpd.
snmp() {
  local tool=$1 oid=$2
  shift 2
  MIBS= SNMP_PERSISTENT_DIR="$snmp_dir/client" ip netns exec "$rx_ns" "$tool" "$@" "127.0.0.1:$port" "$oid"
}
walk_v1() { snmp snmpwalk "$table" -v1 -c tarlow -On -t 10 -r 0; }
walk_bulk() { snmp snmpbulkwalk "$table" -v2c -c tarlow -On -t 10 -r 0; }
# walk_counts WALK: sets rows and values to what one walk returns (instances of
# lldpRemSysName, and all of the table's).
walk_counts() {
  local out
  out=$("$@" 2>&1)
  rows=$(grep -c "^$table.1.9\." <<< "$out" || true)
  values=$(grep -c "^$table\." <<< "$out" || true)
}

# measure NAME PIDS...: times both walks (median of $runs) and reports the CPU the
# listed processes spent over them. Sets v1_NAME and bulk_NAME (ms).
measure() {
  local name=$1
  shift
  local -A before
  local p total=0
  for p in "$@"; do before[$p]=$(lab_ticks "$p"); done
  # Each walk runs once to count and $runs times timed.
  local walked_values=0 counts=""
  walk_counts walk_v1
  counts="snmpwalk -v1: $rows rows, $values values"
  walked_values=$((walked_values + values * (runs + 1)))
  walk_counts walk_bulk
  counts+="; snmpbulkwalk -v2c: $rows rows, $values values"
  walked_values=$((walked_values + values * (runs + 1)))
  echo "  $counts"
  time_runs walk_v1
  printf -v "v1_$name" '%s' "$median_ms"
  echo "  snmpwalk -v1:       median $median_ms ms (runs: $all_runs)"
  time_runs walk_bulk
  printf -v "bulk_$name" '%s' "$median_ms"
  echo "  snmpbulkwalk -v2c:  median $median_ms ms (runs: $all_runs)"
  local line="  CPU over the measured walks (incl. the count above):"
  for p in "$@"; do
    local ticks=$(( $(lab_ticks "$p") - ${before[$p]} ))
    total=$((total + ticks))
    line+=" $(tr '\0' ' ' < "/proc/$p/cmdline" 2>/dev/null | cut -d' ' -f1 | xargs basename 2>/dev/null)($p)"
    line+=" $(awk -v t="$ticks" -v hz="$clk_tck" 'BEGIN { printf "%.2f", t / hz }') s;"
  done
  echo "$line"
  printf -v "cpu_$name" '%s' "$(awk -v t="$total" -v hz="$clk_tck" -v n="$walked_values" \
    'BEGIN { if (n == 0) print "n/a"; else printf "%.1f", t / hz / n * 1e6 }')"
  echo "  CPU of these processes per value walked: $(eval echo "\$cpu_$name") us ($walked_values values)"
}

echo "== our agent (one port, MaxNeighbors $target)"
lab_make ours 1
lab_start_ours "$target"
held=$(fill "$target" ours_count)
echo "  held: $held"

echo "== dlmod: the library inside snmpd"
snmpd_start dlmod "dlmod nbrmib $library"
measure dlmod "$snmpd_pid" "$ours_pid"
snmpd_stop

echo "== AgentX: snmpd and our subagent"
snmpd_start agentx "master agentx" "agentXSocket $lab_work/snmp.agentx/agentx.sock"
TORVANE_PIPE="$ours_dir/pipe" SNMP_PERSISTENT_DIR="$snmp_dir/client" \
  "$subagent" -x "$snmp_dir/agentx.sock" -l "$library" -p 1 > "$snmp_dir/subagent.out" 2>&1 &
subagent_pid=$!
lab_pids+=("$subagent_pid")
for _ in $(seq 1 50); do
  snmp snmpget .1.0.8802.1.1.2.1.1.1.0 -v2c -c tarlow -On 2>/dev/null | grep -q INTEGER && break
  sleep 0.1
done
measure agentx "$snmpd_pid" "$subagent_pid" "$ours_pid"
lab_stop "$subagent_pid"
snmpd_stop
lab_stop "$ours_pid"
lab_remove
ours_dir=""

echo "== lldpd's AgentX subagent (max-neighbors $((target + target / 10)))"
lab_make lldpd 2
snmpd_start lldpd "master agentx" "agentXSocket $lab_work/snmp.lldpd/agentx.sock" "agentXPerms 0777 0755"
lab_start_lldpd $((target + target / 10)) -x -X "$snmp_dir/agentx.sock"
held=$(fill "$target" lldpd_held)
echo "  held (its process title): $held"
for _ in $(seq 1 50); do
  snmp snmpgetnext "$table.1.9" -v2c -c tarlow -On 2>/dev/null | grep -q "^$table.1.9" && break
  sleep 0.1
done
measure lldpd "$snmpd_pid" $(lab_tree "$lldpd_pid")
lab_stop "$lldpd_pid"
snmpd_stop
lab_remove

echo
printf '%-22s %14s %18s\n' host "snmpwalk -v1" "snmpbulkwalk -v2c"
printf '%-22s %11s ms %15s ms\n' "ours, dlmod" "$v1_dlmod" "$bulk_dlmod"
printf '%-22s %11s ms %15s ms\n' "ours, AgentX" "$v1_agentx" "$bulk_agentx"
printf '%-22s %11s ms %15s ms\n' "lldpd, AgentX" "$v1_lldpd" "$bulk_lldpd"
echo "dlmod / lldpd:  v1 $(lab_ratio "$v1_dlmod" "$v1_lldpd"), bulk $(lab_ratio "$bulk_dlmod" "$bulk_lldpd") (target: at most 0.5)"
echo "AgentX / lldpd: v1 $(lab_ratio "$v1_agentx" "$v1_lldpd"), bulk $(lab_ratio "$bulk_agentx" "$bulk_lldpd") (target: at most 1)"
echo "CPU per value walked (snmpd and the serving processes; snmpwalk not counted): dlmod $cpu_dlmod us," \
     "AgentX $cpu_agentx us, lldpd $cpu_lldpd us"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
