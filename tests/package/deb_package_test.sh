#!/usr/bin/env bash
# The Debian package in a scratch root: installed with dpkg --root into a fresh
# dpkg database, upgraded, removed and purged, twice, with its maintainer scripts
# running chrooted there. The scratch root is a tmpfs in a mount and network
# namespace of this test's own: its /usr is an overlay whose lower layer is this
# machine's /usr, read only (the programs the scripts and the package's binaries
# need), and whose upper layer takes everything the package writes there. Nothing
# of it reaches this machine's own files, service manager or network, and all of
# it goes when the test's namespaces end.
#
#   deb_package_test.sh PACKAGE.deb [BUILT_AGENT]
#
# BUILT_AGENT, the build's own agent, only serves to warn when the package is
# older than the build.
# Exit status 0 passed, 1 failed, 77 skipped (not root, no package, no tools).
set -uo pipefail

deb=${1:-}
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "the package test needs root (namespaces, mounts, chroot)"
[ -n "$deb" ] && [ -f "$deb" ] ||
  skip "no package at '$deb': build it with (cd <build folder> && cpack -G DEB)"
for tool in dpkg dpkg-deb dpkg-query unshare chroot mount perl; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing"
done
[ -L /bin ] && [ -L /lib ] || skip "the scratch root borrows a merged /usr; this system's /bin is no link"

# Into namespaces of our own: every mount below and the loopback-only network
# end with this process.
if [ -z "${TORVANE_DEB_TEST_INSIDE:-}" ]; then
  export TORVANE_DEB_TEST_INSIDE=1
  exec unshare --mount --net --propagation private -- "$BASH" "$0" "$@"
fi
ip link set lo up 2>/dev/null || true

deb=$(realpath "$deb")
if [ -n "${2:-}" ] && [ "$deb" -ot "$2" ]; then
  echo "note: $deb is older than $2: this tests the package as it was built then (run cpack -G DEB again)"
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
check() {  # check DESCRIPTION COMMAND...: passes when the command succeeds
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

scratch=$(mktemp -d /tmp/torvane-deb.XXXXXX)
trap 'umount -R "$scratch" 2>/dev/null; rmdir "$scratch" 2>/dev/null' EXIT
mount -t tmpfs -o mode=0755,size=1g torvane-deb "$scratch" || { echo "FAIL: no tmpfs"; exit 1; }
root=$scratch/root
upper=$scratch/upper
mkdir -p "$root/usr" "$upper" "$scratch/work"
mount -t overlay torvane-usr -o "lowerdir=/usr,upperdir=$upper,workdir=$scratch/work" "$root/usr" ||
  { echo "FAIL: cannot lay the overlay over /usr"; exit 1; }
for link in bin sbin lib lib64; do [ -L "/$link" ] && ln -s "usr/$link" "$root/$link"; done
mkdir -p "$root"/{etc,proc,run,dev,tmp,var/lib/dpkg/{info,updates,triggers},var/log,root}
chmod 1777 "$root/tmp"
: > "$root/var/lib/dpkg/status"
: > "$root/var/lib/dpkg/available"
printf 'root:x:0:0:root:/root:/bin/sh\n' > "$root/etc/passwd"
printf 'root:x:0:\n' > "$root/etc/group"
for dev in null zero urandom; do : > "$root/dev/$dev"; mount --bind "/dev/$dev" "$root/dev/$dev"; done
mount -t proc proc "$root/proc"
# The service manager's own folders, which every system with systemd has.
mkdir -p "$root/etc/systemd/system" "$root/var/lib/systemd"

# The service manager as the scripts meet it: calls are recorded; the ones that
# would act on a running manager are answered here, the rest (preset,
# is-enabled) go to the real systemctl, on the unit files of the scratch root.
cat > "$root/usr/local/bin/systemctl" <<'EOF'
#!/bin/sh
echo "systemctl $*" >> /var/log/systemctl.calls
for a in "$@"; do
  case "$a" in
    start|stop|restart|try-restart|reload|daemon-reload) exit 0 ;;
    is-active) echo inactive; exit 3 ;;
    is-enabled) exec /usr/bin/systemctl --root=/ "$@" ;;
  esac
done
exec /usr/bin/systemctl "$@"
EOF
chmod 755 "$root/usr/local/bin/systemctl"
policy_forbids() { printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"; chmod 755 "$root/usr/sbin/policy-rc.d"; }
policy_allows() { rm -f "$root/usr/sbin/policy-rc.d"; }
systemd_running() { mkdir -p "$root/run/systemd/system"; }
systemd_absent() { rm -rf "$root/run/systemd"; }
calls() { cat "$root/var/log/systemctl.calls" 2>/dev/null; }
forget_calls() { rm -f "$root/var/log/systemctl.calls"; }

export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
dpkg_in() {  # dpkg in the scratch root; the fresh database knows none of the
             # libraries the overlay provides, hence --force-depends
  dpkg --root="$root" --force-depends --force-confold "$@" < /dev/null > "$scratch/dpkg.out" 2>&1 ||
    { cat "$scratch/dpkg.out"; return 1; }
}
status_of() { dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' torvane-discovery 2>/dev/null; }

# What the scratch root holds besides dpkg's own records and this test's
# stand-ins: everything outside /usr, and in /usr what the package added (the
# overlay's upper layer, without directories that were there before).
snapshot() {
  ( cd "$root" && find . -path ./usr -prune -o -path ./proc -prune -o -path ./dev -prune \
      -o -path ./var/lib/dpkg -prune -o -path ./var/log/dpkg.log -prune \
      -o -path ./var/log/systemctl.calls -prune -o -path ./run/systemd -prune \
      -o -printf '%y %m %p %l\n' )
  ( cd "$upper" && find . -mindepth 1 \( -path ./local/bin/systemctl -o -path ./sbin/policy-rc.d \) -prune \
      -o -printf '%y %m %p %l\n' ) | while read -r type mode path target; do
    [ "$type" = d ] && [ -d "/usr/${path#./}" ] && continue
    echo "$type $mode ./usr/${path#./} $target"
  done
}
snapshot | sort > "$scratch/pristine"

# ---- what the package says it holds, and where it must land ----
expected_files=(
  /opt/torvane/lldp /opt/torvane/nbrlist /opt/torvane/netpeek /opt/torvane/nbrmib-agentx
  /opt/torvane/libnbrmib.so /etc/torvane/lldp.ini /etc/snmp/snmpd.conf.d/nbrmib.conf
  /lib/systemd/system/LLDPagent.service /lib/systemd/system/nbrmib-agentx.service
  /usr/share/man/man8/lldp.8.gz /usr/share/man/man1/nbrlist.1.gz /usr/share/man/man8/nbrmib.8.gz
  /usr/share/man/man1/netpeek.1.gz /usr/share/man/man5/lldp.ini.5.gz
  /usr/share/doc/torvane-discovery/copyright /usr/share/doc/torvane-discovery/changelog.gz
)
declare -A expected_links=(
  [/opt/torvane/lldp.ini]=/etc/torvane/lldp.ini [/usr/sbin/lldp]=/opt/torvane/lldp
  [/usr/bin/nbrlist]=/opt/torvane/nbrlist [/usr/bin/netpeek]=/opt/torvane/netpeek
)
expected_conffiles="/etc/snmp/snmpd.conf.d/nbrmib.conf
/etc/torvane/lldp.ini"

landed() {
  local f ok=0
  for f in "${expected_files[@]}"; do
    [ -f "$root$f" ] && [ ! -L "$root$f" ] || { echo "  missing: $f"; ok=1; }
  done
  for f in "${!expected_links[@]}"; do
    [ "$(readlink "$root$f")" = "${expected_links[$f]}" ] || { echo "  not a link to ${expected_links[$f]}: $f"; ok=1; }
  done
  for f in lldp nbrlist netpeek nbrmib-agentx; do
    [ -x "$root/opt/torvane/$f" ] || { echo "  not executable: /opt/torvane/$f"; ok=1; }
  done
  # Every entry of the package's archive is where it says.
  while read -r entry; do
    entry=${entry#.}
    [ -z "$entry" ] && continue
    [ -e "$root$entry" ] || [ -L "$root$entry" ] || { echo "  not installed: $entry"; ok=1; }
  done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|/$||')
  return $ok
}
conffiles_registered() {
  [ "$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Conffiles}\n' torvane-discovery |
       awk 'NF {print $1}' | sort)" = "$expected_conffiles" ]
}
is_dir_0755_root() { [ "$(stat -c '%F %a %U %G' "$root$1" 2>/dev/null)" = "directory 755 root root" ]; }
enabled() { [ "$(readlink "$root/etc/systemd/system/multi-user.target.wants/$1")" = "/lib/systemd/system/$1" ]; }
gone() { local p; for p in "$@"; do { [ -e "$root$p" ] || [ -L "$root$p" ]; } && { echo "  still there: $p"; return 1; }; done; return 0; }
there() { local p; for p in "$@"; do [ -e "$root$p" ] || [ -L "$root$p" ] || { echo "  missing: $p"; return 1; }; done; return 0; }

echo "== install (no service manager running, policy-rc.d forbids starts)"
policy_forbids
systemd_absent
check "dpkg --root installs the package" dpkg_in -i "$deb"
check "status is 'install ok installed'" [ "$(status_of)" = "install ok installed" ]
check "the files land where listed" landed
check "lldp.ini and the snmpd snippet are conffiles" conffiles_registered
check "postinst made the value store and the log folder (0755 root)" \
  eval 'is_dir_0755_root /var/lib/torvane && is_dir_0755_root /var/log/torvane'
check "the agent's service is enabled" enabled LLDPagent.service
check "the subagent's service is not" eval '! enabled nbrmib-agentx.service'
check "nothing was started without a running service manager" eval '! calls | grep -Eq " (start|restart) "'

echo "== the installed files"
if command -v systemd-analyze >/dev/null 2>&1; then
  for unit in LLDPagent.service nbrmib-agentx.service; do
    check "systemd-analyze verify $unit" \
      systemd-analyze verify --man=no --root="$root" "/lib/systemd/system/$unit"
  done
else
  echo "(systemd-analyze is missing: the units are not verified)"
fi
# The unit the package brings is the one "lldp -install" writes for this layout.
mkdir -p "$root/tmp/units" "$root/tmp/bin"
printf '#!/bin/sh\nexit 0\n' > "$root/tmp/bin/systemctl"
chmod 755 "$root/tmp/bin/systemctl"
chroot "$root" env PATH=/tmp/bin:/usr/bin:/bin TORVANE_UNIT_DIR=/tmp/units /opt/torvane/lldp -install \
  > "$scratch/install.out" 2>&1
check "lldp -install writes the package's unit (heading aside)" \
  diff <(tail -n +2 "$root/tmp/units/LLDPagent.service") <(tail -n +2 "$root/lib/systemd/system/LLDPagent.service")
check "the packaged unit names the layout's folders" \
  grep -qx 'ReadWritePaths=-/opt/torvane -/var/lib/torvane -/etc/torvane -/var/log/torvane/ -/run' \
  "$root/lib/systemd/system/LLDPagent.service"
rm -rf "$root/tmp/units" "$root/tmp/bin"
forget_calls

# The snmpd snippet: snmpd (chrooted, on this namespace's loopback) takes every
# line of it, becomes an AgentX master, answers the snippet's community, and the
# package's subagent connects.
if command -v snmpd >/dev/null 2>&1 && command -v snmpget >/dev/null 2>&1; then
  port=16161
  mkdir -p "$root/var/agentx" "$root/tmp/snmp"
  chroot "$root" env MIBS= SNMP_PERSISTENT_DIR=/tmp/snmp snmpd -f -Lo -C -I -smux \
    -c /etc/snmp/snmpd.conf.d/nbrmib.conf -p /tmp/snmpd.pid "udp:127.0.0.1:$port" > "$scratch/snmpd.out" 2>&1 &
  snmpd_pid=$!
  for _ in $(seq 50); do [ -S "$root/var/agentx/master" ] && break; sleep 0.1; done
  check "snmpd made the AgentX master socket" [ -S "$root/var/agentx/master" ]
  answer=$(MIBS= snmpget -v2c -c tarlow -r 1 -t 1 -On -Oqv "127.0.0.1:$port" 1.3.6.1.2.1.1.5.0 2>&1)
  check "snmpd answers the snippet's community (sysName: $answer)" [ -n "$answer" ]
  chroot "$root" env SNMP_PERSISTENT_DIR=/tmp/snmp /opt/torvane/nbrmib-agentx > "$scratch/agentx.out" 2>&1 &
  agentx_pid=$!
  for _ in $(seq 50); do grep -q "AgentX subagent connected" "$scratch/snmpd.out" "$scratch/agentx.out" && break; sleep 0.1; done
  check "the package's subagent connects to it" grep -q "AgentX subagent connected" "$scratch/snmpd.out" "$scratch/agentx.out"
  kill "$agentx_pid" 2>/dev/null; wait "$agentx_pid" 2>/dev/null
  kill "$snmpd_pid" 2>/dev/null; wait "$snmpd_pid" 2>/dev/null
  check "snmpd took every line of the snippet" eval '! grep -Ei "warning|error|unknown" "$scratch/snmpd.out"'
  rm -rf "$root/var/agentx" "$root/tmp/snmp" "$root/tmp/snmpd.pid"
else
  echo "(snmpd or snmpget is missing: the snmpd snippet is not tried)"
fi

# The agent from the package, in this namespace (no interface but the loopback:
# it has no port to send on): it reads lldp.ini through the link, keeps its value
# store and event log in the package's folders and answers nbrlist there.
sed -i 's/^;Log=0$/Log=1/' "$root/etc/torvane/lldp.ini"
chroot "$root" /opt/torvane/lldp -debug > "$scratch/agent.out" 2>&1 &
agent_pid=$!
for _ in $(seq 50); do [ -S "$root/run/torvane_lldp" ] && break; sleep 0.1; done
listing=$(chroot "$root" /opt/torvane/nbrlist /j 2>&1); listed=$?
check "nbrlist /j asks the running agent (an empty table: [], status 1)" \
  eval '[ "$listing" = "[]" ] && [ $listed -eq 1 ]'
kill -INT "$agent_pid" 2>/dev/null
for _ in $(seq 100); do kill -0 "$agent_pid" 2>/dev/null || break; sleep 0.1; done
kill -KILL "$agent_pid" 2>/dev/null
wait "$agent_pid" 2>/dev/null
check "the agent wrote its value store" grep -q "Path" "$root/var/lib/torvane/lldp"
check "the agent logged its start in /var/log/torvane" eval 'grep -q "event=start" "$root"/var/log/torvane/lldp*.log'
check "nbrlist without an agent: 'Service not active', status 0" \
  eval '[ "$(chroot "$root" /opt/torvane/nbrlist)" = "Service not active" ]'

echo "== upgrade: an edited lldp.ini stays"
mkdir -p "$scratch/next"
dpkg-deb -R "$deb" "$scratch/next/tree"
sed -i 's/^Version: .*/&+1/' "$scratch/next/tree/DEBIAN/control"
dpkg-deb --root-owner-group -b "$scratch/next/tree" "$scratch/next/next.deb" >/dev/null
forget_calls
policy_allows
systemd_running
check "dpkg --root upgrades to the next version" dpkg_in -i "$scratch/next/next.deb"
check "the edited lldp.ini was kept" grep -qx "Log=1" "$root/etc/torvane/lldp.ini"
check "no .dpkg-new or .dpkg-old copies" eval '[ -z "$(find "$root/etc" -name "*.dpkg-*")" ]'
check "lldp.ini beside the agent is still the link" [ "$(readlink "$root/opt/torvane/lldp.ini")" = /etc/torvane/lldp.ini ]
check "the upgrade restarted the agent's service" eval 'calls | grep -q "restart LLDPagent.service"'
check "and the subagent's only if it runs (try-restart)" eval 'calls | grep -q "try-restart nbrmib-agentx.service"'

echo "== policy-rc.d"
forget_calls
policy_forbids
check "reinstall under a forbidding policy-rc.d" dpkg_in -i "$scratch/next/next.deb"
check "it started and restarted nothing" eval '! calls | grep -Eq " (start|restart|try-restart) "'
check "remove under a forbidding policy-rc.d" dpkg_in -r torvane-discovery
check "it stopped nothing" eval '! calls | grep -q " stop "'

echo "== remove and purge, twice"
forget_calls
policy_allows
check "install again over the kept configuration" dpkg_in -i "$deb"
check "the edited lldp.ini was kept through remove and install" grep -qx "Log=1" "$root/etc/torvane/lldp.ini"
check "an installation over the kept configuration (re)starts the agent's service" \
  eval 'calls | grep -Eq " (start|restart) LLDPagent.service"'
forget_calls
check "dpkg -r" dpkg_in -r torvane-discovery
check "removal stopped both services" eval 'calls | grep -q "stop nbrmib-agentx.service LLDPagent.service"'
check "status is 'deinstall ok config-files'" [ "$(status_of)" = "deinstall ok config-files" ]
check "the programs, units and pages are gone" gone /opt/torvane/lldp /opt/torvane/libnbrmib.so \
  /lib/systemd/system/LLDPagent.service /usr/share/man/man8/lldp.8.gz /usr/bin/nbrlist /opt/torvane/lldp.ini
check "the configuration, value store and logs stay" there /etc/torvane/lldp.ini \
  /etc/snmp/snmpd.conf.d/nbrmib.conf /var/lib/torvane/lldp /var/log/torvane
check "the units are masked while removed" \
  eval '[ "$(readlink "$root/etc/systemd/system/LLDPagent.service")" = /dev/null ]'
snapshot | sort > "$scratch/removed1"
check "dpkg -i after removal" dpkg_in -i "$deb"
check "dpkg -r again" dpkg_in -r torvane-discovery
snapshot | sort > "$scratch/removed2"
check "a second install and removal leaves what the first did" diff "$scratch/removed1" "$scratch/removed2"
check "dpkg --purge" dpkg_in --purge torvane-discovery
check "status: not installed" eval 'case "$(status_of)" in ""|*not-installed) true ;; *) false ;; esac'
snapshot | sort > "$scratch/purged1"
check "purge leaves the scratch root as it was" diff "$scratch/pristine" "$scratch/purged1"
forget_calls
check "install after purge" dpkg_in -i "$deb"
check "a first installation starts the agent's service" eval 'calls | grep -q "systemctl --quiet --system start LLDPagent.service"'
check "purge again" dpkg_in --purge torvane-discovery
snapshot | sort > "$scratch/purged2"
check "and again nothing is left" diff "$scratch/pristine" "$scratch/purged2"

echo "== lintian"
if command -v lintian >/dev/null 2>&1; then
  lintian --pedantic --fail-on error "$deb" > "$scratch/lintian.out" 2>&1; rc=$?
  sed 's/^/  /' "$scratch/lintian.out" | grep -v "running with root privileges"
  check "lintian finds no error" [ $rc -eq 0 ]
else
  echo "(lintian is missing)"
fi

if [ $failures -ne 0 ]; then
  echo "--- dpkg's last output"; cat "$scratch/dpkg.out"
  echo "--- the agent's output"; cat "$scratch/agent.out" 2>/dev/null | tail -20
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
