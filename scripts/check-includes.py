#!/usr/bin/env python3
"""The layering of the sources, checked from their #include lines.

  scripts/check-includes.py           # exit 1 on a fault
  scripts/check-includes.py --graph   # also print the plug-in's include graph

- The plug-in's modules (app/X.h + app/X.cpp = module X) include each other
  in a line, never in a circle: X -> Y when X.h or X.cpp includes app/Y.h.
- Nothing in app/ or lib/ includes anything from sim/: the plug-in and its
  library build for the receiver, where there is no emulator.
"""
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^">]+)[">]', re.M)


def includes(path):
    """Each include of `path` as the files it may name: beside it, or from the top."""
    for name in INCLUDE.findall(path.read_text(errors="replace")):
        yield name, [(path.parent / name).resolve(), (ROOT / name).resolve()]


def module_graph():
    app = ROOT / "app"
    graph = {}
    for path in sorted(app.glob("*.[ch]*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        edges = graph.setdefault(path.stem, set())
        for _, places in includes(path):
            for place in places:
                if place.parent == app and place.suffix == ".h" and place.exists():
                    if place.stem != path.stem:
                        edges.add(place.stem)
                    break
    return graph


def find_cycle(graph):
    state, stack = {}, []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                cycle = visit(nxt)
                if cycle:
                    return cycle
        state[node] = "done"
        stack.pop()
        return None

    for node in sorted(graph):
        if node not in state:
            cycle = visit(node)
            if cycle:
                return cycle
    return None


def sim_includes():
    sim = ROOT / "sim"
    for top in ("app", "lib"):
        for path in sorted((ROOT / top).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".c"):
                continue
            for name, places in includes(path):
                if any(place == sim or sim in place.parents for place in places):
                    yield f"{path.relative_to(ROOT)}: #include {name}"


def main():
    graph = module_graph()
    if "--graph" in sys.argv[1:]:
        for node in sorted(graph):
            print(f"{node} -> {' '.join(sorted(graph[node])) or '(nothing)'}")
    faults = 0
    cycle = find_cycle(graph)
    if cycle:
        print("check-includes: app/ includes in a circle: " + " -> ".join(cycle))
        faults += 1
    for line in sim_includes():
        print(f"check-includes: the emulator included from plug-in code: {line}")
        faults += 1
    if faults:
        return 1
    print("check-includes: app/ includes in a line, app/ and lib/ free of sim/")
    return 0


if __name__ == "__main__":
    sys.exit(main())
