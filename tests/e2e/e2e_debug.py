#!/usr/bin/env python3
"""A benchmark run with "-Debug": the debugger child attaches, relays and leaves the console whole."""
import datetime
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_benchmark import BIN_DIR, SLOW_RUNTIME, install  # noqa: E402

# The second AVC clip when every clip fails, and the first HEVC clip: both series end early.
TAKEN = ["-1280x720@60.h264", "-640x360@144.h265"]


def take_names(directory):
    """Names those clips could get in the next minutes, so that writing their streams fails."""
    now = datetime.datetime.now()
    for offset in range(0, 600):
        stamp = (now + datetime.timedelta(seconds=offset)).strftime("%Y%m%d-%H%M%S")
        for suffix in TAKEN:
            with open(os.path.join(directory, stamp + suffix), "wb") as f:
                f.write(b"keep")


@unittest.skipUnless(SLOW_RUNTIME, "no slow runtime built")
class DebugRun(unittest.TestCase):
    def test_debug_run_keeps_every_console_line_and_relays_the_error(self):
        # The slow runtime fails every clip, so both runs go through the same clips whatever the load.
        with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as plain_dir, \
                tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as debug_dir:
            runs = []
            for directory, extra in ((plain_dir, []), (debug_dir, ["-Debug"])):
                take_names(directory)
                program = install(directory, SLOW_RUNTIME)
                runs.append(subprocess.Popen([program, *extra, "-Adapter:Software", "-Seconds:1"],
                                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True))
            (plain_out, plain_err), (debug_out, debug_err) = (run.communicate(timeout=900) for run in runs)
            self.assertEqual(runs[0].returncode, 0, plain_err)
            self.assertEqual(runs[1].returncode, 0, debug_err)
            dumps = sorted(name for name in os.listdir(debug_dir) if name.endswith(".dmp"))

        def normalise(text, directory):
            return [re.sub(r"\d+", "#", line.replace(directory, "<dir>")) for line in text.split("\n")]

        plain = normalise(plain_out, plain_dir)
        debug = normalise(debug_out, debug_dir)
        # Every line of the run without the child, in its order; what is left came from the child.
        relayed, at = [], 0
        for line in plain:
            while at < len(debug) and debug[at] != line:
                relayed.append(debug[at])
                at += 1
            self.assertLess(at, len(debug), "missing from the -Debug run: %r\n%s" % (line, debug_out))
            at += 1
        relayed += debug[at:]
        self.assertTrue(plain[-2].startswith("Finalizing"), plain_out)
        self.assertFalse(any(line.startswith("Exception: ") for line in plain), plain_out)
        # The originate-error messages of the stream files that could not be made, unchanged.
        for suffix in TAKEN:
            self.assertIn("<dir>/#-#" + re.sub(r"\d+", "#", suffix) + ": File exists", relayed, debug_out)
        # Each error is also described as the C++ exception that carries it, and dumped.
        self.assertGreaterEqual(debug_out.split("\n").count(
            "Exception: Module corvantis, winrt::hresult_error, 0x80070050"), 2, debug_out)
        reported = [line for line in debug_out.split("\n") if line.startswith("Exception: ")]
        self.assertEqual(len(dumps), len(reported), dumps)
        self.assertTrue(any(re.fullmatch(r"corvantis-\d+-DebugException-\d+-0x80070050\.dmp", d) for d in dumps), dumps)


if __name__ == "__main__":
    if not BIN_DIR:
        sys.exit("CORVANTIS_BIN_DIR is not set")
    unittest.main(argv=sys.argv[:1] + sys.argv[1:], verbosity=2)
