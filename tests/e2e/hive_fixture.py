#!/usr/bin/env python3
"""Binary registry hives for the end-to-end cases, made from a case's regedit
file, and read back with an independent reader.

build(): our empty hive (make_empty_hive), then the keys and values of the
regedit file merged into it by `hivexregedit --merge` (Debian's
libwin-hivex-perl, built on libhivex). The hive is SOFTWARE-shaped (the
HKEY_CLASSES_ROOT keys below a "Classes" key of the root) or a Classes hive
(the keys right below the root, as a hive saved from HKLM\\SOFTWARE\\Classes).
Sections under other roots are left out.

export(): the HKEY_CLASSES_ROOT keys of a hive as a regedit file (UTF-16LE
with a byte-order mark and CRLF, the form regfile.py reads), through
`hivexregedit --export`, with each key's values sorted so that the value
order of the source (which a merge keeps) does not count."""

import argparse
import codecs
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import regfile  # noqa: E402

PREFIX = "HKEY_CLASSES_ROOT"
SECTION = re.compile(r"^\[(-?)([^\\\]]+)(.*)\]\s*$")
SHAPES = ("software", "classes")


def _classes_text(reg_bytes, shape):
    """The regedit text of `reg_bytes` for merging: UTF-8, LF, only the
    HKEY_CLASSES_ROOT sections, renamed to their place in the hive, each
    after sections for the keys above it (a merge creates no parent)."""
    text = regfile.decode(reg_bytes).replace("\r\n", "\n")
    out = ["Windows Registry Editor Version 5.00", ""]
    made = set()
    keep = False
    for line in text.split("\n")[1:]:
        match = SECTION.match(line)
        if match:
            keep = match.group(2).upper() in ("HKEY_CLASSES_ROOT", "HKCR") and not match.group(1)
            if keep:
                base = PREFIX + ("\\Classes" if shape == "software" else "")
                names = [name for name in match.group(3).split("\\") if name]
                for depth in range(1, len(names) + 1):
                    path = "\\".join([base] + names[:depth])
                    if path.lower() not in made:
                        made.add(path.lower())
                        if depth < len(names):
                            out += [f"[{path}]", ""]
                line = "[" + "\\".join([base] + names) + "]"
        if keep:
            out.append(line)
    return "\n".join(out) + "\n"


def build(reg_bytes, hive_path, empty_hive_tool, shape="software"):
    """Writes the hive of the regedit file `reg_bytes` to `hive_path`."""
    subprocess.run([empty_hive_tool, hive_path], check=True)
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", suffix=".reg", delete=False) as reg:
        reg.write(_classes_text(reg_bytes, shape))
    try:
        if shape == "software":
            # The Classes key itself, also when the file names no key.
            subprocess.run(["hivexregedit", "--merge", "--prefix", PREFIX, hive_path],
                           input=b"Windows Registry Editor Version 5.00\n\n"
                                 b"[HKEY_CLASSES_ROOT\\Classes]\n", check=True)
        subprocess.run(["hivexregedit", "--merge", "--prefix", PREFIX, hive_path, reg.name],
                       check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    finally:
        os.unlink(reg.name)


def _sorted_values(text):
    out, values = [], []

    def flush():
        out.extend(sorted(values, key=str.lower))
        values.clear()

    for line in text.split("\n"):
        if line.startswith("["):
            flush()
            out.append(line)
        elif line.strip():
            values.append(line)
        else:
            flush()
            out.append(line)
    flush()
    return "\n".join(out)


def export(hive_path, shape="software"):
    """The HKEY_CLASSES_ROOT keys of the hive as regedit file bytes."""
    key = "\\Classes" if shape == "software" else "\\"
    # Perl prints names below U+0100 as single bytes unless told to write UTF-8.
    result = subprocess.run(["hivexregedit", "--export", "--prefix", PREFIX, hive_path, key],
                            check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=dict(os.environ, PERL_UNICODE="SO"))
    text = result.stdout.decode("utf-8").replace("\r\n", "\n")
    if shape == "software":
        text = re.sub(r"(?m)^\[(-?)HKEY_CLASSES_ROOT\\Classes(?=[\\\]])", r"[\1HKEY_CLASSES_ROOT", text)
    else:
        text = re.sub(r"(?m)^\[(-?)HKEY_CLASSES_ROOT\\\]", r"[\1HKEY_CLASSES_ROOT]", text)
    # Continued lines joined, so that sorting moves whole values.
    text = re.sub(r"\\\n\s*", "", text)
    text = _sorted_values(text)
    return codecs.BOM_UTF16_LE + text.replace("\n", "\r\n").encode("utf-16-le")


VALUE = re.compile(r'^("(?:[^"\\\\]|\\\\.)*"|@)=(.*)$')


def canonical_value(line):
    """A value line of a regedit file in one spelling for each value: strings
    as hex(1) of their UTF-16LE bytes, REG_BINARY as hex(3), hex digits in
    lower case."""
    match = VALUE.match(line)
    if not match:
        return line
    name, data = match.groups()
    if data.startswith('"') and data.endswith('"'):
        text = re.sub(r'\\(.)', r'\1', data[1:-1]) + "\0"
        data = "hex(1):" + ",".join(f"{b:02x}" for b in text.encode("utf-16-le"))
    elif data.lower().startswith("hex:"):
        data = "hex(3):" + data[4:]
    return f"{name}={data.lower().replace(' ', '')}"


def canonical_keys(keys):
    """regfile.read_keys' result with canonical, sorted value lines."""
    return {path: sorted((canonical_value(v) for v in values), key=str.lower)
            for path, values in keys.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    make = sub.add_parser("build", help="make a hive from a regedit file")
    make.add_argument("reg")
    make.add_argument("hive")
    make.add_argument("--empty-hive-tool", required=True)
    make.add_argument("--shape", choices=SHAPES, default="software")
    dump = sub.add_parser("export", help="write a hive's HKEY_CLASSES_ROOT as a regedit file")
    dump.add_argument("hive")
    dump.add_argument("reg")
    dump.add_argument("--shape", choices=SHAPES, default="software")
    args = parser.parse_args()
    if args.command == "build":
        with open(args.reg, "rb") as f:
            build(f.read(), args.hive, args.empty_hive_tool, args.shape)
    else:
        with open(args.reg, "wb") as f:
            f.write(export(args.hive, args.shape))
    return 0


if __name__ == "__main__":
    sys.exit(main())
