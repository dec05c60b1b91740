#!/usr/bin/env python3
"""Makes the registry.reg files of the end-to-end cases bad/hive-regf-*: a
SOFTWARE hive holding the product and patches of their setup.inf, built as
hive_fixture.py builds the hives of the registry cases, then damaged in one
way each. The program must refuse each one without changing a byte.

Usage: make_bad_hive_cases.py EMPTY_HIVE_TOOL   (brindlex_make_empty_hive)"""

import os
import struct
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import hive_fixture  # noqa: E402

PRODUCT = "4080110900063D11C8EF10054038389C"
PATCHES = ("8A1D5C2E6F3B4A7D9E0F1A2B3C4D5E6F", "1F2E3D4C5B6A79880F1E2D3C4B5A6978")
BINS = 0x1000  # file offset of the first hive bin
KEY_NAME = 0x4C  # offsets in a key cell's data
SUBKEY_LIST = 0x1C


def registry_text():
    lines = ["Windows Registry Editor Version 5.00", "",
             f"[HKEY_CLASSES_ROOT\\Installer\\Products\\{PRODUCT}\\Patches]",
             '"AllPatches"=hex(7):00,00', ""]
    for patch in PATCHES:
        lines += [f"[HKEY_CLASSES_ROOT\\Installer\\Patches\\{patch}\\SourceList]",
                  '"PackageName"="p.msp"', ""]
    return "\r\n".join(lines).encode("utf-8")


def checksum(block):
    words = struct.unpack("<127I", block[:508])
    total = 0
    for word in words:
        total ^= word
    return {0: 1, 0xFFFFFFFF: 0xFFFFFFFE}.get(total, total)


def fix_checksum(hive):
    hive[508:512] = struct.pack("<I", checksum(bytes(hive[:4096])))


def key_cell(hive, name):
    """The file offset of the key cell named `name` (ASCII, stored compressed)."""
    at = bytes(hive).find(name.encode("ascii"))
    cell = at - KEY_NAME - 4
    assert at > 0 and hive[cell + 4:cell + 6] == b"nk", name
    return cell


def dirty(hive):
    sequence = struct.unpack_from("<I", hive, 4)[0]
    struct.pack_into("<I", hive, 8, sequence + 1)
    fix_checksum(hive)


def truncated(hive):
    del hive[len(hive) - 4096:]


def damaged_product_cell(hive):
    cell = key_cell(hive, PRODUCT)
    hive[cell + 4:cell + 6] = b"zz"


def unreadable_classes(hive):
    cell = key_cell(hive, "Classes")
    subkeys = struct.unpack_from("<I", hive, cell + 4 + SUBKEY_LIST)[0]
    hive[BINS + subkeys + 4:BINS + subkeys + 6] = b"zz"


DAMAGES = {
    "hive-regf-dirty": dirty,
    "hive-regf-truncated": truncated,
    "hive-regf-damaged-cell": damaged_product_cell,
    "hive-regf-classes-unreadable": unreadable_classes,
}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "SOFTWARE")
        hive_fixture.build(registry_text(), path, sys.argv[1], "software")
        with open(path, "rb") as f:
            good = f.read()
    for case, damage in DAMAGES.items():
        hive = bytearray(good)
        damage(hive)
        with open(os.path.join(HERE, "cases", "bad", case, "registry.reg"), "wb") as f:
            f.write(hive)
    return 0


if __name__ == "__main__":
    sys.exit(main())
