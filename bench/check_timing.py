#!/usr/bin/python3
"""Whole-process times of lumidor-check beside the tools of the field, on the rig. Not a test.

    /usr/bin/python3 bench/check_timing.py --build BUILD_DIR [--runs 10]

BUILD_DIR is a build with the tests configured (for example ./tools/test.sh's build): it gives
lumidor-check, lumidor-check-file-catalogue, the scriptable test module and the rig's pcscd
isolation library. The script starts its own rig pcscd, inserts each card, runs every command
--runs times and prints the medians and their ratios; it stops everything it started.

Comparisons:
- the scriptable module with a 300 ms start: lumidor-check vs pkcs11-tool -L; and
  lumidor-check --test vs lumidor-check (the test uses the module the check started: at
  most 1.15 times the check alone);
- a catalogue entry of three such modules: lumidor-check vs three runs of pkcs11-tool -L;
- SoftHSM: lumidor-check vs pkcs11-tool -L plus opensc-tool -a;
- the virtual OpenPGP card with OpenSC: lumidor-check --test vs pkcs11-tool -L, opensc-tool -a
  and pkcs11-tool --login --test; and lumidor-check alone vs pkcs11-tool -L.
"""

import argparse
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PYTHON = "/usr/bin/python3"
SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"
OPENSC = "opensc-pkcs11.so"
PIN = "123456"
PLAIN_ATR = "3B8880014C554D4944454D4F17"
SLOW_START_MS = 300


def find_one(build, pattern):
    found = glob.glob(os.path.join(build, "**", pattern), recursive=True)
    if not found:
        raise SystemExit(f"{build} lacks {pattern}: build the tests first")
    return found[0]


def catalogue(atr, drivers):
    return ('{"version": "1.0.0.0", "linux": [{"type": "CCID", "atr": "%s", "drivers": "%s", '
            '"askpin": "true", "tryreusedriver": "true", "comment": "timing"}]}' % (atr, drivers))


class Rig:
    def __init__(self, scratch, isolation):
        self.directory = os.path.join(scratch, "rig")
        self.card = None
        subprocess.run([PYTHON, os.path.join(ROOT, "tools", "rig.py"), "start", "--dir",
                        self.directory, "--isolation", isolation], check=True,
                       stdout=subprocess.DEVNULL)
        self.environment = dict(os.environ, PCSCLITE_CSOCK_NAME=os.path.join(
            self.directory, "run", "pcscd.comm"))
        with open(os.path.join(self.directory, "ports")) as ports:
            self.port = ports.read().split()[0]

    def card_present(self):
        listing = subprocess.run(["opensc-tool", "--list-readers"], env=self.environment,
                                 capture_output=True, text=True)
        return "Yes" in listing.stdout

    def wait_for(self, present):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.card_present() == present:
                return
            time.sleep(0.1)
        raise SystemExit(f"the reader did not become {'full' if present else 'empty'}")

    def insert(self, *options):
        self.remove()
        self.card = subprocess.Popen([PYTHON, os.path.join(ROOT, "tools", "vcard.py"), "--port",
                                      self.port, *options])
        self.wait_for(True)

    def remove(self):
        if self.card is not None:
            self.card.terminate()
            self.card.wait(timeout=10)
            self.card = None
            self.wait_for(False)

    def stop(self):
        self.remove()
        subprocess.run([PYTHON, os.path.join(ROOT, "tools", "rig.py"), "stop", "--dir",
                        self.directory], stdout=subprocess.DEVNULL)


def median_seconds(commands, runs, environment, work, stdin_text=None):
    """The median of `runs` times of running every command of `commands` one after another."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        for command in commands:
            result = subprocess.run(command, cwd=work, env=environment, input=stdin_text,
                                    capture_output=True, text=True)
            if result.returncode != 0:
                raise SystemExit(f"{' '.join(command)} failed ({result.returncode}):\n"
                                 f"{result.stdout}{result.stderr}")
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def compare(name, ours, theirs):
    print(f"{name}\n  lumidor {ours * 1000:7.0f} ms   peers {theirs * 1000:7.0f} ms   "
          f"ratio {ours / theirs:5.2f}")


def slow_modules(work, module, count):
    paths = []
    for n in range(count):
        path = os.path.join(work, f"slow{n + 1}.so")
        shutil.copy(module, path)
        with open(path + ".script", "w") as script:
            script.write(f"start_delay_ms={SLOW_START_MS}\n")
        paths.append(path)
    return paths


def softhsm_token(scratch, environment):
    tokens = os.path.join(scratch, "tokens")
    os.makedirs(tokens)
    configuration = os.path.join(scratch, "softhsm2.conf")
    with open(configuration, "w") as f:
        f.write(f"directories.tokendir = {tokens}\nobjectstore.backend = file\n"
                "log.level = ERROR\n")
    environment["SOFTHSM2_CONF"] = configuration
    subprocess.run(["softhsm2-util", "--init-token", "--free", "--label", "Timing", "--pin", PIN,
                    "--so-pin", "87654321"], env=environment, check=True,
                   stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--runs", type=int, default=10)
    arguments = parser.parse_args()
    build = os.path.abspath(arguments.build)
    check = find_one(build, "lumidor-check")
    file_check = find_one(build, "lumidor-check-file-catalogue")
    module = find_one(build, "lumidor_testp11.so")
    isolation = find_one(build, "*lumidor_pcscd_isolation*.so")
    runs = arguments.runs

    with tempfile.TemporaryDirectory(prefix="lumidor-timing-", dir="/tmp") as scratch:
        work = os.path.join(scratch, "work")
        os.makedirs(work)
        rig = Rig(scratch, isolation)
        try:
            environment = dict(rig.environment)
            rig.insert("--atr", PLAIN_ATR)
            print(f"median of {runs} runs, whole process")

            one = slow_modules(work, module, 1)
            with open(os.path.join(work, "cardlist.json"), "w") as f:
                f.write(catalogue(PLAIN_ATR, one[0]))
            compare(f"scriptable module, {SLOW_START_MS} ms start: lumidor-check vs pkcs11-tool -L",
                    median_seconds([[file_check]], runs, environment, work),
                    median_seconds([["pkcs11-tool", "--module", one[0], "-L"]], runs,
                                   environment, work))

            with open(one[0] + ".script", "a") as script:
                script.write("key=Firma|K1|0|0\n")
            compare(f"scriptable module, {SLOW_START_MS} ms start: lumidor-check --test vs "
                    "lumidor-check (one start for both)",
                    median_seconds([[file_check, "--test"]], runs, environment, work, PIN + "\n"),
                    median_seconds([[file_check]], runs, environment, work))

            three = slow_modules(work, module, 3)
            with open(os.path.join(work, "cardlist.json"), "w") as f:
                f.write(catalogue(PLAIN_ATR, ",".join(three)))
            compare("three such modules in one entry: lumidor-check vs 3 x pkcs11-tool -L",
                    median_seconds([[file_check]], runs, environment, work),
                    median_seconds([["pkcs11-tool", "--module", path, "-L"] for path in three],
                                   runs, environment, work))

            softhsm_token(scratch, environment)
            with open(os.path.join(work, "cardlist.json"), "w") as f:
                f.write(catalogue(PLAIN_ATR, SOFTHSM))
            compare("SoftHSM: lumidor-check vs pkcs11-tool -L + opensc-tool -a",
                    median_seconds([[file_check]], runs, environment, work),
                    median_seconds([["pkcs11-tool", "--module", SOFTHSM, "-L"],
                                    ["opensc-tool", "-a"]], runs, environment, work))

            os.remove(os.path.join(work, "cardlist.json"))  # the product catalogue from here on
            state = os.path.join(scratch, "card")
            rig.insert("--card", "openpgp", "--state", state)
            compare("OpenPGP card with OpenSC: lumidor-check vs pkcs11-tool -L",
                    median_seconds([[check]], runs, environment, work),
                    median_seconds([["pkcs11-tool", "--module", OPENSC, "-L"]], runs,
                                   environment, work))
            compare("OpenPGP card with OpenSC: lumidor-check --test vs pkcs11-tool -L + "
                    "opensc-tool -a + pkcs11-tool --login --test",
                    median_seconds([[check, "--test"]], runs, environment, work, PIN + "\n"),
                    median_seconds([["pkcs11-tool", "--module", OPENSC, "-L"],
                                    ["opensc-tool", "-a"],
                                    ["pkcs11-tool", "--module", OPENSC, "--login", "--pin", PIN,
                                     "--test"]], runs, environment, work))
        finally:
            rig.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
