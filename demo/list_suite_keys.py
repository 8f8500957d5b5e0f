#!/usr/bin/env python3
"""Lists the demo suite's registrations that a Wine prefix holds, one line per registration
(a ProgID, a class, an interface, a type library, a settings key), as regedit names them.

Usage: list_suite_keys.py PREFIX
"""

import os
import re
import sys

SUITE = re.compile(r"tarvo|6b1d0c4a", re.IGNORECASE)
BRANCHES = ("clsid", "interface", "typelib")


def registration(hive, path):
    """The registration a key belongs to, named where a 64-bit regedit finds it."""
    parts = path.split("\\")
    lower = [part.lower() for part in parts]
    if len(parts) > 2 and lower[0] == "software" and lower[1] == "classes":
        rest = parts[2:]
        node = []
        if rest[0].lower() == "wow6432node" and len(rest) > 1:
            node, rest = rest[:1], rest[1:]
        depth = 2 if rest[0].lower() in BRANCHES else 1
        return "HKEY_CLASSES_ROOT\\" + "\\".join(node + rest[:depth])
    for start in (1, 2):  # Software\Tarvo\98, Software\Wow6432Node\Tarvo\98
        if len(lower) > start + 1 and lower[start] == "tarvo" and \
                (start == 1 or lower[1] == "wow6432node"):
            return hive + "\\" + "\\".join(parts[:start + 2])
    return hive + "\\" + path


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: list_suite_keys.py PREFIX")
    seen = []
    for hive, name in (("HKEY_LOCAL_MACHINE", "system.reg"), ("HKEY_CURRENT_USER", "user.reg")):
        with open(os.path.join(sys.argv[1], name), encoding="ascii", errors="replace") as reg:
            for line in reg:
                if not line.startswith("[") or "]" not in line:
                    continue
                path = line[1:line.rindex("]")].replace("\\\\", "\\")
                if SUITE.search(path):
                    key = registration(hive, path)
                    if key not in seen:
                        seen.append(key)
    for key in seen:
        print(key)


if __name__ == "__main__":
    main()
