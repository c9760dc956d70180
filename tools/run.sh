#!/usr/bin/env bash
# Lumidor's run command, for a fresh Debian machine: installs what it needs, builds and
# starts Lumidor in the current directory (its diagnostic log is ./Lumidor.log there).
#
# When no reader with a card is present it offers a demonstration: its own pcscd with the
# virtual reader and the project's virtual OpenPGP card in it, served by the system's OpenSC
# module, which the program finds through its own catalogue. With a display it shows the
# window; without one it runs the console check with the signing test. Everything the
# demonstration starts is stopped when it ends.
set -euo pipefail

start_dir=$(pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

./tools/install-deps.sh

jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2

PYTHON=/usr/bin/python3  # Debian's, with the python3-cryptography that the card needs
# The virtual card's user PIN, as the OpenPGP card application sets it on a new card.
DEMO_PIN=123456

has_display() { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }

# Prints how many readers of the PC/SC service (PCSCLITE_CSOCK_NAME, when set, names it)
# hold a card; 0 when there is no service or no reader.
cards_present() {
    python3 - <<'PY'
import ctypes, ctypes.util
try:
    lib = ctypes.CDLL("libpcsclite.so.1")
except OSError:
    print(0); raise SystemExit
class State(ctypes.Structure):
    _fields_ = [("reader", ctypes.c_char_p), ("user", ctypes.c_void_p),
                ("current", ctypes.c_ulong), ("event", ctypes.c_ulong),
                ("atr_length", ctypes.c_ulong), ("atr", ctypes.c_ubyte * 33)]
context = ctypes.c_long(0)
if lib.SCardEstablishContext(ctypes.c_ulong(0), None, None, ctypes.byref(context)) != 0:
    print(0); raise SystemExit
try:
    size = ctypes.c_ulong(0)
    if lib.SCardListReaders(context, None, None, ctypes.byref(size)) != 0:
        print(0); raise SystemExit
    buffer = ctypes.create_string_buffer(size.value)
    if lib.SCardListReaders(context, None, buffer, ctypes.byref(size)) != 0:
        print(0); raise SystemExit
    names = [n for n in buffer.raw[:size.value].split(b"\0") if n]
    states = (State * len(names))()
    for state, name in zip(states, names):
        state.reader = name
    if lib.SCardGetStatusChange(context, ctypes.c_ulong(1000), states,
                                ctypes.c_ulong(len(names))) != 0:
        print(0); raise SystemExit
    print(sum(1 for s in states if s.event & 0x20))
finally:
    lib.SCardReleaseContext(context)
PY
}

# Runs the window with a display, otherwise the console check, in directory $1 with the
# programs of build directory $2. With a PIN as $3 the console check also runs the signing
# test (the PIN goes to it on standard input, never on its command line).
run_lumidor() {
    local work=$1 build=$2 pin=${3:-}
    if has_display; then
        (cd "$work" && "$build/src/ui/lumidor") || true
    else
        local check
        check=$(find "$build" -type f -name lumidor-check -perm -u+x | head -n 1)
        if [ -z "$check" ]; then
            echo "Nessun display, e il controllo da console (lumidor-check) non è stato costruito." >&2
            return 1
        fi
        echo "Nessun display: controllo da console."
        if [ -n "$pin" ]; then
            (cd "$work" && printf '%s\n' "$pin" | "$check" --test) || true
        else
            (cd "$work" && "$check") || true
        fi
    fi
    echo
    echo "Log di diagnostica: $work/Lumidor.log"
}

build_targets() {
    local build=$1
    shift
    cmake --build "$build" -j "$jobs" --target "$@"
    if cmake --build "$build" --target help | grep -q '^lumidor-check:'; then
        cmake --build "$build" -j "$jobs" --target lumidor-check
    fi
}

# One build for both uses; its tests part is configured only for the rig's pcscd isolation
# library, and only the programs the run needs are built.
build="$root/build-run"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMIDOR_BUILD_TESTS=ON -DLUMIDOR_BUILD_BENCHMARKS=OFF >/dev/null

cards=$(cards_present)
if [ "$cards" -gt 0 ]; then
    build_targets "$build" lumidor
    run_lumidor "$start_dir" "$build"
    exit 0
fi

echo "Nessun lettore con una smart card inserita."
if [ -t 0 ]; then
    read -r -p "Avviare una dimostrazione con un lettore virtuale e una carta OpenPGP virtuale? [S/n] " answer
    case "$answer" in
        [nN]*) exit 0 ;;
    esac
fi
if ! "$PYTHON" -c 'import cryptography' 2>/dev/null; then
    echo "La carta virtuale richiede python3-cryptography: eseguire tools/install-deps.sh." >&2
    exit 1
fi

build_targets "$build" lumidor lumidor_pcscd_isolation
isolation=$(find "$build" -name '*lumidor_pcscd_isolation*.so' | head -n 1)

rig=$(mktemp -d /tmp/lumidor-demo-XXXXXX)  # short: it holds a Unix socket
card_state="$rig/card"
vcard_pid=""
cleanup() {
    if [ -n "$vcard_pid" ]; then
        kill "$vcard_pid" 2>/dev/null || true
        wait "$vcard_pid" 2>/dev/null || true
    fi
    "$PYTHON" "$root/tools/rig.py" stop --dir "$rig" >/dev/null 2>&1 || true
    rm -rf "$rig"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "Avvio del pcscd dimostrativo con il lettore virtuale..."
"$PYTHON" tools/rig.py start --dir "$rig" --isolation "$isolation"
export PCSCLITE_CSOCK_NAME="$rig/run/pcscd.comm"
read -r port _ < "$rig/ports"

echo "Inserimento della carta OpenPGP virtuale (la prima volta crea le sue chiavi)..."
mkdir -p "$card_state"
"$PYTHON" tools/vcard.py --port "$port" --card openpgp --state "$card_state" &
vcard_pid=$!
for _ in $(seq 1 300); do
    [ "$(cards_present)" -gt 0 ] && break
    kill -0 "$vcard_pid" 2>/dev/null || break
    sleep 0.1
done
if [ "$(cards_present)" -eq 0 ]; then
    echo "La carta virtuale non è stata inserita nel lettore." >&2
    exit 1
fi

echo
echo "Dimostrazione pronta: carta OpenPGP virtuale nel lettore 'Virtual PCD 00 00', servita"
echo "dal modulo di OpenSC (opensc-pkcs11.so). PIN utente della carta: $DEMO_PIN"
echo
run_lumidor "$start_dir" "$build" "$DEMO_PIN"
