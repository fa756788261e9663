# shellcheck shell=bash
# Shared by storm_compare.sh and listing_compare.sh (sourced, not run): a lab of two
# network namespaces joined by veth, our agent or lldpd as the receiver in one, the
# storm sender in the other; CPU and memory readings from /proc; and a cleanup
# that stops every process by its PID and removes every namespace, on any exit.
# Nothing here touches this machine's own interfaces.

[ "$(id -u)" -eq 0 ] || { echo "$(basename "$0"): run as root (it creates network namespaces)"; exit 1; }

lab_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
lab_tag=tvb$$
lab_work=$(mktemp -d "/tmp/${lab_tag}.XXXX")
chmod 755 "$lab_work"  # lldpd and lldpcli drop to the _lldpd user
lab_pids=()
lab_namespaces=()
clk_tck=$(getconf CLK_TCK)
sender="$lab_root/build/release/bench/storm_sender"
nbrlist="$lab_root/build/release/nbrlist/nbrlist"

# Stops one process: TERM, up to 5 s for it to go, then KILL.
lab_stop() {
  local pid=$1
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  return 0
}

lab_cleanup() {
  set +e
  local pid ns
  for pid in "${lab_pids[@]}"; do lab_stop "$pid"; done
  for ns in "${lab_namespaces[@]}"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$lab_work"
}
trap lab_cleanup EXIT
trap 'exit 130' INT TERM

lab_build() {
  (cd "$lab_root" && cmake --preset release >/dev/null &&
   cmake --build --preset release --target lldp nbrlist storm_sender >/dev/null) ||
    { echo "build failed"; exit 1; }
}

# lab_make NAME OCTET: namespaces ${lab_tag}NAMEr (receiver, rx0, 10.88.OCTET.1) and
# ${lab_tag}NAMEs (sender, tx0, 10.88.OCTET.2). Sets rx_ns and tx_ns.
lab_make() {
  rx_ns=${lab_tag}$1r tx_ns=${lab_tag}$1s
  ip netns add "$rx_ns"; lab_namespaces+=("$rx_ns")
  ip netns add "$tx_ns"; lab_namespaces+=("$tx_ns")
  ip link add rx0 netns "$rx_ns" type veth peer name tx0 netns "$tx_ns"
  ip -n "$rx_ns" addr add "10.88.$2.1/24" dev rx0
  ip -n "$tx_ns" addr add "10.88.$2.2/24" dev tx0
  for ns in "$rx_ns" "$tx_ns"; do ip -n "$ns" link set lo up; done
  ip -n "$rx_ns" link set rx0 up
  ip -n "$tx_ns" link set tx0 up
}

# lab_remove: removes the current lab's namespaces (the receiver must be stopped).
lab_remove() {
  ip netns del "$rx_ns" 2>/dev/null || true
  ip netns del "$tx_ns" 2>/dev/null || true
}

# The PID and every descendant (lldpd runs as a privileged monitor and a worker).
lab_tree() {
  ps -e -o pid=,ppid= | awk -v root="$1" '
    { parent[$1] = $2; order[NR] = $1 }
    END {
      keep[root] = 1; out = root
      for (pass = 0; pass < 8; pass++)
        for (i = 1; i <= NR; i++) { p = order[i]; if (!(p in keep) && (parent[p] in keep)) { keep[p] = 1; out = out " " p } }
      print out
    }'
}

# CPU ticks (utime + stime, all threads) of the listed processes.
lab_ticks() {
  local total=0 p stat fields
  for p in "$@"; do
    stat=$(cat "/proc/$p/stat" 2>/dev/null) || continue
    stat=${stat##*) }   # the fields after the command name
    read -r -a fields <<< "$stat"  # fields[0] is field 3 (state); utime is field 14, stime 15
    total=$((total + fields[11] + fields[12]))
  done
  echo "$total"
}

# "utime stime" in ticks of one process.
lab_ticks_split() {
  local stat fields
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo "0 0"; return; }
  stat=${stat##*) }
  read -r -a fields <<< "$stat"
  echo "${fields[11]} ${fields[12]}"
}

# Peak resident memory in KiB (VmHWM), summed over the listed processes.
lab_hwm() {
  local total=0 p kb
  for p in "$@"; do
    kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$p/status" 2>/dev/null)
    total=$((total + ${kb:-0}))
  done
  echo "$total"
}

# lab_start_ours MAXNEIGHBORS: our agent in $rx_ns with its own folder, registry
# store and pipe. Sets ours_pid and ours_dir; waits until it has sent its first frame.
lab_start_ours() {
  ours_dir="$lab_work/ours.$rx_ns"
  mkdir -p "$ours_dir/agent" "$ours_dir/registry"
  cp "$lab_root/build/release/agent/lldp" "$ours_dir/agent/lldp"
  printf '[lldp]\nMaxNeighbors=%s\nLog=0\n' "$1" > "$ours_dir/agent/lldp.ini"
  TORVANE_REGISTRY="$ours_dir/registry" TORVANE_PIPE="$ours_dir/pipe" \
    ip netns exec "$rx_ns" "$ours_dir/agent/lldp" -debug > "$ours_dir/agent.out" 2>&1 &
  ours_pid=$!
  lab_pids+=("$ours_pid")
  for _ in $(seq 1 100); do
    grep -q "lldp sent" "$ours_dir/agent.out" 2>/dev/null && [ -S "$ours_dir/pipe" ] && return 0
    kill -0 "$ours_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "our agent did not start:"; tail -n 20 "$ours_dir/agent.out"; exit 1
}

ours_nbrlist() { TORVANE_PIPE="$ours_dir/pipe" "$nbrlist" "$@"; }
# Neighbours in our table: one line of the tagged form per record.
ours_count() { ours_nbrlist /t | grep -c " event=" || true; }

# lab_start_lldpd MAXNEIGHBORS [LLDPD ARGS...]: lldpd (LLDP only) on rx0 in $rx_ns,
# its own control socket, max-neighbors raised. Sets lldpd_pid and lldpd_sock.
lab_start_lldpd() {
  local max=$1
  shift
  local dir="$lab_work/lldpd.$rx_ns"
  mkdir -p "$dir"; chmod 755 "$dir"; chown _lldpd "$dir" 2>/dev/null || true
  lldpd_sock="$dir/lldpd.socket"
  lldpd_out="$dir/lldpd.out"
  ip netns exec "$rx_ns" lldpd -d -u "$lldpd_sock" -I rx0 "$@" > "$lldpd_out" 2>&1 &
  lldpd_pid=$!
  lab_pids+=("$lldpd_pid")
  # Configured only once lldpd's own lldpcli has resumed it: a configure sent
  # earlier writes back the paused state it read and leaves lldpd paused.
  for _ in $(seq 1 100); do
    lldpcli_ show interfaces 2>/dev/null | grep -q "rx0" &&
      grep -q "lldpd should resume operations" "$lldpd_out" && break
    kill -0 "$lldpd_pid" 2>/dev/null || { echo "lldpd did not start:"; tail "$lldpd_out"; exit 1; }
    sleep 0.1
  done
  lldpcli_ configure system max-neighbors "$max" >/dev/null ||
    { echo "lldpd refused max-neighbors $max"; exit 1; }
}

# lldpcli reaches lldpd through its Unix socket, from any namespace.
lldpcli_() { lldpcli -u "$lldpd_sock" "$@"; }
# Neighbours that `lldpcli show neighbors` lists (one "Interface:" line each). Past
# some hundreds of neighbours on a port lldpcli lists none: the answer exceeds its
# control message limit ("message received is too large").
lldpd_listed() { lldpcli_ show neighbors 2>/dev/null | grep -c "^Interface:" || true; }
# Neighbours lldpd holds, by its own count: its worker's process title reads
# "lldpd: N neighbors." (lldpcli cannot tell when the table is too large to send).
lldpd_held() {
  local p title
  for p in $(lab_tree "$lldpd_pid"); do
    title=$(tr '\0' ' ' < "/proc/$p/cmdline" 2>/dev/null) || continue
    if [[ $title =~ ([0-9]+)\ neighbors? ]]; then echo "${BASH_REMATCH[1]}"; return; fi
    [[ $title =~ no\ neighbor ]] && { echo 0; return; }
  done
  echo "?"
}

# For each listed process: its title, VmHWM and RssAnon (the private part: heap,
# stacks; the rest of the resident set is mostly shared libraries).
lab_hwm_each() {
  local p
  for p in "$@"; do
    printf '%s (%s) VmHWM %s KiB, RssAnon %s KiB; ' "$p" \
      "$(tr '\0' ' ' < "/proc/$p/cmdline" 2>/dev/null | cut -c1-40 | sed 's/ *$//')" \
      "$(awk '/^VmHWM:/ {print $2}' "/proc/$p/status" 2>/dev/null)" \
      "$(awk '/^RssAnon:/ {print $2}' "/proc/$p/status" 2>/dev/null)"
  done
  echo
}

# The process of lldpd's tree that holds the neighbours (its title counts them).
lldpd_worker() {
  local p
  for p in $(lab_tree "$lldpd_pid"); do
    tr '\0' ' ' < "/proc/$p/cmdline" 2>/dev/null | grep -q "neighbor" && { echo "$p"; return; }
  done
}

# Median of the numbers given.
lab_median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# a / b with three decimals ("n/a" when b is 0).
lab_ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "n/a"; else printf "%.3f", a / b }'; }
# lab_time_ms COMMAND...: wall time of one run in milliseconds (three decimals),
# output to /dev/null; bash's own clock, so no process is started around it.
lab_time_ms() {
  local t0 t1
  t0=${EPOCHREALTIME/./}
  "$@" > /dev/null 2>&1 || true
  t1=${EPOCHREALTIME/./}
  awk -v d=$((10#$t1 - 10#$t0)) 'BEGIN { printf "%.3f", d / 1000 }'
}

# fill N COUNT_FUNCTION: sends every one of N senders' frames once per round until
# the receiver holds N (at most $max_rounds rounds, at $fill_rate frames/s, with
# time-to-live $ttl); prints what it holds.
fill() {
  local n=$1 count=$2 held=0
  for _ in $(seq 1 "$max_rounds"); do
    timeout 120 ip netns exec "$tx_ns" "$sender" -q -i tx0 -n "$n" -c "$n" -r "$fill_rate" -d 60 -t "$ttl"
    sleep 1
    held=$($count)
    [ "$held" = "$n" ] && break
  done
  echo "$held"
}

# time_runs COMMAND...: sets median_ms to the median of $runs timed runs (ms) and
# all_runs to the single runs.
time_runs() {
  local t=()
  for _ in $(seq 1 "$runs"); do t+=("$(lab_time_ms "$@")"); done
  all_runs="${t[*]}"
  median_ms=$(lab_median "${t[@]}")
}
