#!/bin/bash
# The Debian packages, from build to purge. Builds them with dpkg-buildpackage
# from a copy of the tree and checks them with lintian; then, in private
# mount and network namespaces on an overlay of / (the host stays as it is),
# installs them with apt, prints a job through the installed files,
# upgrades to a rebuilt higher version, removes and purges them. After each
# step the files that the steps so far changed on the overlay must be exactly
# those that step should leave, measured against a snapshot of what the host
# held before the first step: the answer is the same on a host that already
# has the packages' directories or their service account.
#
#   deb_test.sh <source-dir> <stand-in launcher>
#
# The job goes through real Wine and the sample package; where this machine
# cannot run 32-bit programs, and so not Wine, through the stand-in launcher
# (the daemon rig's stub_tessal_wine) instead.
set -uo pipefail
self=$(readlink -f "$0")
. "$(dirname "$self")/../../rigs/check.sh"

# --- Outside: build both versions, lint the first.

build() { # build <log>: dpkg-buildpackage in $work/src, the .debs land in $work
  (cd "$work/src" && timeout 900 dpkg-buildpackage -b -uc -us "${@:2}") >"$1" 2>&1 \
    || { fail "dpkg-buildpackage (log: $1)" "$(tail -n 20 "$1")"; check_done; }
}

# Prepends a changelog entry for version $1, as a maintainer would.
bump_version() {
  local cl=$work/src/debian/changelog maint
  maint=$(dpkg-parsechangelog -l "$cl" -S Maintainer)
  { printf 'tessalwine (%s) unstable; urgency=medium\n\n  * Rebuilt.\n\n -- %s  %s\n\n' \
      "$1" "$maint" "$(date -R)"
    cat "$cl"; } >"$cl.new" && mv "$cl.new" "$cl"
}

outside() {
  local src stub
  src=$(readlink -f "$1")
  stub=$(readlink -f "$2")
  work=$(mktemp -d /var/tmp/tessal-deb-test.XXXXXX)
  chmod 755 "$work"
  # TESSAL_DEB_TEST_KEEP=1 keeps the packages and logs for a look.
  [ -n "${TESSAL_DEB_TEST_KEEP:-}" ] && echo "scratch: $work" || trap 'rm -rf "$work"' EXIT
  mkdir "$work/src"
  # The files git would commit: tracked and new ones, not the build output.
  (cd "$src" && git ls-files -z --cached --others --exclude-standard) |
    tar -C "$src" --null --ignore-failed-read -T - -cf - | tar -C "$work/src" -xf -
  # What the print step runs inside, beside the packages.
  mkdir "$work/rig"
  cp "$src/rigs/sandbox.sh" "$src/rigs/cupsd-rig.sh" \
    "$src/cups/demo/sample.pdf" "$work/rig/"
  cp "$stub" "$work/rig/stand-in-launcher"
  v1=$(dpkg-parsechangelog -l "$work/src/debian/changelog" -S Version)
  v2=$v1+1
  arch=$(dpkg --print-architecture)

  local start=$SECONDS
  build "$work/build1.log"
  ok "dpkg-buildpackage builds $v1 ($((SECONDS - start)) s)"
  lintian --fail-on error "$work/tessalwine_${v1}_${arch}.changes" >"$work/lintian.log" 2>&1
  local rc=$?
  detail=$(grep -v 'root privileges' "$work/lintian.log")
  check "lintian reports no errors" test "$rc" = 0
  grep '^[WE]: ' "$work/lintian.log" | sed 's/^/     lintian: /'

  # The upgrade: the same tree with a higher version, built without cleaning.
  mkdir "$work/v1"
  mv "$work"/*.deb "$work/v1/"
  bump_version "$v2"
  start=$SECONDS
  build "$work/build2.log" -nc
  ok "dpkg-buildpackage -nc rebuilds as $v2 ($((SECONDS - start)) s)"
  mkdir "$work/v2"
  mv "$work"/*.deb "$work/v2/"

  unshare -m -n -- "$self" --inside "$work" "$v1" "$v2" || failures=$((failures + 1))
  check_done
}

# --- Inside the namespaces.

noise='^(var/lib/dpkg|var/lib/apt|var/cache/apt|var/cache/debconf|var/cache/man|var/log|tmp)/'

in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

# A path as the host resolves it, so /lib/... is usr/lib/... where / is
# merged; without the leading slash.
host_path() {
  local dir=
  [ "${1%/*}" != "$1" ] && dir=$(realpath -m "/${1%/*}") && dir=${dir#/}
  echo "${dir:+$dir/}${1##*/}"
}

# The snapshot, taken on the overlay before the first step: the host's
# directories (and links to them, as /lib is where / is merged), and whether
# it has the service account. A directory the host
# already had is shared with it: a step that keeps it, changes its mode or
# removes it again (dpkg does, when it is empty) makes no change of the
# packages'.
snapshot_host() {
  (cd "$root" && find . -xdev -mindepth 1 -xtype d -printf '%P\n') | sort >"$work/host-dirs"
  account_existed=
  in_root getent passwd tessalwine >/dev/null && account_existed=1
}

host_had_dir() {
  grep -qxF -- "$1" "$work/host-dirs"
}

# What the steps so far left on the overlay: files, links and whiteouts, and
# directories the host did not have; less the package tools' own records.
changes() {
  (cd "$rw/up" && find . -mindepth 1 -printf '%y %P\n') | while read -r type path; do
    [ "$type" = d ] || [ "$type" = c ] && host_had_dir "$path" && continue
    echo "$path"
  done | grep -Ev "$noise" | sort
}

# What the steps should have left: the packages' files and the extra paths
# given, less the directories the host already had.
expected() { # expected <packages> -- <extra paths...>
  local pkgs=() p
  while [ "$1" != -- ]; do pkgs+=("$1"); shift; done
  shift
  { [ ${#pkgs[@]} = 0 ] || in_root dpkg-query -L "${pkgs[@]}" | while read -r p; do
      # dpkg-query -L lists "/." and a blank line between packages.
      case $p in "" | /.) continue ;; esac
      host_path "${p#/}"
    done
    printf '%s\n' "$@"
  } | grep -v '^$' | sort -u | while read -r p; do
    host_had_dir "$p" || echo "$p"
  done
}

check_changes() { # check_changes <step> <expected list>
  local got
  got=$(changes)
  detail=$(diff <(echo "$2") <(echo "$got") | sed -n 's/^< \(..*\)/missing: \1/p; s/^> \(..*\)/unexpected: \1/p')
  check "$1: the system has exactly the files it should" test "$2" = "$got"
}

# Processes started inside the overlay's root that still run.
root_processes() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && tr '\0' ' ' <"$p/cmdline" && echo
  done
}

status() { in_root dpkg-query -W -f='${db:Status-Abbrev}${Version}' "$1" 2>/dev/null; }

apt_step() { # apt_step <name> <apt-get arguments...>
  in_root apt-get -y -q "${@:2}" </dev/null >"$work/$1.log" 2>&1
  local rc=$?
  detail=$(tail -n 15 "$work/$1.log")
  check "$1: apt-get $2 succeeds" test "$rc" = 0
}

# Prints one page with the CUPS tests' sandbox on the installed files, in a
# nested mount namespace that ends with it. Through real Wine and the sample
# package where this machine runs 32-bit programs; elsewhere through the
# daemon rig's stand-in launcher and a package whose set-up does nothing,
# with /opt overlaid in the sandbox for them. Sets print_mode.
print_job() {
  print_mode=stub
  in_root /usr/lib/wine/wine --version >/dev/null 2>&1 && print_mode=wine
  in_root unshare -m --propagation private /bin/bash -c '
    set -e
    SANDBOX_RIG_DIR=$1
    . "$1/sandbox.sh"
    trap sandbox_stop EXIT
    sandbox_setup "$2"
    ppd=/usr/share/ppd/tessalwine/generic-ps.ppd
    if [ "$4" = stub ]; then
      sandbox_overlay /opt /opt
      mkdir -m 1777 /opt/rig-out
      mkdir /opt/tessalwine/printer_drv/stub
      echo "exit 0" >/opt/tessalwine/printer_drv/stub/run.sh
      mount --bind "$5" /usr/bin/tessal-wine
      ppd=$SANDBOX_TMP/stub.ppd
      tessal-mkppd --package stub --model Stub -o "$ppd"
    fi
    sandbox_queue deb "$ppd"
    sandbox_print deb "$3" -o page-ranges=1
    echo "$JOB_STATE" >"$2/job-state"
    cp "$JOB_OUT" "$2/job.prn" 2>/dev/null || true
    cp /opt/rig-out/tool.stdin "$2/job.stdin" 2>/dev/null || true
    cp "$SANDBOX_TMP/zk_filter.log" "$2/zk_filter.log"
  ' print "$work/rig" "$state" "$work/rig/sample.pdf" "$print_mode" "$work/rig/stand-in-launcher" \
    >"$work/print.log" 2>&1
}

# The overlay starts with its own copy of the package database, taken while
# the host's is consistent (nothing half installed, no trigger pending, no
# change during the copy). Packages the host installs meanwhile then stay
# out of this test's dpkg.
snapshot_dpkg() {
  local i before dest=$rw/up/var/lib
  mkdir -p "$dest"
  for i in $(seq 1 60); do
    rm -rf "$dest/dpkg"
    before=$(stat -c %y /var/lib/dpkg/status)
    cp -a /var/lib/dpkg "$dest/" \
      && [ "$(stat -c %y /var/lib/dpkg/status)" = "$before" ] \
      && [ -z "$(dpkg --admindir="$dest/dpkg" --audit 2>&1)" ] && return 0
    sleep 5
  done
  return 1
}

inside() {
  work=$1 v1=$2 v2=$3
  root=$work/root rw=$work/rw state=$work/sandbox
  local arch debs1 debs2
  arch=$(dpkg --print-architecture)
  debs1=("$work/v1/tessalwine_${v1}_$arch.deb" "$work/v1/tessalwine-samples_${v1}_all.deb")
  debs2=("$work/v2/tessalwine_${v2}_$arch.deb" "$work/v2/tessalwine-samples_${v2}_all.deb")
  mount --make-rprivate /
  mkdir -p "$root" "$rw"
  mount -t tmpfs -o mode=0755 tessaldeb "$rw"
  mkdir "$rw/up" "$rw/work"
  snapshot_dpkg || { fail "the host's package database stayed busy"; check_done; }
  mount -t overlay tessaldebroot -o "lowerdir=/,upperdir=$rw/up,workdir=$rw/work" "$root" \
    || { fail "overlay of /"; check_done; }
  snapshot_host
  mount --rbind /dev "$root/dev"
  mount --rbind /sys "$root/sys"
  mount -t proc proc "$root/proc"
  # The packages, the logs and the desktop user's home stay outside the
  # overlay.
  mount --bind "$work" "$root$work"
  local systemd_links=(
    etc/systemd/system/sockets.target.wants/zk_filter.socket
    var/lib/systemd/deb-systemd-helper-enabled/sockets.target.wants/zk_filter.socket
    var/lib/systemd/deb-systemd-helper-enabled/zk_filter.service.dsh-also
    var/lib/systemd/deb-systemd-helper-enabled/zk_filter.socket.dsh-also)
  local pkgs=(tessalwine tessalwine-samples)
  # The service account the postinst adds, unless the host has it already;
  # Debian keeps system users on purge.
  local account=(etc/.pwd.lock etc/group etc/group- etc/gshadow etc/gshadow- etc/passwd etc/passwd-
    etc/shadow etc/shadow- run/adduser var/lib/tessalwine)
  [ -n "$account_existed" ] && account=()

  # Install: the files, the socket enabled, nothing started.
  apt_step install install "${debs1[@]}"
  check "install: both packages are installed as $v1" \
    test "$(status tessalwine) $(status tessalwine-samples)" = "ii $v1 ii $v1"
  check_changes install "$(expected "${pkgs[@]}" -- "${systemd_links[@]}" "${account[@]}")"
  local conffiles
  conffiles=$(in_root dpkg-query -W -f='${Conffiles}\n' tessalwine | awk 'NF { print $1 }')
  check "install: the print policy is a conffile" test "$conffiles" = /etc/tessalwine/xpub.conf
  check "install: the service account exists" in_root getent passwd tessalwine
  detail=$(root_processes)
  check "install: starts nothing" test -z "$detail"

  # A job through the installed filter, daemon, launcher, print tool and
  # sample package.
  print_job
  local job_state
  job_state=$(cat "$state/job-state" 2>/dev/null)
  detail="$(tail -n 20 "$work/print.log")
$(tail -n 20 "$state/zk_filter.log" 2>/dev/null)"
  check "print ($print_mode): the job completes" test "$job_state" = completed
  local prefix=$state/home/tessaldemo/.tessalwine/generic-ps
  if [ "$print_mode" = wine ]; then
    check "print: the printer receives PostScript" \
      test "$(head -c 4 "$state/job.prn" 2>/dev/null)" = "%!PS"
    check "print: the job made the user's Wine prefix" test -f "$prefix/system.reg"
  else
    echo "note this machine does not run 32-bit programs, so the job went to a stand-in launcher"
    check "print: the launcher receives the page as a BMP" \
      test "$(head -c 2 "$state/job.stdin" 2>/dev/null)" = BM
    check "print: the printer receives the launcher's output" \
      test "$(cat "$state/job.prn" 2>/dev/null)" = STUB-OUTPUT
    # The prefix a job would have made, for the purge to leave alone.
    mkdir -p "$prefix" && echo "WINE REGISTRY Version 2" >"$prefix/system.reg"
  fi
  check_changes print "$(expected "${pkgs[@]}" -- "${systemd_links[@]}" "${account[@]}")"
  # The sandbox stops cupsd, the daemon and the user's wineserver; Wine's
  # other processes follow their wineserver.
  local i
  for i in $(seq 1 100); do
    detail=$(root_processes)
    [ -z "$detail" ] && break
    sleep 0.2
  done
  check "print: everything the job started has ended" test -z "$detail"

  # The desktop user exists from here on, so that a maintainer script that
  # went looking for users' prefixes would find this one.
  cp "$root/etc/passwd" "$work/passwd"
  echo "tessaldemo:x:1650:1650::$state/home/tessaldemo:/bin/bash" >>"$work/passwd"
  mount --bind "$work/passwd" "$root/etc/passwd"

  # Upgrade, with an admin's change to the conffile, which stays.
  echo "# changed by the admin" >>"$root/etc/tessalwine/xpub.conf"
  apt_step upgrade install "${debs2[@]}"
  check "upgrade: both packages are at $v2" \
    test "$(status tessalwine) $(status tessalwine-samples)" = "ii $v2 ii $v2"
  check "upgrade: the admin's change to the conffile stays" \
    test "$(tail -n 1 "$root/etc/tessalwine/xpub.conf")" = "# changed by the admin"
  check_changes upgrade "$(expected "${pkgs[@]}" -- "${systemd_links[@]}" "${account[@]}")"
  detail=$(root_processes)
  check "upgrade: starts nothing" test -z "$detail"

  # Remove: the conffile and the enable state stay until purge. The samples
  # package has no configuration, so dpkg forgets it at once.
  apt_step remove remove "${pkgs[@]}"
  check "remove: the bridge is removed, its configuration kept" \
    test "$(status tessalwine)" = "rc $v2"
  check "remove: the samples package is gone" test -z "$(status tessalwine-samples)"
  check_changes remove "$(expected -- etc/tessalwine etc/tessalwine/xpub.conf "${systemd_links[@]}" "${account[@]}")"

  # Purge: nothing of the packages is left; the user's prefix is.
  apt_step purge purge tessalwine
  check "purge: the bridge is gone" test -z "$(status tessalwine)"
  check_changes purge "$(expected -- "${account[@]}")"
  check "purge: the user's Wine prefix stays" test -f "$prefix/system.reg"
  check_done
}

if [ "${1:-}" = --inside ]; then
  shift
  inside "$@"
fi
[ $# = 2 ] || { echo "usage: deb_test.sh <source-dir> <stand-in launcher>" >&2; exit 2; }
outside "$@"
