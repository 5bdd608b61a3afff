#!/usr/bin/env python3
"""Minidumps of a "-Debug" run: one per reported exception beside the executable, read by LLDB."""
import datetime
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_benchmark import BIN_DIR, install  # noqa: E402

THREAD_LIST, EXCEPTION, MEMORY64_LIST, HANDLE_DATA, LINUX_PROC_STATUS = 3, 6, 9, 12, 0x47670004


def take_first_clip_names(directory):
    """Stream names that the first AVC and HEVC clips could get in the next two minutes: writing
    them fails with "File exists" (0x80070050), one raised error per series."""
    now = datetime.datetime.now()
    for offset in range(0, 120):
        stamp = (now + datetime.timedelta(seconds=offset)).strftime("%Y%m%d-%H%M%S")
        for suffix in ("-640x360@144.h264", "-640x360@144.h265"):
            with open(os.path.join(directory, stamp + suffix), "wb") as f:
                f.write(b"keep")


def run_debug(directory, option="-Debug:Normal"):
    take_first_clip_names(directory)
    program = install(directory)
    run = subprocess.run([program, option, "-Adapter:Software", "-Seconds:1"],
                         capture_output=True, text=True, timeout=600)
    return program, run


class Minidump:
    """The header, the directory and the streams this test looks at."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        signature, _, count, rva, _, _, self.flags = struct.unpack_from("<IIIIIIQ", self.data, 0)
        assert signature == 0x504D444D, path
        self.streams = {}
        for i in range(count):
            kind, size, at = struct.unpack_from("<III", self.data, rva + 12 * i)
            self.streams[kind] = self.data[at:at + size]

    def thread_ids(self):
        stream = self.streams[THREAD_LIST]
        (count,) = struct.unpack_from("<I", stream, 0)
        return [struct.unpack_from("<I", stream, 4 + 48 * i)[0] for i in range(count)]

    def exception(self):
        thread, _, code, flags = struct.unpack_from("<IIII", self.streams[EXCEPTION], 0)
        return thread, code, flags


class DebugRunDumps(unittest.TestCase):
    def test_one_dump_per_reported_exception_that_lldb_opens_with_every_thread(self):
        with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as directory:
            program, run = run_debug(directory)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stdout.count("Exception: Module corvantis, winrt::hresult_error, 0x80070050"),
                             2, run.stdout)
            dumps = sorted(name for name in os.listdir(directory) if name.endswith(".dmp"))
            pid = re.match(r"corvantis-(\d+)-", dumps[0]).group(1) if dumps else "?"
            self.assertEqual(dumps, ["corvantis-%s-DebugException-%d-0x80070050.dmp" % (pid, n)
                                     for n in (0, 1)])

            first = os.path.join(directory, dumps[0])
            dump = Minidump(first)
            threads = dump.thread_ids()
            status = dump.streams[LINUX_PROC_STATUS].decode()
            self.assertIn("Pid:\t%s\n" % pid, status)
            self.assertIn("Threads:\t%d\n" % len(threads), status, "every thread of the process")
            thread, code, flags = dump.exception()
            self.assertIn(thread, threads)
            self.assertEqual((code, flags), (0xFFFFFFFF, 0xE06D7363), "a C++ throw, which is no signal")

            lldb = subprocess.run(["lldb", "--batch", "-c", first, program, "-o", "thread list",
                                   "-o", "thread backtrace all"], stdin=subprocess.DEVNULL,
                                  capture_output=True, text=True, timeout=300).stdout
            self.assertEqual(sorted(int(t) for t in re.findall(r"tid = (\d+)", lldb)), sorted(threads),
                             lldb)
            self.assertIn("WriteClipStream", lldb, "the throwing frames by name")

    def test_full_written_in_any_case_reaches_the_child_and_adds_all_memory(self):
        with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as directory:
            _, run = run_debug(directory, "-DEBUG:fULL")
            self.assertEqual(run.returncode, 0, run.stderr)
            dumps = [os.path.join(directory, name) for name in os.listdir(directory) if name.endswith(".dmp")]
            self.assertEqual(len(dumps), 2, run.stdout)
            for path in dumps:
                dump = Minidump(path)
                self.assertEqual(dump.flags, 0x1826, path)
                self.assertIn(MEMORY64_LIST, dump.streams)
                self.assertIn(HANDLE_DATA, dump.streams)
                self.assertGreater(len(dump.data), 20_000_000, "a Normal dump of this run is about 0.2 MB")

    def test_a_folder_that_cannot_take_the_dump_ends_the_debugging_and_the_run_goes_on(self):
        with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as top:
            # Any dump path here is longer than 260 characters, so no dump file can be made.
            directory = top
            while len(directory) < 240:
                directory = os.path.join(directory, "d" * min(60, 240 - len(directory)))
            os.makedirs(directory)
            _, run = run_debug(directory)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stdout.count("Exception: "), 1, "the debugging ended at the first dump\n"
                             + run.stdout)
            self.assertIn("Trying to record 20 HEVC clips", run.stdout)
            self.assertTrue(run.stdout.rstrip("\n").split("\n")[-1].startswith("Finalizing"), run.stdout)
            self.assertFalse([name for name in os.listdir(directory) if name.endswith(".dmp")])


if __name__ == "__main__":
    if not BIN_DIR:
        sys.exit("CORVANTIS_BIN_DIR is not set")
    unittest.main(argv=sys.argv[:1] + sys.argv[1:], verbosity=2)
