#!/bin/bash
# The sample package's run.sh and the Wine launcher, with real Wine, run as
# an unprivileged user (nobody) as zk_filter would run them.
#
#   package_test.sh <stage> <crash.exe>
set -uo pipefail
. "$(dirname "$(readlink -f "$0")")/../../rigs/check.sh"
stage=$(readlink -f "$1")
crash_exe=$(readlink -f "$2")

# The staged files must be where they are installed (the launcher and run.sh
# source /usr/lib/tessalwine/wine-env.sh): run in a private mount namespace
# with the stage laid over /usr.
if [ -z "${PACKAGE_TEST_INSIDE:-}" ]; then
  exec unshare -m --propagation private env PACKAGE_TEST_INSIDE=1 "$0" "$@"
fi
mount -t overlay tessal-usr -o lowerdir="$stage/usr:/usr" /usr || exit 1
pkg=$stage/opt/tessalwine/printer_drv/generic-ps
launcher=$stage/usr/bin/tessal-wine
user=nobody
uid=$(id -u $user) gid=$(id -g $user)

work=$(mktemp -d /tmp/package-test.XXXXXX)
chmod 755 "$work"

cleanup() {
  local prefix
  for prefix in "$work"/*/.tessalwine/generic-ps; do
    [ -d "$prefix" ] && as_user "$work" env WINEPREFIX="$prefix" timeout 20 wineserver -k 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT


# Runs a command as the test user with only HOME set, the way the worker
# starts the configure step.
as_user() {
  local home=$1; shift
  setpriv --reuid="$uid" --regid="$gid" --clear-groups env -i HOME="$home" "$@"
}

new_home() {
  mkdir -m 755 "$work/$1"
  chown "$uid:$gid" "$work/$1"
  echo "$work/$1"
}

# run_sh <home> <model>: stdout in $out, stderr in $err, status in $rc.
run_sh() {
  as_user "$1" timeout 300 /bin/bash "$pkg/run.sh" "$2" >"$work/out" 2>"$work/err"
  rc=$?
  out=$(cat "$work/out") err=$(cat "$work/err")
}

has_printer() {
  grep -qF "[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\$2]" \
    "$1/.tessalwine/generic-ps/system.reg"
}

registry_value() { # registry_value <home> <key-suffix> <value-name>
  KEY="$2]" NAME="\"$3\"" awk '
    index($0, "[") == 1 { inkey = index($0, ENVIRON["KEY"]) > 0 }
    inkey && index($0, ENVIRON["NAME"] "=") == 1 {
      print substr($0, length(ENVIRON["NAME"]) + 2); exit
    }
  ' "$1/.tessalwine/generic-ps/system.reg"
}

# --- The launcher refuses what it cannot run, and says so on stderr only.
home=$(new_home launcher)
out=$(as_user "$home" env WINEPREFIX="$home/.tessalwine/generic-ps" DISPLAY= \
  timeout 60 "$launcher" "$crash_exe" img 2>"$work/err")
rc=$?
detail="rc=$rc out=$out err=$(cat "$work/err")"
check "launcher: no prefix yet gives status 2 and no output" \
  test "$rc" = 2 -a -z "$out" -a -s "$work/err"

# --- First run sets everything up, even when Wine's first start in the new
# prefix fails, as it now and then does: here a Wine whose first wineboot
# leaves the prefix marked as set up but without its system files.
cp /usr/lib/tessalwine/wine-env.sh "$work/wine-env-real.sh"
printf '. %s/wine-env-real.sh\nexport TESSAL_WINE_REAL=$TESSAL_WINE TESSAL_WINE=%s/flaky-wine\n' \
  "$work" "$work" >"$work/wine-env-flaky.sh"
cat >"$work/flaky-wine" <<EOF
#!/bin/sh
if [ "\$1" = wineboot ] && mkdir "$work/wineboot-failed" 2>/dev/null; then
  mkdir -p "\$WINEPREFIX/drive_c/windows/system32"
  stat -c %Y /usr/share/wine/wine.inf >"\$WINEPREFIX/.update-timestamp"
  echo "wine: could not load kernel32.dll, status c0000135" >&2
  exit 53
fi
exec "\$TESSAL_WINE_REAL" "\$@"
EOF
chmod 755 "$work/flaky-wine" "$work/wine-env-real.sh" "$work/wine-env-flaky.sh"
chmod 777 "$work"
home=$(new_home first)
mount --bind "$work/wine-env-flaky.sh" /usr/lib/tessalwine/wine-env.sh
run_sh "$home" "Tessal Generic"
umount /usr/lib/tessalwine/wine-env.sh
chmod 755 "$work"
prefix=$home/.tessalwine/generic-ps
detail="rc=$rc err=$err log=$(cat "$prefix/tessal-setup.log" 2>/dev/null)"
check "first run succeeds without writing to stdout" test "$rc" = 0 -a -z "$out"
check "first run starts Wine again after a failed first start" \
  eval 'test -d "$work/wineboot-failed" && grep -q "trying once more" "$prefix/tessal-setup.log"'
check "first run creates the user's prefix" test -O "$prefix" -o "$(stat -c %u "$prefix" 2>/dev/null)" = "$uid"
check "first run adds the printer" has_printer "$home" "Tessal Generic"
port=$(registry_value "$home" 'Printers\\Tessal Generic' Port)
check "the printer's port sends the driver's output to stdout" test "$port" = '"|cat"'
driver=$(registry_value "$home" 'Printers\\Tessal Generic' 'Printer Driver')
check "the printer uses the package's driver" test "$driver" = '"Tessal Generic PostScript"'
debugger=$(registry_value "$home" 'CurrentVersion\\AeDebug' Debugger)
auto=$(registry_value "$home" 'CurrentVersion\\AeDebug' Auto)
detail="Debugger=$debugger Auto=$auto"
check "the crash guard is set" test "$auto" = '"1"' -a -n "$debugger" -a "${debugger#*winedbg}" = "$debugger"

# --- The launcher runs programs there; a crash leaves stdout empty.
out=$(as_user "$home" env WINEPREFIX="$prefix" DISPLAY= \
  timeout 120 "$launcher" "$crash_exe" img 2>"$work/err")
rc=$?
detail="rc=$rc stdout bytes=${#out} err=$(tail -n 3 "$work/err")"
check "launcher: a crashing program writes nothing to stdout" test "$rc" != 0 -a -z "$out"

# --- A cold start with an extra descriptor and Wine variables of its own:
# the Wine processes that stay hold neither, and run with the launcher's
# own Wine settings.
as_user "$home" env WINEPREFIX="$prefix" timeout 30 wineserver -k 2>/dev/null
: >"$work/extra-fd"
as_user "$home" env WINEPREFIX="$prefix" DISPLAY= WINEDEBUG=+all WINELOADER=/tmp/loader \
  WINEDLLOVERRIDES=gdi32=n BAD-NAME=x timeout 120 "$launcher" "$crash_exe" img \
  7>>"$work/extra-fd" >/dev/null 2>"$work/err"
leaks=
for pid in $(pgrep -u "$uid"); do
  # Only this prefix's processes: other runs may use the same account.
  tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" || continue
  ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "$work/extra-fd" && leaks+=" fd:$pid"
  tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null \
    | grep -qE '^(WINEDEBUG=\+all|WINELOADER=/tmp/loader|WINEDLLOVERRIDES=gdi32=n|BAD-NAME=x)$' \
    && leaks+=" env:$pid"
done
detail="leaks:$leaks"
check "launcher: no Wine process keeps an extra descriptor, the caller's WINE* variables or a name bash cannot hold" \
  test -z "$leaks"

# --- The program itself gets the job's options and nothing else of the
# caller's; a name bash cannot unset goes only when the launcher starts
# itself again with a fresh environment.
as_user "$home" env WINEPREFIX="$prefix" DISPLAY= WINEDEBUG=+all BAD-NAME=x OPT_TRAY=2 \
  timeout 120 "$launcher" "$crash_exe" env >"$work/env" 2>"$work/err"
rc=$?
program_env=$(tr -d '\r' <"$work/env")
detail="rc=$rc err=$(tail -n 3 "$work/err") seen: $(grep -E '^(BAD-NAME|WINEDEBUG|OPT_)' <<<"$program_env" | tr '\n' ' ')"
check "launcher: the program gets the job's options, not the caller's WINEDEBUG or a name bash cannot unset" \
  eval 'test "$rc" = 0 && grep -qx OPT_TRAY=2 <<<"$program_env" \
    && ! grep -qE "^(BAD-NAME=|WINEDEBUG=\+all)" <<<"$program_env"'
prefix_servers() {
  local pid n=0
  for pid in $(pgrep -u "$uid" -f '^/usr/lib/wine/wineserver'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && n=$((n + 1))
  done
  echo "$n"
}

# --- The warm-up at login: Wine starts in the prefix and no program runs;
# while a job holds the prefix it leaves the prefix alone and returns.
as_user "$home" env WINEPREFIX="$prefix" timeout 30 wineserver -k 2>/dev/null
as_user "$home" env WINEPREFIX="$prefix" timeout 30 wineserver -w 2>/dev/null
rm -f "$prefix/tessal-last-run"
out=$(as_user "$home" env WINEPREFIX="$prefix" DISPLAY= timeout 300 "$launcher" --warm-up 2>&1)
rc=$?
servers=$(prefix_servers)
detail="rc=$rc out=$out servers=$servers"
check "launcher --warm-up starts the prefix's wineserver, quietly" \
  test "$rc" = 0 -a -z "$out" -a "$servers" = 1 -a -e "$prefix/tessal-last-run"
as_user "$home" env WINEPREFIX="$prefix" timeout 30 wineserver -k 2>/dev/null
as_user "$home" env WINEPREFIX="$prefix" timeout 30 wineserver -w 2>/dev/null
out=$(as_user "$home" flock "$prefix/tessal.lock" env WINEPREFIX="$prefix" DISPLAY= \
  timeout 20 "$launcher" --warm-up 2>&1)
rc=$?
servers=$(prefix_servers)
detail="rc=$rc out=$out servers=$servers"
check "launcher --warm-up leaves a prefix that a job holds" test "$rc" = 0 -a "$servers" = 0

out=$(as_user "$home" env WINEPREFIX="$prefix" DISPLAY= \
  timeout 60 "$launcher" "$work/no-such.exe" img 2>"$work/err")
rc=$?
detail="rc=$rc out=$out"
check "launcher: a missing program gives status 2 and no output" test "$rc" = 2 -a -z "$out"

# --- A second run starts no Wine: every Wine program is a stub that leaves a
# mark, in a private mount namespace.
as_user "$home" env WINEPREFIX="$prefix" timeout 30 wineserver -k 2>/dev/null
marks=$work/wine-started
mkdir -m 777 "$marks"
printf '#!/bin/sh\necho "$0 $*" >>%s/started\nexit 1\n' "$marks" >"$work/wine-stub"
chmod 755 "$work/wine-stub"
start=$(date +%s%N)
unshare -m --propagation private /bin/bash -c '
  for p in /usr/bin/wine /usr/bin/wine64 /usr/bin/wineserver /usr/bin/wineboot \
    /usr/lib/wine/wine /usr/lib/wine/wine64; do
    [ -e $p ] && mount --bind "$1" $p
  done
  setpriv --reuid=$2 --regid=$3 --clear-groups env -i HOME="$4" \
    timeout 60 /bin/bash "$5/run.sh" "Tessal Generic"
' second "$work/wine-stub" "$uid" "$gid" "$home" "$pkg" >"$work/out" 2>"$work/err"
rc=$?
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
detail="rc=$rc err=$(cat "$work/err") started=$(cat "$marks/started" 2>/dev/null)"
check "second run succeeds and starts no Wine (${elapsed_ms} ms)" \
  test "$rc" = 0 -a ! -e "$marks/started"

# --- A second printer joins the same prefix; the first one stays.
run_sh "$home" "Tessal Second (A4)"
detail="rc=$rc err=$err"
check "a second printer in the same prefix" test "$rc" = 0
check "both printers are there" eval 'has_printer "$home" "Tessal Generic" && has_printer "$home" "Tessal Second (A4)"'

# --- A package upgraded in place (its driver file changed) sets its printer
# up again; the other printer's line stays.
cp -a "$pkg" "$work/pkg-upgraded"
echo '*% upgraded' >>"$work/pkg-upgraded/generic-ps.ppd"
mount --bind "$work/pkg-upgraded" "$pkg"
before=$(cat "$prefix/tessal-ready")
run_sh "$home" "Tessal Generic"
after=$(cat "$prefix/tessal-ready")
umount "$pkg"
detail="rc=$rc err=$err before=[$before] after=[$after]"
tab=$'\t'
check "an upgraded driver sets the printer up again" \
  eval 'test "$rc" = 0 -a "$before" != "$after" \
    -a "$(grep -c "^Tessal Generic$tab" <<<"$after")" = 1 \
    && grep -q "^Tessal Second (A4)$tab" <<<"$after"'

# --- So does a new driver of the same size as the old one.
run_sh "$home" "Tessal Generic"
cp -a "$pkg" "$work/pkg-same-size"
sed -i 's/^\*FileVersion: "1\.0"$/*FileVersion: "1.1"/' "$work/pkg-same-size/generic-ps.ppd"
touch -d '2001-02-03 04:05:06' "$work/pkg-same-size/generic-ps.ppd"
sizes="$(stat -c %s "$pkg/generic-ps.ppd") $(stat -c %s "$work/pkg-same-size/generic-ps.ppd")"
mount --bind "$work/pkg-same-size" "$pkg"
before=$(cat "$prefix/tessal-ready")
run_sh "$home" "Tessal Generic"
after=$(cat "$prefix/tessal-ready")
umount "$pkg"
detail="rc=$rc sizes=$sizes err=$err before=[$before] after=[$after]"
check "a new driver of the same size sets the printer up again" \
  eval 'test "$rc" = 0 -a "$before" != "$after" -a "${sizes% *}" = "${sizes#* }" \
    -a "$(grep -c "^Tessal Generic$tab" <<<"$after")" = 1'

# --- Two first runs at once set the prefix up once and both succeed.
home=$(new_home together)
as_user "$home" timeout 300 /bin/bash "$pkg/run.sh" "Tessal One" >"$work/out1" 2>"$work/err1" &
p1=$!
as_user "$home" timeout 300 /bin/bash "$pkg/run.sh" "Tessal Two" >"$work/out2" 2>"$work/err2" &
p2=$!
wait $p1; rc1=$?
wait $p2; rc2=$?
detail="rc=$rc1/$rc2 err1=$(cat "$work/err1") err2=$(cat "$work/err2")"
check "two first runs at once both succeed" test "$rc1" = 0 -a "$rc2" = 0
check "two first runs at once add both printers" \
  eval 'has_printer "$home" "Tessal One" && has_printer "$home" "Tessal Two"'

# --- A read-only home fails clearly and leaves nothing behind.
home=$(new_home readonly)
unshare -m --propagation private /bin/bash -c '
  mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" || exit 99
  setpriv --reuid=$2 --regid=$3 --clear-groups env -i HOME="$1" \
    timeout 60 /bin/bash "$4/run.sh" "Tessal Generic"
' readonly "$home" "$uid" "$gid" "$pkg" >"$work/out" 2>"$work/err"
rc=$?
err=$(cat "$work/err")
detail="rc=$rc err=$err"
check "read-only home: non-zero status" test "$rc" != 0 -a "$rc" != 99
check "read-only home: the message names the prefix and the cause" \
  eval '[[ $err == *"$home/.tessalwine"*"Read-only file system"* ]]'
check "read-only home: nothing on stdout, nothing created" \
  test ! -s "$work/out" -a ! -e "$home/.tessalwine"

# --- A Wine that cannot make the prefix: run.sh fails with the end of the
# setup log, its control characters escaped.
sed -e 's|mkdir "[^"]*/wineboot-failed" 2>/dev/null|true|' \
  -e 's|kernel32.dll, status c0000135|kernel32.dll\\033]0;owned\\007\\033[2J|' \
  "$work/flaky-wine" >"$work/broken-wine"
sed 's|flaky-wine|broken-wine|' "$work/wine-env-flaky.sh" >"$work/wine-env-broken.sh"
chmod 755 "$work/broken-wine" "$work/wine-env-broken.sh"
home=$(new_home broken)
mount --bind "$work/wine-env-broken.sh" /usr/lib/tessalwine/wine-env.sh
run_sh "$home" "Tessal Generic"
umount /usr/lib/tessalwine/wine-env.sh
detail="rc=$rc err=$(printf '%q' "$err")"
check "a prefix Wine cannot make: the log's end is shown escaped" \
  eval '[[ $rc != 0 && $err == *"kernel32.dll^[]0;owned^G^[[2J"* && $err != *$'"'"'\033'"'"'* ]]'

# --- A printer name Windows cannot have is refused before anything is made.
home=$(new_home badname)
run_sh "$home" 'Bad\Name'
detail="rc=$rc err=$err"
check "a printer name with a backslash is refused" \
  test "$rc" != 0 -a -n "$err" -a ! -e "$home/.tessalwine"
run_sh "$home" '--list'
detail="rc=$rc err=$err"
check "a printer name that reads as an option is refused" \
  test "$rc" != 0 -a -n "$err" -a ! -e "$home/.tessalwine"

check_done
