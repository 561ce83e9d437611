"""The layering of src/: each folder's headers include headers of its own folder or of the folders listed
before it in the README's layout, so no folders include each other's headers in a circle. Sources (.cpp)
may include anything; only headers make the layers."""

import os
import re
import tempfile
import unittest
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent.parent
INCLUDE = re.compile(r'\s*#\s*include\s+"([^"]+)/([^/"]+\.h)"')


def header_edges(src):
    """Folder of src (relative, "network/sockets") -> {included folder: the first include that says so}, for
    every folder holding headers; includes of anything but those folders are left out."""
    folders = {}
    for folder, _, files in os.walk(src):
        headers = sorted(f for f in files if f.endswith(".h"))
        if headers:
            folders[os.path.relpath(folder, src)] = headers
    edges = {folder: {} for folder in folders}
    for folder, headers in folders.items():
        for header in headers:
            with open(os.path.join(src, folder, header), errors="replace") as f:
                for line in f:
                    m = INCLUDE.match(line)
                    if m and m.group(1) in edges and m.group(1) != folder:
                        edges[folder].setdefault(
                            m.group(1), "%s/%s includes %s/%s" % (folder, header, m.group(1), m.group(2)))
    return edges


def circles(edges):
    """The includes that close a circle between folders (one line for every folder pair on one)."""
    def reaches(start, goal, seen):
        if start == goal:
            return True
        seen.add(start)
        return any(reaches(n, goal, seen) for n in edges[start] if n not in seen)

    return [why for a in sorted(edges) for b, why in sorted(edges[a].items()) if reaches(b, a, set())]


def layout_order(readme_text):
    """The src/ folders of the README's layout block, in their order, as "core/sync"."""
    section = readme_text.split("\n## Layout\n", 1)[1]
    block = section.split("```\n", 2)[1]
    return [line.split()[0][len("src/"):].rstrip("/") for line in block.splitlines() if line.startswith("src/")]


def against_order(edges, order):
    """Folders with headers that the order does not list, and includes of a folder listed later."""
    place = {folder: i for i, folder in enumerate(order)}
    faults = ["%s is not in the layout" % folder for folder in sorted(edges) if folder not in place]
    for folder in sorted(edges):
        for included, why in sorted(edges[folder].items()):
            if folder in place and included in place and place[included] > place[folder]:
                faults.append("%s, which is listed after it" % why)
    return faults


class SourceTreeTest(unittest.TestCase):
    def test_no_folders_include_each_other_in_a_circle(self):
        self.assertEqual(circles(header_edges(SOURCE_DIR / "src")), [])

    def test_headers_include_only_folders_listed_before_theirs(self):
        order = layout_order((SOURCE_DIR / "README.md").read_text())
        self.assertEqual(against_order(header_edges(SOURCE_DIR / "src"), order), [])


class CheckTest(unittest.TestCase):
    """The checks on small trees, so that a check that finds nothing is seen to look."""

    def tree(self, files):
        root = tempfile.TemporaryDirectory()
        self.addCleanup(root.cleanup)
        for path, text in files.items():
            full = Path(root.name) / path
            full.parent.mkdir(parents=True, exist_ok=True)
            full.write_text(text)
        return Path(root.name)

    def test_circles(self):
        cases = [
            ("downward only", {"a/x.h": "", "b/y.h": '#include "a/x.h"\n', "c/z.h": '#include "b/y.h"\n'}, []),
            ("two folders", {"a/x.h": '#include "b/y.h"\n', "b/y.h": '#include "a/x.h"\n'},
             ["a/x.h includes b/y.h", "b/y.h includes a/x.h"]),
            ("three folders, spaced directive",
             {"a/x.h": '#include "b/y.h"\n', "b/y.h": '# include "c/z.h"\n', "c/z.h": '  #  include "a/x.h"\n'},
             ["a/x.h includes b/y.h", "b/y.h includes c/z.h", "c/z.h includes a/x.h"]),
            ("a subfolder is a folder of its own",
             {"a/x.h": '#include "a/sub/y.h"\n', "a/sub/y.h": '#include "a/x.h"\n'},
             ["a/x.h includes a/sub/y.h", "a/sub/y.h includes a/x.h"]),
            ("sources may include upward",
             {"a/x.h": "", "a/x.cpp": '#include "b/y.h"\n', "b/y.h": '#include "a/x.h"\n'}, []),
            ("commented and system includes do not count",
             {"a/x.h": '// #include "b/y.h"\n#include <b/y.h>\n', "b/y.h": '#include "a/x.h"\n'}, []),
        ]
        for name, files, expected in cases:
            with self.subTest(name):
                self.assertEqual(circles(header_edges(self.tree(files))), expected)

    def test_order(self):
        files = {"a/x.h": "", "b/y.h": '#include "a/x.h"\n', "c/z.h": '#include "b/y.h"\n'}
        cases = [
            ("listed bottom to top", ["a", "b", "c"], []),
            ("an include of a folder listed later", ["b", "a", "c"],
             ["b/y.h includes a/x.h, which is listed after it"]),
            ("a folder left out", ["a", "b"], ["c is not in the layout"]),
        ]
        for name, order, expected in cases:
            with self.subTest(name):
                self.assertEqual(against_order(header_edges(self.tree(files)), order), expected)

    def test_layout_order_reads_the_layout_block(self):
        readme = ("# P\n\n## Set-up\n\n```\nsrc/not/this/   set-up block\n```\n\n## Layout\n\nText.\n\n```\n"
                  "src/core/sync/          locks\n                        src/not/a/line\n"
                  "src/dedicated/game/states/\n                        phases\nbench/   benchmarks\n```\n"
                  "\n```\nsrc/later/block/\n```\n")
        self.assertEqual(layout_order(readme), ["core/sync", "dedicated/game/states"])


if __name__ == "__main__":
    unittest.main()
