#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine for CTest: quiet, without a
# display, and in a Wine prefix kept in the build tree (WINEPREFIX when set).
# DORMEX_UNDER_WINE tells the tests of calls that Wine does not implement.
export WINEDEBUG=-all DORMEX_UNDER_WINE=1
export WINEPREFIX=${WINEPREFIX:-$PWD/wineprefix}
unset DISPLAY
exec timeout 600 wine "$@"
