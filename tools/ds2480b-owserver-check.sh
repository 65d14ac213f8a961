#!/bin/sh
# Runs Debian's owserver (a DS2480B master nobody here wrote) against the bus simulator's
# DS2480B model: it must detect the chip, list every device and read every temperature, two
# of the serials holding 0xE3 and every sensor on parasite power (the strong pull-up).
#
#   tools/ds2480b-owserver-check.sh [BUILD_DIR]     (needs owserver, ow-shell and a C compiler)
#
# owserver flushes both directions after every write; on a pseudo-terminal the output half
# drops the bytes it has just written (a real UART sends them), so a small preloaded library
# turns tcflush(TCIOFLUSH) into tcflush(TCIFLUSH).
set -eu
build=${1:-build}
work=$(mktemp -d)
sim=
ows=
cleanup() {
    [ -n "$ows" ] && kill "$ows" 2>/dev/null || true
    [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

cat > "$work/shim.c" <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <termios.h>
int tcflush(int fd, int queue)
{
    static int (*real)(int, int);
    if (!real)
        real = (int (*)(int, int))dlsym(RTLD_NEXT, "tcflush");
    return real(fd, queue == TCIOFLUSH ? TCIFLUSH : queue);
}
C
cc -shared -fPIC -o "$work/shim.so" "$work/shim.c" -ldl

"$build/tools/kalvex-bussim" --dir "$work" --ds2480b --parasite --conversion 700 \
    28ECEDC7050000F6=21.5 28E3EDC7050000=3.25 10E3B7A8020800=-7.5 > "$work/sim.log" &
sim=$!
for _ in 1 2 3 4 5 6 7 8 9 10; do [ -L "$work/COM1" ] && break; sleep 0.2; done
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
LD_PRELOAD="$work/shim.so" owserver -d "$(readlink "$work/COM1")" -p "127.0.0.1:$port" --foreground --error_level=0 &
ows=$!
server="127.0.0.1:$port"
for _ in 1 2 3 4 5 6 7 8 9 10; do owdir -s "$server" / > /dev/null 2>&1 && break; sleep 0.5; done

echo "adapter: $(owread -s "$server" /bus.0/interface/settings/name), revision $(owread -s "$server" /bus.0/interface/settings/version | tr -d ' ')"
status=0
for expect in 10.E3B7A8020800=-7.5 28.ECEDC7050000=21.5 28.E3EDC7050000=3.25; do
    device=${expect%%=*}
    want=${expect#*=}
    got=$(owread -s "$server" "/uncached/$device/temperature" | tr -d ' ')
    power=$(owread -s "$server" "/uncached/$device/power" | tr -d ' ')
    echo "$device: $got (expected $want), power $power"
    [ "$got" = "$want" ] || status=1
done
kill "$ows"
kill "$sim"
wait 2>/dev/null || true
ows=
sim=
grep DS2480B "$work/sim.log"
exit $status
