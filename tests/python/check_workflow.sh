#!/usr/bin/env bash
# Runs the scale-out workflow on the bundled example and checks that its
# merged outputs equal a single-process run of the tool byte for byte.
#   check_workflow.sh BIOENG SOURCE_DIR
set -euo pipefail
bioeng=$1
src=$2
if ! command -v snakemake >/dev/null; then
  echo "snakemake is not installed (Debian package snakemake)" >&2
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ref=$src/examples/ref.fa
reads=$src/examples/reads.fq
bam=false
if command -v samtools >/dev/null; then bam=true; fi

run_workflow() { # outdir reads chunks bam
  snakemake -s "$src/workflows/Snakefile" --cores 2 --directory "$work" --quiet \
    --config reference="$ref" reads="$2" chunks="$3" bioeng="$bioeng" outdir="$1" \
             threads_per_job=1 bam="$4" >"$work/snakemake.log" 2>&1 ||
    { cat "$work/snakemake.log" >&2; exit 1; }
}

# Three chunks of the bundled reads, PAF and (with samtools) sorted BAM.
run_workflow "$work/out" "$reads" 3 "$bam"
"$bioeng" map -t 1 "$ref" "$reads" >"$work/single.paf"
test -s "$work/single.paf"
cmp "$work/single.paf" "$work/out/mapped.paf"
echo "PAF of 3 chunks equals the single run ($(wc -l <"$work/single.paf") lines)"
if [ "$bam" = true ]; then
  "$bioeng" map -t 1 -a "$ref" "$reads" >"$work/single.sam"
  samtools sort --no-PG -@ 1 -o "$work/single.bam" "$work/single.sam" 2>/dev/null
  cmp "$work/single.bam" "$work/out/mapped.bam"
  test -s "$work/out/mapped.bam.bai"
  echo "sorted BAM of 3 chunks equals the single run's"
fi

# More chunks than reads: empty chunks add nothing.
head -n 8 "$reads" >"$work/two.fq"
run_workflow "$work/out_small" "$work/two.fq" 5 false
"$bioeng" map -t 1 "$ref" "$work/two.fq" >"$work/single_small.paf"
cmp "$work/single_small.paf" "$work/out_small/mapped.paf"
echo "PAF of 5 chunks over 2 reads equals the single run"
