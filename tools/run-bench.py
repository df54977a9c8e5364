#!/usr/bin/env python3
"""Runs every benchmark program of a build, prints each workload's figure for
hux, for each anchor measured in the same run, and their ratio, and writes the
table to a Markdown file with the machine's description and the date.

Benchmark names are "Group/implementation[/argument]"; the entry named "hux"
in a group is compared with every other entry of the same group and argument.
Ratio = hux time / anchor time (below 1: hux is faster). Times are CPU time
(the median over several processes of the median of interleaved
repetitions, see PROCESSES),
except for benchmarks measured in real time (the multi-threaded ones), so that
other work on a shared machine disturbs the figures less.

The programs run with glibc's allocator told to keep freed memory (fixed mmap
and trim thresholds): otherwise a growing output buffer is returned to the
system after every iteration and each benchmark pays page faults that depend
on which benchmark ran before it, not on the code measured.
"""
import datetime
import json
import os
import platform
import subprocess
import sys


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{os.cpu_count()} cores, {model}, {platform.system()} {platform.release()}"


ALLOCATOR_ENV = {
    "MALLOC_MMAP_THRESHOLD_": str(32 << 20),
    "MALLOC_TRIM_THRESHOLD_": str(4 << 30),
    "MALLOC_TOP_PAD_": str(64 << 20),
}


# On a shared virtual machine one measurement of a benchmark can be off by
# tens of percent, and a burst of other work can hit a benchmark and spare its
# anchor. So each benchmark runs several times, the repetitions of all the
# benchmarks of a program interleaved in random order, and their median counts.
# Besides, a process lands in a fast or a slow mode for its whole life (where
# its memory lies: the same program, started again, measured one benchmark at
# 19 and at 36 ns), which no repetition inside it evens out. So each program
# runs in PROCESSES processes and a benchmark's figure is the median of its
# medians in them. The database hosts' runs are long and their own program:
# they run once.
REPETITIONS = 3
PROCESSES = 3
SINGLE_RUN = {"host_bench"}


def time_key(name):
    return "real_time" if "real_time" in name else "cpu_time"


def run_process(program, args, env):
    # The results go to a file of their own: what the program itself prints
    # (a profiler's report at exit, for one) is not part of them.
    out = program + ".json"
    subprocess.run([program, f"--benchmark_out={out}", "--benchmark_out_format=json"] + args, check=True,
                   stdout=subprocess.DEVNULL, env=env)
    with open(out) as f:
        return json.load(f)["benchmarks"]


def run(program):
    env = dict(os.environ, **ALLOCATOR_ENV)
    if os.path.basename(program) in SINGLE_RUN:
        return [e for e in run_process(program, [], env) if e.get("run_type") != "aggregate"]
    args = [f"--benchmark_repetitions={REPETITIONS}", "--benchmark_enable_random_interleaving=true",
            "--benchmark_min_time=0.2"]
    medians = {}
    for _ in range(PROCESSES):
        for e in run_process(program, args, env):
            if e.get("aggregate_name") == "median":
                medians.setdefault(e["run_name"], []).append(e)
    result = []
    for name, entries in medians.items():
        entries.sort(key=lambda e: e[time_key(name)])
        result.append(dict(entries[len(entries) // 2], name=name))
    return result


def split(name):
    parts = name.split("/")
    impl = parts[1] if len(parts) > 1 else "hux"
    arg = "/".join(parts[2:])
    return parts[0], impl, arg


def fmt(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def main():
    build, results = sys.argv[1], sys.argv[2]
    bench_dir = os.path.join(build, "bench")
    programs = sorted(os.path.join(bench_dir, p) for p in os.listdir(bench_dir)
                      if p.endswith("_bench") and os.access(os.path.join(bench_dir, p), os.X_OK))
    rows = []
    all_times = {}
    for program in programs:
        print(f"== {os.path.basename(program)}", flush=True)
        entries = run(program)
        times = {}
        for e in entries:
            scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[e.get("time_unit", "ns")]
            group, impl, arg = split(e["name"])
            times[(group, arg, impl)] = e[time_key(e["name"])] * scale
        all_times.update(times)
        for (group, arg, impl), t in sorted(times.items()):
            if impl == "hux":
                continue
            hux = times.get((group, arg, "hux"))
            if hux is None:
                continue
            label = group + (f"/{arg}" if arg else "")
            rows.append((label, hux, impl, t, hux / t))
        for (group, arg, impl), t in sorted(times.items()):
            if impl == "hux" and not any(k[0] == group and k[1] == arg and k[2] != "hux" for k in times):
                rows.append((group + (f"/{arg}" if arg else ""), t, "-", None, None))
    # Growth of the hux time when the argument grows tenfold (regeneration:
    # 10 000 -> 100 000 objects).
    growth = []
    for (group, arg, impl), t in sorted(all_times.items()):
        if impl == "hux" and arg.isdigit() and int(arg) > 0:
            bigger = all_times.get((group, str(int(arg) * 10), "hux"))
            if bigger is not None:
                # The anchors' own growth on the same graphs shows how much of
                # it the machine's caches add to any implementation.
                others = []
                for (g2, a2, i2), t2 in sorted(all_times.items()):
                    big2 = all_times.get((g2, str(int(arg) * 10), i2))
                    if g2 == group and a2 == arg and i2 != "hux" and big2 is not None:
                        others.append(f"{i2} {big2 / t2:.1f}x")
                growth.append(f"| {group} {arg} -> {int(arg) * 10} | {fmt(t)} | {fmt(bigger)} | {bigger / t:.1f}x"
                              f" | {', '.join(others) or '-'} |")
    header = "| Workload | hux | Anchor | Anchor time | Ratio (hux / anchor) |\n|---|---|---|---|---|\n"
    lines = [f"| {w} | {fmt(h)} | {a} | {fmt(t) if t else '-'} | {f'{r:.2f}' if r else '-'} |"
             for w, h, a, t, r in rows]
    table = header + "\n".join(lines) + "\n"
    if growth:
        table += ("\nGrowth of the hux time with ten times the objects:\n\n"
                  "| Workload | hux | hux x10 | Growth | Anchors' growth |\n|---|---|---|---|---|\n" + "\n".join(growth) + "\n")
    print()
    print(table)
    with open(results, "w") as f:
        f.write("# Benchmark results\n\n")
        f.write(f"Measured {datetime.date.today().isoformat()} on {machine()} by `make bench`.\n")
        f.write("Ratio = hux time / anchor time on the same work in the same run; below 1 means hux is faster.\n")
        f.write("Times are CPU time (real time for the multi-threaded log runs), each the median over three\n"
                "processes of the median of three repetitions interleaved at random with the other benchmarks\n"
                "of its program (the database hosts: one run). Figures still vary between runs by up to tens\n"
                "of percent, more when other work shares the machine.\n\n")
        f.write(table)
        notes = os.path.join(os.path.dirname(results), "NOTES.md")
        if os.path.exists(notes):
            f.write("\n")
            with open(notes) as n:
                f.write(n.read())
    print(f"written to {results}")


if __name__ == "__main__":
    main()
