#!/bin/bash
# A private cupsd for tests, benchmarks and the demo.  Everything lives in
# one instance directory; the host's CUPS is not touched.
#
#   cupsd-rig.sh start DIR     configure and start cupsd; prints its socket
#   cupsd-rig.sh stop DIR      stop it
#
# Jobs for a queue whose device URI is tessalout:/some/dir are written by
# the rig's backend to /some/dir/job-<id>.prn, one file per job (the
# directory must be writable by lp).  Use the CUPS tools with
# CUPS_SERVER=DIR/run/cups.sock.  With CUPSD_RIG_LISTEN=ADDRESS:PORT
# cupsd also listens there, so that queues shared with
# "lpadmin -p Q -o printer-is-shared=true" serve other machines over IPP;
# CUPS's own ipp backend is there for queues that print to such a machine.
# With CUPSD_RIG_LOCAL set (only in a network namespace of its own) cupsd
# also listens on 127.0.0.1:631: CUPS names a queue by a network address,
# and "lpoptions -l" cannot fetch its PPD over the socket alone.
set -euo pipefail

write_config() {
  local dir=$1
  mkdir -p "$dir"/{etc/ppd,bin/backend,spool/tmp,tmp,cache,state,log,run}
  chmod 0755 "$dir" "$dir"/{etc,bin,bin/backend,cache,state,log,run}
  chmod 1777 "$dir/tmp"
  chown root:lp "$dir/spool" "$dir/spool/tmp" "$dir/cache" "$dir/state"
  chmod 0710 "$dir/spool"
  chmod 01770 "$dir/spool/tmp"
  chmod 0770 "$dir/cache" "$dir/state"
  # The system's filters and helpers, our own backends.
  local sub
  for sub in filter cgi-bin daemon notifier monitor driver; do
    [ -e "/usr/lib/cups/$sub" ] && ln -sfn "/usr/lib/cups/$sub" "$dir/bin/$sub"
  done
  ln -sfn /usr/lib/cups/backend/ipp "$dir/bin/backend/ipp"
  cat >"$dir/bin/backend/tessalout" <<'BACKEND'
#!/bin/sh
# tessalout:/DIR writes each job's output to DIR/job-<id>.prn.
if [ $# -eq 0 ]; then
  echo 'direct tessalout "Unknown" "Test output files"'
  exit 0
fi
out=${DEVICE_URI#tessalout:}
tmp="$out/.job-$1.part"
if [ $# -ge 6 ]; then cat "$6" >"$tmp"; else cat >"$tmp"; fi || exit 1
mv -f "$tmp" "$out/job-$1.prn"
BACKEND
  chmod 0755 "$dir/bin/backend/tessalout"
  cat >"$dir/etc/cups-files.conf" <<CONF
ServerRoot $dir/etc
ServerBin $dir/bin
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
Printcap $dir/printcap
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
User lp
Group lp
SystemGroup root
FileDevice Yes
CONF
  cat >"$dir/etc/cupsd.conf" <<CONF
LogLevel debug
# Never rotate error_log: jobs are followed by reading it, and a rotation
# in the middle of a long job would hide its end.
MaxLogSize 0
Listen $dir/run/cups.sock
${CUPSD_RIG_LISTEN:+Listen $CUPSD_RIG_LISTEN}
${CUPSD_RIG_LOCAL:+Listen 127.0.0.1:631}
Browsing No
WebInterface No
DefaultAuthType None
ErrorPolicy abort-job
MaxJobs 0
PreserveJobHistory Yes
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
CONF
}

start() {
  local dir=$1
  write_config "$dir"
  cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" \
    </dev/null >>"$dir/log/cupsd.out" 2>&1 &
  echo $! >"$dir/run/cupsd.pid"
  local i
  for i in $(seq 1 200); do
    # lpstat -r exits 0 whether or not the scheduler answers: read its words.
    if [ "$(CUPS_SERVER=$dir/run/cups.sock timeout 5 lpstat -r 2>/dev/null)" \
         = "scheduler is running" ]; then
      echo "$dir/run/cups.sock"
      return 0
    fi
    kill -0 "$(cat "$dir/run/cupsd.pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "cupsd-rig: cupsd did not start; see $dir/log" >&2
  tail -n 20 "$dir/log/error_log" "$dir/log/cupsd.out" >&2 2>/dev/null || true
  return 1
}

stop() {
  local dir=$1 pid
  pid=$(cat "$dir/run/cupsd.pid" 2>/dev/null) || return 0
  kill "$pid" 2>/dev/null || return 0
  local i
  for i in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -9 "$pid" 2>/dev/null || true
}

case ${1:-} in
  start) start "$(realpath -m "$2")" ;;
  stop) stop "$(realpath -m "$2")" ;;
  *) echo "usage: cupsd-rig.sh start|stop DIR" >&2; exit 2 ;;
esac
