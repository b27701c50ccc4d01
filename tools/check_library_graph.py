#!/usr/bin/env python3
"""Fails when the project's libraries link each other in a cycle.

  python3 tools/check_library_graph.py <build dir>

Asks CMake for the target graph of the configured build tree (--graphviz)
and looks for a cycle among the edges; prints each cycle found.
"""
import collections
import re
import subprocess
import sys
import tempfile
from pathlib import Path


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    build = Path(sys.argv[1])
    with tempfile.TemporaryDirectory() as out:
        dot = Path(out) / "targets.dot"
        subprocess.run(["cmake", f"--graphviz={dot}", "."], cwd=build, check=True,
                       stdout=subprocess.DEVNULL)
        text = dot.read_text()
    names = dict(re.findall(r'"(node\d+)" \[ label = "([^"]+)"', text))
    edges = collections.defaultdict(set)
    for source, target in re.findall(r'"(node\d+)" -> "(node\d+)"', text):
        edges[names[source]].add(names[target])

    cycles = []
    state = {}  # 1: on the current path, 2: done

    def visit(node, path):
        state[node] = 1
        path.append(node)
        for next_node in sorted(edges.get(node, ())):
            if state.get(next_node) == 1:
                cycles.append(path[path.index(next_node):] + [next_node])
            elif next_node not in state:
                visit(next_node, path)
        path.pop()
        state[node] = 2

    sys.setrecursionlimit(10000)
    for node in sorted(names.values()):
        if node not in state:
            visit(node, [])
    for cycle in cycles:
        print("library cycle: " + " -> ".join(cycle), file=sys.stderr)
    if not cycles:
        print(f"no library cycles among {len(names)} targets")
    return 1 if cycles else 0


if __name__ == "__main__":
    sys.exit(main())
