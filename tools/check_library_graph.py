#!/usr/bin/env python3
"""Checks the project's library graph: no cycles, and the layers of docs/design.md.

  python3 tools/check_library_graph.py <build dir>

Asks CMake for the target graph of the configured build tree (--graphviz)
and fails when
  - libraries link each other in a cycle (each cycle is printed);
  - a library of design.md's table of libraries links one in a row above its
    own, or one of its own row that the row does not name ("`a` links `b`");
  - a row's links column does not name exactly the libraries of the table
    that the row's libraries link (those of its own row aside);
  - the table names a library that the build does not have.
Only links between libraries of the table are checked: test support and
third-party libraries are not in it.
"""
import collections
import re
import subprocess
import sys
import tempfile
from pathlib import Path

DESIGN = Path(__file__).resolve().parent.parent / "docs" / "design.md"
TABLE_HEADING = "## Libraries and their layers"


def read_layers(text):
    """The table's rows, top first: (names of the row, the row's links text)."""
    rows = []
    in_section = False
    for line in text.splitlines():
        if line.startswith("## "):
            in_section = line.strip() == TABLE_HEADING
            continue
        if in_section and line.startswith("| `"):
            cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
            rows.append((re.findall(r"`([^`]+)`", cells[0]), cells[-1]))
    return rows


def read_graph(build):
    with tempfile.TemporaryDirectory() as out:
        dot = Path(out) / "targets.dot"
        subprocess.run(["cmake", f"--graphviz={dot}", "."], cwd=build, check=True,
                       stdout=subprocess.DEVNULL)
        text = dot.read_text()
    names = dict(re.findall(r'"(node\d+)" \[ label = "([^"]+)"', text))
    edges = collections.defaultdict(set)
    for source, target in re.findall(r'"(node\d+)" -> "(node\d+)"', text):
        edges[names[source]].add(names[target])
    return set(names.values()), edges


def find_cycles(nodes, edges):
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
    for node in sorted(nodes):
        if node not in state:
            visit(node, [])
    return cycles


def layer_faults(layers, nodes, edges):
    faults = []
    row_of = {}
    for index, (names, _) in enumerate(layers):
        for name in names:
            row_of[name] = index
            if name not in nodes:
                faults.append(f"{DESIGN.name} names {name}, which the build does not have")
    for source in sorted(row_of):
        for target in sorted(edges.get(source, ())):
            if target not in row_of:
                continue
            if row_of[target] < row_of[source]:
                faults.append(f"{source} links {target}, which {DESIGN.name} puts above it")
            elif (row_of[target] == row_of[source] and
                  f"`{source}` links `{target}`" not in layers[row_of[source]][1]):
                faults.append(f"{source} links {target} of its own row in {DESIGN.name}, "
                              "which the row does not say")
    for names, links in layers:
        linked = {target for source in names for target in edges.get(source, ())
                  if target in row_of and target not in names}
        named = {name for name in re.findall(r"`([^`]+)`", links)
                 if name in row_of and name not in names}
        for name in sorted(linked - named):
            faults.append(f"the row of {', '.join(names)} in {DESIGN.name} does not name {name}, "
                          "which it links")
        for name in sorted(named - linked):
            faults.append(f"the row of {', '.join(names)} in {DESIGN.name} names {name}, "
                          "which none of it links")
    return faults


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    layers = read_layers(DESIGN.read_text())
    if not layers:
        print(f"no table of libraries under \"{TABLE_HEADING}\" in {DESIGN}", file=sys.stderr)
        return 1
    nodes, edges = read_graph(Path(sys.argv[1]))
    cycles = find_cycles(nodes, edges)
    for cycle in cycles:
        print("library cycle: " + " -> ".join(cycle), file=sys.stderr)
    faults = layer_faults(layers, nodes, edges)
    for fault in faults:
        print(fault, file=sys.stderr)
    if cycles or faults:
        return 1
    print(f"no library cycles among {len(nodes)} targets; the {len(layers)} layers of "
          f"{DESIGN.name} hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())
