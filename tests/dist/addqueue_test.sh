#!/bin/bash
# tessal-addqueue --driver against a hostile user: the user's run.sh writes
# to /dev/tty, pushes input into the terminal and writes escape sequences,
# and leaves a FIFO or a link as its listing. tessal-addqueue runs on a
# terminal of its own (a pty from "script"); nothing of the user's may reach
# it raw, and nothing may hang. Each case runs in private mount and PID
# namespaces, with a stub package under /opt and stub CUPS commands.
#
#   addqueue_test.sh <tessal-addqueue> <tessal-mkppd> <laser.caps>
set -uo pipefail
. "$(dirname "$(readlink -f "$0")")/../../rigs/check.sh"
addqueue=$(readlink -f "$1")
mkppd=$(readlink -f "$2")
caps=$(readlink -f "$3")
work=$(mktemp -d /tmp/addqueue-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

# The package's run.sh: what it does depends on the printer's name.
cat >"$work/run.sh" <<'EOF'
#!/bin/bash
prefix=$HOME/.tessalwine/stub
mkdir -p "$prefix"
rm -f "$prefix/caps-$1.txt"
case $1 in
  hostile)
    echo TTY-WRITE >/dev/tty
    perl -e 'my @h; open($h[0], "+<", "/dev/tty");
      open($h[$_ + 1], "+<&=", $_) for 0 .. 2;
      for my $h (grep { defined } @h) { ioctl($h, 0x5412, $_) for split //, "INJECTED" }'
    printf '\033]0;owned\007STDERR-MARK\033[2J\n' >&2
    echo STDOUT-MARK
    exit 1 ;;
  fifo) mkfifo "$prefix/caps-$1.txt" ;;
  link) ln -s /etc/hostname "$prefix/caps-$1.txt" ;;
  big) head -c 1048577 /dev/zero >"$prefix/caps-$1.txt" ;;
  good) sed 's/^PRINTER=.*/PRINTER=good/' "$CAPS" >"$prefix/caps-$1.txt" ;;
esac
exit 0
EOF
sed -i "s|\"\$CAPS\"|$caps|" "$work/run.sh"

mkdir "$work/bin"
for tool in lpadmin cupsenable cupsaccept cupstestppd; do
  printf '#!/bin/sh\necho "%s $*" >>/run/cups.log\n' "$tool" >"$work/bin/$tool"
done
ln -s "$mkppd" "$work/bin/tessal-mkppd"
chmod 755 "$work"/bin/* "$work/run.sh"

# Runs tessal-addqueue for printer $1 on a pty; prints what reached the
# terminal, then "status N" and what lpadmin was given.
add_queue() {
  unshare -m -p -f --propagation private /bin/bash -c '
    set -e
    work=$1 addqueue=$2 printer=$3
    mount -t tmpfs tmpfs /run
    mkdir /run/etc-up /run/etc-work /run/opt-up /run/opt-work /run/home
    mount -t overlay -o lowerdir=/etc,upperdir=/run/etc-up,workdir=/run/etc-work etc-overlay /etc
    mount -t overlay -o lowerdir=/opt,upperdir=/run/opt-up,workdir=/run/opt-work opt-overlay /opt
    echo "tqueue:x:64123:64123::/run/home:/bin/sh" >>/etc/passwd
    echo "tqueue:x:64123:" >>/etc/group
    chown 64123:64123 /run/home
    mkdir -p /opt/tessalwine/printer_drv/stub
    cp "$work/run.sh" /opt/tessalwine/printer_drv/stub/run.sh
    export PATH=$work/bin:/usr/sbin:/usr/bin:/sbin:/bin
    status=0
    timeout 60 script -qefc "$addqueue q --driver stub $printer tqueue file:/dev/null" \
      /dev/null </dev/null || status=$?
    echo "status $status"
    cat /run/cups.log 2>/dev/null || true
  ' add_queue "$work" "$addqueue" "$1" 2>&1
}

out=$(add_queue hostile)
expect "a failing run.sh: tessal-addqueue fails" 1 "$(sed -n 's/^status //p' <<<"$out")"
detail=$out
check "nothing the user wrote reaches the terminal raw" \
  eval '[[ $out != *$'"'"'\033'"'"'* && $out != *TTY-WRITE* && $out != *INJECTED* ]]'
detail=$out
check "the user's output is shown escaped" \
  eval '[[ $out == *"^[]0;owned^GSTDERR-MARK^[[2J"* && $out == *STDOUT-MARK* ]]'

for kind in fifo link big; do
  out=$(add_queue $kind)
  detail=$out
  check "a $kind as the listing is refused at once" \
    eval '[[ $out == *"left no usable listing"* && $out == *"status 1"* && $out != *lpadmin* ]]'
done

out=$(add_queue good)
detail=$out
check "a regular listing makes the queue" \
  eval '[[ $out == *"status 0"* && $out == *"lpadmin -p q -E -v file:/dev/null -P "* ]]'

check_done
