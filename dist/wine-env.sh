# wine-env.sh: the one Wine environment of this system. Sourced (never run)
# by the launcher tessal-wine, by the driver packages' run.sh and by the test
# and demo rigs, so that every Wine process they start sees the same settings.
#
# After sourcing, the Wine variables below are exported and TESSAL_WINE is the
# Wine loader to run programs with. WINEPREFIX is the caller's to set.

# Which Windows architecture a prefix gets: 64-bit for a package whose
# driver is 64-bit. Otherwise 32-bit where the kernel runs 32-bit programs
# (32-bit Wine needs that); on a kernel without (some virtual machines) only
# 64-bit Wine works, and the print tool is built for 64-bit Windows to match.
# An existing prefix keeps the architecture it was made with.
tessal_wine_arch() {
  local reg=${WINEPREFIX:+$WINEPREFIX/system.reg}
  if [ -n "$reg" ] && [ -f "$reg" ]; then
    case $(grep -m1 '^#arch=' "$reg" 2>/dev/null) in
      '#arch=win64') echo win64; return ;;
      '#arch=win32') echo win32; return ;;
    esac
  fi
  # A new prefix for a package whose driver is built for 64-bit Windows
  # (driver-arch in the package folder, named like the prefix) is 64-bit.
  if [ -n "${WINEPREFIX:-}" ] &&
     [ "$(head -c 16 -- "/opt/tessalwine/printer_drv/${WINEPREFIX##*/}/driver-arch" 2>/dev/null)" = amd64 ]; then
    echo win64
  elif /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo win32
  else
    echo win64
  fi
}

tessal_wine_environment() {
  WINEARCH=$(tessal_wine_arch)
  if [ "$WINEARCH" = win64 ]; then
    TESSAL_WINE=/usr/lib/wine/wine64
  else
    TESSAL_WINE=/usr/lib/wine/wine
  fi
  WINELOADER=$TESSAL_WINE
  WINEDEBUG=-all
  # Never import the host's CUPS queues into a prefix.
  CUPS_SERVER=/nonexistent
  # No Mono/Gecko installers, no desktop menu entries, and no debugger on a
  # crash: winedbg writes its backtrace to stdout, which is printer data.
  WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d'
  # Wine decodes the environment in the Unix locale's character set; in the
  # C locale it loses every byte above 127, and a job's UTF-8 document name
  # (DOCNAME) with it.
  LC_CTYPE=C.UTF-8
  export WINEARCH WINELOADER WINEDEBUG CUPS_SERVER WINEDLLOVERRIDES TESSAL_WINE LC_CTYPE
}

tessal_wine_environment
