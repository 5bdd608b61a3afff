#!/usr/bin/env python3
"""The program built with loopback destinations: what the event service and the chat endpoint get."""
import json
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from loopback_recorder import Recorder

BIN_DIR = os.environ["CORVANTIS_BIN_DIR"]
PROGRAM = os.environ["CORVANTIS_LOOPBACK_PROGRAM"]
EVENT_PORT = int(os.environ["CORVANTIS_EVENT_PORT"])
CHAT_PORT = int(os.environ["CORVANTIS_CHAT_PORT"])
RUNTIME_NAME = "libamfrt64.so"


def install(directory, with_runtime=True):
    """The program with its crash handler, so that runs here also catch crashes."""
    shutil.copy2(PROGRAM, os.path.join(directory, "corvantis"))
    shutil.copy2(os.path.join(BIN_DIR, "corvantis_crash_handler"), directory)
    if with_runtime:
        shutil.copy2(os.path.join(BIN_DIR, RUNTIME_NAME), directory)
    return os.path.join(directory, "corvantis")


def parse_envelope(body):
    header, item, event = body.split(b"\n", 2)
    item = json.loads(item)
    payload = event[:item["length"]]
    return json.loads(header), item, json.loads(payload)


def results_text_from(stdout):
    """The results text the console implies: seed, then per series header and table."""
    lines = stdout.split("\n")
    adapter = lines[0][len("DXGI_ADAPTER_DESC1.Description: "):]
    text = adapter + " (Corvantis)\n\nVendor 0x0000, Device 0x0000, 0x0000, 0x0000\n\n"
    for label, block in re.findall(r"Trying to record 20 (AVC|HEVC) clips.*?\n\n(.*?)(?=Trying to record|Finalizing)",
                                   stdout, re.S):
        table = [line for line in block.split("\n") if "\t" in line]
        if table:
            text += label + "; AMF 1.4.18.0\n\n" + "".join(line + "\n" for line in table) + "\n"
    return text


class DeliveredResults(unittest.TestCase):
    def test_one_event_and_one_chat_message_match_the_console(self):
        events, chat = Recorder(EVENT_PORT), Recorder(CHAT_PORT)
        try:
            with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as directory:
                program = install(directory)
                result = subprocess.run([program, "-Adapter:Software", "-Seconds:1", "-u", "tester@example.org"],
                                        capture_output=True, text=True, timeout=600, cwd=directory)
        finally:
            events.close()
            chat.close()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")  # not a terminal: no progress line, and nothing went wrong
        self.assertTrue(result.stdout.endswith("Finalizing... results submitted\n"))
        expected_text = results_text_from(result.stdout)
        self.assertIn("AVC; AMF 1.4.18.0", expected_text)

        self.assertEqual(len(events.requests), 1)
        path, headers, body = events.requests[0]
        self.assertEqual(path, "/api/42/envelope/")
        self.assertIn("sentry_key=0123456789abcdef0123456789abcdef", headers["X-Sentry-Auth"])
        _, item, event = parse_envelope(body)
        self.assertEqual(item["type"], "event")
        self.assertEqual(event["level"], "info")
        self.assertEqual(event["message"]["formatted"], expected_text)
        self.assertEqual(event["user"], {"email": "tester@example.org"})
        tags = event["tags"]
        self.assertEqual(tags["dxgi_adapter_vendor_id"], "0x0000")
        self.assertEqual(tags["dxgi_adapter_device_id"], "0x0000")
        self.assertTrue(tags["dxgi_adapter_description"].startswith("Software adapter"))
        self.assertEqual(tags["amf_version"], "1.4.18.0")
        driver_tags = {"amd_driver_version", "amd_driver_edition", "amd_driver_version_ex"}
        if not os.path.exists("/sys/module/amdgpu"):
            self.assertEqual(set(tags) & driver_tags, set())
        crumbs = event["breadcrumbs"]["values"] if isinstance(event["breadcrumbs"], dict) else event["breadcrumbs"]
        amf = [c for c in crumbs if c.get("message") == "amf"]
        self.assertEqual(len(amf), 2)
        for crumb in amf:
            self.assertEqual((crumb["category"], crumb["level"]), ("hardware", "info"))
            self.assertEqual(crumb["data"], {"version": "1.4.18.0"})

        self.assertEqual(len(chat.requests), 1)
        path, headers, body = chat.requests[0]
        self.assertEqual(path, "/bot-test/sendMessage")
        self.assertEqual(headers["Content-Type"], "application/json")
        self.assertEqual(list(json.loads(body)), ["chat_id", "text"])
        self.assertEqual(body.decode(), json.dumps({"chat_id": 987654321, "text": expected_text},
                                                   separators=(",", ":"), ensure_ascii=False))
        self.assertIn("\\n", body.decode())


class StoredAddress(unittest.TestCase):
    def test_the_chat_address_is_not_in_the_binary_as_text(self):
        with open(PROGRAM, "rb") as f:
            image = f.read()
        for text in ("127.0.0.1:%d" % CHAT_PORT, "bot-test"):
            self.assertNotIn(text.encode(), image)
            self.assertNotIn(text.encode("utf-16-le"), image)
            self.assertNotIn(text.encode("utf-32-le"), image)


class FailingDestinations(unittest.TestCase):
    """Without a runtime both series end at once, so these runs only exercise the submission."""

    def run_against(self, chat_status, env=None):
        chat = Recorder(CHAT_PORT, chat_status) if chat_status is not None else None
        try:
            with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as directory:
                program = install(directory, with_runtime=False)
                start = time.monotonic()
                result = subprocess.run([program, "-Adapter:Software"], capture_output=True, text=True,
                                        timeout=120, cwd=directory, env=env)
                elapsed = time.monotonic() - start
        finally:
            if chat:
                chat.close()
        self.assertEqual(result.returncode, 0)
        self.assertTrue(result.stdout.endswith("Finalizing... results submitted\n"), result.stdout)
        return elapsed, chat

    def test_error_statuses(self):
        for status in (400, 500):
            _, chat = self.run_against(status)
            self.assertEqual(len(chat.requests), 1)
            self.assertEqual(json.loads(chat.requests[0][2])["text"].count("(Corvantis)"), 1)

    def test_refused_connections(self):
        # Neither destination listens.
        for port in (EVENT_PORT, CHAT_PORT):
            with socket.socket() as s:
                s.settimeout(0.2)
                self.assertNotEqual(s.connect_ex(("127.0.0.1", port)), 0)
        elapsed, _ = self.run_against(None)
        self.assertLess(elapsed, 20)

    def test_an_endpoint_that_never_answers(self):
        elapsed, chat = self.run_against("hang")
        self.assertEqual(len(chat.requests), 1)
        # The request's own limit (30 s) and the event client's bounded shutdown (2 s).
        self.assertLess(elapsed, 45)

    def test_the_event_stays_captured_when_the_chat_post_then_fails(self):
        for chat_status in (500, None):
            events = Recorder(EVENT_PORT)
            try:
                _, chat = self.run_against(chat_status)
            finally:
                events.close()
            self.assertEqual(len(events.requests), 1, chat_status)
            _, item, event = parse_envelope(events.requests[0][2])
            self.assertEqual((item["type"], event["level"]), ("event", "info"))
            self.assertIn("(Corvantis)", event["message"]["formatted"])
            if chat:
                self.assertEqual(len(chat.requests), 1)

    def test_both_destinations_use_the_proxy_from_the_environment(self):
        proxy = Recorder(0)
        try:
            env = {k: v for k, v in os.environ.items() if k.lower() not in ("no_proxy", "all_proxy")}
            env["http_proxy"] = "127.0.0.1:%d" % proxy.server_address[1]
            self.run_against(None, env)
        finally:
            proxy.close()
        self.assertEqual(sorted(path for path, _, _ in proxy.requests),
                         ["http://127.0.0.1:%d/api/42/envelope/" % EVENT_PORT,
                          "http://127.0.0.1:%d/bot-test/sendMessage" % CHAT_PORT])


if __name__ == "__main__":
    unittest.main(verbosity=2)
