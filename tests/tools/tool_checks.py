#!/usr/bin/env python3
"""End-to-end checks of the bioeng command-line tool.

    tool_checks.py --bioeng PATH --source DIR CHECK [--update]

Each CHECK is one CTest test. Golden files live in tests/tools/golden/;
--update rewrites them from the current tool (review the diff before
committing). Python 3 standard library only, plus samtools for the samtools
check.
"""
import argparse
import gzip
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

ARGS = None


class CheckFailed(Exception):
    pass


def ensure(cond, message):
    if not cond:
        raise CheckFailed(message)


def run(args, cwd=None, stdin=None, expect_rc=0):
    """Runs bioeng with args; returns (stdout bytes, stderr text)."""
    proc = subprocess.run([ARGS.bioeng] + args, cwd=cwd or ARGS.source, stdin=stdin,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    err = proc.stderr.decode(errors="replace")
    if expect_rc is not None and proc.returncode != expect_rc:
        raise CheckFailed("bioeng %s: exit %d, expected %d\n%s" %
                          (" ".join(args), proc.returncode, expect_rc, err))
    return proc.stdout, err


def example(name):
    return os.path.join("examples", name)


def golden(name, produced):
    path = os.path.join(ARGS.source, "tests", "tools", "golden", name)
    if ARGS.update:
        with open(path, "wb") as f:
            f.write(produced)
        return
    with open(path, "rb") as f:
        expected = f.read()
    if produced != expected:
        exp_lines = expected.decode().splitlines()
        got_lines = produced.decode().splitlines()
        for i, (e, g) in enumerate(zip(exp_lines, got_lines)):
            if e != g:
                raise CheckFailed("%s differs at line %d:\n  expected: %s\n  got:      %s" %
                                  (name, i + 1, e[:200], g[:200]))
        raise CheckFailed("%s: %d lines expected, %d produced" %
                          (name, len(exp_lines), len(got_lines)))


def write_bgzf(data, path, block=60000):
    """BGZF by hand: gzip members of at most 64 KiB with the BC extra field,
    then the empty end-of-file block."""
    def member(chunk):
        comp = zlib.compressobj(6, zlib.DEFLATED, -15)
        body = comp.compress(chunk) + comp.flush()
        extra = b"BC" + struct.pack("<H", 2) + struct.pack("<H", 0)
        header = b"\x1f\x8b\x08\x04" + b"\0\0\0\0" + b"\0\xff" + struct.pack("<H", len(extra))
        size = len(header) + len(extra) + len(body) + 8
        extra = extra[:4] + struct.pack("<H", size - 1)
        return header + extra + body + struct.pack("<II", zlib.crc32(chunk), len(chunk))
    with open(path, "wb") as f:
        for i in range(0, len(data), block):
            f.write(member(data[i:i + block]))
        f.write(member(b""))


def read_source(name):
    with open(os.path.join(ARGS.source, name), "rb") as f:
        return f.read()


def compressed_variants(tmp, name):
    """The example file as gzip, as two concatenated gzip members, and as BGZF."""
    data = read_source(name)
    base = os.path.join(tmp, os.path.basename(name))
    out = {}
    out["gzip"] = base + ".gz"
    with open(out["gzip"], "wb") as f:
        f.write(gzip.compress(data, 6))
    out["multi-member gzip"] = base + ".2.gz"
    half = data.find(b"\n@", len(data) // 2) + 1 if name.endswith("q") else len(data) // 2
    with open(out["multi-member gzip"], "wb") as f:
        f.write(gzip.compress(data[:half]) + gzip.compress(data[half:]))
    out["bgzf"] = base + ".bgz"  # the name says nothing: the content decides
    write_bgzf(data, out["bgzf"])
    out["gzip named .txt"] = base + ".txt"
    shutil.copy(out["gzip"], out["gzip named .txt"])
    return out


# ------------------------------------------------------------------ checks

def check_help():
    for cmd in ("map", "align", "stats", "report"):
        out, _ = run([cmd, "--help"])
        ensure(out.startswith(b"Usage: bioeng " + cmd.encode()), cmd + " --help")
    out, _ = run(["--help"])
    ensure(b"map" in out and b"align" in out and b"stats" in out, "top-level help")
    _, err = run(["map", "--no-such-option", "a", "b"], expect_rc=2)
    ensure("unknown option" in err, "unknown option message: " + err)
    _, err = run(["map", "-k", "40", example("ref.fa"), example("reads.fq")], expect_rc=2)
    ensure("between 1 and 32" in err, "k range message: " + err)
    _, err = run(["frobnicate"], expect_rc=2)
    ensure("unknown command" in err, "unknown command message")
    _, err = run(["align", "-m", "bogus", "x", "y"], expect_rc=2)
    ensure("unknown alignment method" in err, err)
    for bad in ("nan", "inf", "-inf"):
        _, err = run(["map", "--min-score", bad, "a", "b"], expect_rc=2)
        ensure("finite number" in err, "--min-score %s: %s" % (bad, err))
    # Help and version text that cannot be written is a failure.
    if os.path.exists("/dev/full"):
        for args in (["--help"], ["--version"], ["map", "--help"]):
            with open("/dev/full", "wb") as full:
                proc = subprocess.run([ARGS.bioeng] + args, stdout=full, stderr=subprocess.PIPE)
            ensure(proc.returncode == 1 and b"write error" in proc.stderr,
                   "%s to a full device: exit %d" % (" ".join(args), proc.returncode))


def summary_lines(err):
    """The end-of-run summary of bioeng map on stderr, which must be all there
    is: {"reads": ..., "mapped": ..., "primary": ..., ...}."""
    lines = err.splitlines()
    ensure(len(lines) == 3 and all(l.startswith("bioeng map: ") for l in lines),
           "stderr is not just the summary: " + err)
    words = " ".join(lines).replace(",", " ").replace(";", " ").split()
    number_before = lambda w: int(words[words.index(w) - 1])
    return {key: number_before(key) for key in
            ("reads", "bases", "mapped", "primary", "secondary", "supplementary")}


def check_golden_map_paf():
    out, err = run(["map", example("ref.fa"), example("reads.fq")])
    summary_lines(err)
    golden("example.paf", out)


def check_golden_map_sam():
    out, _ = run(["map", "-a", "--MD", example("ref.fa"), example("reads.fq")])
    golden("example.sam", out)


def check_golden_map_raw():
    """--raw-hits prints the library's own hits, as the tool did before it
    re-aligned them."""
    out, _ = run(["map", "--raw-hits", example("ref.fa"), example("reads.fq")])
    golden("example.raw.paf", out)
    out, _ = run(["map", "-a", "--raw-hits", example("ref.fa"), example("reads.fq")])
    golden("example.raw.sam", out)


def check_split_and_secondary_options():
    base, _ = run(["map", example("ref.fa"), example("reads.fq")])
    none, _ = run(["map", "--secondary=no", example("ref.fa"), example("reads.fq")])
    rows = lambda out: [l.split("\t") for l in out.decode().splitlines()]
    ensure(all(r[12] != "tp:A:S" for r in rows(none)), "--secondary=no printed a secondary")
    ensure([r for r in rows(base) if r[12] != "tp:A:S"] == rows(none),
           "--secondary=no changed the other records")
    loose, _ = run(["map", "--secondary-ratio", "0.2", example("ref.fa"), example("reads.fq")])
    ensure(len(rows(loose)) >= len(rows(base)), "a lower ratio reported fewer records")
    cs, _ = run(["map", "--cs", example("ref.fa"), example("reads.fq")])
    for plain, with_cs in zip(rows(base), rows(cs)):
        ensure(plain == with_cs[:-1] and with_cs[-1].startswith("cs:Z:"), "--cs tag")


def check_golden_stats():
    out, _ = run(["stats", example("ref.fa"), example("reads.fq")])
    golden("example.stats.tsv", out)


def check_golden_align():
    a = os.path.join("tests", "tools", "data", "pair_a.fa")
    b = os.path.join("tests", "tools", "data", "pair_b.fa")
    text = b""
    for method in ("global", "semiglobal", "local", "banded", "banded-semiglobal",
                   "banded-diag", "simd"):
        out, _ = run(["align", "-m", method, "--band", "16", a, b])
        text += out
    pa = os.path.join("tests", "tools", "data", "prot_a.fa")
    pb = os.path.join("tests", "tools", "data", "prot_b.fa")
    out, _ = run(["align", "-m", "local", "--width", "0", pa, pb])
    text += out
    golden("align.txt", text)
    # The three banded forms of global alignment agree with each other.
    outs = [run(["align", "-m", m, "--band", "30", a, b])[0].split(b"\n", 1)[1]
            for m in ("banded", "banded-diag", "simd")]
    ensure(outs[0] == outs[1] == outs[2], "banded, banded-diag and simd disagree")


def check_compressed_identical():
    plain_paf, _ = run(["map", example("ref.fa"), example("reads.fq")])
    plain_sam, _ = run(["map", "-a", example("ref.fa"), example("reads.fq")])
    plain_stats, _ = run(["stats", example("reads.fq")])
    with tempfile.TemporaryDirectory() as tmp:
        reads = compressed_variants(tmp, example("reads.fq"))
        refs = compressed_variants(tmp, example("ref.fa"))
        for kind, path in reads.items():
            out, _ = run(["map", refs[kind], path])
            ensure(out == plain_paf, "PAF differs for %s input" % kind)
            out, _ = run(["map", "-a", example("ref.fa"), path])
            body = out.split(b"\n@PG")[1].split(b"\n", 1)[1]
            ensure(body == plain_sam.split(b"\n@PG")[1].split(b"\n", 1)[1],
                   "SAM differs for %s input" % kind)
            out, _ = run(["stats", path])
            stats = out.decode().splitlines()[1].split("\t")
            want = plain_stats.decode().splitlines()[1].split("\t")
            ensure(stats[3:] == want[3:], "stats differ for %s input" % kind)
            expect = "bgzf" if kind == "bgzf" else "gzip"
            ensure(stats[2] == expect, "compression column %s for %s" % (stats[2], kind))
        # BGZF blocks followed by an ordinary gzip member read as gzip -dc does
        data = read_source(example("reads.fq"))
        cut = data.index(b"\n@", len(data) // 2) + 1
        mixed = os.path.join(tmp, "mixed.fq.gz")
        write_bgzf(data[:cut], mixed)
        with open(mixed, "rb") as f:
            blocks = f.read()[:-28]  # without its end-of-file block
        with open(mixed, "wb") as f:
            f.write(blocks + gzip.compress(data[cut:]))
        out, _ = run(["map", example("ref.fa"), mixed])
        ensure(out == plain_paf, "PAF differs for BGZF followed by gzip")
        # standard input, compressed or not
        with open(reads["gzip"], "rb") as f:
            out, _ = run(["map", example("ref.fa"), "-"], stdin=f)
        ensure(out == plain_paf, "PAF differs for gzip on standard input")


def check_threads_identical():
    one, _ = run(["map", "-t", "1", example("ref.fa"), example("reads.fq")])
    two, _ = run(["map", "-t", "2", example("ref.fa"), example("reads.fq")])
    ensure(one == two, "PAF differs between 1 and 2 threads")
    small, _ = run(["map", "-t", "2", "--batch-size", "4096", example("ref.fa"),
                    example("reads.fq")])
    ensure(one == small, "PAF differs with small batches")
    sam1, _ = run(["map", "-a", "-t", "1", example("ref.fa"), example("reads.fq")])
    sam2, _ = run(["map", "-a", "-t", "2", "--batch-size", "4096", example("ref.fa"),
                   example("reads.fq")])
    strip = lambda s: s.split(b"\n@PG")[1].split(b"\n", 1)[1]
    ensure(strip(sam1) == strip(sam2), "SAM differs between thread counts / batch sizes")
    s1, _ = run(["stats", "-t", "1", example("reads.fq")])
    s2, _ = run(["stats", "-t", "2", "--batch-size", "2048", example("reads.fq")])
    ensure(s1 == s2, "stats differ between thread counts / batch sizes")


def check_presets():
    """-x sets k, w and the rest; options given with it win, wherever they
    stand; an unknown preset is a usage error."""
    ref, reads = example("ref.fa"), example("reads.fq")
    for preset in ("sr", "map-ont", "map-pb"):
        out, err = run(["map", "-x", preset, ref, reads])
        ensure(out.count(b"\ttp:A:P") >= 250, "-x %s maps too few reads" % preset)
        summary_lines(err)
    sr, _ = run(["map", "-x", "sr", ref, reads])
    explicit, _ = run(["map", "-k", "21", "-w", "11", ref, reads])
    ensure(sr == explicit, "-x sr differs from its documented values")
    after, _ = run(["map", "-x", "sr", "-k", "15", ref, reads])
    before, _ = run(["map", "-k", "15", "-x", "sr", ref, reads])
    plain, _ = run(["map", "-k", "15", "-w", "11", ref, reads])
    ensure(after == before == plain, "an explicit -k does not override the preset")
    _, err = run(["map", "-x", "nanopore", ref, reads], expect_rc=2)
    ensure("unknown preset" in err and "map-ont" in err, "unknown preset message: " + err)


def check_several_inputs_and_output_file():
    """Several reads files map as their concatenation; -o writes the records
    to a file, --paf the PAF of the same run beside the SAM."""
    ref, reads = example("ref.fa"), example("reads.fq")
    single, _ = run(["map", ref, reads])
    single_sam, _ = run(["map", "-a", ref, reads])
    data = read_source(reads)
    cut = data.find(b"\n@", len(data) // 3) + 1
    with tempfile.TemporaryDirectory() as tmp:
        first, second = os.path.join(tmp, "a.fq"), os.path.join(tmp, "b.fq.gz")
        with open(first, "wb") as f:
            f.write(data[:cut])
        with open(second, "wb") as f:
            f.write(gzip.compress(data[cut:]))
        out, _ = run(["map", ref, first, second])
        ensure(out == single, "two reads files differ from their concatenation")
        paf_path, sam_path = os.path.join(tmp, "o.paf"), os.path.join(tmp, "o.sam")
        out, _ = run(["map", "-o", paf_path, ref, first, second])
        ensure(out == b"", "records on stdout with -o")
        ensure(read_source(paf_path) == single, "-o file differs from stdout")
        run(["map", "-a", "--paf", paf_path, "-o", sam_path, ref, first, second])
        ensure(read_source(paf_path) == single, "--paf differs from a PAF run")
        body = lambda sam: [l for l in sam.splitlines() if not l.startswith(b"@")]
        ensure(body(read_source(sam_path)) == body(single_sam), "SAM beside --paf differs")
    _, err = run(["map", "--paf", "x.paf", ref, reads], expect_rc=2)
    ensure("-a" in err, "--paf without -a: " + err)


def check_read_group():
    """-R: the @RG line in the header (escaped tabs become tabs) and RG:Z on
    every record, accepted by samtools; a line without @RG or ID is refused."""
    ref, reads = example("ref.fa"), example("reads.fq")
    out, _ = run(["map", "-a", "-R", "@RG\\tID:run7\\tSM:sample1\\tPL:ONT", ref, reads])
    header = [l for l in out.decode().splitlines() if l.startswith("@RG")]
    ensure(header == ["@RG\tID:run7\tSM:sample1\tPL:ONT"], "@RG header: %r" % header)
    records = parse_sam(out)
    ensure(records and all(r[-1] == "RG:Z:run7" for r in records), "RG:Z missing on a record")
    plain, _ = run(["map", "-a", ref, reads])
    ensure([r[:-1] for r in records] == parse_sam(plain), "-R changed the records")
    if shutil.which("samtools"):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "rg.sam")
            with open(path, "wb") as f:
                f.write(out)
            ensure(int(samtools("view", "-c", "-r", "run7", path)) == len(records),
                   "samtools does not see the read group on every record")
    for bad, why in (("ID:x", "@RG"), ("@RG\\tSM:x", "ID"), ("@RG\\tID:x\\tjunk", "TAG:VALUE")):
        _, err = run(["map", "-a", "-R", bad, ref, reads], expect_rc=1)
        ensure(why in err, "-R %s: %s" % (bad, err))
    # PAF has no read groups: -R is checked and leaves the PAF as it is.
    paf, _ = run(["map", "-R", "@RG\\tID:run7", ref, reads])
    ensure(paf == run(["map", ref, reads])[0], "-R changed the PAF")


def check_summary():
    """The summary goes to stderr when it is a file, and --summary writes it
    as JSON whose counts are the PAF's."""
    import json
    ref, reads = example("ref.fa"), example("reads.fq")
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "summary.json")
        with open(os.path.join(tmp, "stderr"), "wb") as err_file:
            proc = subprocess.run([ARGS.bioeng, "map", "--summary", path, ref, reads, reads],
                                  cwd=ARGS.source, stdout=subprocess.PIPE, stderr=err_file)
        ensure(proc.returncode == 0, "map --summary failed")
        text = summary_lines(read_source(os.path.join(tmp, "stderr")).decode())
        with open(path) as f:
            js = json.load(f)
    rows = [l.split("\t") for l in proc.stdout.decode().splitlines()]
    primary = sum(1 for r in rows if r[12] == "tp:A:P")
    mapped = len({r[0] for r in rows})  # the same names twice: two copies of the file
    fq = read_source(reads).splitlines()
    ensure(js["reads"] == 2 * (len(fq) // 4), "reads %d" % js["reads"])
    ensure(js["bases"] == 2 * sum(len(fq[i]) for i in range(1, len(fq), 4)), "bases")
    ensure(js["records"] == len(rows) and js["primary"] == primary and
           js["secondary"] + js["supplementary"] == len(rows) - primary, "record counts")
    ensure(js["mapped_reads"] == primary == 2 * mapped, "mapped reads")
    ensure(abs(js["mapped_fraction"] - primary / js["reads"]) < 1e-6, "mapped fraction")
    ensure(js["wall_seconds"] >= 0 and js["cpu_seconds"] > 0 and js["peak_memory_bytes"] > 0,
           "times and memory")
    for key in ("reads", "bases", "primary", "secondary", "supplementary"):
        ensure(text[key] == js[key], "stderr and JSON disagree on " + key)
    ensure(text["mapped"] == js["mapped_reads"], "stderr and JSON disagree on mapped reads")


def check_man_page():
    """bioeng.1, built beside the tool from the help texts, renders with man
    and shows every line of every command's --help."""
    page = os.path.join(os.path.dirname(ARGS.bioeng), "bioeng.1")
    ensure(os.path.exists(page), "no manual page at " + page)
    if shutil.which("man") is None:
        print("man not installed; skipped")
        sys.exit(77)
    env = dict(os.environ, LC_ALL="C", MANWIDTH="200", MAN_KEEP_FORMATTING="")
    proc = subprocess.run(["man", "-l", page], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=env)
    ensure(proc.returncode == 0 and not proc.stderr.strip(),
           "man -l failed: " + proc.stderr.decode(errors="replace"))
    shown = {l.strip() for l in proc.stdout.decode().splitlines()}
    for cmd in ([], ["map"], ["align"], ["stats"], ["report"]):
        out, _ = run(cmd + ["--help"])
        for line in out.decode().splitlines()[1:]:  # the Usage line goes to SYNOPSIS
            ensure(not line.strip() or line.strip() in shown,
                   "bioeng %s --help line missing from the manual: %r" % (" ".join(cmd), line))


def check_progress_on_terminal():
    """On a terminal, the progress line says when the index is being built
    and gives a percentage and an ETA for files of known size; the summary
    follows it."""
    import pty
    master, slave = pty.openpty()
    proc = subprocess.Popen([ARGS.bioeng, "map", "--batch-size", "4096", example("ref.fa"),
                             example("reads.fq")], cwd=ARGS.source, stdout=subprocess.PIPE,
                            stderr=slave)
    os.close(slave)
    shown = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the terminal closes with the process
            break
        if not chunk:
            break
        shown += chunk
    proc.stdout.read()
    ensure(proc.wait() == 0, "map on a terminal failed")
    os.close(master)
    text = shown.decode(errors="replace")
    ensure("building its index" in text, "no index message: %r" % text[:300])
    ensure("%, ETA " in text, "no percentage and ETA: %r" % text[:300])
    ensure("bioeng map: records:" in text, "no summary on the terminal")


class PlotElements:
    """Counts the report's plot elements in an HTML text: {svg id: {mark
    class: count}}, with the svg's class list under "class"."""

    def __init__(self, text):
        from html.parser import HTMLParser
        self.plots = {}
        plots, current = self.plots, [None]

        class Parser(HTMLParser):
            def handle_starttag(self, tag, attrs):
                a = dict(attrs)
                if tag == "svg" and a.get("id"):
                    current[0] = plots.setdefault(a["id"], {"class": a.get("class", "")})
                elif current[0] is not None and a.get("class") in ("bar", "point", "area"):
                    current[0][a["class"]] = current[0].get(a["class"], 0) + 1

            def handle_endtag(self, tag):
                if tag == "svg":
                    current[0] = None
        Parser().feed(text)

    def check(self, n_mapq_values):
        ensure(self.plots.get("identity-histogram", {}).get("bar", 0) > 3, "identity bars")
        ensure(self.plots.get("mapq-histogram", {}).get("bar", 0) == n_mapq_values, "mapq bars")
        ensure(self.plots.get("length-vs-identity", {}).get("point", 0) > 200, "scatter points")
        coverage = [p for p in self.plots.values() if "coverage" in p["class"]]
        ensure(len(coverage) == 3 and all(p.get("area") == 1 for p in coverage),
               "coverage plots: %r" % coverage)


def report_of_example(tmp):
    paf_path = os.path.join(tmp, "example.paf")
    with open(paf_path, "wb") as f:
        f.write(run(["map", example("ref.fa"), example("reads.fq")])[0])
    html_path = os.path.join(tmp, "report.html")
    run(["report", paf_path, "-o", html_path])
    primary = [l.split("\t") for l in read_source(paf_path).decode().splitlines()
               if "tp:A:P" in l]
    return paf_path, html_path, len({r[11] for r in primary})


def check_report():
    """bioeng report: one HTML page with every plot, the same from gzip or
    standard input, and a line that is not PAF named in the error."""
    with tempfile.TemporaryDirectory() as tmp:
        paf_path, html_path, n_mapq = report_of_example(tmp)
        page = read_source(html_path)
        ensure(page.startswith(b"<!DOCTYPE html>") and b"<script" not in page and
               b"href=" not in page and b"src=" not in page, "not a self-contained page")
        PlotElements(page.decode()).check(n_mapq)
        gz_path = paf_path + ".gz"
        with open(gz_path, "wb") as f:
            f.write(gzip.compress(read_source(paf_path)))
        with open(gz_path, "rb") as f:
            out, _ = run(["report", "--title", paf_path, "-"], stdin=f)
        ensure(out == run(["report", "--title", paf_path, paf_path])[0],
               "report differs for gzip on standard input")
        bad = os.path.join(tmp, "bad.paf")
        with open(bad, "wb") as f:
            f.write(read_source(paf_path)[:2000].rsplit(b"\n", 1)[0] + b"\nnot\ta\tpaf\n")
        expect_failure(["report", bad], [bad, "not a PAF line"])


def check_report_in_browser():
    """The page renders in headless Chromium, and the DOM it builds holds
    every plot."""
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        print("chromium not installed; skipped")
        sys.exit(77)
    with tempfile.TemporaryDirectory() as tmp:
        _, html_path, n_mapq = report_of_example(tmp)
        cmd = [browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--disable-background-networking", "--disable-component-update",
               "--disable-sync", "--user-data-dir=" + os.path.join(tmp, "profile"),
               "--dump-dom", "file://" + html_path]
        proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        ensure(proc.returncode == 0, "chromium failed:\n" + proc.stderr.decode(errors="replace"))
        dom = proc.stdout.decode()
        ensure("bioeng report" in dom, "the page did not load:\n" + dom[:500])
        PlotElements(dom).check(n_mapq)


def check_empty_records():
    """Records without bases are SAM records (unmapped) and count in stats."""
    with tempfile.TemporaryDirectory() as tmp:
        reads = os.path.join(tmp, "with_empty.fq")
        data = read_source(example("reads.fq"))
        with open(reads, "wb") as f:
            f.write(b"@empty1\n\n+\n\n" + data + b"@empty2 x\n\n+\n\n")
        out, _ = run(["map", "-a", example("ref.fa"), reads])
        records = [l.split("\t") for l in out.decode().splitlines() if not l.startswith("@")]
        ensure(records[0][:2] == ["empty1", "4"] and records[-1][:2] == ["empty2", "4"],
               "empty records not unmapped at their places")
        ensure(records[0][9:11] == ["*", "*"], "SEQ/QUAL of an empty record: %s" % records[0])
        plain, _ = run(["stats", example("reads.fq")])
        out, _ = run(["stats", reads])
        want = int(plain.decode().splitlines()[1].split("\t")[3]) + 2
        row = out.decode().splitlines()[1].split("\t")
        ensure(int(row[3]) == want and row[5] == "0", "stats of empty records: %s" % row)


def parse_sam(text):
    records = []
    for line in text.decode().splitlines():
        if line.startswith("@"):
            continue
        records.append(line.split("\t"))
    return records


def cigar_ops(cigar):
    ops, num = [], ""
    for ch in cigar:
        if ch.isdigit():
            num += ch
        else:
            ops.append((int(num), ch))
            num = ""
    return ops


def check_sam_matches_paf():
    paf, _ = run(["map", example("ref.fa"), example("reads.fq")])
    sam, _ = run(["map", "-a", example("ref.fa"), example("reads.fq")])
    paf_rows = [l.split("\t") for l in paf.decode().splitlines()]
    sam_rows = [r for r in parse_sam(sam) if not int(r[1]) & 4]
    ensure(len(paf_rows) == len(sam_rows), "PAF has %d hits, SAM %d mapped records" %
           (len(paf_rows), len(sam_rows)))
    names = set()
    parts = {}
    for r in sam_rows:
        parts[r[0]] = parts.get(r[0], 0) + (not int(r[1]) & 256)
    for p, s in zip(paf_rows, sam_rows):
        flag = int(s[1])
        ensure(p[0] == s[0], "read order differs: %s vs %s" % (p[0], s[0]))
        ensure((p[4] == "-") == bool(flag & 16), "strand differs for " + p[0])
        ensure((p[12] == "tp:A:S") == bool(flag & 256), "primary/secondary differs for " + p[0])
        ptags = dict(t.split(":", 1) for t in p[12:])
        ensure(p[5] == s[2] and int(p[7]) + 1 == int(s[3]), "position differs for " + p[0])
        ensure(p[11] == s[4], "mapq differs for " + p[0])
        cg = ptags["cg"][2:]
        ops = cigar_ops(s[5])
        core = [o for o in ops if o[1] != "S"]
        ensure("".join("%d%s" % o for o in core) == cg, "CIGAR differs for " + p[0])
        ref_span = sum(n for n, op in ops if op in "MD")
        ensure(ref_span == int(p[8]) - int(p[7]), "reference span differs for " + p[0])
        read_len = sum(n for n, op in ops if op in "MIS")
        ensure(read_len == int(p[1]) == len(s[9]) == len(s[10]), "CIGAR/SEQ length for " + p[0])
        clip = ops[0][0] if ops[0][1] == "S" else 0
        expect_clip = int(p[2]) if p[4] == "+" else int(p[1]) - int(p[3])
        ensure(clip == expect_clip, "leading soft clip for " + p[0])
        ensure(sum(n for n, op in core) == int(p[10]), "block length for " + p[0])
        tags = dict(t.split(":", 1) for t in s[11:])
        ensure(tags["NM"] == "i:%d" % (int(p[10]) - int(p[9])), "NM for " + p[0])
        for tag in ("NM", "ms", "AS", "nn", "tp", "cm", "s1", "s2", "de"):
            ensure(tags[tag] == ptags[tag], "%s differs for %s" % (tag, p[0]))
        # Every primary or supplementary part names the others in SA.
        split = parts[p[0]] > 1 and not flag & 256
        ensure(("SA" in tags) == split, "SA tag for " + p[0])
        if split:
            ensure(tags["SA"].count(";") == parts[p[0]] - 1, "SA entries for " + p[0])
        names.add(p[0])
    unmapped = [r for r in parse_sam(sam) if int(r[1]) & 4]
    ensure(unmapped and not any(r[0] in names for r in unmapped), "unmapped reads")
    ensure(all(r[2] == "*" and r[5] == "*" for r in unmapped), "unmapped record fields")
    # The reverse-strand SEQ is the reverse complement of the read.
    reads = read_source(example("reads.fq")).decode().splitlines()
    seq_of = {reads[i][1:].split()[0]: reads[i + 1] for i in range(0, len(reads), 4)}
    comp = str.maketrans("ACGTN", "TGCAN")
    for s in sam_rows:
        want = seq_of[s[0]]
        if int(s[1]) & 16:
            want = want.translate(comp)[::-1]
        ensure(s[9] == want, "SEQ of " + s[0])


def check_positions_truth():
    """Primary hits land where the simulator took the read from: this checks
    the conversion to positions within each reference sequence."""
    paf, _ = run(["map", example("ref.fa"), example("reads.fq")])
    reads = read_source(example("reads.fq")).decode().splitlines()
    truth = {}
    for i in range(0, len(reads), 4):
        name, origin = reads[i][1:].split(" ", 1)
        truth[name] = origin
    good = total = 0
    for row in (l.split("\t") for l in paf.decode().splitlines()):
        if row[12] != "tp:A:P" or int(row[11]) < 10:
            continue
        origin = truth[row[0]]
        ensure(origin != "random", "random read %s mapped with mapq %s" % (row[0], row[11]))
        seq, rng, strand = origin.split(":")
        start, end = map(int, rng.split("-"))
        total += 1
        if seq == row[5] and strand == row[4] and int(row[7]) < end and int(row[8]) > start:
            good += 1
    ensure(total > 200, "only %d confident primary hits" % total)
    ensure(good >= 0.97 * total, "%d of %d confident hits at their origin" % (good, total))


def samtools(*args):
    proc = subprocess.run(["samtools"] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
    if proc.returncode != 0:
        raise CheckFailed("samtools %s failed:\n%s" % (" ".join(args),
                                                       proc.stderr.decode(errors="replace")))
    ensure(b"[W::" not in proc.stderr and b"[E::" not in proc.stderr,
           "samtools %s warned:\n%s" % (" ".join(args), proc.stderr.decode()))
    return proc.stdout.decode()


def samtools_round(tmp, label, ref, reads):
    sam_path = os.path.join(tmp, label + ".sam")
    out, _ = run(["map", "-a", ref, reads])
    with open(sam_path, "wb") as f:
        f.write(out)
    records = parse_sam(out)
    samtools("view", "-h", "-o", os.path.join(tmp, label + ".view.sam"), sam_path)
    samtools("view", "-b", "-o", os.path.join(tmp, label + ".bam"), sam_path)
    sorted_bam = os.path.join(tmp, label + ".sorted.bam")
    samtools("sort", "-o", sorted_bam, sam_path)
    samtools("index", sorted_bam)
    stats = samtools("flagstat", sorted_bam)
    first = lambda key: int(next(l for l in stats.splitlines() if key in l).split()[0])
    ensure(first("in total") == len(records), "flagstat total")
    ensure(first("secondary") == sum(1 for r in records if int(r[1]) & 256), "flagstat secondary")
    ensure(first("supplementary") == sum(1 for r in records if int(r[1]) & 2048),
           "flagstat supplementary")
    ensure(first("primary mapped") ==
           sum(1 for r in records if not int(r[1]) & (4 | 256 | 2048)), "flagstat primary mapped")
    # MD and NM are what samtools calmd computes from the reference.
    md_path = os.path.join(tmp, label + ".md.sam")
    out, _ = run(["map", "-a", "--MD", ref, reads])
    with open(md_path, "wb") as f:
        f.write(out)
    # calmd indexes the reference: give it a copy, so the source tree stays clean.
    ref_copy = os.path.join(tmp, label + ".ref.fa")
    shutil.copy(os.path.join(ARGS.source, ref), ref_copy)
    calmd = samtools("calmd", md_path, ref_copy)
    ours = [r for r in parse_sam(out) if not int(r[1]) & 4]
    theirs = [r for r in (l.split("\t") for l in calmd.splitlines() if not l.startswith("@"))
              if not int(r[1]) & 4]
    ensure(len(ours) == len(theirs), "calmd record count")
    for a, b in zip(ours, theirs):
        ta = dict(t.split(":", 1) for t in a[11:])
        tb = dict(t.split(":", 1) for t in b[11:])
        ensure(ta["MD"] == tb["MD"] and ta["NM"] == tb["NM"],
               "MD/NM of %s differ from calmd: %s %s vs %s %s" %
               (a[0], ta["MD"], ta["NM"], tb["MD"], tb["NM"]))
    # A region query through the index returns exactly the records there.
    name = records[0][2] if records[0][2] != "*" else next(r[2] for r in records if r[2] != "*")
    region = samtools("view", "-c", sorted_bam, name)
    ensure(int(region) == sum(1 for r in records if r[2] == name), "indexed region count")


def check_samtools():
    if shutil.which("samtools") is None:
        print("samtools not installed; skipped")
        sys.exit(77)
    with tempfile.TemporaryDirectory() as tmp:
        samtools_round(tmp, "example", example("ref.fa"), example("reads.fq"))
        sim = os.path.join(tmp, "sim")
        subprocess.run([sys.executable, os.path.join(ARGS.source, "examples", "make_examples.py"),
                        "--out", sim, "--ref-kb", "300", "200", "150", "--reads", "2000",
                        "--min-len", "100", "--max-len", "2000", "--seed", "99"], check=True)
        samtools_round(tmp, "simulated", os.path.join(sim, "ref.fa"),
                       os.path.join(sim, "reads.fq"))


def expect_failure(args, fragments, stdin=None, allow_sam_header=False):
    out, err = run(args, stdin=stdin, expect_rc=1)
    for frag in fragments:
        ensure(frag in err, "message for %s lacks %r: %s" % (" ".join(args), frag, err))
    if allow_sam_header:
        ensure(all(l.startswith(b"@") for l in out.splitlines()), "records after a failure")
    else:
        ensure(out == b"", "stdout not empty after failure of %s" % " ".join(args))


def check_bad_inputs():
    ref = example("ref.fa")
    with tempfile.TemporaryDirectory() as tmp:
        def write(name, data):
            path = os.path.join(tmp, name)
            with open(path, "wb") as f:
                f.write(data)
            return path
        reads = read_source(example("reads.fq"))
        empty = write("empty.fq", b"")
        blank = write("blank.fa", b"\n\n  \n")
        no_records = write("headers_only.fa", b">a\n>b\n")
        junk = write("junk.bin", bytes(range(256)) * 8)
        nul = write("nul.fa", b">x\nACGT\0ACGT\n")
        trunc_fq = write("trunc.fq", reads[:reads.find(b"\n+\n", 5000) + 1])
        short_qual = write("shortq.fq", b"@r\nACGTACGT\n+\nIIII\n")
        no_plus = write("noplus.fq", b"@r\nACGT\nIIII\nIIII\n")
        cut_gz = write("cut.fq.gz", gzip.compress(reads)[:20000])
        bad_gz = bytearray(gzip.compress(reads))
        bad_gz[len(bad_gz) // 2] ^= 0xff
        corrupt_gz = write("corrupt.fq.gz", bytes(bad_gz))
        write_bgzf(reads, os.path.join(tmp, "r.bgz"))
        bgz = read_source(os.path.join(tmp, "r.bgz"))
        cut_bgz = write("cut.bgz", bgz[:len(bgz) // 2])
        bz2 = write("x.bz2", b"BZh91AY&SY" + b"\0" * 20)

        for cmd in (["map", ref], ["stats"]):
            expect_failure(cmd + [empty], [empty, "empty"])
            expect_failure(cmd + [blank], [blank, "empty"])
            expect_failure(cmd + [no_records], [no_records, "no sequence records"])
            expect_failure(cmd + [junk], [junk, "not FASTA or FASTQ"])
            expect_failure(cmd + [nul], [nul, "binary"])
            expect_failure(cmd + [trunc_fq], [trunc_fq, "truncated FASTQ"])
            expect_failure(cmd + [short_qual], [short_qual, "quality"])
            expect_failure(cmd + [no_plus], [no_plus, "'+'"])
            expect_failure(cmd + [tmp], [tmp, "directory"])
            expect_failure(cmd + [os.path.join(tmp, "missing.fq")],
                           [os.path.join(tmp, "missing.fq"), "No such file"])
            expect_failure(cmd + [cut_gz], [cut_gz, "truncated gzip"])
            expect_failure(cmd + [corrupt_gz], [corrupt_gz, "gzip"])
            expect_failure(cmd + [cut_bgz], [cut_bgz, "truncated BGZF"])
            expect_failure(cmd + [bz2], [bz2, "bzip2"])
        # A bad reference is reported as such.
        expect_failure(["map", junk, example("reads.fq")], [junk, "not FASTA or FASTQ"])
        expect_failure(["map", tmp, example("reads.fq")], [tmp, "directory"])
        # SAM: a failure leaves at most the header on stdout.
        expect_failure(["map", "-a", ref, cut_gz], [cut_gz, "truncated gzip"],
                       allow_sam_header=True)
        expect_failure(["align", junk, ref], [junk, "not FASTA or FASTQ"])
        expect_failure(["align", ref, empty], [empty, "empty"])
        expect_out_of_memory()


def run_with_memory_cap(args):
    """Runs bioeng with its address space capped at 400 MB."""
    import resource
    def cap():
        resource.setrlimit(resource.RLIMIT_AS, (400 << 20, 400 << 20))
    proc = subprocess.run([ARGS.bioeng] + args, cwd=ARGS.source, preexec_fn=cap,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return proc.returncode, proc.stdout, proc.stderr.decode(errors="replace")


def expect_out_of_memory():
    # A 1 GiB batch buffer cannot be had under the cap: the message names the
    # file and says what happened. (Sanitizer builds cannot start under such
    # a cap at all; they are skipped.)
    for cmd in (["stats"], ["map", example("ref.fa")]):
        rc, out, err = run_with_memory_cap(cmd + ["--batch-size", str(1 << 30),
                                                          example("reads.fq")])
        if "Sanitizer" in err:
            return
        ensure(rc == 1 and out == b"", "out of memory: exit %d" % rc)
        ensure(example("reads.fq") + ": out of memory" in err, "out of memory message: " + err)


CHECKS = {name[len("check_"):]: fn for name, fn in globals().items()
          if name.startswith("check_")}


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument("--bioeng", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--update", action="store_true")
    ap.add_argument("check", choices=sorted(CHECKS))
    ARGS = ap.parse_args()
    ARGS.bioeng = os.path.abspath(ARGS.bioeng)
    try:
        CHECKS[ARGS.check]()
    except CheckFailed as e:
        print("FAILED:", e, file=sys.stderr)
        return 1
    print("ok:", ARGS.check)
    return 0


if __name__ == "__main__":
    sys.exit(main())
