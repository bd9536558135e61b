# Sourced by the CUPS demo and benchmarks: runs the installed project inside
# private mount and network namespaces, so the host stays untouched.
#
#   sandbox_setup STATE [STAGE] mount STAGE (a DESTDIR install) over /usr and
#                               /opt, add the desktop user, log them in on the
#                               console, start zk_filter and a private cupsd; without
#                               STAGE the system's installed files are used
#   sandbox_queue NAME PPD      create a queue whose jobs land in files
#   sandbox_print QUEUE FILE [lp options...]
#                               print and wait; sets JOB_ID, JOB_OUT, JOB_STATE
#   sandbox_stop                stop the daemons and the user's Wine server
#   sandbox_policy POLICY       whom jobs run as (/etc/tessalwine/xpub.conf)
#   sandbox_logout              nobody is logged in on the desktop any more
#
# The mounts, which the daemon rig (tests/support/rig.cpp) makes with these
# same functions, SANDBOX_TMP set to its scratch directory:
#   sandbox_enter               every mount private, a tmpfs on SANDBOX_TMP
#   sandbox_tmpfs DIR           an empty tmpfs on DIR
#   sandbox_overlay DIR LOWER   LOWER (a colon list, top first) over DIR,
#                               writable; the writes land in SANDBOX_TMP
#   sandbox_user_db             copies of /etc/passwd and /etc/group in
#                               SANDBOX_TMP, bind-mounted over the originals
#
# The caller must already be in its own namespaces (unshare -m -n) as root.
# With SANDBOX_NO_DAEMON set, the caller starts zk_filter itself.
# STATE keeps the desktop user's home (and so the Wine prefix) across runs.

SANDBOX_USER=tessaldemo
SANDBOX_UID=1650
# The print service account; its home is $SANDBOX_STATE/service.
SANDBOX_SERVICE_USER=tessalsvc
SANDBOX_SERVICE_UID=1651

sandbox_log() { printf '%s\n' "$*" >&2; }

# Nothing mounted or unmounted from here on reaches the host.
sandbox_private() { mount --make-rprivate /; }

sandbox_enter() {
  sandbox_private
  [ -d "$SANDBOX_TMP" ] || mkdir -p "$SANDBOX_TMP"
  sandbox_tmpfs "$SANDBOX_TMP"
}

sandbox_tmpfs() { mount -t tmpfs -o mode=0755 tessaltmp "$1"; }

sandbox_overlay() {
  local target=$1 lower=$2 n=${1//\//_}
  while [ -e "$SANDBOX_TMP/up$n" ]; do n=$n+; done
  mkdir -p "$SANDBOX_TMP/up$n" "$SANDBOX_TMP/work$n"
  mount -t overlay "tessal$n" \
    -o "lowerdir=$lower,upperdir=$SANDBOX_TMP/up$n,workdir=$SANDBOX_TMP/work$n" "$target"
}

sandbox_user_db() {
  cp /etc/passwd /etc/group "$SANDBOX_TMP/"
  mount --bind "$SANDBOX_TMP/passwd" /etc/passwd
  mount --bind "$SANDBOX_TMP/group" /etc/group
}

sandbox_users() {
  local home=$SANDBOX_STATE/home/$SANDBOX_USER
  sandbox_user_db
  echo "$SANDBOX_USER:x:$SANDBOX_UID:$SANDBOX_UID:Tessal demo user:$home:/bin/bash" >>"$SANDBOX_TMP/passwd"
  echo "$SANDBOX_USER:x:$SANDBOX_UID:" >>"$SANDBOX_TMP/group"
  echo "$SANDBOX_SERVICE_USER:x:$SANDBOX_SERVICE_UID:$SANDBOX_SERVICE_UID:print service:$SANDBOX_STATE/service:/usr/sbin/nologin" >>"$SANDBOX_TMP/passwd"
  echo "$SANDBOX_SERVICE_USER:x:$SANDBOX_SERVICE_UID:" >>"$SANDBOX_TMP/group"
  mkdir -p "$SANDBOX_STATE/service"
  chown "$SANDBOX_SERVICE_UID:$SANDBOX_SERVICE_UID" "$SANDBOX_STATE/service"
  chmod 0750 "$SANDBOX_STATE/service"
  mkdir -p "$home"
  chown "$SANDBOX_UID:$SANDBOX_UID" "$SANDBOX_STATE/home" "$home"
  chmod 0755 "$SANDBOX_STATE/home" "$home"
  sandbox_overlay /run /run
  sandbox_console
}

# The desktop user is logged in on the active virtual terminal, tty63, which
# is what the active-user probe believes where logind does not run. The terminal (a
# node of the sandbox's own) and the sysfs file that names the active one
# are bind-mounted over the host's, or made in a tmpfs where the host has
# none.
sandbox_console() {
  local node=$SANDBOX_TMP/console-tty63 active=$SANDBOX_TMP/console-active
  mknod -m 0620 "$node" c 4 63
  chown "$SANDBOX_UID" "$node"
  echo tty63 >"$active"
  if [ ! -e /dev/tty63 ]; then
    sandbox_own_dev
    : >/dev/tty63
  fi
  mount --bind "$node" /dev/tty63
  if [ -e /sys/class/tty/tty0/active ]; then
    mount --bind "$active" /sys/class/tty/tty0/active
  else
    sandbox_tmpfs /sys/class/tty
    mkdir /sys/class/tty/tty0
    cp "$active" /sys/class/tty/tty0/active
  fi
  # The host's X servers stay out: the user prints without a display.
  if [ -d /tmp/.X11-unix ]; then sandbox_tmpfs /tmp/.X11-unix; fi
}

# A tmpfs on /dev that holds everything the host's /dev does, bound to it.
sandbox_own_dev() {
  local host=$SANDBOX_TMP/host-dev entry name
  mkdir "$host"
  mount --rbind /dev "$host"
  mount -t tmpfs -o mode=0755 tessaldev /dev
  for entry in "$host"/* "$host"/.[!.]*; do
    name=${entry##*/}
    if [ -L "$entry" ]; then
      cp -P "$entry" "/dev/$name"
    elif [ -d "$entry" ]; then
      mkdir "/dev/$name" && mount --rbind "$entry" "/dev/$name"
    elif [ -e "$entry" ]; then
      : >"/dev/$name" && mount --bind "$entry" "/dev/$name"
    fi
  done
}

sandbox_setup() {
  SANDBOX_STATE=$1
  local stage=${2:-}
  mkdir -p "$SANDBOX_STATE"
  chmod 0755 "$SANDBOX_STATE"
  SANDBOX_TMP=$SANDBOX_STATE/tmp
  sandbox_enter
  ip link set lo up 2>/dev/null || true
  if [ -n "$stage" ]; then
    sandbox_overlay /usr "$stage/usr:/usr"
    sandbox_overlay /opt "$stage/opt:/opt"
  fi
  sandbox_overlay /etc /etc
  sandbox_users
  SANDBOX_DAEMON=
  if [ -z "${SANDBOX_NO_DAEMON:-}" ]; then
    /usr/sbin/zk_filter </dev/null >>"$SANDBOX_TMP/zk_filter.log" 2>&1 &
    SANDBOX_DAEMON=$!
  fi
  export CUPS_SERVER
  CUPS_SERVER=$(CUPSD_RIG_LOCAL=1 "$SANDBOX_RIG_DIR/cupsd-rig.sh" start "$SANDBOX_TMP/cups") ||
    return 1
  SANDBOX_OUT=$SANDBOX_TMP/out
  mkdir -p "$SANDBOX_OUT"
  chown lp "$SANDBOX_OUT"
}

sandbox_policy() {
  mkdir -p /etc/tessalwine
  printf 'policy=%s\nservice_user=%s\n' "$1" "$SANDBOX_SERVICE_USER" >/etc/tessalwine/xpub.conf
}

# Gives the console back to root and hides logind, so that the active-user
# script finds nobody whatever the host's own sessions are.
sandbox_logout() {
  chown 0 "$SANDBOX_TMP/console-tty63"
  [ -d /run/systemd ] && mount -t tmpfs -o mode=0755 tessalnologind /run/systemd
  printf '#!/bin/sh\nexit 1\n' >/usr/bin/loginctl
  chmod 0755 /usr/bin/loginctl
}

sandbox_queue() {
  tessal-addqueue "$1" "$2" "tessalout:$SANDBOX_OUT" >/dev/null
}

# Prints FILE on QUEUE and waits for the job to end, showing its status
# messages as they change.  Sets JOB_ID, JOB_OUT (the backend's file) and
# JOB_STATE (completed, stopped, canceled or aborted; "" after 15 minutes).
sandbox_print() {
  local queue=$1 file=$2
  shift 2
  local out log=$SANDBOX_TMP/cups/log/error_log
  out=$(lp -d "$queue" "$@" "$file") || return 1
  JOB_ID=${out#request id is "$queue"-}
  JOB_ID=${JOB_ID%% *}
  JOB_OUT=$SANDBOX_OUT/job-$JOB_ID.prn
  JOB_STATE=
  local shown=0 i msgs n
  for i in $(seq 1 4500); do
    msgs=$(sed -n "s/.*\[Job $JOB_ID\] Set job-printer-state-message to \"\(.*\)\", current level=.*/\1/p" "$log")
    n=$(printf '%s' "$msgs" | grep -c . || true)
    if [ "$n" -gt "$shown" ]; then
      printf '%s\n' "$msgs" | tail -n +"$((shown + 1))" | sed "s/\\\\'/'/g; s/^/    /" >&2
      shown=$n
    fi
    if grep -q "\[Job $JOB_ID\] Job completed\." "$log"; then JOB_STATE=completed
    elif grep -q "\[Job $JOB_ID\] Job stopped" "$log"; then JOB_STATE=stopped
    elif grep -qi "\[Job $JOB_ID\] .*canceled" "$log"; then JOB_STATE=canceled
    elif grep -qi "\[Job $JOB_ID\] .*aborted" "$log"; then JOB_STATE=aborted
    fi
    [ -n "$JOB_STATE" ] && return 0
    sleep 0.2
  done
}

# Stops the Wine servers of the desktop user and the service account, which
# otherwise stay up a while for the next job.
sandbox_stop_wine() {
  local prefix who
  for who in "$SANDBOX_UID:$SANDBOX_STATE/home/$SANDBOX_USER" \
    "$SANDBOX_SERVICE_UID:$SANDBOX_STATE/service"; do
    for prefix in "${who#*:}/.tessalwine"/*/; do
      [ -f "$prefix/system.reg" ] || continue
      setpriv --reuid="${who%%:*}" --regid="${who%%:*}" --clear-groups \
        env HOME="${who#*:}" WINEPREFIX="${prefix%/}" \
        wineserver -k </dev/null >/dev/null 2>&1 || true
    done
  done
}

sandbox_stop() {
  "$SANDBOX_RIG_DIR/cupsd-rig.sh" stop "$SANDBOX_TMP/cups" || true
  [ -n "${SANDBOX_DAEMON:-}" ] && kill "$SANDBOX_DAEMON" 2>/dev/null || true
  sandbox_stop_wine
}
