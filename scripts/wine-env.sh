# Sourced by the scripts that run the Windows build: a Wine prefix of the
# build folder's own, started with all three streams away from the caller, so
# background services never hold a pipe of ours open.
export WINEPREFIX=${WINEPREFIX:-${qun_build:-$build}/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wineserver -p </dev/null >/dev/null 2>&1 || true
timeout 300 wine wineboot </dev/null >/dev/null 2>&1 || true
