#!/usr/bin/env python3
"""Fails when the folders of src/ break their layering: a folder includes one of its own layer
or of a layer above it (two folders that include each other always do one of these).

Usage: scripts/check-layers.py [SRC]   (from the project root; SRC defaults to src)
A folder's platform/ subfolder belongs to it. Exit status 0 when the layering holds.
"""
import os
import re
import sys

# From the bottom up; a folder may include only folders of the layers below its own.
LAYERS = [
    ["common"],
    ["settings", "messages", "driver", "documents"],
    ["status"],
    ["pipeline", "register_sim", "settings_dialog", "tray"],
    ["server", "jobs"],
    ["fronts"],
    ["http", "mqtt"],
    ["ui/widgets", "ui/tray"],
    ["ui/documents", "ui/settings_dialog"],
    ["ui/shell"],
]
LAYER_OF = {folder: level for level, folders in enumerate(LAYERS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)

root = sys.argv[1] if len(sys.argv) > 1 else "src"


def folder_of(relative_path):
    parts = [p for p in os.path.dirname(relative_path).split("/") if p and p != "platform"]
    return "/".join(parts)


files = {}
for directory, _, names in os.walk(root):
    for name in names:
        if name.endswith((".cpp", ".h")):
            path = os.path.join(directory, name)
            files[os.path.relpath(path, root).replace(os.sep, "/")] = path

faults = []
for relative, path in sorted(files.items()):
    source = folder_of(relative)
    if source not in LAYER_OF:
        faults.append("%s: the folder %s has no layer in scripts/check-layers.py" % (relative,
                                                                                    source))
        continue
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    for target in INCLUDE.findall(text):
        beside = os.path.normpath(os.path.join(os.path.dirname(relative), target))
        hit = beside if beside in files else target if target in files else None
        if hit is None:
            continue  # a system or Qt header
        included = folder_of(hit)
        if included == source or included not in LAYER_OF:
            continue
        if LAYER_OF[included] >= LAYER_OF[source]:
            faults.append("%s includes %s: %s is not below %s" % (relative, target, included,
                                                                  source))

for fault in faults:
    print(fault)
print("layering %s (%d files)" % ("broken" if faults else "holds", len(files)))
sys.exit(1 if faults else 0)
