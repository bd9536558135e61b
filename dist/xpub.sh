#!/bin/sh
# Prints the user a print job runs as, and the X display it may use:
#
#   XUSER=<user name>
#   DISPLAY=<X display, for instance :0; empty for no display>
#
# and nothing when there is nobody to print as. zk_filter runs it as root with
# its own environment, once per job; the CUPS filter runs it as lp before it
# connects, to tell a user why a job cannot print.
#
# Who that is depends on the policy in /etc/tessalwine/xpub.conf:
#   desktop   the user of the active graphical session (the default)
#   fallback  that user when there is one, else the service account
#   server    always the service account (a print server, a shared computer)
# The service account (service_user, default tessalwine) is a system user
# with its own home; it prints without a display.
#
# The session comes from systemd-logind. A Wayland session has no X display
# of its own in logind; its Xwayland display is the lowest X socket in
# /tmp/.X11-unix that belongs to the session's user, and DISPLAY stays empty
# when there is none (Wine then prints without a display). Where logind is
# absent, the user is the owner of the active virtual terminal (see
# from_console); "who" is never asked, as any user can add to what it lists.

PATH=/usr/bin:/bin
export PATH
LC_ALL=C
export LC_ALL

X11_SOCKETS=/tmp/.X11-unix
ACTIVE_VT=/sys/class/tty/tty0/active
CONFIG=/etc/tessalwine/xpub.conf

# A name or display that could break the KEY=VALUE lines is not used.
is_clean() {
  case $1 in
    "" | *[!A-Za-z0-9._@:+-]*) return 1 ;;
  esac
  return 0
}

# Value of one property from "loginctl show-session" style output on stdin.
property() {
  sed -n "s/^$1=//p" | head -n 1
}

# The X sockets are believed only in a root-owned sticky directory, where
# no user can remove or replace another user's socket.
x11_dir_sound() {
  [ -d "$X11_SOCKETS" ] && [ ! -L "$X11_SOCKETS" ] && [ -k "$X11_SOCKETS" ] &&
    [ "$(stat -c %u "$X11_SOCKETS")" = 0 ]
}

# The lowest-numbered X socket in X11_SOCKETS owned by uid $1, as ":N"; a
# link is not a socket of anybody's.
x_display_of() {
  x11_dir_sound || return 1
  best=
  for sock in "$X11_SOCKETS"/X*; do
    [ ! -L "$sock" ] && [ -S "$sock" ] || continue
    [ "$(stat -c %u "$sock" 2>/dev/null)" = "$1" ] || continue
    n=${sock##*/X}
    case $n in "" | *[!0-9]*) continue ;; esac
    if [ -z "$best" ] || [ "$n" -lt "$best" ]; then best=$n; fi
  done
  [ -n "$best" ] && echo ":$best"
}

emit() {
  is_clean "$1" || return 1
  [ -z "$2" ] || is_clean "$2" || return 1
  printf 'XUSER=%s\nDISPLAY=%s\n' "$1" "$2"
}

# Returns 2 when logind does not run (systemd is not the init system), 0
# otherwise (also when nobody is logged in graphically, or there is no seat0).
from_logind() {
  if ! seat=$(loginctl show-seat seat0 -p ActiveSession 2>/dev/null); then
    [ -d /run/systemd/system ] && return 0
    return 2
  fi
  id=$(echo "$seat" | property ActiveSession)
  [ -n "$id" ] || return 0
  info=$(loginctl show-session "$id" -p Name -p User -p Type -p Class \
    -p Display -p State -p Remote 2>/dev/null) || return 0
  [ "$(echo "$info" | property Remote)" = yes ] && return 0
  # The login screen's own session (class greeter) is nobody's desktop.
  class=$(echo "$info" | property Class)
  [ -z "$class" ] || [ "$class" = user ] || return 0
  state=$(echo "$info" | property State)
  [ -z "$state" ] || [ "$state" = active ] || return 0
  name=$(echo "$info" | property Name)
  display=$(echo "$info" | property Display)
  case $(echo "$info" | property Type) in
    x11)
      [ -n "$display" ] && emit "$name" "$display" ;;
    wayland)
      uid=$(echo "$info" | property User)
      [ -n "$display" ] || display=$(x_display_of "$uid")
      [ -n "$uid" ] && emit "$name" "$display" ;;
  esac
  return 0
}

# Without logind, the desktop user is the owner of the active virtual
# terminal: login gives the terminal to the user who logged in on it, and no
# user can take one that is not theirs. (utmp, which "who" reads, proves
# nothing: the setgid helper utempter lets any user add a line to it.) The
# display is the user's own X server's (rootless Xorg, Xwayland), else one
# that root runs (Xorg started by startx), else none; one that another user
# runs is never used. A display manager that leaves the terminal to root,
# and a machine without virtual terminals, give nobody: use logind there, or
# the fallback or server policy.
from_console() {
  vt=$(head -c 16 "$ACTIVE_VT" 2>/dev/null)
  case $vt in tty[1-9] | tty[1-9][0-9]) ;; *) return 0 ;; esac
  [ ! -L "/dev/$vt" ] && [ -c "/dev/$vt" ] || return 0
  [ "$(stat -c %t "/dev/$vt")" = 4 ] || return 0
  uid=$(stat -c %u "/dev/$vt")
  [ -n "$uid" ] && [ "$uid" != 0 ] || return 0
  name=$(getent passwd "$uid" | cut -d: -f1)
  display=$(x_display_of "$uid") || display=$(x_display_of 0) || display=
  emit "$name" "$display"
}

# Value of one "key=value" setting of the configuration file, blanks around
# the value removed; the file is read, never run.
setting() {
  [ -r "$CONFIG" ] || return 0
  sed -n "s/^[[:space:]]*$1[[:space:]]*=[[:space:]]*//p" "$CONFIG" | tail -n 1 \
    | sed 's/[[:space:]]*$//'
}

# The service account, when it exists and is not root: jobs must never run
# with root's rights.
from_service_account() {
  uid=$(getent passwd "$1" | cut -d: -f3)
  if [ -z "$uid" ] || [ "$uid" = 0 ]; then
    echo "xpub: service account '$1' does not exist or is root" >&2
    return 0
  fi
  emit "$1" ""
}

from_desktop() {
  from_logind
  [ $? -eq 2 ] && from_console
}

policy=$(setting policy)
service=$(setting service_user)
service=${service:-tessalwine}
case ${policy:-desktop} in
  desktop) from_desktop ;;
  fallback)
    found=$(from_desktop)
    if [ -n "$found" ]; then echo "$found"; else from_service_account "$service"; fi ;;
  server) from_service_account "$service" ;;
  *)
    echo "xpub: unknown policy '$policy' in $CONFIG; using desktop" >&2
    from_desktop ;;
esac
exit 0
