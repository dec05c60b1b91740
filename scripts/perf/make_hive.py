#!/usr/bin/env python3
"""Writes a large registry hive in `reg export` form (UTF-16LE, CRLF) with
the shape of a real HKEY_CLASSES_ROOT\\Installer: products with their source
lists and patch lists, patches with source lists, features, components and
upgrade codes, with values of the usual kinds. One product's patch (the
"target") carries a tree of --tree keys, for a run to delete; the setup
information file naming them is written beside the hive.

Usage: make_hive.py OUT.reg SETUP.inf --keys N [--tree M]"""

import argparse
import random

ROOT = "HKEY_CLASSES_ROOT\\Installer"


def guid(rng):
    return "%032X" % rng.getrandbits(128)


def product_blocks(rng, product, patches):
    key = f"{ROOT}\\Products\\{product}"
    yield key, [
        '"ProductName"="Example Product %d"' % rng.randrange(1000),
        '"PackageCode"="%s"' % guid(rng),
        '"Language"=dword:00000409', '"Version"=dword:0c0000%02x' % rng.randrange(256),
        '"Assignment"=dword:00000001', '"AdvertiseFlags"=dword:00000184',
        '"ProductIcon"="C:\\\\Windows\\\\Installer\\\\{%s}\\\\icon.exe"' % guid(rng),
        '"InstanceType"=dword:00000000', '"AuthorizedLUAApp"=dword:00000000',
        '"Clients"=hex(7):3a,00,00,00,00,00']
    yield key + "\\Patches", ['"Patches"=hex(7):' + ",".join(["00"] * 4)] + [
        f'"{patch}"=":{rng.randrange(99)}.mst"' for patch in patches]
    yield key + "\\SourceList", ['"PackageName"="product%d.msi"' % rng.randrange(99999),
                                 '"LastUsedSource"=hex(2):6e,00,3b,00,31,00,00,00']
    yield key + "\\SourceList\\Media", ['"DiskPrompt"="Example Disk"', '"1"=";1"']
    yield key + "\\SourceList\\Net", ['"1"=hex(2):43,00,3a,00,5c,00,00,00']


def patch_blocks(rng, patch):
    key = f"{ROOT}\\Patches\\{patch}"
    yield key, ['"PatchType"=dword:00000000', '"LUAEnabled"=dword:00000000',
                '"MsiPatchMetadata"="KB%d"' % rng.randrange(10**6)]
    yield key + "\\SourceList", ['"PackageName"="KB%d.msp"' % rng.randrange(10**6),
                                 '"LastUsedSource"="n;1;c:\\\\updates\\\\"']
    yield key + "\\SourceList\\Media", ['"DiskPrompt"=""', '"100"=";"']
    yield key + "\\SourceList\\Net", ['"1"="c:\\\\updates\\\\"']


def feature_blocks(rng, product):
    values = ['"Feature%d"="%s"' % (i, guid(rng)[:20]) for i in range(rng.randrange(2, 8))]
    yield f"{ROOT}\\Features\\{product}", values


def component_block(rng):
    yield f"{ROOT}\\Components\\{guid(rng)}", [
        '"%s"="C:\\\\Program Files\\\\Example\\\\file%d.dll"' % (guid(rng), rng.randrange(10**5))]


def target_tree(rng, patch, size):
    """The target patch with `size` keys in all: two levels of subkeys of
    different name lengths below its source list."""
    blocks = list(patch_blocks(rng, patch))
    base = f"{ROOT}\\Patches\\{patch}\\SourceList\\Media"
    width = max(1, int(size ** 0.5))
    left = size - len(blocks)
    for i in range(width):
        if left <= 0:
            break
        group = f"{base}\\Disk{i:05d}" + "x" * (i % 40)
        blocks.append((group, ['"Label"="disk %d"' % i]))
        left -= 1
        for j in range(min(width, left)):
            blocks.append((f"{group}\\File{j:05d}", ['"Size"=dword:%08x' % j]))
            left -= 1
    return blocks


def generate(keys, tree, seed=1):
    rng = random.Random(seed)
    target_product, target_patch = guid(rng), guid(rng)
    blocks = [(ROOT, []), (f"{ROOT}\\Components", []), (f"{ROOT}\\Features", []),
              (f"{ROOT}\\Patches", []), (f"{ROOT}\\Products", []), (f"{ROOT}\\UpgradeCodes", [])]
    blocks += list(product_blocks(rng, target_product, [target_patch]))
    blocks += target_tree(rng, target_patch, tree)
    while len(blocks) < keys:
        product = guid(rng)
        patches = [guid(rng) for _ in range(rng.randrange(0, 3))]
        blocks += product_blocks(rng, product, patches)
        for patch in patches:
            blocks += patch_blocks(rng, patch)
        blocks += feature_blocks(rng, product)
        blocks.append((f"{ROOT}\\UpgradeCodes\\{guid(rng)}", [f'"{product}"=""']))
        for _ in range(rng.randrange(5, 15)):
            blocks += component_block(rng)
    blocks.sort(key=lambda block: block[0].lower().split("\\"))
    return blocks, target_product, target_patch


def write_hive(path, blocks):
    with open(path, "wb") as out:
        out.write(b"\xff\xfe")
        chunk = ["Windows Registry Editor Version 5.00\r\n\r\n"]
        for key, values in blocks:
            chunk.append(f"[{key}]\r\n")
            chunk.extend(value + "\r\n" for value in values)
            chunk.append("\r\n")
            if len(chunk) > 20000:
                out.write("".join(chunk).encode("utf-16-le"))
                chunk = []
        out.write("".join(chunk).encode("utf-16-le"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("hive")
    parser.add_argument("setup")
    parser.add_argument("--keys", type=int, required=True)
    parser.add_argument("--tree", type=int, default=100000)
    args = parser.parse_args()
    blocks, product, patch = generate(args.keys, args.tree)
    write_hive(args.hive, blocks)
    with open(args.setup, "w", newline="\r\n") as setup:
        setup.write(f"[Upgrade]\nProductKey={product}\nPatchKey1={patch}\n")
    print(f"{len(blocks)} keys")


if __name__ == "__main__":
    main()
