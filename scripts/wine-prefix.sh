# Sourced by scripts/test-windows.sh and scripts/bench-windows.sh: makes a
# Wine prefix in a temporary folder, with COM5 to COM9 registered as the
# links "com5" to "com9" of a folder that the Linux test programs point at
# simulator pseudo-terminals, and starts one wineserver for the whole run.
# No display is used here. On exit the wineserver is stopped and waited for and
# the folder removed. Exports KFU_WINE, KFU_WINESERVER, KFU_WINE_PORTS and
# WINEPREFIX.

find_wine_tool() {
    local name
    for name in "$@"; do
        if command -v "$name" >/dev/null; then command -v "$name"; return 0; fi
        if [ -x "/usr/lib/wine/$name" ]; then echo "/usr/lib/wine/$name"; return 0; fi
    done
    echo "Wine is not installed (no $*)." >&2
    return 1
}
KFU_WINE=$(find_wine_tool wine64 wine)
kfu_wineserver=$(find_wine_tool wineserver64 wineserver)
# The window tests start the server anew once their X server is up.
export KFU_WINESERVER=$kfu_wineserver

kfu_wine_work=$(mktemp -d)
export KFU_WINE
export KFU_WINE_PORTS=$kfu_wine_work/ports
export WINEPREFIX=$kfu_wine_work/prefix
# Wine finds its user through HOME, or through the user database when HOME is
# unset; a build machine's user may have neither, and Wine then crashes at
# start without a word. The run gets a home of its own.
export HOME=$kfu_wine_work/home
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=d"
export DISPLAY=
unset WAYLAND_DISPLAY
kfu_wine_cleanup() {
    "$kfu_wineserver" -k 2>/dev/null || true
    "$kfu_wineserver" -w 2>/dev/null || true
    rm -rf "$kfu_wine_work"
}
trap kfu_wine_cleanup EXIT

# Runs one Wine program for the set-up, its output kept in the log; when it
# fails, says how and shows what Wine printed.
kfu_wine_step() {
    local status=0
    "$KFU_WINE" "$@" </dev/null >>"$kfu_wine_work/setup.log" 2>&1 || status=$?
    [ "$status" -eq 0 ] && return 0
    {
        echo "wine $* failed with exit status $status. What Wine printed:"
        tail -n 40 "$kfu_wine_work/setup.log"
        echo "(user $(id -u), HOME=$HOME, $(uname -sr), free in /tmp: $(df -h --output=avail /tmp | tail -n 1))"
    } >&2
    return "$status"
}

echo "== Wine prefix in $WINEPREFIX"
mkdir -p "$KFU_WINE_PORTS" "$HOME"
(
    # Run from an empty folder: Wine would start a program of the same name
    # found in the current one instead of its own "reg".
    cd "$kfu_wine_work"
    # A first start that fails on a loaded machine gets one more try, in a
    # new prefix and with a new server.
    if ! kfu_wine_step wineboot --init; then
        "$kfu_wineserver" -k 2>/dev/null || true
        "$kfu_wineserver" -w 2>/dev/null || true
        rm -rf "$WINEPREFIX"
        echo "Trying once more." >&2
        kfu_wine_step wineboot --init
    fi
    for n in 5 6 7 8 9; do
        kfu_wine_step reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$KFU_WINE_PORTS/com$n" /f
    done
)
# The port map is read when the wineserver starts; one server then stays up
# for the run, which spares each Windows program its start-up.
"$kfu_wineserver" -k 2>/dev/null || true
"$kfu_wineserver" -w 2>/dev/null || true
# Wine opens a mapped port without O_NOCTTY, so the server takes each
# simulator's pty as its terminal and, on the pty's hang-up, writes a
# debugging dump of its objects: that goes to a log of its own.
"$kfu_wineserver" -p >"$kfu_wine_work/wineserver.log" 2>&1
# Wine's own services start with the first program and stay with the server;
# started here, they hold no test's output pipe open.
(cd "$kfu_wine_work" && kfu_wine_step wineboot)
