#!/usr/bin/python3
"""Starts and stops the test rig's own pcscd with the vsmartcard-vpcd virtual reader.

    rig.py start --dir DIR --isolation LIB
    rig.py stop --dir DIR

The rig's pcscd never touches a pcscd that already runs on the machine: the isolation
library (preloaded) moves its socket and pid file from /run/pcscd into DIR/run, hides the
USB drivers from it and binds the virtual reader's ports to 127.0.0.1 only. Its readers
"Virtual PCD 00 00" and "Virtual PCD 00 01" listen on the documented ports 35963 and 35964
when those are free, otherwise on the next free pair; DIR/ports names them.
Clients reach it with PCSCLITE_CSOCK_NAME=DIR/run/pcscd.comm.

Works as root and as an ordinary user, without systemd and without a terminal. The rig is
stopped by the process id that start recorded (DIR/pcscd.pid is not trusted alone: the
process must still be the rig's pcscd).
"""

import argparse
import ctypes
import os
import shutil
import signal
import socket
import stat
import subprocess
import sys
import time

PCSCD = "/usr/sbin/pcscd"
VPCD_DRIVER = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so"
READERS = ["Virtual PCD 00 00", "Virtual PCD 00 01"]
FIRST_PORT = 35963
READY_BOUND_SECONDS = 20.0
STOP_BOUND_SECONDS = 10.0
PROBE_TEXT = "lumidor pcscd isolation active"
SCARD_SCOPE_USER = 0
SCARD_AUTOALLOCATE = ctypes.c_ulong(-1).value


class RigError(Exception):
    pass


def paths(directory):
    return {
        "conf": os.path.join(directory, "conf"),
        "run": os.path.join(directory, "run"),
        "socket": os.path.join(directory, "run", "pcscd.comm"),
        "log": os.path.join(directory, "pcscd.log"),
        "pid": os.path.join(directory, "rig.pid"),
        "ports": os.path.join(directory, "ports"),
    }


def is_rig_pcscd(pid, directory):
    """True when pid is a live pcscd started by this rig (not a reused id, not a zombie)."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            arguments = f.read().split(b"\0")
        with open(f"/proc/{pid}/stat") as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return False
    conf = paths(directory)["conf"].encode()
    return state != "Z" and os.path.basename(arguments[0]) == b"pcscd" and conf in arguments


def recorded_pid(directory):
    try:
        with open(paths(directory)["pid"]) as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def stop_process(pid, directory):
    """Ends the rig's pcscd by its id; True when it is gone."""
    if not is_rig_pcscd(pid, directory):
        return True
    os.kill(pid, signal.SIGTERM)
    deadline = time.monotonic() + STOP_BOUND_SECONDS
    while time.monotonic() < deadline:
        if not is_rig_pcscd(pid, directory):
            return True
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)
    deadline = time.monotonic() + STOP_BOUND_SECONDS
    while time.monotonic() < deadline:
        if not is_rig_pcscd(pid, directory):
            return True
        time.sleep(0.05)
    return False


def prepare_directory(directory):
    """Makes DIR ours and empty, after ending a rig left over from an earlier run."""
    try:
        info = os.lstat(directory)
    except FileNotFoundError:
        info = None
    if info is not None:
        if not stat.S_ISDIR(info.st_mode) or info.st_uid != os.getuid():
            raise RigError(f"{directory} exists and is not a directory of this user")
        pid = recorded_pid(directory)
        if pid is not None and not stop_process(pid, directory):
            raise RigError(f"the earlier rig pcscd (pid {pid}) does not end")
        shutil.rmtree(directory)
    os.makedirs(directory, mode=0o700)
    os.mkdir(paths(directory)["conf"], 0o700)
    os.mkdir(paths(directory)["run"], 0o755)


def port_pair_free(port):
    # Bound the way the reader driver binds (address reuse on): what passes here passes
    # there, unless another program takes the port in between.
    sockets = []
    try:
        for p in (port, port + 1):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            sockets.append(s)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind(("127.0.0.1", p))
        return True
    except OSError:
        return False
    finally:
        for s in sockets:
            s.close()


def free_port_pairs():
    for port in range(FIRST_PORT, FIRST_PORT + 400, 2):
        if port_pair_free(port):
            yield port


def write_reader_conf(directory, port):
    with open(os.path.join(paths(directory)["conf"], "vpcd"), "w") as f:
        f.write('FRIENDLYNAME "Virtual PCD"\n'
                f"DEVICENAME   /dev/null:0x{port:04X}\n"
                f"LIBPATH      {VPCD_DRIVER}\n"
                f"CHANNELID    0x{port:04X}\n")


def pcscd_environment(directory, isolation):
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("LISTEN_FDS", "LISTEN_PID", "LISTEN_FDNAMES")}
    environment["LD_PRELOAD"] = isolation
    environment["LUMIDOR_RIG_RUN_DIR"] = paths(directory)["run"]
    return environment


def check_isolation(isolation, directory):
    # Without the preload the daemon would use /run/pcscd: make sure it takes effect first.
    environment = pcscd_environment(directory, isolation)
    environment["LUMIDOR_RIG_PROBE"] = "1"
    probe = subprocess.run([PCSCD, "--version"], env=environment, stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=30)
    if PROBE_TEXT not in probe.stderr:
        raise RigError(f"the isolation library {isolation} does not load into pcscd:\n"
                       + probe.stderr)


def list_readers(library, context):
    names = ctypes.c_char_p()
    length = ctypes.c_ulong(SCARD_AUTOALLOCATE)
    result = library.SCardListReaders(context, None, ctypes.byref(names), ctypes.byref(length))
    if result != 0:
        return []
    try:
        raw = ctypes.string_at(names, length.value)
    finally:
        library.SCardFreeMemory(context, names)
    return [name.decode() for name in raw.split(b"\0") if name]


def wait_ready(process, directory):
    """Polls the rig's socket until both virtual readers are listed, or the bound ends."""
    os.environ["PCSCLITE_CSOCK_NAME"] = paths(directory)["socket"]
    library = ctypes.CDLL("libpcsclite.so.1")
    library.SCardEstablishContext.argtypes = [ctypes.c_ulong, ctypes.c_void_p,
                                              ctypes.c_void_p, ctypes.POINTER(ctypes.c_long)]
    library.SCardListReaders.argtypes = [ctypes.c_long, ctypes.c_char_p, ctypes.c_void_p,
                                         ctypes.POINTER(ctypes.c_ulong)]
    library.SCardFreeMemory.argtypes = [ctypes.c_long, ctypes.c_void_p]
    library.SCardReleaseContext.argtypes = [ctypes.c_long]
    for function in ("SCardEstablishContext", "SCardListReaders", "SCardFreeMemory",
                     "SCardReleaseContext"):
        getattr(library, function).restype = ctypes.c_long
    deadline = time.monotonic() + READY_BOUND_SECONDS
    readers = []
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return f"pcscd ended with status {process.returncode}"
        context = ctypes.c_long()
        if library.SCardEstablishContext(SCARD_SCOPE_USER, None, None,
                                         ctypes.byref(context)) == 0:
            readers = list_readers(library, context)
            library.SCardReleaseContext(context)
            if readers == READERS:
                return None
        time.sleep(0.05)
    return f"the readers did not appear in time (listed: {readers})"


def start(directory, isolation):
    for needed in (PCSCD, VPCD_DRIVER):
        if not os.path.exists(needed):
            raise RigError(f"{needed} is missing: run tools/install-deps.sh")
    if not os.path.isfile(isolation):
        raise RigError(f"the isolation library {isolation} is missing: build the tests first")
    socket_path = paths(directory)["socket"]
    if len(socket_path.encode()) >= 108:
        raise RigError(f"socket path too long for a Unix socket: {socket_path}")
    prepare_directory(directory)
    check_isolation(isolation, directory)

    failures = []
    # A pair found free can be taken by another program before pcscd binds it: then try
    # the next pair.
    for port, _ in zip(free_port_pairs(), range(3)):
        write_reader_conf(directory, port)
        with open(paths(directory)["log"], "ab") as log:
            process = subprocess.Popen(
                [PCSCD, "--foreground", "--config", paths(directory)["conf"]],
                env=pcscd_environment(directory, isolation), stdin=subprocess.DEVNULL,
                stdout=log, stderr=subprocess.STDOUT, start_new_session=True, close_fds=True)
        with open(paths(directory)["pid"], "w") as f:
            f.write(f"{process.pid}\n")
        failure = wait_ready(process, directory)
        if failure is None:
            with open(paths(directory)["ports"], "w") as f:
                f.write(f"{port} {port + 1}\n")
            print(f"rig pcscd {process.pid}: socket {socket_path}, "
                  f"readers {READERS[0]!r} on 127.0.0.1:{port}, {READERS[1]!r} on {port + 1}")
            return
        stop_process(process.pid, directory)
        process.wait(timeout=STOP_BOUND_SECONDS)
        failures.append(f"ports {port}/{port + 1}: {failure}")
    try:
        with open(paths(directory)["log"]) as f:
            log_text = f.read()
    except OSError:
        log_text = ""
    raise RigError("the rig pcscd did not start:\n  " + "\n  ".join(failures or ["no free ports"])
                   + "\npcscd log:\n" + log_text)


def stop(directory):
    if not os.path.isdir(directory):
        print("no rig to stop")
        return
    pid = recorded_pid(directory)
    if pid is not None and not stop_process(pid, directory):
        raise RigError(f"the rig pcscd (pid {pid}) does not end")
    shutil.rmtree(directory, ignore_errors=True)
    print(f"rig pcscd {pid} stopped" if pid is not None else "rig removed")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("action", choices=["start", "stop"])
    parser.add_argument("--dir", required=True, help="the rig's own directory")
    parser.add_argument("--isolation", help="path of the pcscd isolation library")
    arguments = parser.parse_args()
    directory = os.path.abspath(arguments.dir)
    try:
        if arguments.action == "start":
            if not arguments.isolation:
                parser.error("start needs --isolation")
            start(directory, os.path.abspath(arguments.isolation))
        else:
            stop(directory)
    except RigError as error:
        print(f"rig: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
