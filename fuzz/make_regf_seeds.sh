#!/bin/sh
# Makes the seed hives of the regf fuzz target (tests/data/fuzz/regf/) from
# our empty hive, filled with hivexregedit: small SOFTWARE- and
# Classes-shaped hives with the names and values the registry cases use.
# Usage: make_regf_seeds.sh MAKE_EMPTY_HIVE [OUT_DIR]
set -eu
tool=$1
out=${2:-$(dirname "$0")/../tests/data/fuzz/regf}
mkdir -p "$out"
"$tool" "$out/empty.hive"
merge() {  # merge NAME: the regedit text on standard input into a new hive
  "$tool" "$out/$1.hive"
  hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' "$out/$1.hive"
}
merge software <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes]

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer]

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Products]

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Products\PROD]
"ProductName"="Example"

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Products\PROD\Patches]
"Patches"=hex(7):50,00,00,00,00,00

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Patches]

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Patches\P]
"State"=dword:00000001

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Patches\P\SourceList]
"PackageName"="p.msp"

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Patches\P\SourceList\Net]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows]
REG
merge classes <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Installer]

[HKEY_LOCAL_MACHINE\SOFTWARE\Installer\Patches]

[HKEY_LOCAL_MACHINE\SOFTWARE\Installer\Patches\P1]

[HKEY_LOCAL_MACHINE\SOFTWARE\Installer\Patches\P1\[x]]

[HKEY_LOCAL_MACHINE\SOFTWARE\Installer\Patches\P1\_under]

[HKEY_LOCAL_MACHINE\SOFTWARE\Installer\Patches\P1\Média]

[HKEY_LOCAL_MACHINE\SOFTWARE\Installer\Patches\P1\€uro]

[HKEY_LOCAL_MACHINE\SOFTWARE\Installer\Patches\P1\中文]

[HKEY_LOCAL_MACHINE\SOFTWARE\Installer\Patches\P1\Zeta]
REG
