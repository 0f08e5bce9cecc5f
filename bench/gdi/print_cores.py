#!/usr/bin/env python3
"""Printing speed by core count: BM_PrintCorpus/0 and /1 (bench/gdi) and
BM_FourUpFiftyPages/0 and /1 (bench/printing) run under taskset on 1, 2, 4 and 8 cores, the
builds given taken in turn for every core count (so a second build, e.g. the main branch's,
runs interleaved with the first under the same load). Each run states the cores other
processes kept busy meanwhile (from /proc/stat, the benchmark's own CPU time taken away); the
table ends with the machine's load average before and after the runs.

    bench/gdi/print_cores.py build [../base/build ...] [--cores 1,2,4,8] [--rounds 1]
"""
import argparse
import json
import os
import resource
import subprocess
import sys

CASES = [
    ("gdi_play_bench", "^BM_PrintCorpus/", "pages_per_s"),
    ("printing_bench", "^BM_FourUpFiftyPages/", "sheets_per_s"),
]


def busy_seconds():
    with open("/proc/stat") as f:
        v = [int(x) for x in f.readline().split()[1:9]]
    return sum(x for i, x in enumerate(v) if i not in (3, 4)) / os.sysconf("SC_CLK_TCK")


def children_cpu():
    u = resource.getrusage(resource.RUSAGE_CHILDREN)
    return u.ru_utime + u.ru_stime


def run(build, binary, pattern, counter, cores):
    cpus = "0-%d" % (cores - 1)
    cmd = ["taskset", "-c", cpus, os.path.join(build, "bin", binary), "--benchmark_filter=" + pattern,
           "--benchmark_format=json"]
    b0, c0 = busy_seconds(), children_cpu()
    import time
    t0 = time.monotonic()
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    wall = time.monotonic() - t0
    others = (busy_seconds() - b0 - (children_cpu() - c0)) / wall
    rows = {}
    for b in json.loads(out)["benchmarks"]:
        rows[b["name"].split("/iterations")[0].replace("/real_time", "")] = (b.get(counter, 0.0),
                                                                              b.get("peak_rss_MB"))
    return rows, others


def main():
    p = argparse.ArgumentParser()
    p.add_argument("builds", nargs="+")
    p.add_argument("--cores", default="1,2,4,8")
    p.add_argument("--rounds", type=int, default=1)
    a = p.parse_args()
    cores = [int(c) for c in a.cores.split(",")]
    load_before = os.getloadavg()
    results = {}  # (build, name, cores) -> [rates]
    loads = {}  # (build, cores) -> [others]
    for n in cores:
        for r in range(a.rounds):
            for build in a.builds:
                for binary, pattern, counter in CASES:
                    rows, others = run(build, binary, pattern, counter, n)
                    loads.setdefault((build, n), []).append(others)
                    for name, (rate, _) in rows.items():
                        results.setdefault((build, name, n), []).append(rate)
                    print("# %s on %d cores: %s (others busy %.1f cores)" %
                          (build, n, ", ".join("%s %.2f" % (k, v[0]) for k, v in rows.items()), others),
                          file=sys.stderr, flush=True)
    names = sorted({k[1] for k in results})
    print("| benchmark | build | " + " | ".join("%d cores" % n for n in cores) + " | %d/1 |" % cores[-1])
    print("|---|---|" + "---|" * (len(cores) + 1))
    for name in names:
        for build in a.builds:
            rates = [max(results.get((build, name, n), [0])) for n in cores]
            ratio = rates[-1] / rates[0] if rates[0] else 0
            print("| %s | %s | " % (name, build) + " | ".join("%.2f" % x for x in rates) + " | %.2fx |" % ratio)
    print("| others busy (cores) | | " + " | ".join(
        "%.1f" % (sum(sum(loads[(b, n)]) for b in a.builds) / sum(len(loads[(b, n)]) for b in a.builds))
        for n in cores) + " | |")
    load_after = os.getloadavg()
    print("\nLoad average (1, 5, 15 min): %.2f %.2f %.2f before, %.2f %.2f %.2f after (%d cores)" %
          (load_before + load_after + (os.cpu_count(),)))


if __name__ == "__main__":
    main()
