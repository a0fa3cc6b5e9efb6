# The real-UART tier's scenarios (scripts/test-uart.sh), in order. Sourced in
# the virtual machine, where $PORT is /dev/ttyS1, and on the host, where it is
# a pseudo-terminal; kfu is the real program.
#   phase NAME [KFU-SIM OPTION]...  a fresh simulated controller for what follows
#   both NAME COMMAND...            output and bytes on the line as on a pty
#   uart NAME WANTED COMMAND...     on the UART only; the output holds WANTED
# In the phases "stall" and "early-rts" the host stops reading for a while.
LONG=$(printf '%600s' '' | tr ' ' A)
phase running
both send kfu send -p "$PORT" VER ":baud" "(E16"
both test-then-dump sh -c 'kfu test -p "$PORT"; kfu dump core -p "$PORT" -o core.eed; cat core.eed'
# The acknowledgement comes 700 ms after the command: in the first read on both lines.
both clear-eeprom kfu clear-eeprom -p "$PORT" --timeout 1000
phase boot-02 --bootloader --version 02
both flash-1536 kfu flash -p "$PORT" firmware.hex
phase boot-4J --bootloader --version 4J
both flash-ascii kfu flash -p "$PORT" firmware.hex
phase stall
uart long-write "$(printf '%253s' '' | tr ' ' A)" kfu send -p "$PORT" --timeout 3000 "$LONG"
phase settings
uart settings-as-found "settings as found" sh -c 'was=$(stty -F "$PORT" -g)
    for rate in 250000 115200 28800; do kfu send -p "$PORT" --baud $rate VER; echo "exit $?"
        [ "$(stty -F "$PORT" -g)" = "$was" ] || { echo "--baud $rate changed them"; was=; }; done
    [ -n "$was" ] && echo "settings as found"'
uart rate-refused "Error: Unable toset Com state" kfu send -p "$PORT" --baud 250000 VER
uart exclusive "is busy" sh -c 'echo "#tm 1500" > hold.cfg; kfu run -p "$PORT" hold.cfg &
    sleep 0.5; kfu send -p "$PORT" VER; wait'
phase early-rts
uart early-rts "" early_rts "$PORT"
