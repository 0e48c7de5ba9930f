#!/usr/bin/env bash
# As wine-run.sh, but in a freshly started Wine session: a client process
# that an earlier suite had to end by force leaves its class registrations
# behind in the session's COM service, and later creations of those classes
# would fail. End-to-end suites run through this wrapper, one at a time.
. "$(dirname "$0")/wine-env.sh"
wineserver -k 2>/dev/null
# Bounded: a -w that met a server being started by another run once waited for ever.
timeout 60 wineserver -w 2>/dev/null
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
exec "$(dirname "$0")/wine-run.sh" "$@"
