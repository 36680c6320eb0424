#!/usr/bin/env python3
"""Checks that includes run one way only, from the window down to the helpers.

Each folder of src/ is one layer. A file may include headers of its own folder
and of the layers below it; never of a layer above, never of a peer on the same
level. Files must not include each other in a circle either (a header and its
source count as one unit). The tools may use the helpers, the release format
and the key utilities only.

Usage: check-layers.py [SOURCE_ROOT]   (default: the tree this script is in)
       check-layers.py --self-test
Exit code 0 when the tree is layered, 1 with one line per fault otherwise.
"""
import os
import re
import sys
import tempfile

# Lower rank = lower layer. Folders of equal rank are peers and must not
# include each other.
RANKS = {
    "base": 0,
    "tasks": 1,
    "release": 1,
    "net": 2,
    "fileops": 2,
    "crypto": 2,
    "update": 3,
    "app": 4,
    "ui": 5,
    "console": 5,
}
TOOL_LAYERS = {"base", "crypto", "release"}
# Written by the build into include directories of their own.
GENERATED = {"buildconfig.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(root, folder):
    top = os.path.join(root, folder)
    for dirpath, _, names in os.walk(top):
        for name in sorted(names):
            if name.endswith((".h", ".cpp")):
                yield os.path.join(dirpath, name)


def includes(path):
    with open(path, encoding="utf-8") as handle:
        return INCLUDE.findall(handle.read())


def unit(path):
    return os.path.splitext(path)[0]


def resolve(root, path, included):
    """The included file relative to root, or None when it is not ours."""
    name = os.path.basename(included)
    if name in GENERATED or name.startswith("ui_"):
        return None
    local = os.path.join(os.path.dirname(path), included)
    if os.path.exists(local):
        return os.path.relpath(local, root)
    if os.path.exists(os.path.join(root, "src", included)):
        return os.path.join("src", included)
    return None


def layer_of(relative):
    """The layer folder of a path below src/; None for the entry point and anything else."""
    parts = relative.split("/")
    return parts[1] if parts[0] == "src" and len(parts) > 2 else None


def check(root):
    faults = []
    graph = {}
    for folder in ["src", "tools"]:
        for path in sources(root, folder):
            relative = os.path.relpath(path, root)
            own = layer_of(relative)
            for included in includes(path):
                target = resolve(root, path, included)
                if target is None:
                    continue
                graph.setdefault(unit(relative), set()).add(unit(target))
                other = layer_of(target)
                if folder == "tools":
                    if target.startswith("src/") and other not in TOOL_LAYERS:
                        faults.append(f"{relative}: includes {target}; tools may use only "
                                      + ", ".join(sorted(TOOL_LAYERS)))
                    continue
                if own is None or other is None or other == own:
                    # The entry point sits on top of every layer.
                    continue
                if own not in RANKS or other not in RANKS:
                    faults.append(f"{relative}: includes {target}; folder not in the layer map")
                elif RANKS[other] > RANKS[own]:
                    faults.append(f"{relative}: includes {target} from the layer above ({other} over {own})")
                elif RANKS[other] == RANKS[own]:
                    faults.append(f"{relative}: includes {target} from the peer layer {other}")
    faults.extend(circles(graph))
    return faults


def circles(graph):
    """Tarjan's strongly connected components; each one of more than one unit is a circle."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt == node:
                continue
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            component = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                component.append(member)
                if member == node:
                    break
            if len(component) > 1:
                found.append("include circle: " + " -> ".join(sorted(component)))

    sys.setrecursionlimit(10000)
    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def self_test():
    """Each planted fault must be found, and a clean tree must pass."""
    cases = [
        ("clean", {"src/base/a.h": "", "src/net/b.cpp": '#include "base/a.h"\n#include "b.h"\n',
                   "src/net/b.h": ""}, 0),
        ("upward", {"src/app/c.h": "", "src/net/b.cpp": '#include "app/c.h"\n'}, 1),
        ("peer", {"src/fileops/d.h": "", "src/net/b.cpp": '#include "fileops/d.h"\n'}, 1),
        ("front-ends are peers", {"src/ui/w.h": "", "src/console/c.cpp": '#include "ui/w.h"\n'}, 1),
        ("the release format knows no tasks",
         {"src/tasks/t.h": "", "src/release/r.cpp": '#include "tasks/t.h"\n'}, 1),
        ("circle", {"src/update/x.h": '#include "y.h"\n', "src/update/y.h": '#include "x.h"\n'}, 1),
        ("tool", {"src/ui/w.h": "", "tools/t/main.cpp": '#include "ui/w.h"\n'}, 1),
    ]
    failed = 0
    for name, files, expected in cases:
        with tempfile.TemporaryDirectory() as root:
            for relative, text in files.items():
                os.makedirs(os.path.dirname(os.path.join(root, relative)), exist_ok=True)
                with open(os.path.join(root, relative), "w", encoding="utf-8") as handle:
                    handle.write(text)
            found = check(root)
            if len(found) != expected:
                failed += 1
                print(f"self-test {name}: expected {expected} fault(s), found {found}")
    return failed


def main():
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(1 if self_test() else 0)
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    faults = check(root)
    for fault in faults:
        print(fault)
    if faults:
        sys.exit(1)
    print("layers: every include runs downward")


if __name__ == "__main__":
    main()
