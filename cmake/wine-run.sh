#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine for CTest: quiet, without a
# display, and in a Wine prefix kept in the build tree (WINEPREFIX when set).
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$PWD/wineprefix}
unset DISPLAY
exec timeout 600 wine "$@"
