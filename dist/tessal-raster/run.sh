#!/bin/bash -p
# run.sh MODEL: makes sure the desktop user's Wine prefix for this package can
# print on the Windows printer MODEL.
#
# zk_filter runs it as the desktop user, with HOME as its only environment,
# before every job. On first use it creates $HOME/.tessalwine/<package>,
# installs the package's own Windows driver (the rendering DLL tdrv.dll, its
# configuration DLL tdrvui.dll and its data file tdrv.txt; the driver writes
# each page as a binary PPM), adds the printer MODEL on the port "|cat" (the
# driver's output goes to the print tool's stdout, which is the relay back to
# the client) and points the prefix's crash debugger at nothing; the steps
# every package shares are in /usr/lib/tessalwine/package-setup.sh.
# strelwick.exe finds that the printer's driver is not Wine's own and hosts
# the driver itself.
#
# Exit status 0 when the printer is ready, 1 with a message on stderr when
# it cannot be set up. Nothing is written to stdout.

DRIVER_NAME="Tessal Raster"
SETUP=/usr/lib/tessalwine/package-setup.sh
[ -r "$SETUP" ] || { echo "run.sh: missing $SETUP" >&2; exit 1; }
# shellcheck source=../package-setup.sh
. "$SETUP"

data=$package_dir/tdrv.txt
rendering_dll=$package_dir/tdrv.dll
config_dll=$package_dir/tdrvui.dll
driver_files=("$data" "$rendering_dll" "$config_dll")

add_printer() {
  wine_step "$TESSAL_WINE" "$helper" "$DRIVER_NAME" "$(windows_path "$data")" "$model" "$PORT" \
    "$(windows_path "$rendering_dll")" "$(windows_path "$config_dll")"
}

main "$@"
