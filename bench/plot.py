#!/usr/bin/env python3
"""One small picture per benchmark group.

  plot.py FIGURES.tsv OUT.png TITLE

FIGURES.tsv rows: panel, label, value (tab-separated). Each panel becomes
one horizontal bar chart (three to a row); bars whose label ends in "(peer)" are drawn grey,
the library's own in blue, each with its value and, for the library's own,
its speed relative to the fastest peer of the panel (for panels in
seconds, peer time / own time).
"""
import sys
from collections import OrderedDict

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

OWN, PEER = "#2b6cb0", "#a0aec0"
MAX_COLUMNS = 3


def read_panels(path):
    panels = OrderedDict()
    with open(path) as f:
        for line in f:
            if not line.strip() or line.startswith("#"):
                continue
            panel, label, value = line.rstrip("\n").split("\t")[:3]
            panels.setdefault(panel, []).append((label, float(value)))
    return panels


def lower_is_better(panel):
    """Panels of seconds (wall s, CPU s) rank the other way round."""
    return panel.rstrip(")").endswith(" s")


def main():
    figures, out, title = sys.argv[1:4]
    panels = read_panels(figures)
    if not panels:
        sys.exit(f"no figures in {figures}")
    bars_per_panel = max(len(bars) for bars in panels.values())
    cols = 2 if len(panels) == 4 else min(len(panels), MAX_COLUMNS)
    rows = (len(panels) + cols - 1) // cols
    fig, axes = plt.subplots(rows, cols, figsize=(4.6 * cols, rows * (0.3 * bars_per_panel + 0.9)),
                             squeeze=False)
    for ax in axes.flat[len(panels):]:
        ax.set_visible(False)
    for ax, (panel, bars) in zip(axes.flat, panels.items()):
        labels = [label for label, _ in bars][::-1]
        values = [value for _, value in bars][::-1]
        colours = [PEER if label.endswith("(peer)") else OWN for label in labels]
        ax.barh(labels, values, color=colours)
        peers = [v for label, v in bars if label.endswith("(peer)") and v > 0]
        best = min if lower_is_better(panel) else max
        peer = best(peers) if peers else None
        for y, (label, v) in enumerate(zip(labels, values)):
            text = f" {v:,.0f}" if v >= 100 else f" {v:.3g}"
            if peer and v > 0 and not label.endswith("(peer)"):
                speedup = peer / v if lower_is_better(panel) else v / peer
                text += f"  ({speedup:.2f}x peer)"
            ax.text(v, y, text, va="center", fontsize=7)
        ax.set_title(panel, fontsize=9)
        ax.tick_params(labelsize=7)
        positive = [v for v in values if v > 0]
        if positive and max(positive) > 100 * min(positive):
            # Orders of magnitude apart (banded vs full matrix): a log axis.
            ax.set_xscale("log")
            ax.set_xlim(min(positive) / 2, max(positive) * 30)
        else:
            ax.set_xlim(0, max(values) * 1.9 if max(values) > 0 else 1)
        ax.spines[["top", "right"]].set_visible(False)
    fig.suptitle(title, fontsize=10)
    fig.tight_layout()
    fig.savefig(out, dpi=90)


if __name__ == "__main__":
    main()
