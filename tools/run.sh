#!/usr/bin/env bash
# Lumidor's run command, for a fresh Debian machine: installs what it needs, builds and
# starts Lumidor in the current directory (its diagnostic log is ./Lumidor.log there).
#
# When no reader with a card is present it offers a demonstration: its own pcscd with the
# virtual reader, the project's virtual card with a demonstration ATR, and a SoftHSM token
# with a key and a known PIN; Lumidor then runs from a build without the embedded
# catalogue, in a working directory whose cardlist.json is the product catalogue plus an
# entry for that ATR naming SoftHSM. With a display it shows the window; without one it
# runs the console check. Everything the demonstration starts is stopped when it ends.
set -euo pipefail

start_dir=$(pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

./tools/install-deps.sh

jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2

SOFTHSM=/usr/lib/softhsm/libsofthsm2.so
DEMO_ATR=3B8880014C554D4944454D4F17  # T=1, historical bytes "LUMIDEMO"
DEMO_PIN=1234
DEMO_SO_PIN=87654321

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

cards=$(cards_present)
if [ "$cards" -gt 0 ]; then
    cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DLUMIDOR_BUILD_TESTS=OFF -DLUMIDOR_BUILD_BENCHMARKS=OFF >/dev/null
    build_targets "$root/build-run" lumidor
    run_lumidor "$start_dir" "$root/build-run"
    exit 0
fi

echo "Nessun lettore con una smart card inserita."
if [ -t 0 ]; then
    read -r -p "Avviare una dimostrazione con un lettore e una carta virtuali e un token SoftHSM? [S/n] " answer
    case "$answer" in
        [nN]*) exit 0 ;;
    esac
fi

# The demonstration build reads cardlist.json from its working directory; its tests part
# brings the rig's pcscd isolation library.
demo_build="$root/build-demo"
cmake -S . -B "$demo_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMIDOR_EMBED_CATALOGUE=OFF -DLUMIDOR_BUILD_TESTS=ON -DLUMIDOR_BUILD_BENCHMARKS=OFF >/dev/null
build_targets "$demo_build" lumidor lumidor_pcscd_isolation
isolation=$(find "$demo_build" -name '*lumidor_pcscd_isolation*.so' | head -n 1)

work="$demo_build/demo"
rig=$(mktemp -d /tmp/lumidor-demo-XXXXXX)  # short: it holds a Unix socket
vcard_pid=""
cleanup() {
    if [ -n "$vcard_pid" ]; then
        kill "$vcard_pid" 2>/dev/null || true
        wait "$vcard_pid" 2>/dev/null || true
    fi
    python3 "$root/tools/rig.py" stop --dir "$rig" >/dev/null 2>&1 || true
    rm -rf "$rig" "$work/tokens" "$work/softhsm2.conf"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$work"
rm -rf "$work/tokens"
mkdir -p "$work/tokens"

echo "Avvio del pcscd dimostrativo con il lettore virtuale..."
python3 tools/rig.py start --dir "$rig" --isolation "$isolation"
export PCSCLITE_CSOCK_NAME="$rig/run/pcscd.comm"
read -r port _ < "$rig/ports"

python3 tools/vcard.py --port "$port" --atr "$DEMO_ATR" &
vcard_pid=$!
for _ in $(seq 1 100); do
    [ "$(cards_present)" -gt 0 ] && break
    sleep 0.1
done
if [ "$(cards_present)" -eq 0 ]; then
    echo "La carta virtuale non è stata inserita nel lettore." >&2
    exit 1
fi

echo "Preparazione del token SoftHSM..."
export SOFTHSM2_CONF="$work/softhsm2.conf"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
    "$work/tokens" > "$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label "Lumidor demo" \
    --pin "$DEMO_PIN" --so-pin "$DEMO_SO_PIN" >/dev/null
# The key's CKA_ID is the text "01", so that the test's lines name it readably.
pkcs11-tool --module "$SOFTHSM" --login --pin "$DEMO_PIN" --keypairgen --key-type rsa:2048 \
    --id 3031 --label "Chiave demo" >/dev/null

# The product catalogue with one entry in front for the demonstration card.
python3 - "$root/src/catalogue/cardlist.json" "$work/cardlist.json" "$DEMO_ATR" "$SOFTHSM" <<'PY'
import sys
source, target, atr, module = sys.argv[1:]
text = open(source, encoding="utf-8").read()
anchor = '"linux": ['
at = text.index(anchor) + len(anchor)
entry = ('\n    {"type": "CCID", "atr": "%s", "drivers": "%s", "askpin": "true", '
         '"tryreusedriver": "true", "comment": "Lumidor demonstration card (SoftHSM)"},'
         % (atr, module))
open(target, "w", encoding="utf-8").write(text[:at] + entry + text[at:])
PY

echo
echo "Dimostrazione pronta: carta virtuale ($DEMO_ATR) nel lettore 'Virtual PCD 00 00',"
echo "token SoftHSM 'Lumidor demo' con la chiave 'Chiave demo'. PIN del token: $DEMO_PIN"
echo
run_lumidor "$work" "$demo_build" "$DEMO_PIN"
