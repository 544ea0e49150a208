#!/usr/bin/env bash
# The package as a user installs it: `pip install ./python` without any
# package index (into a target directory, taking the libraries from this
# build to stay quick), and `cmake --install`; each is imported from an
# unrelated directory with no library path in the environment, and maps the
# bundled example through Aligner to the PAF `bioeng map` prints.
# Exits 77 (skipped) when pip is not available.
set -euo pipefail
python=$1 src=$2 build=$3 bioeng=$4
"$python" -m pip --version >/dev/null 2>&1 || { echo "pip not available: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset BIOENGINE_LIB BIOENGINE_HOST_LIB LD_LIBRARY_PATH PYTHONPATH

"$bioeng" map -t 1 "$src/examples/ref.fa" "$src/examples/reads.fq" >"$work/tool.paf"

check() { # site-dir, directory expected to hold the loaded libraries
  (cd "$work" && PYTHONPATH=$1 "$python" - "$1" "$2" "$src/examples" "$work/tool.paf" <<'PY'
import os, sys
import bioengine as be
site, root, examples, tool = sys.argv[1:]
where = os.path.realpath(be.library_path())
assert where.startswith(os.path.realpath(root) + os.sep), where
lines = []
with be.Aligner(os.path.join(examples, "ref.fa"), threads=1) as aligner:
    for record in be.SeqFile(os.path.join(examples, "reads.fq")):
        name = record.name.split()[0]
        lines += [h.paf_line(name, len(record.codes)) + "\n" for h in aligner.map(record.sequence, name)]
expected = open(tool).read()
assert "".join(lines) == expected, "Aligner output differs from bioeng map"
print(f"{site}: {len(lines)} PAF lines equal to bioeng map, libraries from {where}")
PY
  )
}

PIP_ROOT_USER_ACTION=ignore BIOENGINE_BUILD_DIR=$build "$python" -m pip install --quiet --no-index --no-deps \
  --no-cache-dir --target "$work/site" "$src/python"
check "$work/site" "$work/site"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
check "$(dirname "$(find "$work/prefix" -name _libdir.py)")/.." "$work/prefix"
