#!/usr/bin/env bash
# Builds the benchmark data sets, from Debian packages only (scripts/setup.sh
# bench installs them: pbsim, art-nextgen-simulation-tools, seqtk, seqkit,
# ragout-examples for the genomes).
#   bench/make-data.sh [DIR]     (default $BENCH_DATA, else bench/data)
# Idempotent: every output is written to a temporary name and moved into
# place at the end of its step; a step whose output exists is skipped.
# All simulators run with fixed seeds, so a rebuild gives identical files.
#
#   P/      E. coli K-12 MG1655, 1 sequence, 4.64 Mb: ref.fa, long.fq, short.fq, *.truth.tsv
#   pairs/            read piece vs true reference window, 1 kb / 5 kb / 10 kb
#   parse/            big.fastq (~1 GB) and big.fasta (~500 MB), plain text
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
DATA=${1:-${BENCH_DATA:-$HERE/data}}
PBSIM_MODEL=/usr/share/pbsim/models/model_qc_clr
RAGOUT=/usr/share/doc/ragout/examples
P_GENOME=$RAGOUT/E.Coli/references/MG1655-K12.fasta.gz

LONG_BASES=20000000     # ~20 Mb of long reads per set
SHORT_READS=100000      # exactly this many 150 bp reads per set
SHORT_LEN=150

log() { echo "[make_data] $*" >&2; }

# Reference with the original headers and line width (what users feed in).
make_ref() { # src dst
  local src=$1 dst=$2
  [[ -s $dst ]] && return
  case $src in
    *.gz) zcat "$src" ;;
    *.xz) xzcat "$src" ;;
  esac > "$dst.tmp"
  mv "$dst.tmp" "$dst"
}

genome_len() { grep -v '^>' "$1" | tr -d '\n' | wc -c; }

# pbsim CLR reads: ~LONG_BASES bases, lengths 2-10 kb (mean 6 kb), ~90 % accuracy.
make_long() { # dir seed
  local dir=$1 seed=$2
  [[ -s $dir/long.fq && -s $dir/long.truth.tsv ]] && return
  log "pbsim long reads in $dir (seed $seed)"
  local tmp; tmp=$(mktemp -d "$dir/pbsim.XXXX")
  # pbsim writes the whole header into its MAF: give it first-word names.
  awk '/^>/{print $1; next} {print}' "$dir/ref.fa" > "$tmp/ref.fa"
  local depth
  depth=$(python3 -c "print(f'{$LONG_BASES / $(genome_len "$dir/ref.fa"):.4f}')")
  (cd "$tmp" && pbsim --data-type CLR --depth "$depth" --model_qc "$PBSIM_MODEL" \
      --length-mean 6000 --length-sd 2000 --length-min 2000 --length-max 10000 \
      --accuracy-mean 0.90 --accuracy-sd 0.02 --accuracy-min 0.85 \
      --seed "$seed" --prefix sd ref.fa > pbsim.log 2>&1)
  cat "$tmp"/sd_*.fastq > "$tmp/long.fq"
  python3 "$HERE/sim2truth.py" maf "$tmp"/sd_*.maf > "$tmp/long.truth.tsv"
  mv "$tmp/long.truth.tsv" "$dir/long.truth.tsv"
  mv "$tmp/long.fq" "$dir/long.fq"
  rm -rf "$tmp"
}

# ART Illumina HiSeq 2500 single-end 150 bp, subsampled to exactly SHORT_READS.
make_short() { # dir art_seed sample_seed
  local dir=$1 seed=$2 sseed=$3
  [[ -s $dir/short.fq && -s $dir/short.truth.tsv ]] && return
  log "art_illumina short reads in $dir (seed $seed)"
  local tmp; tmp=$(mktemp -d "$dir/art.XXXX")
  local fold
  fold=$(python3 -c "print(f'{1.05 * $SHORT_READS * $SHORT_LEN / $(genome_len "$dir/ref.fa"):.4f}')")
  art_illumina -q -ss HS25 -sam -na -i "$dir/ref.fa" -l $SHORT_LEN -f "$fold" \
      -rs "$seed" -o "$tmp/art" > "$tmp/art.log" 2>&1
  seqtk sample -s "$sseed" "$tmp/art.fq" $SHORT_READS > "$tmp/short.fq"
  local n; n=$(awk 'END{print NR/4}' "$tmp/short.fq")
  [[ $n -eq $SHORT_READS ]] || { log "ART gave too few reads ($n)"; exit 1; }
  awk 'NR%4==1{print substr($1,2)}' "$tmp/short.fq" > "$tmp/names"
  python3 "$HERE/sim2truth.py" sam "$tmp/art.sam" --keep "$tmp/names" > "$tmp/short.truth.tsv"
  mv "$tmp/short.truth.tsv" "$dir/short.truth.tsv"
  mv "$tmp/short.fq" "$dir/short.fq"
  rm -rf "$tmp"
}

make_set() { # name genome pbsim_seed art_seed sample_seed
  local dir=$DATA/$1
  mkdir -p "$dir"
  make_ref "$2" "$dir/ref.fa"
  make_long "$dir" "$3"
  make_short "$dir" "$4" "$5"
}

# Alignment pairs: a separate pbsim run on the Set P genome with reads of
# 10.5-13 kb, cut into read pieces of exactly 1/5/10 kb against the
# reference span of the same alignment columns (forward orientation).
make_pairs() {
  local dir=$DATA/pairs
  mkdir -p "$dir"
  [[ -s $dir/pairs_1k.tsv && -s $dir/pairs_5k.tsv && -s $dir/pairs_10k.tsv ]] && return
  log "alignment pairs"
  local tmp; tmp=$(mktemp -d "$dir/pbsim.XXXX")
  awk '/^>/{print $1; next} {print}' "$DATA/P/ref.fa" > "$tmp/ref.fa"
  (cd "$tmp" && pbsim --data-type CLR --depth 0.35 --model_qc "$PBSIM_MODEL" \
      --length-mean 11500 --length-sd 700 --length-min 10500 --length-max 13000 \
      --accuracy-mean 0.90 --accuracy-sd 0.02 --accuracy-min 0.85 \
      --seed 104 --prefix pr ref.fa > pbsim.log 2>&1)
  python3 "$HERE/make_pairs.py" 1051 1000 1000 10 "$tmp"/pr_*.maf > "$tmp/pairs_1k.tsv"
  python3 "$HERE/make_pairs.py" 1052 5000 200 2 "$tmp"/pr_*.maf > "$tmp/pairs_5k.tsv"
  python3 "$HERE/make_pairs.py" 1053 10000 100 1 "$tmp"/pr_*.maf > "$tmp/pairs_10k.tsv"
  mv "$tmp"/pairs_*.tsv "$dir/"
  rm -rf "$tmp"
}

# Parsing inputs. big.fastq: Set P long + short reads, repeated to ~1 GB.
# big.fasta: the 16 complete public genomes of ragout-examples (70-column
# lines, 1-2 records each; includes the P genome),
# repeated to ~500 MB.
make_parse() {
  local dir=$DATA/parse
  mkdir -p "$dir"
  if [[ ! -s $dir/big.fastq ]]; then
    log "big.fastq"
    local unit=$(( $(stat -c %s "$DATA/P/long.fq") + $(stat -c %s "$DATA/P/short.fq") ))
    local copies=$(( (1000000000 + unit / 2) / unit ))
    for ((i = 0; i < copies; i++)); do cat "$DATA/P/long.fq" "$DATA/P/short.fq"; done > "$dir/big.fastq.tmp"
    mv "$dir/big.fastq.tmp" "$dir/big.fastq"
  fi
  if [[ ! -s $dir/big.fasta ]]; then
    log "big.fasta"
    local refs
    refs=$(ls "$RAGOUT"/*/references/*.fasta.gz | LC_ALL=C sort)
    # O395.fasta.gz lacks a final newline: add it, or the next header would
    # be glued to the last sequence line.
    local r
    for r in $refs; do zcat "$r" | sed -e '$a\'; done > "$dir/genomes.fa.tmp"
    local unit; unit=$(stat -c %s "$dir/genomes.fa.tmp")
    local copies=$(( (500000000 + unit / 2) / unit ))
    for ((i = 0; i < copies; i++)); do cat "$dir/genomes.fa.tmp"; done > "$dir/big.fasta.tmp"
    rm "$dir/genomes.fa.tmp"
    mv "$dir/big.fasta.tmp" "$dir/big.fasta"
  fi
}

manifest() {
  log "manifest"
  (cd "$DATA" && find P pairs parse -type f \( -name '*.fa' -o -name '*.fq' -o -name '*.tsv' -o -name 'big.*' \) \
     | LC_ALL=C sort | while read -r f; do
         printf "%s\t%s\t%s\n" "$f" "$(stat -c %s "$f")" "$(md5sum < "$f" | cut -c1-32)"
       done) > "$DATA/MANIFEST.tsv.tmp"
  mv "$DATA/MANIFEST.tsv.tmp" "$DATA/MANIFEST.tsv"
}

mkdir -p "$DATA"
make_set P "$P_GENOME" 101 102 103
make_pairs
make_parse
manifest
log "done: $DATA"
