#!/usr/bin/python3
"""One manager checking the virtual OpenPGP card with OpenSC many times, on a rig of its own.
Not a test.

    /usr/bin/python3 bench/repeated_checks.py --build BUILD_DIR [--count 250]

BUILD_DIR is a build with the tests and benchmarks configured: it gives repeated_checks and
the rig's pcscd isolation library. Prints what repeated_checks prints, with whether another
program could take the card in exclusive mode while the manager lived (exit status 0: it
could); stops everything it started."""

import argparse
import os
import subprocess
import sys
import tempfile

from check_timing import PYTHON, ROOT, Rig, find_one

READER = "Virtual PCD 00 00"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--count", type=int, default=250)
    arguments = parser.parse_args()
    build = os.path.abspath(arguments.build)
    program = find_one(build, "repeated_checks")
    isolation = find_one(build, "*lumidor_pcscd_isolation*.so")
    with tempfile.TemporaryDirectory(prefix="lumidor-checks-", dir="/tmp") as scratch:
        rig = Rig(scratch, isolation)
        try:
            rig.insert("--card", "openpgp", "--state", os.path.join(scratch, "card"))
            exclusive = " ".join([PYTHON, os.path.join(ROOT, "tests", "support", "rig",
                                                        "exclusive_connect.py"), f"'{READER}'"])
            subprocess.run([program, READER, str(arguments.count), exclusive], cwd=scratch,
                           env=rig.environment, check=True)
        finally:
            rig.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
