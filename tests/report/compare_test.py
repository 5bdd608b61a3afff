#!/usr/bin/env python3
"""scripts/compare on small reports of tests/report/data."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DATA = os.path.join(ROOT, "tests", "report", "data")


def compare(old, new):
    return subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "compare"),
                           os.path.join(DATA, old), os.path.join(DATA, new)],
                          capture_output=True, text=True, timeout=60)


def rows(stdout):
    """{(codec, mode): cells} of every table."""
    found, codec = {}, None
    for line in stdout.splitlines():
        header = re.match(r"^(\w+); AMF ", line)
        if header:
            codec = header.group(1)
        elif codec and "\t" in line:
            cells = line.split("\t")
            found[(codec, cells[0])] = cells[1:]
    return found


class Compare(unittest.TestCase):
    def test_a_clip_that_stopped_passing_fails_the_comparison_and_is_marked(self):
        result = compare("compare_old.json", "compare_new.json")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stderr, "")
        table = rows(result.stdout)
        self.assertEqual(table[("AVC", "640x360@144")],
                         ["pass -> FAIL *", "avg 2.00 -> 2.50 (+25.0%)", "p50 1.300 -> 1.500 (+15.4%)",
                          "p99 2.700 -> 3.100 (+14.8%)"])
        # Other changes are marked too, but only a pass that went is a regression.
        self.assertEqual(table[("AVC", "1280x720@60")][0], "FAIL -> pass *")
        self.assertEqual(table[("AVC", "640x360@260")][:2], ["pass -> skipped *", "avg 1.50 -> -"])
        self.assertEqual(table[("HEVC", "640x360@260")][0], "not run -> pass *")
        self.assertTrue(result.stdout.endswith("1 clip passed in OLD and not in NEW: AVC 640x360@144\n"))
        # The stack that changed stands above the tables, and only what changed.
        above = result.stdout.split("\n\n")[0]
        self.assertIn("Driver stack, where the reports differ:\n  va_driver.vendor: Mesa Gallium driver "
                      "22.3.6 for", above)
        self.assertIn("-> Mesa Gallium driver 23.0.4 for", above)
        self.assertNotIn("firmware", above)
        self.assertNotIn("Driver stack", compare("compare_old.json", "compare_old.json").stdout)

    def test_identical_reports_pass_with_every_change_at_zero(self):
        result = compare("compare_old.json", "compare_old.json")
        self.assertEqual(result.returncode, 0, result.stderr)
        changes = re.findall(r"\(([^)]*%)\)", result.stdout)
        self.assertEqual(len(changes), 9)
        self.assertEqual(set(changes), {"0.0%"})
        self.assertEqual([cells[0] for cells in rows(result.stdout).values()],
                         ["pass", "pass", "FAIL", "error"])

    def test_a_report_without_microseconds_is_compared_in_whole_milliseconds(self):
        # The newer report's whole ms come from its frame latencies: 1, 2, 2, 3.
        result = compare("compare_schema1.json", "compare_new.json")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(rows(result.stdout)[("AVC", "640x360@144")][2:],
                         ["p50 1 -> 2 (+100.0%)", "p99 3 -> 3 (0.0%)"])

    def test_unreadable_reports_exit_2_with_the_reason(self):
        with tempfile.TemporaryDirectory() as directory:
            broken = os.path.join(directory, "broken.json")
            with open(broken, "w") as f:
                f.write("{\"series\": [")
            shapeless = os.path.join(directory, "shapeless.json")
            with open(shapeless, "w") as f:
                f.write("{\"series\": [{\"codec\": \"AVC\", \"clips\": [{\"mode\": 7}]}]}")
            for new, reason in ((os.path.join(directory, "missing.json"), "No such file or directory"),
                                (broken, "not JSON"),
                                (shapeless, "series[0].clips[0].mode is not a text")):
                result = compare("compare_old.json", new)
                self.assertEqual(result.returncode, 2, new)
                self.assertEqual(result.stdout, "")
                self.assertRegex(result.stderr, "^compare: " + re.escape(new) + ": .*" + re.escape(reason))


if __name__ == "__main__":
    unittest.main()
