#!/usr/bin/env python3
"""The program built with a loopback DSN, killed by a fault signal mid-run: what the event service gets."""
import fcntl
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from loopback_recorder import Recorder

BIN_DIR = os.environ["CORVANTIS_BIN_DIR"]
PROGRAM = os.environ["CORVANTIS_CRASH_PROGRAM"]
EVENT_PORT = int(os.environ["CORVANTIS_CRASH_EVENT_PORT"])
RUNTIME_NAME = "libamfrt64.so"
HANDLER_NAME = "corvantis_crash_handler"


def install(directory):
    for source, name in ((PROGRAM, "corvantis"), (os.path.join(BIN_DIR, RUNTIME_NAME), RUNTIME_NAME),
                         (os.path.join(BIN_DIR, HANDLER_NAME), HANDLER_NAME)):
        shutil.copy2(source, os.path.join(directory, name))
    return os.path.join(directory, "corvantis")


def parse_items(body):
    """The envelope header and its items as (header, payload) pairs."""
    line_end = body.index(b"\n")
    header, items, at = json.loads(body[:line_end]), [], line_end + 1
    while at < len(body):
        line_end = body.index(b"\n", at)
        item = json.loads(body[at:line_end])
        at = line_end + 1
        items.append((item, body[at:at + item["length"]]))
        at += item["length"] + 1
    return header, items


def crash_mid_run(directory, *options):
    """Starts a run, sends SIGSEGV once the first clip is encoding; returns the exit status and the
    seconds from the signal until the program had died and its output pipe had closed."""
    program = install(directory)
    process = subprocess.Popen([program, "-Adapter:Software", "-Seconds:3", *options, "-u", "crash@example.org"],
                               cwd=directory, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    for line in process.stdout:
        if line.startswith("File: "):
            break
    time.sleep(0.5)
    process.send_signal(signal.SIGSEGV)
    sent = time.monotonic()
    process.stdout.read()
    status = process.wait(timeout=60)
    return status, time.monotonic() - sent


def wait_for(predicate, seconds):
    give_up = time.monotonic() + seconds
    while not predicate() and time.monotonic() < give_up:
        time.sleep(0.05)
    return predicate()


class CrashMidRun(unittest.TestCase):
    def check_crash_event(self, body):
        header, items = parse_items(body)
        events = [json.loads(payload) for item, payload in items if item["type"] == "event"]
        self.assertEqual(len(events), 1)
        event = events[0]
        self.assertEqual(event["event_id"], header["event_id"])
        self.assertEqual(event["level"], "fatal")
        self.assertEqual(event["user"], {"email": "crash@example.org"})
        self.assertEqual(event["tags"]["amf_version"], "1.4.18.0")
        self.assertTrue(event["tags"]["dxgi_adapter_description"].startswith("Software adapter"))
        amf = [c for c in event["breadcrumbs"]["values"] if c.get("message") == "amf"]
        self.assertEqual(len(amf), 1)
        self.assertEqual(event["exception"]["values"][0]["type"], "SIGSEGV")
        return event, items

    def test_the_crash_reaches_the_service(self):
        events = Recorder(EVENT_PORT)
        try:
            with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as directory:
                self.assertEqual(crash_mid_run(directory)[0], -signal.SIGSEGV)
                self.assertTrue(wait_for(lambda: events.requests, 15))
                _, items = self.check_crash_event(events.requests[0][2])
                dumps = [payload for item, payload in items if item.get("attachment_type") == "event.minidump"]
                self.assertEqual(len(dumps), 1)
                dump = os.path.join(directory, "crash.dmp")
                with open(dump, "wb") as f:
                    f.write(dumps[0])
                lldb = subprocess.run(["lldb", "--batch", "-c", dump, os.path.join(directory, "corvantis"),
                                       "-o", "thread backtrace all"], stdin=subprocess.DEVNULL,
                                      capture_output=True, text=True, timeout=120).stdout
                self.assertIn("stop reason = signal SIGSEGV", lldb)
                self.assertIn("corvantis`main", lldb)
                self.assertTrue(wait_for(lambda: not os.listdir(os.path.join(directory, ".sentry-native", "pending")), 5))
        finally:
            events.close()
        self.assertEqual(len(events.requests), 1)

    def test_a_service_that_never_answers_holds_neither_the_program_nor_its_output(self):
        events = Recorder(EVENT_PORT, "hang")
        try:
            with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as directory:
                status, seconds = crash_mid_run(directory)
                self.assertEqual(status, -signal.SIGSEGV)
                # Well under the handler's own 10 s limit for sending.
                self.assertLess(seconds, 5)
                pending = os.path.join(directory, ".sentry-native", "pending")
                self.assertTrue(wait_for(lambda: events.requests, 10))
                # The handler holds the file while it sends, and gives up after its time limit.
                path = os.path.join(pending, os.listdir(pending)[0])
                with open(path, "rb") as envelope:
                    def unlocked():
                        try:
                            fcntl.flock(envelope, fcntl.LOCK_EX | fcntl.LOCK_NB)
                            return True
                        except BlockingIOError:
                            return False
                    self.assertTrue(wait_for(unlocked, 20))
                self.assertTrue(os.path.exists(path))
        finally:
            events.close()

    def test_under_the_debugger_child_the_crash_is_still_reported_and_nothing_hangs(self):
        events = Recorder(EVENT_PORT)
        try:
            with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as directory:
                status, seconds = crash_mid_run(directory, "-Debug")
                self.assertEqual(status, -signal.SIGSEGV)
                self.assertLess(seconds, 10)
                self.assertTrue(wait_for(lambda: events.requests, 15))
                _, items = self.check_crash_event(events.requests[0][2])
                # The handler cannot trace a traced process: the dump is the one the child wrote at
                # the first chance, if any; the second chance's comes after the report.
                child_dumps = sorted(name for name in os.listdir(directory) if "-DebugException-" in name)
                attachments = [payload for item, payload in items if item["type"] == "attachment"]
                if child_dumps:
                    with open(os.path.join(directory, child_dumps[0]), "rb") as dump:
                        self.assertEqual(attachments, [dump.read()])
                else:
                    self.assertEqual(attachments, [])
        finally:
            events.close()

    def test_a_crash_with_the_service_down_goes_at_the_next_run(self):
        with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as directory:
            self.assertEqual(crash_mid_run(directory)[0], -signal.SIGSEGV)
            pending = os.path.join(directory, ".sentry-native", "pending")
            self.assertTrue(wait_for(lambda: len(os.listdir(pending)) == 1, 15))
            # The handler gives up on the refused connection at once; let it end before the next run.
            time.sleep(1)
            os.remove(os.path.join(directory, RUNTIME_NAME))
            events = Recorder(EVENT_PORT)
            try:
                result = subprocess.run([os.path.join(directory, "corvantis"), "-Adapter:Software"], cwd=directory,
                                        capture_output=True, text=True, timeout=120)
            finally:
                events.close()
            self.assertEqual(result.returncode, 0)
            self.assertTrue(result.stdout.endswith("Finalizing... results submitted\n"))
            self.assertEqual(os.listdir(pending), [])
        levels = sorted(json.loads(parse_items(body)[1][0][1])["level"] for _, _, body in events.requests)
        self.assertEqual(levels, ["fatal", "info"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
