#!/usr/bin/env python3
"""Draws the include graph of the folders given and looks for cycles.

Two graphs per folder: files (an edge for every `#include "..."` of a file of
the same folder), and modules (a header and the source of the same name are
one node, so that a.cpp including b.h while b.cpp includes a.h counts as a
circle). Prints each graph's edges and every cycle; exits 1 when any is found.
  scripts/include_cycles.py src/HkbHelper src/HKBUTLEx/HKBUTLEx
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = ('.c', '.cpp', '.h', '.rc')


def edges_of(folder):
    files = sorted(f for f in os.listdir(folder) if f.endswith(SOURCES))
    present = set(files)
    edges = {f: set() for f in files}
    for f in files:
        with open(os.path.join(folder, f), encoding='utf-8', errors='replace') as text:
            for line in text:
                m = INCLUDE.match(line)
                if m and m.group(1) in present and m.group(1) != f:
                    edges[f].add(m.group(1))
    return edges


def modules(edges):
    def stem(name):
        return os.path.splitext(name)[0]
    merged = {}
    for f, targets in edges.items():
        merged.setdefault(stem(f), set()).update(stem(t) for t in targets if stem(t) != stem(f))
    return merged


def cycles(graph):
    """Every strongly connected component of more than one node (Tarjan)."""
    index, low, stack, on, found, counter = {}, {}, [], set(), [], [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    for v in sorted(graph):
        if v not in index:
            visit(v)
    return found


def main(folders):
    bad = False
    for folder in folders:
        files = edges_of(folder)
        for name, graph in (('files', files), ('modules', modules(files))):
            print(f'{folder} ({name}):')
            for v in sorted(graph):
                if graph[v]:
                    print(f'  {v} -> {", ".join(sorted(graph[v]))}')
            found = cycles(graph)
            for c in found:
                print(f'  CYCLE: {" <-> ".join(c)}')
            print(f'  {len(found)} cycle(s)')
            bad = bad or bool(found)
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:] or ['src/HkbHelper', 'src/HKBUTLEx/HKBUTLEx']))
