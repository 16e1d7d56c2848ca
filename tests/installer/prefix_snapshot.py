#!/usr/bin/env python3
"""Files and registry of a Wine prefix whose session has ended, as sorted lines.

  prefix_snapshot.py snapshot PREFIX OUT
      writes one line per folder, file, registry key and registry value name:
        dir <path under drive_c>        file <path under drive_c>
        key <hive> <key>                value <hive> <key> <value name>
  prefix_snapshot.py compare BEFORE AFTER MARKER...
      prints what AFTER lacks of BEFORE (removed) and what it has in addition
      (added); fails when anything was removed, or when an added line contains
      a marker (case-insensitive; a GUID marker also matches in the packed form
      the installer service uses in its own keys). One removal is told apart:
      a key that was empty before. The installer service removes every key
      that its uninstallation leaves empty, up the path, also one that was
      there (empty) before; in a prefix whose 32-bit registry view starts
      without any class, CLSID and Interface of that view go that way.

Value data are not compared: the session itself changes some (times, counters).
"""
import os
import re
import sys

HIVES = ("system.reg", "user.reg", "userdef.reg")


def files(prefix):
    root = os.path.join(prefix, "drive_c")
    for top, dirs, names in os.walk(root):
        rel = os.path.relpath(top, root)
        if rel != ".":
            yield "dir " + rel
        for n in names:
            yield "file " + os.path.normpath(os.path.join(rel, n))


def registry(prefix):
    for hive in HIVES:
        path = os.path.join(prefix, hive)
        if not os.path.exists(path):
            continue
        with open(path, encoding="utf-8", errors="surrogateescape") as f:
            text = f.read()
        # A value continued over several lines ends each with a backslash.
        text = re.sub(r"\\\n\s*", "", text)
        key = None
        for line in text.splitlines():
            if line.startswith("["):
                key = line[1 : line.rindex("]")]
                yield "key %s %s" % (hive, key)
            elif key is not None and (line.startswith('"') or line.startswith("@=")):
                if line.startswith("@="):
                    name = "@"
                else:
                    m = re.match(r'"((?:[^"\\]|\\.)*)"=', line)
                    name = m.group(1) if m else line
                yield "value %s %s %s" % (hive, key, name)


def snapshot(prefix, out):
    lines = sorted(set(files(prefix)) | set(registry(prefix)))
    with open(out, "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write("\n".join(lines) + "\n")
    print("snapshot: %d lines" % len(lines))


def packed(guid):
    """The installer service's packed form of a GUID: each of the first three
    groups reversed, then each byte of the rest with its two digits swapped."""
    g = guid.strip("{}").replace("-", "")
    if len(g) != 32 or not re.fullmatch(r"[0-9A-Fa-f]+", g):
        return None
    parts = [g[0:8][::-1], g[8:12][::-1], g[12:16][::-1]]
    rest = g[16:]
    parts += [rest[i + 1] + rest[i] for i in range(0, len(rest), 2)]
    return "".join(parts)


def compare(before_path, after_path, markers):
    read = lambda p: set(open(p, encoding="utf-8", errors="surrogateescape").read().splitlines()) - {""}
    before, after = read(before_path), read(after_path)
    removed = sorted(before - after)
    added = sorted(after - before)

    def empty_before(line):
        if not line.startswith("key "):
            return False
        _, hive, key = line.split(" ", 2)
        inside = ("key %s %s\\\\" % (hive, key), "value %s %s " % (hive, key))
        return not any(l.startswith(inside) for l in before)

    emptied = [l for l in removed if empty_before(l)]
    removed = [l for l in removed if l not in emptied]
    needles = []
    for m in markers:
        needles.append(m.lower())
        p = packed(m)
        if p:
            needles.append(p.lower())
    leftovers = [l for l in added if any(n in l.lower() for n in needles)]
    print("compare: %d lines before, %d after; %d removed, %d empty keys removed, %d added"
          % (len(before), len(after), len(removed), len(emptied), len(added)))
    for l in emptied:
        print("  removed, empty before (the installer service's rule): " + l)
    for l in removed:
        print("  REMOVED (was there before the installation): " + l)
    for l in added:
        print("  %s %s" % ("LEFT OVER:" if l in leftovers else "added by the session:", l))
    return 1 if removed or leftovers else 0


def main(argv):
    if len(argv) == 4 and argv[1] == "snapshot":
        snapshot(argv[2], argv[3])
        return 0
    if len(argv) >= 4 and argv[1] == "compare":
        return compare(argv[2], argv[3], argv[4:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
