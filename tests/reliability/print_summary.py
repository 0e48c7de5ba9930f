#!/usr/bin/env python3
"""Prints the reliability suite's summary: one table of every group's rows
(reliability/<group>@<run>.tsv next to the test executables, lines "what<TAB>run<TAB>number"),
one column per run. Fails when a group reports a leak."""
import os
import sys

folder = sys.argv[1] if len(sys.argv) > 1 else "."
if not os.path.isdir(folder) or not any(f.endswith(".tsv") for f in os.listdir(folder)):
    print("reliability summary: no group has reported (%s)" % folder)
    sys.exit(0)

runs = []
table = []  # (group, what) in order of appearance
values = {}
for name in sorted(f for f in os.listdir(folder) if f.endswith(".tsv")):
    group = name[:-4].split("@")[0]
    with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
        for line in f:
            parts = line.rstrip("\r\n").split("\t")
            if len(parts) != 3:
                continue
            what, run, number = parts
            if run not in runs:
                runs.append(run)
            if (group, what) not in values:
                table.append((group, what))
                values[(group, what)] = {}
            # A run that reports a row twice (a group executable run again) keeps the last.
            values[(group, what)][run] = int(number)

header = ["group", "what"] + runs
rows = [[g, w] + [str(values[(g, w)].get(r, "")) for r in runs] for g, w in table]
widths = [max(len(x) for x in col) for col in zip(header, *rows)]
line = lambda cells: "  ".join(c.ljust(w) if i < 2 else c.rjust(w) for i, (c, w) in enumerate(zip(cells, widths)))
print("Reliability summary")
print(line(header))
print(line(["-" * w for w in widths]))
last = None
for r in rows:
    print(line([r[0] if r[0] != last else ""] + r[1:]))
    last = r[0]

leaks = sum(n for (g, w), v in values.items() if w == "leaks found" for n in v.values())
if leaks:
    print("reliability summary: %d leak(s) found" % leaks)
    sys.exit(1)
