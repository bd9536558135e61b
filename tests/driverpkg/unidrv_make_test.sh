#!/bin/bash
# tessal-driver's route for a Unidrv minidriver with a rendering plug-in, on
# the Tessal Band sample's download: the package of each architecture holds
# our core (from --core-dir) as the driver's DLLs, the GPD as its data file
# and the driver's other files as dependent files, with that
# architecture's plug-ins; plug-ins of the wrong architecture and a
# plug-in the driver lacks are refused by name, leaving nothing.
#
#   unidrv_make_test.sh <tessal-driver> <tessal-inf> <band-download>
set -uo pipefail
. "$(dirname "$(readlink -f "$0")")/../../rigs/check.sh"
driver=$1
inf_tool=$2
download=$3
work=$(mktemp -d /tmp/unidrv-make-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/core"
echo core >"$work/core/tessal-unidrv.dll"
echo ui >"$work/core/tessal-unidrvui.dll"

make_pkg() { # make_pkg <download> <out> <arch>
  "$driver" make "$1" "$2" --arch "$3" --inf-tool "$inf_tool" --core-dir "$work/core" 2>&1
}

for arch in x86 amd64; do
  out=$(make_pkg "$download" "$work/$arch" $arch) || fail "$arch: make" "$out"
  expect "$arch: the package's files" \
    "TBAND.GPD driver-arch run.sh tband.ini tbandrdr.dll tbandui.dll tessal-unidrv.dll tessal-unidrvui.dll" \
    "$(ls "$work/$arch" | tr '\n' ' ' | sed 's/ $//')"
  expect "$arch: its plug-in is the $arch one" "$arch" "$("$inf_tool" machine "$work/$arch/tbandrdr.dll")"
  expect "$arch: our core is the driver" core "$(cat "$work/$arch/tessal-unidrv.dll")"
  run=$(cat "$work/$arch/run.sh")
  check "$arch: run.sh names the GPD as the data file and our DLLs" \
    grep -qxF 'rendering_dll=$package_dir/tessal-unidrv.dll' <<<"$run"
  check "$arch: run.sh passes the other files as dependent files" grep -qxF \
    'dependent_files=("$package_dir"/tband.ini "$package_dir"/tbandrdr.dll "$package_dir"/tbandui.dll)' \
    <<<"$run"
done

# The amd64 folder holds the x86 plug-ins.
cp -r "$download" "$work/swapped"
cp "$download"/x86/*.dll "$work/swapped/amd64/"
out=$(make_pkg "$work/swapped" "$work/swapped-pkg" amd64)
check "wrong architecture: refused" test $? -ne 0
expect "wrong architecture: the plug-in is named" \
  "tessal-driver: 'Tessal Band': its rendering plug-in tbandrdr.dll is a x86 DLL" "$out"
check "wrong architecture: nothing made" test ! -e "$work/swapped-pkg"

# Only the UI plug-in is of the other architecture.
cp -r "$download" "$work/swapped-ui"
cp "$download"/x86/tbandui.dll "$work/swapped-ui/amd64/"
out=$(make_pkg "$work/swapped-ui" "$work/swapped-ui-pkg" amd64)
expect "wrong architecture of the UI plug-in: named" \
  "tessal-driver: 'Tessal Band': its UI plug-in tbandui.dll is a x86 DLL" "$out"
check "wrong architecture of the UI plug-in: nothing made" test ! -e "$work/swapped-ui-pkg"

# The .ini names a plug-in the driver does not have.
cp -r "$download" "$work/missing"
sed -i 's/OEMDriverFile1=.*/OEMDriverFile1=TBANDX.DLL/' "$work/missing/tband.ini"
out=$(make_pkg "$work/missing" "$work/missing-pkg" x86)
check "missing plug-in: refused" test $? -ne 0
expect "missing plug-in: named" \
  "tessal-driver: 'Tessal Band' builds on Microsoft's universal printer driver core, Unidrv (Needs=UNIDRV.OEM), with the rendering plug-in TBANDX.DLL, which is not among the driver's files" \
  "$out"
check "missing plug-in: nothing made" test ! -e "$work/missing-pkg"
check_done
