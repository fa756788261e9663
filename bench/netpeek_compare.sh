#!/usr/bin/env bash
# netpeek's walk against net-snmp's snmpwalk, both SNMPv1 against the same private
# snmpd on 127.0.0.1 in the same run: `netpeek -s 127.0.0.1 dump SUBTREE` (which
# writes its file) and `snmpwalk -v1 -On` of the same subtree (output to a file),
# alternating, RUNS runs each, medians and the ratio. Two subtrees: MIB-II
# (1.3.6.1.2.1) and a table of ROWS rows (two columns) served by a pass_persist
# script under netSnmpPlaypen (1.3.6.1.4.1.8072.9999.9999). Needs no root; every
# command has a time limit and the snmpd is stopped by its PID file at the end.
#
#   bench/netpeek_compare.sh [RUNS [ROWS]]     (default 5 10000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
rows=${2:-10000}
work=$(mktemp -d /tmp/netpeek-bench.XXXX)
pid_file=$work/snmpd.pid
cleanup() {
  if [ -s "$pid_file" ]; then
    local pid; pid=$(cat "$pid_file")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target netpeek >/dev/null) \
  || { echo "build failed"; exit 1; }
netpeek=$root/build/release/netpeek/netpeek

# The table: column 1 the row number (INTEGER), column 2 a text (STRING).
cat > "$work/table.pl" <<'PERL'
use strict; use warnings;
$| = 1;
my $base = ".1.3.6.1.4.1.8072.9999.9999.1.1";
my $rows = $ARGV[0];
my (@keys, %value);
for my $c (1, 2) { for my $r (1 .. $rows) {
  my $oid = "$base.$c.$r";
  my $key = pack("N*", split(/\./, substr($oid, 1)));
  push @keys, $key;
  $value{$key} = [$oid, $c == 1 ? ("integer", $r) : ("string", "row $r of the benchmark table")];
} }
@keys = sort @keys;
sub key_of { my $o = shift; $o =~ s/^\.//; return pack("N*", grep { length } split(/\./, $o)); }
sub answer { my $v = $value{$_[0]}; print "$v->[0]\n$v->[1]\n$v->[2]\n"; }
while (my $cmd = <STDIN>) {
  chomp $cmd;
  if ($cmd eq "PING") { print "PONG\n"; next; }
  my $oid = <STDIN>; last unless defined $oid; chomp $oid;
  if ($cmd eq "set") { <STDIN>; print "not-writable\n"; next; }
  my $k = key_of($oid);
  if ($cmd eq "get") { exists $value{$k} ? answer($k) : print "NONE\n"; next; }
  # getnext: the first key after k (binary search).
  my ($lo, $hi) = (0, scalar @keys);
  while ($lo < $hi) { my $m = int(($lo + $hi) / 2); if ($keys[$m] le $k) { $lo = $m + 1 } else { $hi = $m } }
  $lo < @keys ? answer($keys[$lo]) : print "NONE\n";
}
PERL

port=$(( 20000 + RANDOM % 20000 ))
cat > "$work/snmpd.conf" <<CONF
view all included .1
rocommunity tarlow 127.0.0.1 -V all
pass_persist .1.3.6.1.4.1.8072.9999.9999 /usr/bin/perl $work/table.pl $rows
CONF
export MIBS= SNMPCONFPATH=$work SNMP_PERSISTENT_DIR=$work/tools
MIBS= SNMP_PERSISTENT_DIR=$work/persist timeout 900 \
  snmpd -f -Lo -C -I -smux -c "$work/snmpd.conf" -p "$pid_file" "udp:127.0.0.1:$port" >"$work/snmpd.log" 2>&1 &
for _ in $(seq 100); do
  snmpget -v1 -c tarlow -r0 -t0.2 "127.0.0.1:$port" 1.3.6.1.2.1.1.1.0 >/dev/null 2>&1 && break
done
[ -s "$pid_file" ] || { echo "snmpd did not start:"; cat "$work/snmpd.log"; exit 1; }

ms() {  # wall time of one command in milliseconds, from bash's own clock
  local t0=${EPOCHREALTIME/./} t1
  "$@" >/dev/null 2>&1 || true
  t1=${EPOCHREALTIME/./}
  awk -v d=$((10#$t1 - 10#$t0)) 'BEGIN { printf "%.1f", d / 1000 }'
}
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# Each run is bounded by a time limit.
ours() { (cd "$work" && NETPEEK_SNMP_PORT=$port timeout 300 "$netpeek" -s 127.0.0.1 dump "$1"); }
theirs() { timeout 300 snmpwalk -v1 -c tarlow -On "127.0.0.1:$port" "$1" > "$work/snmpwalk.txt"; }

echo "netpeek dump vs snmpwalk -v1 -On, same snmpd, $runs alternating runs; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for subtree in 1.3.6.1.2.1 1.3.6.1.4.1.8072.9999.9999; do
  # A first run of each fills snmpd's caches and checks that both see the same objects.
  ours "$subtree" >/dev/null 2>&1 || true
  theirs "$subtree"
  n_ours=$(($(wc -l < "$work/127.0.0.1 - $subtree.txt") - 1))
  n_theirs=$(grep -c '^\.' "$work/snmpwalk.txt")
  a=() b=()
  for _ in $(seq "$runs"); do
    a+=("$(ms ours "$subtree")")
    b+=("$(ms theirs "$subtree")")
  done
  ma=$(median "${a[@]}") mb=$(median "${b[@]}")
  ratio=$(awk -v a="$ma" -v b="$mb" 'BEGIN { printf "%.3f", a / b }')
  echo "$subtree: objects netpeek $n_ours, snmpwalk $n_theirs"
  echo "  netpeek  median $ma ms (runs: ${a[*]})"
  echo "  snmpwalk median $mb ms (runs: ${b[*]})"
  echo "  ratio netpeek/snmpwalk: $ratio"
done
