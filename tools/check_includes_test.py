#!/usr/bin/env python3
"""Tests of check_includes.py on small trees of its own: python3 tools/check_includes_test.py"""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_includes  # noqa: E402

README = """# Project

## Source layout

| Folder | What it holds | May use |
|---|---|---|
| `core/` | rows | Qt Core, Gui |
| `keying/` | keyers | `core` |
| `compose/` | composites | `core` |
| `keying/window/` | the keying frame | `keying`, `ui` |
| `ui/` | the window | the engine (`core`, `keying`, `compose`), Qt Widgets |
| `tests/` | tests | any folder |

Build variants are presets.
"""


class CheckIncludes(unittest.TestCase):
    def tree(self, files):
        root = tempfile.mkdtemp(prefix="includes-")
        self.addCleanup(lambda: __import__("shutil").rmtree(root))
        files = dict(files)
        files.setdefault("README.md", README)
        files.setdefault("core/rows.h", "#pragma once\n")
        files.setdefault("keying/keyer.h", '#pragma once\n#include "core/rows.h"\n')
        files.setdefault("compose/composite.h", '#pragma once\n#include "core/rows.h"\n')
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write(text)
        return check_includes.check(root)

    def test_the_table_is_read_with_its_rows_and_unchecked_ones(self):
        rows = check_includes.read_table(README)
        self.assertEqual(rows["keying"], {"core"})
        self.assertEqual(rows["ui"], {"core", "keying", "compose"})
        self.assertEqual(rows["keying/window"], {"keying", "ui"})
        self.assertEqual(rows["core"], set())
        self.assertIsNone(rows["tests"])
        self.assertNotIn("Build variants", str(rows))

    def test_includes_the_rows_allow_pass(self):
        self.assertEqual(self.tree({
            "keying/keyer.cpp": '#include "keying/keyer.h"\n#include <QImage>\n',
            "ui/dialog.cpp": '#include "compose/composite.h"\n#include "keying/keyer.h"\n',
        }), [])

    def test_an_include_sideways_fails_naming_file_line_and_folders(self):
        problems = self.tree({"keying/keyer.cpp": '// keys\n\n#include "compose/composite.h"\n'})
        self.assertEqual(len(problems), 1)
        self.assertIn('keying/keyer.cpp:3: "compose/composite.h": keying/ may not use compose/',
                      problems[0])

    def test_an_include_against_the_flow_fails(self):
        problems = self.tree({"core/rows.cpp": '#include "keying/keyer.h"\n'})
        self.assertEqual(len(problems), 1)
        self.assertIn("core/ may not use keying/", problems[0])

    def test_a_subfolder_without_a_row_is_held_to_its_parents_row(self):
        problems = self.tree({
            "keying/soft/stage.h": '#include "keying/keyer.h"\n#include "ui/dialog.h"\n',
            "ui/dialog.h": "#pragma once\n",
        })
        self.assertEqual(len(problems), 1)
        self.assertIn("keying/soft/stage.h:2", problems[0])

    def test_a_subfolder_with_its_own_row_is_held_to_that_row(self):
        self.assertEqual(self.tree({
            "keying/window/frame.cpp": '#include "ui/dialog.h"\n',
            "ui/dialog.h": "#pragma once\n",
        }), [])
        problems = self.tree({"keying/keyer.cpp": '#include "keying/window/frame.h"\n',
                              "keying/window/frame.h": "#pragma once\n"})
        self.assertEqual(len(problems), 1)
        self.assertIn("keying/ may not use keying/window/", problems[0])

    def test_a_header_beside_the_file_is_its_own_folders(self):
        self.assertEqual(self.tree({"compose/composite.cpp": '#include "composite.h"\n'}), [])

    def test_a_header_in_no_folder_and_not_generated_fails(self):
        problems = self.tree({"compose/composite.cpp": '#include "missing.h"\n'})
        self.assertEqual(len(problems), 1)
        self.assertIn('"missing.h" is neither in the tree nor generated', problems[0])

    def test_generated_headers_are_allowed_where_the_build_makes_them(self):
        self.assertEqual(self.tree({"ui/dialog.cpp": '#include "ui_dialog.h"\n#include "mattora_version.h"\n',
                                    "keying/window/frame.cpp": '#include "ui_dialog.h"\n'}), [])
        problems = self.tree({"compose/composite.cpp": '#include "ui_dialog.h"\n'})
        self.assertEqual(len(problems), 1)

    def test_folders_of_any_folder_are_not_checked(self):
        self.assertEqual(self.tree({"tests/ui/t.cpp": '#include "ui/dialog.h"\n#include "x.h"\n',
                                    "ui/dialog.h": "#pragma once\n"}), [])

    def test_a_folder_outside_the_table_is_named(self):
        problems = self.tree({"extra/thing.cpp": '#include "core/rows.h"\n'})
        self.assertEqual(problems, ["extra/thing.cpp: its folder has no row in the README's table"])

    def test_a_readme_without_the_table_fails(self):
        self.assertEqual(len(self.tree({"README.md": "# Project\n"})), 1)


if __name__ == "__main__":
    unittest.main()
