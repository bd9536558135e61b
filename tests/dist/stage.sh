#!/bin/bash
# Stages the whole project's install under <stage> as the install step would
# lay it out on a machine: DESTDIR=<stage> cmake --install <build> --prefix /usr.
#
#   stage.sh <build-dir> <stage>
set -euo pipefail
build=$1 stage=$2
rm -rf "$stage"
mkdir -p "$stage"
DESTDIR=$stage timeout 120 cmake --install "$build" --prefix /usr >"$stage.log" 2>&1 \
  || { cat "$stage.log"; exit 1; }
chmod -R go+rX "$stage"
# Every path the daemon and the package rely on is in place.
for f in usr/bin/tessal-wine usr/bin/strelwick.exe usr/sbin/zk_filter \
  opt/tessalwine/printer_drv/xpub.sh opt/tessalwine/printer_drv/generic-ps/run.sh \
  opt/tessalwine/printer_drv/generic-ps/generic-ps.ppd \
  opt/tessalwine/printer_drv/generic-ps/tessal-addprinter.exe; do
  [ -f "$stage/$f" ] || { echo "not installed: /$f"; exit 1; }
done
for f in usr/bin/tessal-wine opt/tessalwine/printer_drv/xpub.sh \
  opt/tessalwine/printer_drv/generic-ps/run.sh; do
  [ -x "$stage/$f" ] || { echo "not executable: /$f"; exit 1; }
done
echo "staged under $stage"
