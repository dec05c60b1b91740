#!/bin/sh
# Builds the POSIX program and runs the whole job on a copy of the bundled
# example (examples/registry.reg and examples/setup.inf), then shows the log
# and which keys the run deleted. The checked-in example is never modified.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh --native
cmake --preset native >/dev/null
cmake --build --preset native --target brindlex >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/registry.reg examples/setup.inf "$work/"
program=$(pwd)/build/native/brindlex
(cd "$work" && "$program" -p:setup.inf -l)

echo "=== $work/Brindlex.log"
cat "$work/Brindlex.log"
echo "=== keys deleted from registry.reg"
python3 tests/e2e/regfile.py --deleted examples/registry.reg "$work/registry.reg"
