#!/bin/bash -p
# run.sh MODEL: makes sure the desktop user's Wine prefix for this package can
# print on the Windows printer MODEL.
#
# zk_filter runs it as the desktop user, with HOME as its only environment,
# before every job. On first use it creates $HOME/.tessalwine/<package>,
# installs Wine's PostScript driver with the package's PPD, adds the printer
# MODEL on the port "|cat" (the driver's output goes to the print tool's
# stdout, which is the relay back to the client) and points the prefix's
# crash debugger at nothing; the steps every package shares are in
# /usr/lib/tessalwine/package-setup.sh.
#
# Exit status 0 when the printer is ready, 1 with a message on stderr when
# it cannot be set up. Nothing is written to stdout.

DRIVER_NAME="Tessal Generic PostScript"
SETUP=/usr/lib/tessalwine/package-setup.sh
[ -r "$SETUP" ] || { echo "run.sh: missing $SETUP" >&2; exit 1; }
# shellcheck source=../package-setup.sh
. "$SETUP"

ppd=$package_dir/$package.ppd
driver_files=("$ppd")

add_printer() {
  wine_step "$TESSAL_WINE" "$helper" "$DRIVER_NAME" "$(windows_path "$ppd")" "$model" "$PORT"
}

main "$@"
