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
"$bioeng" map -t 1 "$ref" "$reads" >"$work/single.paf" 2>>"$work/single.log"
test -s "$work/single.paf"
cmp "$work/single.paf" "$work/out/mapped.paf"
echo "PAF of 3 chunks equals the single run ($(wc -l <"$work/single.paf") lines)"
if [ "$bam" = true ]; then
  # One mapping job per chunk writes both the PAF and the SAM.
  [ "$(ls "$work/out/logs" | grep -c '^map_')" = 3 ] || { ls "$work/out/logs" >&2; exit 1; }
  "$bioeng" map -t 1 -a "$ref" "$reads" >"$work/single.sam" 2>>"$work/single.log"
  samtools sort --no-PG -@ 1 -o "$work/single.bam" "$work/single.sam" 2>/dev/null
  cmp "$work/single.bam" "$work/out/mapped.bam"
  test -s "$work/out/mapped.bam.bai"
  echo "sorted BAM of 3 chunks equals the single run's"
fi

# More chunks than reads: empty chunks add nothing.
head -n 8 "$reads" >"$work/two.fq"
run_workflow "$work/out_small" "$work/two.fq" 5 false
"$bioeng" map -t 1 "$ref" "$work/two.fq" >"$work/single_small.paf" 2>>"$work/single.log"
cmp "$work/single_small.paf" "$work/out_small/mapped.paf"
echo "PAF of 5 chunks over 2 reads equals the single run"

# The SLURM profile, with an sbatch stand-in that runs each job at once:
# the scheduler's job logs go below outdir, not below ./results.
mkdir -p "$work/bin" "$work/elsewhere"
cat >"$work/bin/sbatch" <<'SBATCH'
#!/usr/bin/env bash
# Runs the job script (the last argument) now, its output to --output.
out=
for a in "$@"; do case $a in --output=*) out=${a#--output=} ;; esac; done
id=$((RANDOM + 1000))
bash "${@: -1}" >"${out//%j/$id}" 2>&1 || exit 1
echo "$id"
SBATCH
chmod +x "$work/bin/sbatch"
(cd "$work/elsewhere" &&
  PATH="$work/bin:$PATH" snakemake -s "$src/workflows/Snakefile" \
    --profile "$src/workflows/profiles/slurm" --latency-wait 5 --jobs 2 --quiet \
    --config reference="$ref" reads="$reads" chunks=2 bioeng="$bioeng" \
             outdir="$work/out_slurm" bam=false >"$work/slurm.log" 2>&1) ||
  { cat "$work/slurm.log" >&2; exit 1; }
cmp "$work/single.paf" "$work/out_slurm/mapped.paf"
ls "$work/out_slurm/logs/slurm/"map_chunk-*.out >/dev/null
[ ! -e "$work/elsewhere/results" ] || { echo "SLURM logs went to ./results" >&2; exit 1; }
echo "SLURM profile: job logs in outdir/logs/slurm ($(ls "$work/out_slurm/logs/slurm" | wc -l) files)"
