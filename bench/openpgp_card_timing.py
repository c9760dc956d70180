#!/usr/bin/python3
"""Whole-process times of lumidor-check against the virtual OpenPGP card, beside OpenSC's own
pkcs11-tool on the same card and module. Not a test: run it by hand on the rig.

    bench/openpgp_card_timing.py --build BUILD_DIR [--runs 10]

BUILD_DIR is a build with the tests part configured (for the rig's pcscd isolation library)
and lumidor-check built, for example after ./tools/test.sh: build. The script starts its own
rig pcscd and the card, runs each command --runs times, prints the median of each and stops
everything it started.
"""

import argparse
import glob
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PYTHON = "/usr/bin/python3"
MODULE = "opensc-pkcs11.so"
PIN = "123456"


def wait_for_card(environment, bound=60.0):
    deadline = time.monotonic() + bound
    while time.monotonic() < deadline:
        listing = subprocess.run(["opensc-tool", "--list-readers"], env=environment,
                                 capture_output=True, text=True)
        if "Yes" in listing.stdout:
            return
        time.sleep(0.2)
    raise SystemExit("the virtual card did not appear in the reader")


def median_seconds(command, runs, environment, work, stdin_text=None):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        result = subprocess.run(command, cwd=work, env=environment, input=stdin_text,
                                capture_output=True, text=True)
        times.append(time.perf_counter() - start)
        if result.returncode != 0:
            raise SystemExit(f"{' '.join(command)} failed ({result.returncode}):\n"
                             f"{result.stdout}{result.stderr}")
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--runs", type=int, default=10)
    arguments = parser.parse_args()
    build = os.path.abspath(arguments.build)
    check = os.path.join(build, "src", "check", "lumidor-check")
    isolation = glob.glob(os.path.join(build, "**", "*lumidor_pcscd_isolation*.so"),
                          recursive=True)
    if not os.path.isfile(check) or not isolation:
        raise SystemExit(f"{build} lacks lumidor-check or the pcscd isolation library")

    with tempfile.TemporaryDirectory(prefix="lumidor-bench-", dir="/tmp") as scratch:
        rig = os.path.join(scratch, "rig")
        work = os.path.join(scratch, "work")
        state = os.path.join(scratch, "card")
        os.makedirs(work)
        os.makedirs(state)
        subprocess.run([PYTHON, os.path.join(ROOT, "tools", "rig.py"), "start", "--dir", rig,
                        "--isolation", isolation[0]], check=True, stdout=subprocess.DEVNULL)
        card = None
        try:
            environment = dict(os.environ, PCSCLITE_CSOCK_NAME=os.path.join(rig, "run",
                                                                            "pcscd.comm"))
            with open(os.path.join(rig, "ports")) as ports:
                port = ports.read().split()[0]
            card = subprocess.Popen([PYTHON, os.path.join(ROOT, "tools", "vcard.py"), "--port",
                                     port, "--card", "openpgp", "--state", state])
            wait_for_card(environment)
            runs = arguments.runs
            rows = [
                ("lumidor-check", median_seconds([check], runs, environment, work)),
                ("pkcs11-tool -L",
                 median_seconds(["pkcs11-tool", "--module", MODULE, "-L"], runs, environment,
                                work)),
                ("lumidor-check --test",
                 median_seconds([check, "--test"], runs, environment, work, PIN + "\n")),
                ("pkcs11-tool --login --test",
                 median_seconds(["pkcs11-tool", "--module", MODULE, "--login", "--pin", PIN,
                                 "--test"], runs, environment, work)),
            ]
        finally:
            if card is not None:
                card.terminate()
                card.wait(timeout=10)
            subprocess.run([PYTHON, os.path.join(ROOT, "tools", "rig.py"), "stop", "--dir", rig],
                           stdout=subprocess.DEVNULL)
    print(f"median of {arguments.runs} runs, whole process:")
    for name, seconds in rows:
        print(f"  {name:28} {seconds * 1000:8.0f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
