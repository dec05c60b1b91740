"""Reads regedit files (the text `reg export` writes) into the keys and
values they hold, for comparing what remains in a registry after a run."""

import codecs
import re


def decode(data):
    """The text of a regedit file: UTF-16LE with a byte-order mark, else
    single-byte text as regedit reads it (Windows-1252)."""
    if data.startswith(codecs.BOM_UTF16_LE):
        return data[2:].decode("utf-16-le", errors="replace")
    return data.decode("cp1252", errors="replace")


def read_keys(data, root="HKEY_CLASSES_ROOT\\Installer"):
    """{key path: [value lines]} for `root` and the keys below it, in file
    order. A section implies every key above it, as an import does. Lines
    end in CR LF, LF or CR; a value ending in "\\" goes on on the next line
    (a section line there included), also before the first section; a
    section line with a blank after "[" or without "]" is passed over, and
    what follows its last "]" too."""
    keys = {}
    current = None
    pending = None
    for raw in re.split(r"\r\n|\r|\n", decode(data)):
        if pending is not None:
            line = pending + raw.lstrip()
            pending = None
        else:
            line = raw.lstrip(" \t")
            if line.startswith("[") and line[1:2] not in (" ", "\t") and "]" in line:
                path = line[1:line.rindex("]")]
                current = None
                if path.lower() == root.lower() or path.lower().startswith(root.lower() + "\\"):
                    _add_with_parents(keys, path, root)
                    current = path
                continue
            if not line.startswith(("\"", "@")):
                continue
        if line.rstrip().endswith("\\"):
            pending = line.rstrip()[:-1]  # a long value goes on on the next line
        elif current is not None:
            keys[current].append(line.strip())
    if pending is not None and current is not None:
        keys[current].append(pending.strip())  # continued up to the end of the file
    return keys


def _add_with_parents(keys, path, root):
    parts = path[len(root):].split("\\")[1:]
    at = root
    keys.setdefault(root, [])
    for part in parts:
        at = at + "\\" + part
        keys.setdefault(at, [])


def describe(keys):
    """One line per key and value, sorted without regard to case, as a diff
    of two registries shows them."""
    lines = []
    for path in sorted(keys, key=str.lower):
        lines.append(f"[{path}]")
        lines.extend(f"    {value}" for value in keys[path])
    return lines


def _main():
    import argparse
    parser = argparse.ArgumentParser(description="Lists the keys of one regedit file that "
                                                 "another no longer holds.")
    parser.add_argument("--deleted", nargs=2, metavar=("BEFORE", "AFTER"), required=True)
    args = parser.parse_args()
    with open(args.deleted[0], "rb") as f:
        before = read_keys(f.read())
    with open(args.deleted[1], "rb") as f:
        after = {path.lower() for path in read_keys(f.read())}
    for path in before:
        if path.lower() not in after:
            print(path)


if __name__ == "__main__":
    _main()
