# package-setup.sh: what every driver package's run.sh does, sourced by it
# after it has set DRIVER_NAME, driver_files (the files its driver needs)
# and a function add_printer that installs the driver and adds the printer
# MODEL on $PORT with tessal-addprinter.exe through wine_step. run.sh then
# calls main "$@".
#
# main makes sure the desktop user's prefix $HOME/.tessalwine/<package>
# exists, has the printer and points its crash debugger at nothing, so that
# a crash never writes a backtrace into the printer data. When all of that is
# in place it only reads two files and the size and time of the driver's.
# Exit status 0 when the printer is ready, 1 with a message on stderr when it
# cannot be set up; nothing on stdout.
#
# Setting the printer up also keeps what its driver offers (papers with
# their printable areas, resolutions, colour, duplex, bins, media types,
# copies) in $prefix/caps-MODEL.txt, the listing of "strelwick.exe caps",
# from which tessal-addqueue makes the queue. "run.sh MODEL --list" writes
# it again for a printer that is already set up.

PATH=/usr/bin:/bin
export PATH
umask 077

PORT='|cat'
WINE_ENV=/usr/lib/tessalwine/wine-env.sh

package_dir=$(cd "$(dirname "$0")" && pwd -P)
package=${package_dir##*/}
helper=$package_dir/tessal-addprinter.exe
model=${1-}

# Z: path of a file, as Windows programs under Wine see it.
windows_path() {
  local p=$1
  printf 'Z:%s' "${p//\//\\}"
}

die() {
  echo "run.sh ($package): $*" >&2
  exit 1
}

check_arguments() {
  [ -n "$model" ] || die "usage: run.sh MODEL"
  # The same rule as MODEL's in the project's job-keys.list.
  case $model in
    *[!A-Za-z0-9\ ._+\(\)\#\&@-]*)
      die "printer name '$model' has characters this package does not accept" ;;
    -*) die "printer name '$model' begins with '-'" ;;
  esac
  [ ${#model} -le 200 ] || die "printer name is longer than 200 characters"
  case ${HOME:-} in
    /*) ;;
    *) die "HOME is not set to an absolute path" ;;
  esac
  [ -d "$HOME" ] || die "home directory $HOME does not exist"
}

# The registry file names the printer's key with backslashes doubled.
printer_in_registry() {
  grep -qF "[System\\\\CurrentControlSet\\\\Control\\\\Print\\\\Printers\\\\$model]" \
    "$prefix/system.reg" 2>/dev/null
}

# Size and time of the package's driver files: a package upgraded in place
# sets the printer up again, with the new driver and a new listing.
driver_stamp() {
  stat -L -c '%s.%Y' -- "${driver_files[@]}" "$helper" 2>/dev/null | tr '\n' ' '
}

# tessal-ready holds one line per ready printer: its name, a tab, the stamp.
ready_line() {
  printf '%s\t%s\n' "$model" "$(driver_stamp)"
}

is_ready() {
  grep -qxF -- "$(ready_line)" "$prefix/tessal-ready" 2>/dev/null && printer_in_registry
}

# The configure step inherits every descriptor of zk_filter's worker, the
# client connection among them; Wine's long-lived processes must not keep it.
close_extra_fds() {
  local fd
  for fd in /proc/$$/fd/*; do
    fd=${fd##*/}
    [ "$fd" -gt 2 ] 2>/dev/null && eval "exec $fd>&-" 2>/dev/null
  done
}

set_wine_environment() {
  export WINEPREFIX=$prefix
  [ -r "$WINE_ENV" ] || die "missing $WINE_ENV"
  # shellcheck source=../wine-env.sh
  . "$WINE_ENV"
}

# The log holds what Wine and the driver wrote; its end is shown with control
# characters escaped (^[, M-...), as it reaches the daemon's log or root's
# terminal.
show_log_and_die() {
  tail -n 5 -- "$log" 2>/dev/null | tail -c 4000 | cat -v >&2
  wineserver -k </dev/null >/dev/null 2>&1 9>&-
  die "$1 (log: $log)"
}

# Runs a Wine command with a time limit, its output and Wine's error
# messages in the setup log, and without the lock descriptor, so that no Wine
# process keeps the lock.
wine_step() {
  WINEDEBUG=err+all timeout 300 "$@" </dev/null >>"$log" 2>&1 9>&-
}

# Wine's first start in a new prefix can end with "could not load
# kernel32.dll": Wine has marked the prefix as set up, but its system files
# are missing, and a plain second start fails the same way. The second try
# starts from a clean prefix (a prefix made before keeps its files but is
# set up again) with a fresh wineserver. A start that ran out of time is not
# tried again.
boot_prefix() {
  local rc=0 new=
  [ -f "$prefix/system.reg" ] || new=1
  wine_step "$TESSAL_WINE" wineboot -i || rc=$?
  [ "$rc" -eq 0 ] && return 0
  [ "$rc" -eq 124 ] && return 1
  echo "run.sh ($package): wineboot ended with status $rc, leaving $(system_file_count) system files ($WINEARCH); trying once more" >>"$log"
  wine_step wineserver -k
  wine_step wineserver -w
  if [ -n "$new" ]; then
    find "$prefix" -mindepth 1 -maxdepth 1 ! -name tessal.lock ! -name tessal-setup.log \
      -exec rm -rf -- {} + || return 1
  else
    rm -f "$prefix/.update-timestamp"
  fi
  wineserver -p10 </dev/null >/dev/null 2>&1 9>&-
  wine_step "$TESSAL_WINE" wineboot -i
}

system_file_count() {
  find "$prefix/drive_c/windows/system32" -maxdepth 1 -type f 2>/dev/null | wc -l
}

# The print tool that hosts the package's driver: the one built for the
# driver's Windows architecture when the package names it (driver-arch).
print_tool() {
  local arch
  arch=$(head -c 16 -- "$package_dir/driver-arch" 2>/dev/null) || arch=
  case $arch in
    x86 | amd64) [ -f "/usr/lib/tessalwine/$arch/strelwick.exe" ] &&
      { echo "/usr/lib/tessalwine/$arch/strelwick.exe"; return; } ;;
  esac
  echo /usr/bin/strelwick.exe
}

# A printer whose driver cannot be listed still prints: only a message.
write_listing() {
  local out=$prefix/caps-$model.txt rc=0
  timeout 300 "$TESSAL_WINE" "$(print_tool)" caps "$model" \
    </dev/null >"$out.new" 2>>"$log" 9>&- || rc=$?
  # The print tool's exit status is 1 when it has listed the printer.
  if [ "$rc" -eq 1 ] && grep -q '^PAPER=' "$out.new" 2>/dev/null; then
    mv -f "$out.new" "$out"
  else
    rm -f "$out.new"
    echo "run.sh ($package): cannot list what the printer '$model' offers (log: $log)" >&2
  fi
}

set_up() {
  log=$prefix/tessal-setup.log
  : >"$log" || die "cannot write $log"
  set_wine_environment
  wineserver -p10 </dev/null >/dev/null 2>&1 9>&-
  # A prefix without any ready printer may be left over from a setup that
  # failed half-way; wineboot -i completes it.
  if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/tessal-ready" ]; then
    boot_prefix || show_log_and_die "wineboot could not create the prefix"
  fi
  add_printer || show_log_and_die "could not add the printer '$model'"
  write_listing
  local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
  wine_step "$TESSAL_WINE" reg add "$key" /v Debugger /t REG_SZ /d "tessal-no-debugger.exe %ld %ld" /f \
    && wine_step "$TESSAL_WINE" reg add "$key" /v Auto /t REG_SZ /d 1 /f \
    || show_log_and_die "could not set the crash guard"
  # Stopping the wineserver writes the registry to disk, where is_ready and
  # the next job find it.
  wine_step wineserver -k
  wine_step wineserver -w
  printer_in_registry || die "the printer '$model' is missing from $prefix/system.reg after setup"
  { awk -F '\t' -v m="$model" '$1 != m' "$prefix/tessal-ready" 2>/dev/null; ready_line; } \
    >"$prefix/tessal-ready.new" \
    && mv -f "$prefix/tessal-ready.new" "$prefix/tessal-ready" \
    || die "cannot write $prefix/tessal-ready"
}

main() {
  check_arguments
  prefix=$HOME/.tessalwine/$package
  local list=
  case ${2-} in
    '') ;;
    --list) list=1 ;;
    *) die "usage: run.sh MODEL [--list]" ;;
  esac
  [ -z "$list" ] && is_ready && exit 0

  local f
  for f in "${driver_files[@]}" "$helper"; do
    [ -f "$f" ] || die "missing $f"
  done
  close_extra_fds
  local err
  err=$(mkdir -p "$prefix" 2>&1) || die "cannot create the Wine prefix: ${err#mkdir: }"
  [ -O "$prefix" ] || die "$prefix does not belong to $(id -un)"
  cd "$prefix" || die "cannot enter $prefix"
  # The same lock as tessal-wine: no job prints while the prefix changes, and
  # two first jobs do not set it up twice.
  exec 9>>"$prefix/tessal.lock" || die "cannot open the lock in $prefix"
  flock 9 || die "cannot lock $prefix"
  if ! is_ready; then
    set_up
  elif [ -n "$list" ]; then
    log=$prefix/tessal-setup.log
    set_wine_environment
    write_listing
  fi
  [ -z "$list" ] || [ -s "$prefix/caps-$model.txt" ]
}

