#!/usr/bin/env python3
"""Base-level quality of a PAF with cg tags against the simulator's truth.

  alignment_quality.py TRUTH.tsv MAPPING.paf [--label NAME]

Over the primary lines (tp:A:P, the first such line per read) that lie on
the true sequence and strand and overlap the true interval:
  identity     sum of column 10 / sum of column 11
  start/end    median and 90th percentile of |start - truth start| and
               |end - truth end| (reference coordinates)
  net_id       sum over those reads of (read bases aligned - reference bases
               aligned) of the CIGAR, divided by the same sum of the truth
               (read length - truth span): 1.0 means insertions and deletions
               are balanced as in the simulation
Over all lines:
  secondary    lines with tp:A:S; secondary_lt70 those with identity < 0.7
  supplementary  further tp:A:P lines of a read (split parts)
"""
import argparse
import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from eval_paf import read_truth  # noqa: E402  (the evaluator's truth reader)


def pct(values, q):
    values = sorted(values)
    if not values:
        return float("nan")
    return values[min(len(values) - 1, int(q * len(values)))]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("truth")
    ap.add_argument("paf")
    ap.add_argument("--label", default="")
    args = ap.parse_args()
    truth = read_truth(args.truth)
    seen = set()
    matches = columns = 0
    d_start, d_end = [], []
    net = net_truth = 0
    secondary = secondary_low = supplementary = 0
    with open(args.paf) as f:
        for line in f:
            t = line.rstrip("\n").split("\t")
            tags = {x[:2]: x[5:] for x in t[12:]}
            tp = tags.get("tp", "P")
            if tp == "S":
                secondary += 1
                if int(t[9]) < 0.7 * int(t[10]):
                    secondary_low += 1
                continue
            if t[0] in seen:
                supplementary += 1
                continue
            seen.add(t[0])
            tr = truth.get(t[0])
            if tr is None:
                continue
            ref, ts, te, strand = tr
            s, e = int(t[7]), int(t[8])
            if t[5] != ref or t[4] != strand or s >= te or e <= ts:
                continue
            matches += int(t[9])
            columns += int(t[10])
            d_start.append(abs(s - ts))
            d_end.append(abs(e - te))
            net += (int(t[3]) - int(t[2])) - (e - s)
            net_truth += int(t[1]) - (te - ts)
    print("%s\tidentity %.4f\tstart med %s p90 %s\tend med %s p90 %s\tnet_id %.3f\t"
          "secondary %d (<0.7: %d)\tsupplementary %d\treads %d" %
          (args.label, matches / max(columns, 1), statistics.median(d_start), pct(d_start, 0.9),
           statistics.median(d_end), pct(d_end, 0.9), net / net_truth if net_truth else float("nan"),
           secondary, secondary_low, supplementary, len(d_start)))


if __name__ == "__main__":
    main()
