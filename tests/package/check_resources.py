#!/usr/bin/env python3
"""Checks that an executable carries a setup package as the install run expects it.

    check_resources.py <exe> <package dir> [--all]

For each of the fifteen payload names, in id order from 197: if the package directory holds
the file (name compared without regard to case), the executable must have exactly one
resource of type "BINARY" with that id, in language 1033 with code page 0, whose bytes are
exactly the file's; if it does not, the executable must have no such resource. With --all,
all fifteen files must be there. No other id may stand under the type.
"""

import os
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe import PeImage  # noqa: E402

NAMES = ["_inst32i.ex_", "_isdel.exe", "_setup.dll", "_sys1.cab", "_user1.cab", "data.tag",
         "data1.cab", "lang.dat", "layout.bin", "os.dat", "setup.bmp", "setup.exe", "setup.ini",
         "setup.ins", "setup.lid"]
FIRST_ID = 197


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    require_all = "--all" in sys.argv[1:]
    exe, package = args
    failures = []
    with open(exe, "rb") as f:
        image = PeImage(f.read())
    resources = image.resources()
    types = [t for t in resources if isinstance(t, str) and t.upper() == "BINARY"]
    if types != ["BINARY"]:
        print(f"FAILED: expected one resource type named \"BINARY\" in {exe}, found {types}")
        return 1
    binary = resources["BINARY"]
    on_disk = {n.lower(): os.path.join(package, n) for n in os.listdir(package)}

    expected_ids = set()
    for index, name in enumerate(NAMES):
        rid = FIRST_ID + index
        path = on_disk.get(name)
        if path is None:
            if require_all:
                failures.append(f"expected {name} in {package}")
            if rid in binary:
                failures.append(f"expected no resource {rid} ({name} is not in the package)")
            continue
        expected_ids.add(rid)
        with open(path, "rb") as f:
            content = f.read()
        if rid not in binary:
            failures.append(f"expected resource {rid} for {name}")
            continue
        languages = binary[rid]
        if list(languages) != [1033]:
            failures.append(f"expected resource {rid} in language 1033 only, found {list(languages)}")
            continue
        codepage, data = languages[1033]
        if codepage != 0:
            failures.append(f"expected code page 0 for resource {rid}, found {codepage}")
        if data != content:
            failures.append(f"expected resource {rid} to hold the {len(content)} bytes of {name}, "
                            f"found {len(data)} bytes" + (" that differ" if len(data) == len(content) else ""))
    extra = sorted(set(k for k in binary if k not in expected_ids))
    if extra:
        failures.append(f"expected no other BINARY resources, found ids {extra}")

    for f in failures:
        print("FAILED: " + f)
    if not failures:
        sizes = sum(len(binary[i][1033][1]) for i in expected_ids)
        print(f"{exe}: {len(expected_ids)} BINARY resources, {sizes} bytes, equal to {package}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
