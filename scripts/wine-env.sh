# Sourced: makes a throwaway Wine prefix and an Xvfb display for this run (scripts/wine-lib.sh), and
# removes both on exit. Sets WINEPREFIX, DISPLAY, WINEDEBUG, ORLYN_WINE (runs the loader) and
# ORLYN_WINESERVER.
source "$(dirname "${BASH_SOURCE[0]}")/wine-lib.sh"
orlyn_start_display
orlyn_make_prefix orlyn-wine
"$ORLYN_WINESERVER" -w
