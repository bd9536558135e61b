#!/bin/bash
# The staged systemd units pass systemd-analyze verify (with the staged
# daemon laid over /usr/sbin in a private mount namespace, so that the
# ExecStart binary exists) and keep the settings the daemon and its jobs
# depend on.
#
#   units_test.sh <stage>
set -uo pipefail
. "$(dirname "$(readlink -f "$0")")/../../rigs/check.sh"
stage=$(readlink -f "$1")
units=$(dirname "$(find "$stage" -name zk_filter.socket | head -n 1)")
[ -f "$units/zk_filter.service" ] || { echo "FAIL no staged units under $stage"; exit 1; }

out=$(unshare -m --propagation private /bin/bash -c '
  mount -t overlay -o lowerdir="$1/usr/sbin":/usr/sbin overlay /usr/sbin || exit 99
  timeout 60 systemd-analyze verify "$2/zk_filter.socket" "$2/zk_filter.service"
' verify "$stage" "$units" 2>&1)
rc=$?
if [ "$rc" = 0 ] && [ -z "$out" ]; then
  echo "ok   systemd-analyze verify"
else
  echo "FAIL systemd-analyze verify (status $rc)"; echo "$out"; failures=$((failures + 1))
fi

setting() { # setting <file> <Key>: the value of the last assignment
  sed -n "s/^$2=//p" "$units/$1" | tail -n 1
}
# unit_is <unit> <key> <got> <wanted>
unit_is() { expect "$1 $2=$4" "$4" "$3"; }
unit_is zk_filter.socket ListenStream "$(setting zk_filter.socket ListenStream)" @tessal_zk_filter.sock
unit_is zk_filter.socket PassCredentials "$(setting zk_filter.socket PassCredentials)" yes
unit_is zk_filter.service ExecStart "$(setting zk_filter.service ExecStart)" /usr/sbin/zk_filter
unit_is zk_filter.service KillMode "$(setting zk_filter.service KillMode)" process
# Jobs run Wine in the user's home, with X and wineserver sockets in /tmp.
for key in ProtectHome PrivateTmp PrivateNetwork MemoryDenyWriteExecute SystemCallFilter; do
  unit_is zk_filter.service "$key" "$(setting zk_filter.service "$key")" ""
done

check_done
