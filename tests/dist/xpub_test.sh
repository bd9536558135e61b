#!/bin/bash
# The active-user probe against stub loginctl and who, each case in its own
# private mount namespace with a private /tmp, /dev and /sys/class, so that
# the host's tools, sessions, terminals and X sockets stay out of it.
#
#   xpub_test.sh <xpub.sh>
set -uo pipefail
. "$(dirname "$(readlink -f "$0")")/../../rigs/check.sh"
xpub=$(readlink -f "$1")
work=$(mktemp -d /tmp/xpub-test.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Writes the stub for one tool: a shell script with the given body.
stub() {
  printf '#!/bin/sh\n%s\n' "$2" >"$work/$1"
  chmod 755 "$work/$1"
}

# A loginctl that only knows the listed sessions; "none" has no seat answer.
loginctl_stub() {
  local active=$1; shift
  local body="case \"\$1 \$2\" in
  'show-seat seat0') echo 'ActiveSession=$active' ;;"
  local s
  for s in "$@"; do
    local id=${s%%|*}
    body+="
  'show-session $id') printf '%s\n' ${s#*|} ;;"
  done
  body+="
  *) exit 1 ;;
esac"
  stub loginctl "$body"
}

logind_absent() {
  stub loginctl 'echo "System has not been booted with systemd as init system (PID 1). Can'"'"'t operate." >&2; exit 1'
}

who_lists() {
  stub who "printf '%s' '$1'"
}

# Runs the probe as zk_filter does (/bin/sh, root) with the stubs in place.
# X sockets to create: "name:uid" pairs, or "name@target" for a link.
# XPUB_CONF, when set, is the content of /etc/tessalwine/xpub.conf;
# XPUB_PASSWD lines are added to /etc/passwd. VT=ttyN:uid makes ttyN the
# active virtual terminal, owned by uid; X11_OWNER owns /tmp/.X11-unix.
run_probe() {
  unshare -m --propagation private /bin/bash -c '
    set -e
    work=$1 xpub=$2; shift 2
    # The checkout itself may live under /tmp, which is about to be hidden.
    exec 3<"$xpub"
    mount --bind "$work/loginctl" /usr/bin/loginctl
    mount --bind "$work/who" /usr/bin/who
    mount -t tmpfs tmpfs /tmp
    mount -t tmpfs tmpfs /run
    mount -t tmpfs tmpfs /sys/class
    mount -t tmpfs tmpfs /dev
    mknod -m 666 /dev/null c 1 3
    if [ -n "${VT:-}" ]; then
      mkdir -p /sys/class/tty/tty0
      echo "${VT%%:*}" >/sys/class/tty/tty0/active
      vt=${VT%%:*}
      mknod -m 620 "/dev/$vt" c 4 "${vt#tty}"
      chown "${VT#*:}" "/dev/${VT%%:*}"
    fi
    cat <&3 >/run/xpub.sh
    exec 3<&-
    mkdir /run/etc-up /run/etc-work
    mount -t overlay -o lowerdir=/etc,upperdir=/run/etc-up,workdir=/run/etc-work etc-overlay /etc
    if [ -n "${XPUB_CONF:-}" ]; then
      mkdir -p /etc/tessalwine
      printf "%s\n" "$XPUB_CONF" >/etc/tessalwine/xpub.conf
    fi
    [ -z "${XPUB_PASSWD:-}" ] || printf "%s\n" "$XPUB_PASSWD" >>/etc/passwd
    [ -z "${LOGIND_RUNS:-}" ] || mkdir -p /run/systemd/system
    mkdir -m 1777 /tmp/.X11-unix
    chown "${X11_OWNER:-0}" /tmp/.X11-unix
    for s in "$@"; do
      case $s in *@*) ln -s "/tmp/.X11-unix/${s#*@}" "/tmp/.X11-unix/${s%@*}"; continue ;; esac
      /usr/bin/python3 -c "import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])" \
        "/tmp/.X11-unix/${s%%:*}"
      chown "${s#*:}" "/tmp/.X11-unix/${s%%:*}"
    done
    timeout 20 /bin/sh /run/xpub.sh
  ' probe "$work" "$xpub" "$@" || echo "(probe or its namespace failed: $?)"
}

x11_alice='2|Name=alice User=1000 Type=x11 Display=:0 State=active Remote=no'
wayland_alice='2|Name=alice User=1000 Type=wayland Display= State=active Remote=no'
who_stub_nobody() { who_lists ''; }

# logind present
who_lists 'should-not-be-used :5 2026-12-08 09:00 (:5)
'
loginctl_stub 2 "$x11_alice"
expect "active X11 session" $'XUSER=alice\nDISPLAY=:0' "$(run_probe)"

loginctl_stub 2 "$wayland_alice"
expect "Wayland session: its user's lowest X socket is Xwayland" \
  $'XUSER=alice\nDISPLAY=:1' "$(run_probe X0:0 X3:1000 X1:1000 X2:1001)"
expect "Wayland session without Xwayland: no display" \
  $'XUSER=alice\nDISPLAY=' "$(run_probe X0:0)"

loginctl_stub '' "$x11_alice"
expect "no active session on the seat" "" "$(run_probe)"

loginctl_stub 5 '3|Name=bob User=1001 Type=x11 Display=:1 State=online Remote=no' \
  '5|Name=alice User=1000 Type=x11 Display=:0 State=active Remote=no'
expect "two sessions, the active one wins" $'XUSER=alice\nDISPLAY=:0' "$(run_probe)"
loginctl_stub 3 '3|Name=bob User=1001 Type=x11 Display=:1 State=active Remote=no' \
  '5|Name=alice User=1000 Type=x11 Display=:0 State=online Remote=no'
expect "two sessions, the other one active" $'XUSER=bob\nDISPLAY=:1' "$(run_probe)"

loginctl_stub 4 '4|Name=carol User=1002 Type=tty Display= State=active Remote=no'
expect "text console session is not graphical" "" "$(run_probe)"
loginctl_stub 1 '1|Name=Debian-gdm User=117 Type=wayland Class=greeter Display= State=active Remote=no'
expect "the login screen is nobody's desktop" "" "$(run_probe X0:117)"
loginctl_stub 4 '4|Name=carol User=1002 Type=x11 Display=:10 State=active Remote=yes'
expect "remote session is not the desktop" "" "$(run_probe)"
loginctl_stub 4 '4|Name=bad\nXUSER=root User=1002 Type=x11 Display=:0 State=active Remote=no'
expect "a user name with characters no user name has is refused" "" "$(run_probe)"

# logind runs, but the machine has no seat0: "who" is not asked
logind_absent
who_lists 'dave     tty7         2026-12-08 09:00 (:0)
'
expect "logind without seat0: nobody" "" "$(LOGIND_RUNS=1 run_probe)"

# logind absent: the owner of the active virtual terminal, on their own X
# server or root's. "who" names someone else on every line: utmp is forgeable.
export XPUB_PASSWD='dave:x:64003:64003::/home/dave:/bin/sh
mallory:x:64004:64004::/home/mallory:/bin/sh'
who_lists 'mallory  tty7         2026-12-08 09:00 (:0)
mallory  :1           2026-12-08 09:30 (:1)
'
expect "no logind: the active terminal's owner on root's X server" \
  $'XUSER=dave\nDISPLAY=:0' "$(VT=tty7:64003 run_probe X0:0)"
expect "no logind: the user's own X server comes first" \
  $'XUSER=dave\nDISPLAY=:2' "$(VT=tty2:64003 run_probe X0:0 X2:64003 X3:64003)"
expect "no logind: another user's X server, or a link, is never the display" \
  $'XUSER=dave\nDISPLAY=:4' "$(VT=tty7:64003 run_probe X0:64004 X1@X4 X4:0)"
expect "no logind: the terminal is root's, whatever utmp says" "" \
  "$(VT=tty7:0 run_probe X0:0 X1:64004)"
expect "no logind: no active terminal, whatever utmp says" "" "$(run_probe X0:0 X1:64004)"
expect "no logind: no X server of theirs or root's: no display" $'XUSER=dave\nDISPLAY=' \
  "$(VT=tty3:64003 run_probe X1:64004)"
expect "no logind: X sockets in a directory a user owns are not believed" $'XUSER=dave\nDISPLAY=' \
  "$(X11_OWNER=64004 VT=tty7:64003 run_probe X0:0 X1:64003)"

# Policies. The service account exists; logind has alice on the desktop, or
# nobody.
export XPUB_PASSWD='tessalwine:x:996:996::/var/lib/tessalwine:/usr/sbin/nologin
rootish:x:0:0::/root:/bin/sh'
loginctl_stub 2 "$x11_alice"
expect "no configuration file: desktop" $'XUSER=alice\nDISPLAY=:0' "$(run_probe)"
expect "desktop policy" $'XUSER=alice\nDISPLAY=:0' "$(XPUB_CONF='policy = desktop' run_probe)"
expect "fallback with a desktop user" $'XUSER=alice\nDISPLAY=:0' \
  "$(XPUB_CONF='policy=fallback' run_probe)"
expect "server policy: the service account even with a desktop user, no display" \
  $'XUSER=tessalwine\nDISPLAY=' "$(XPUB_CONF=$'# print server\npolicy=server' run_probe)"
expect "unknown policy: desktop" $'XUSER=alice\nDISPLAY=:0' \
  "$(XPUB_CONF='policy=servr' run_probe 2>/dev/null)"
loginctl_stub '' "$x11_alice"
expect "desktop policy, nobody logged in" "" "$(XPUB_CONF='policy=desktop' run_probe)"
expect "fallback, nobody logged in: the service account" $'XUSER=tessalwine\nDISPLAY=' \
  "$(XPUB_CONF='policy=fallback' run_probe)"
expect "a service account of another name" $'XUSER=alice\nDISPLAY=' \
  "$(XPUB_CONF=$'policy=server\nservice_user=alice' \
    XPUB_PASSWD='alice:x:1000:1000::/home/alice:/bin/sh' run_probe)"
expect "a missing service account: nobody" "" \
  "$(XPUB_CONF=$'policy=server\nservice_user=ghost' run_probe 2>/dev/null)"
expect "a service account that is root: nobody" "" \
  "$(XPUB_CONF=$'policy=server\nservice_user=rootish' run_probe 2>/dev/null)"
logind_absent
who_lists 'mallory  tty7         2026-12-08 09:00 (:0)
'
expect "fallback without logind: the console user" $'XUSER=dave\nDISPLAY=:0' \
  "$(XPUB_PASSWD+=$'\ndave:x:64003:64003::/home/dave:/bin/sh' XPUB_CONF='policy=fallback' \
    VT=tty7:64003 run_probe X0:0)"
expect "fallback without logind, nobody on the console: the service account" \
  $'XUSER=tessalwine\nDISPLAY=' "$(XPUB_CONF='policy=fallback' run_probe X0:0 X1:64004)"

check_done
