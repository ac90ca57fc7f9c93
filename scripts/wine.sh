#!/bin/sh
# Runs a Windows program with the Wine loader of the Windows configuration in
# use (scripts/wine-config.sh exports it as DOVEMARL_WINE_LOADER), or with
# Debian's wine outside such a session. The test programs and the stand-in
# host's checks run through it, so that one build runs in every configuration.
exec "${DOVEMARL_WINE_LOADER:-wine}" "$@"
