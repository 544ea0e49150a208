#!/usr/bin/env bash
# Throughput of bio_parse_mem_parallel at 1 and 2 threads against the
# streaming batch reader and a kseq.h peer reading the same bytes, in one run.
# Usage: bench/parse/run.sh [repeats]   (BUILD_DIR, DATA_DIR may be set)
# Data: DATA_DIR/big.fastq and big.fasta (made by shared/bench/make-data.sh);
# when absent, ~300 MB random files are generated under /tmp.
set -euo pipefail
cd "$(dirname "$0")/../.."
REPEATS=${1:-5}
B=${BUILD_DIR:-build-bench-parse}
DATA=${DATA_DIR:-/work/bench-data/parse}

# The peer header comes from Debian's htslib development package.
if [ ! -f /usr/include/htslib/kseq.h ]; then
  apt-get update -qq && apt-get install -y -qq libhts-dev >/dev/null
fi

if [ ! -f "$DATA/big.fastq" ] || [ ! -f "$DATA/big.fasta" ]; then
  DATA=/tmp/parse-bench-data
  mkdir -p "$DATA"
  python3 - "$DATA" <<'PY'
import random, sys
random.seed(7)
out = sys.argv[1]
bases = "ACGT"
with open(out + "/big.fastq", "w") as f:
    for i in range(850_000):
        n = random.randint(100, 500)
        s = "".join(random.choices(bases, k=n))
        q = "".join(random.choices("#+5?@AEFGHI", k=n))
        f.write(f"@read{i} len={n}\n{s}\n+\n{q}\n")
with open(out + "/big.fasta", "w") as f:
    for i in range(60):
        n = 5_000_000
        s = "".join(random.choices(bases, k=n))
        f.write(f">chrom{i}\n")
        for k in range(0, n, 70):
            f.write(s[k:k + 70] + "\n")
PY
fi

cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DENGINE_BUILD_BENCH=ON -DENGINE_BUILD_TESTS=OFF \
  -DENGINE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$B" --target parse_bench >/dev/null
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), load $(cut -d' ' -f1-3 /proc/loadavg)"
"$B"/bench/parse/parse_bench "$DATA/big.fastq" fastq "$REPEATS"
"$B"/bench/parse/parse_bench "$DATA/big.fasta" fasta "$REPEATS"
