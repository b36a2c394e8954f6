#!/usr/bin/env python3
"""Fails when an #include "..." points up the layers, or when files include each other in a circle.

Each folder is a layer and a build target; a file may include files of its own folder and of the
folders its row below allows. Usage: check_includes.py SOURCE_DIR
"""
import pathlib
import re
import sys

ALLOWED = {
    "platform": set(),
    "http": {"platform"},
    "announce": {"platform"},
    "state": {"platform"},
    "thumbs": {"platform"},
    "web": {"http", "state", "platform"},
    "dav": {"web", "http", "state", "platform"},
    "server": {"web", "dav", "announce", "thumbs", "http", "state", "platform"},
    "ui": {"state", "platform"},
    "desktop": {"server", "ui", "state", "platform"},
    "app": {"desktop", "server", "ui", "web", "dav", "announce", "thumbs", "http", "state", "platform"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def main(root: pathlib.Path) -> int:
    problems = []
    graph = {}
    for layer in ALLOWED:
        for path in sorted((root / layer).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            name = path.relative_to(root).as_posix()
            graph[name] = []
            for target in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
                folder = target.split("/", 1)[0]
                if "/" not in target:
                    problems.append(f"{name}: include \"{target}\" names no layer folder")
                    continue
                if folder != layer and folder not in ALLOWED[layer]:
                    problems.append(f"{name}: {layer}/ may not include {target}")
                graph[name].append(target)

    # Circles between files: a depth-first walk that meets a file still on its path.
    state = {}

    def walk(node, trail):
        state[node] = "open"
        for nxt in graph.get(node, []):
            if state.get(nxt) == "open":
                problems.append("include circle: " + " -> ".join(trail[trail.index(nxt):] + [nxt]))
            elif nxt in graph and nxt not in state:
                walk(nxt, trail + [nxt])
        state[node] = "done"

    for node in graph:
        if node not in state:
            walk(node, [node])

    for problem in problems:
        print(problem)
    print(f"{len(graph)} files checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")))
