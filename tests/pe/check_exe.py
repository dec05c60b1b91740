#!/usr/bin/env python3
"""Checks a built Windows program without running it: its machine type and
subsystem, that it needs no DLL beyond those of Windows itself, and that its
resources hold the main dialog, the fixed texts, the version information
and the icon."""

import argparse
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "gdi32.dll", "msvcrt.dll",
               "comctl32.dll", "shell32.dll", "ntdll.dll"}
MACHINES = {"i686": "i386", "x86_64": "x86-64"}

EXPECTED_RESOURCES = [
    r'102 DIALOGEX 0, 0, 268, 43',
    r'STYLE 0x[0-9a-f]+',
    r'EXSTYLE 0x40000',  # WS_EX_APPWINDOW
    r'CAPTION "Brindlex"',
    # windres leaves out weight 0, not italic and the default character set.
    r'FONT 8, "MS Sans Serif"\n',
    # child, visible, tab stop, default push button
    r'DEFPUSHBUTTON "&Exit", 1, 12, 24, 50, 11, 0x50010001',
    # child, visible, group, left-aligned
    r'LTEXT "[^"]*", -1, 124, 13, 19, 10, 0x50020000',
    r'1, "ProductKey"', r'2, "PatchKey"', r'3, "Patches"', r'4, "Installer\\\\Products\\\\"',
    r'5, "Installer\\\\Patches\\\\"', r'6, "Upgrade"', r'7, "OLMSETUP.INF"', r'8, "Brindlex.log"',
    r'FILEVERSION 1, 0, 0, 1', r'PRODUCTVERSION 1, 0, 0, 1', r'FILEOS 0x4\n', r'FILETYPE 0x1\n',
    r'BLOCK "040904b0"',
    r'VALUE "FileDescription", "Brindlex MFC Application"', r'VALUE "InternalName", "Brindlex"',
    r'VALUE "OriginalFilename", "Brindlex.EXE"', r'VALUE "ProductName", "Brindlex Application"',
    r'VALUE "Comments", ""', r'VALUE "CompanyName", ""', r'VALUE "LegalTrademarks", ""',
    r'VALUE "PrivateBuild", ""', r'VALUE "SpecialBuild", ""',
    r'128 14 /\* RT_GROUP_ICON \*/',
    r'"\\020\\020\\000\\000", 1, 32',  # 16 x 16
    r'"\\040\\040\\000\\000", 1, 32',  # 32 x 32
]

# DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU
DIALOG_STYLE = 0x40 | 0x80 | 0x80000000 | 0x10000000 | 0x00C00000 | 0x00080000


def headers(objdump, exe):
    return subprocess.run([objdump, "-p", exe], check=True, stdout=subprocess.PIPE,
                          text=True, errors="replace").stdout


def check_headers(text, arch):
    problems = []
    if f"file format pei-{MACHINES[arch]}" not in text:
        problems.append(f"not a {arch} PE file")
    subsystem = re.search(r"^Subsystem\s+([0-9a-f]+)", text, re.M)
    if not subsystem or int(subsystem.group(1), 16) != 2:
        problems.append("not a GUI-subsystem program")
    dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", text)}
    for dll in sorted(dlls - SYSTEM_DLLS):
        problems.append(f"needs a DLL that Windows does not have: {dll}")
    return problems


def check_resources(windres, exe):
    rc = subprocess.run([windres, "-i", exe, "-O", "rc"], check=True, stdout=subprocess.PIPE,
                        text=True, errors="replace").stdout
    rc = re.sub(r"[ \t]+", " ", rc)
    problems = [f"resource missing: {pattern}" for pattern in EXPECTED_RESOURCES
                if not re.search(pattern, rc)]
    style = re.search(r"102 DIALOGEX[^\n]*\nSTYLE (0x[0-9a-f]+)", rc)
    if style and int(style.group(1), 16) != DIALOG_STYLE:
        problems.append(f"dialog style {style.group(1)} is not {DIALOG_STYLE:#x}")
    controls = re.findall(r"^\s*(DEFPUSHBUTTON|LTEXT|CONTROL)[^\n]*", rc, re.M)
    if [c for c in controls] != ["DEFPUSHBUTTON", "LTEXT"]:
        problems.append(f"dialog controls in tab order are {controls}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("exe")
    parser.add_argument("--arch", choices=sorted(MACHINES), required=True)
    args = parser.parse_args()
    triplet = f"{args.arch}-w64-mingw32"
    problems = check_headers(headers(f"{triplet}-objdump", args.exe), args.arch)
    problems += check_resources(f"{triplet}-windres", args.exe)
    for problem in problems:
        print(problem)
    print("ok" if not problems else f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
