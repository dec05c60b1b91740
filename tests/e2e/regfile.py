"""Reads regedit files (the text `reg export` writes) into the keys and
values they hold, for comparing what remains in a registry after a run."""

import codecs


def decode(data):
    """The text of a regedit file: UTF-16LE with a byte-order mark, else
    single-byte text as regedit reads it (Windows-1252)."""
    if data.startswith(codecs.BOM_UTF16_LE):
        return data[2:].decode("utf-16-le", errors="replace")
    return data.decode("cp1252", errors="replace")


def read_keys(data, root="HKEY_CLASSES_ROOT\\Installer"):
    """{key path: [value lines]} for `root` and the keys below it, in file
    order. A section implies every key above it, as an import does."""
    keys = {}
    current = None
    pending = ""
    for raw in decode(data).replace("\r\n", "\n").split("\n"):
        line = pending + (raw.lstrip() if pending else raw)
        pending = ""
        if line.startswith("[") and line.rstrip().endswith("]"):
            path = line.rstrip()[1:-1]
            current = None
            if path.lower() == root.lower() or path.lower().startswith(root.lower() + "\\"):
                _add_with_parents(keys, path, root)
                current = path
        elif current is not None and line.rstrip().endswith("\\"):
            pending = line.rstrip()[:-1]  # a long value goes on on the next line
        elif current is not None and line.strip() and not line.startswith(";"):
            keys[current].append(line.strip())
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
