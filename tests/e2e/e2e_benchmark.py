#!/usr/bin/env python3
"""End-to-end checks of the built program on the software adapter with short clips."""
import datetime
import glob
import json
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BIN_DIR = os.environ.get("CORVANTIS_BIN_DIR", "")
SLOW_RUNTIME = os.environ.get("CORVANTIS_SLOW_RUNTIME", "")
RUNTIME_NAME = "libamfrt64.so"

MATRIX = [(640, 360, 144), (640, 360, 260), (1280, 720, 60), (1280, 720, 120), (1920, 1080, 60),
          (1920, 1080, 72), (1920, 1080, 90), (1920, 1080, 120), (1920, 1080, 144), (2560, 1440, 60),
          (2560, 1440, 72), (2560, 1440, 90), (2560, 1440, 120), (2560, 1440, 144), (3840, 2160, 30),
          (3840, 2160, 60), (3840, 2160, 72), (3840, 2160, 90), (3840, 2160, 120), (3840, 2160, 144)]


def install(directory, runtime=None):
    """A copy of the program with a runtime beside it, so its files land in `directory`."""
    shutil.copy2(os.path.join(BIN_DIR, "corvantis"), directory)
    shutil.copy2(runtime or os.path.join(BIN_DIR, RUNTIME_NAME), os.path.join(directory, RUNTIME_NAME))
    return os.path.join(directory, "corvantis")


def run(program, *args, timeout=900):
    return subprocess.run([program, *args], capture_output=True, text=True, timeout=timeout)


def run_on_terminal(program, *args):
    """Runs with standard error on a pseudo-terminal; returns exit code, stdout text, stderr bytes."""
    master, slave = pty.openpty()
    process = subprocess.Popen([program, *args], stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    terminal = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the last holder of the terminal went
            break
        if not chunk:
            break
        terminal += chunk
    os.close(master)
    stdout = process.stdout.read().decode()
    process.stdout.close()
    return process.wait(timeout=60), stdout, terminal


def read_report(directory, name=None):
    paths = [os.path.join(directory, name)] if name else glob.glob(os.path.join(directory, "*-report.json"))
    assert len(paths) == 1, paths
    with open(paths[0]) as f:
        return paths[0], json.load(f)


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-show_streams", "-of", "json", path],
                         capture_output=True, text=True, check=True).stdout
    return json.loads(out)["streams"][0]


def decode_errors(path):
    return subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"],
                          capture_output=True, text=True).stderr.strip()


def read_png(path):
    """Width, height and rows of RGB triples, decoded by ffmpeg."""
    stream = probe(path)
    width, height = stream["width"], stream["height"]
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         capture_output=True, check=True).stdout
    assert len(raw) == width * height * 3
    rows = [[tuple(raw[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
            for y in range(height)]
    return width, height, rows


def parse_blocks(stdout):
    """The series of a run: label, announced seconds, clip blocks and table lines."""
    lines = stdout.split("\n")
    series, i = [], 0
    announce = re.compile(r"^Trying to record 20 (AVC|HEVC) clips, (\d+) seconds long each clip\.\.\.$")
    while i < len(lines):
        m = announce.match(lines[i])
        if not m:
            i += 1
            continue
        current = {"label": m.group(1), "seconds": int(m.group(2)), "clips": [], "table": []}
        series.append(current)
        i += 2
        while i < len(lines) and lines[i].startswith("Video: "):
            # A finished clip has four lines and an empty one; one cut short by an error has fewer.
            block = [lines[i]]
            i += 1
            while i < len(lines) and lines[i] and not lines[i].startswith("Video: ") and "\t" not in lines[i]:
                block.append(lines[i])
                i += 1
            if i < len(lines) and lines[i] == "":
                block.append("")
                i += 1
            current["clips"].append(block)
        while i < len(lines) and "\t" in lines[i]:
            current["table"].append(lines[i])
            i += 1
    return series


class ShortRun(unittest.TestCase):
    """One two-second run of both series, checked as a user would."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="corvantis-e2e-")
        cls.program = install(cls.dir)
        code, stdout, cls.terminal = run_on_terminal(cls.program, "-Adapter:Software", "-Seconds:1", "-Report")
        cls.result = subprocess.CompletedProcess([], code, stdout, "")
        cls.series = parse_blocks(cls.result.stdout)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_exit_code_and_frame_of_the_output(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        lines = self.result.stdout.split("\n")
        self.assertTrue(lines[0].startswith("DXGI_ADAPTER_DESC1.Description: Software adapter"))
        self.assertEqual(lines[1], "")
        self.assertTrue(lines[2].startswith("The application will attempt to encode video using AMD GPU"))
        self.assertEqual(lines[3], "")
        self.assertEqual(self.result.stdout.rstrip("\n").split("\n")[-1], "Finalizing... results submitted")
        self.assertEqual([s["label"] for s in self.series], ["AVC", "HEVC"])
        self.assertTrue(all(s["seconds"] == 1 for s in self.series))

    def test_report_holds_every_clip_of_the_table(self):
        path, report = read_report(self.dir)
        self.assertRegex(os.path.basename(path), r"^\d{8}-\d{6}-report\.json$")
        self.assertEqual(report["schema_version"], 3)
        self.assertEqual(report["options"]["adapter"], "Software")
        stack = report["driver_stack"]
        self.assertIsNone(stack["va_driver"]["vendor"])
        self.assertRegex(stack["libavcodec"], r"^\d+\.\d+\.\d+$")
        self.assertRegex(stack["libx264"], r"^build \d+$")
        self.assertRegex(stack["libx265"], r"build \d+$")
        self.assertRegex(report["start_utc"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertGreater(report["host"]["logical_cores"], 0)
        self.assertTrue(report["adapter"]["description"].startswith("Software adapter"))
        libraries = report["encoder_runtime"]["encoder_libraries"]
        self.assertRegex(libraries["AVC"], r"^libx264 build \d+")
        self.assertRegex(libraries["HEVC"], r"^libx265 .*build \d+")
        self.assertEqual([s["codec"] for s in report["series"]], [s["label"] for s in self.series])
        for s, rs in zip(self.series, report["series"]):
            self.assertTrue(rs["finished"])
            self.assertEqual(len(rs["clips"]), 20)
            ran = [c for c in rs["clips"] if c["verdict"] != "skipped"]
            self.assertEqual([c["mode"] for c in ran], [row.split("\t")[0] for row in s["table"]])
            for clip, row, block in zip(ran, s["table"], s["clips"]):
                outcome = row.split("\t")[1]
                self.assertEqual(clip["verdict"], "fail" if outcome == "FAIL" else "pass", row)
                self.assertEqual("%.2f" % clip["average_ms"], block[2].split(": ")[1][:-3])
                if outcome != "FAIL":
                    self.assertEqual("%.2f" % clip["average_ms"], outcome)
                rate = int(clip["frame_rate"])
                self.assertEqual(clip["frames"], rate)
                self.assertEqual(clip["frames_encoded"], rate)
                self.assertEqual(len(clip["frame_latencies_ms"]), rate)
                self.assertEqual(len(clip["frame_latencies_us"]), rate)
                self.assertEqual(clip["stream_file"], block[1][len("File: "):])
                size = os.path.getsize(clip["stream_file"])
                self.assertEqual(clip["bit_rate"]["stream_bytes"], size)
                self.assertAlmostEqual(clip["bit_rate"]["achieved"], size * 8 / 1.0)
                self.assertEqual(clip["bit_rate"]["target"], 500000)
                self.assertLessEqual(clip["latency_us"]["all"]["p50"], clip["latency_us"]["all"]["max"])
        # scripts/compare reads the program's report as it is: against itself, nothing changed.
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "compare")
        compare = subprocess.run([sys.executable, script, path, path], capture_output=True, text=True, timeout=60)
        self.assertEqual((compare.returncode, compare.stderr), (0, ""))
        self.assertEqual(set(re.findall(r"\(([^)]*%)\)", compare.stdout)), {"0.0%"})
        self.assertIn("p50 ", compare.stdout)
        chart = os.path.splitext(path)[0] + ".png"
        width, height = probe(chart)["width"], probe(chart)["height"]
        self.assertEqual((width, height), (1600, 96 + 2 * 430 + 12))

    def test_progress_line_is_drawn_and_cleared_on_the_terminal(self):
        line = re.compile(rb"^(AVC|HEVC) \d+x\d+@\d+  frame \d+/\d+  avg \d+\.\d ms  clip \d+/40  ~\d+ (min|s) left\x1b\[K$")
        parts = self.terminal.split(b"\r")
        self.assertEqual(parts[0], b"")
        draws = [p for p in parts[1:] if p != b"\x1b[K"]
        self.assertGreater(len(draws), 10)
        for part in draws:
            self.assertRegex(part, line)
        self.assertTrue(self.terminal.endswith(b"\r\x1b[K"))

    def test_clip_blocks_and_tables(self):
        video = re.compile(r"^Video: (\d+) x (\d+), 32-bit RGB, (\d+)\.00 frames per second, 1 seconds$")
        for s in self.series:
            self.assertGreater(len(s["clips"]), 0)
            self.assertEqual(len(s["clips"]), len(s["table"]))
            for block, row in zip(s["clips"], s["table"]):
                w, h, rate = map(int, video.match(block[0]).groups())
                self.assertIn((w, h, rate), MATRIX)
                self.assertRegex(block[1], r"^File: " + re.escape(self.dir) + r"/\d{8}-\d{6}-%dx%d@%d\.h26[45]$"
                                 % (w, h, rate))
                self.assertRegex(block[2], r"^Average Encoding Time: \d+\.\d\d ms$")
                m = re.match(r"^Elapsed Time: (\d+\.\d) seconds \((\d+\.\d\d)% to expected\)$", block[3])
                self.assertIsNotNone(m, block[3])
                self.assertEqual(block[4], "")
                self.assertRegex(row, r"^%dx%d@%d\t(\d+\.\d\d|FAIL)$" % (w, h, rate))
                passed = not row.endswith("FAIL")
                self.assertEqual(passed, float(m.group(2)) < 105.0 or float(m.group(1)) < 1.05, block[3])

    def test_skip_rule_holds(self):
        for s in self.series:
            rows = [tuple(map(int, re.match(r"(\d+)x(\d+)@(\d+)", r).groups())) for r in s["table"]]
            outcomes = [r.endswith("FAIL") for r in s["table"]]
            expected, failed_rate = [], None
            for row in MATRIX:
                if failed_rate is not None and row[2] > failed_rate:
                    continue
                failed_rate = None
                if len(expected) < len(rows) and rows[len(expected)] == row and outcomes[len(expected)]:
                    failed_rate = row[2]
                expected.append(row)
            self.assertEqual(rows, expected[:len(rows)])
            self.assertEqual(len(rows), len(expected), "a series ended early")

    def test_streams_decode_to_every_frame(self):
        for s in self.series:
            codec, profile, ext = ("h264", "High", "h264") if s["label"] == "AVC" else ("hevc", "Main", "h265")
            for block in s["clips"]:
                path = block[1][len("File: "):]
                w, h, rate = map(int, re.match(r"Video: (\d+) x (\d+), 32-bit RGB, (\d+)", block[0]).groups())
                self.assertTrue(path.endswith("." + ext))
                stream = probe(path)
                self.assertEqual((stream["codec_name"], stream["profile"]), (codec, profile), path)
                self.assertEqual((stream["width"], stream["height"]), (w, h))
                self.assertEqual(int(stream["nb_read_frames"]), rate * 1, path)
                self.assertEqual(decode_errors(path), "", path)

    def test_snapshots_show_the_frame(self):
        def shade_of(colour, px, minimum):
            # An antialiased mix of the colour with black keeps the colour's proportions.
            r = px[0]
            return r >= minimum and all(abs(p * colour[0] - c * r) <= 4 * colour[0]
                                        for p, c in zip(px, colour))
        tomato, khaki = (255, 99, 71), (240, 230, 140)
        for s in self.series:
            for block in s["clips"][:3]:
                path = block[1][len("File: "):] + ".png"
                w, h = map(int, re.match(r"Video: (\d+) x (\d+)", block[0]).groups())
                width, height, rows = read_png(path)
                self.assertEqual((width, height), (w, h))
                self.assertEqual(rows[2][2], (0, 0, 0))
                self.assertEqual(rows[h - 2][w - 2], (0, 0, 0))
                for y in (h * 9 // 16, h * 15 // 16):
                    window = [rows[yy][w // 3] for yy in range(y - 2, y + 2)]
                    self.assertTrue(any(shade_of(tomato, px, 120) for px in window), (path, y, window))
                text = [px for y in range(h // 16, h * 9 // 16) for px in rows[y][w // 16:w * 15 // 16]]
                self.assertTrue(any(shade_of(khaki, px, 200) for px in text), path)
                outside = [px for y in range(h) for px in rows[y][:w // 16 - 1]]
                self.assertEqual(set(outside), {(0, 0, 0)}, path)


class ExistingStreamFile(unittest.TestCase):
    def test_a_taken_name_ends_the_series_and_keeps_finished_clips(self):
        with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as directory:
            program = install(directory)
            now = datetime.datetime.now()
            # The second AVC clip starts a few seconds in, later on a loaded machine; take every
            # name it could get.
            for offset in range(0, 600):
                stamp = (now + datetime.timedelta(seconds=offset)).strftime("%Y%m%d-%H%M%S")
                with open(os.path.join(directory, stamp + "-640x360@260.h264"), "wb") as f:
                    f.write(b"keep")
            result = run(program, "-Adapter:Software", "-Seconds:1", "-report:" + os.path.join(directory, "early.json"))
            self.assertEqual(result.returncode, 0)
            self.assertRegex(result.stderr, r"^AVC 640x360@260: 0x80070050 The file exists\.\n$")
            series = parse_blocks(result.stdout)
            self.assertEqual(series[0]["table"][0].split("\t")[0], "640x360@144")
            _, report = read_report(directory, "early.json")
            avc, hevc = report["series"]
            self.assertFalse(avc["finished"])
            self.assertEqual([c["verdict"] for c in avc["clips"]][1:], ["error"])
            self.assertEqual(avc["clips"][1]["error"]["hresult"], "0x80070050")
            self.assertTrue(hevc["finished"])
            self.assertTrue(os.path.exists(os.path.join(directory, "early.png")))
            self.assertEqual(len(series[0]["table"]), 1)
            # The second clip was announced and encoded, then could not write its stream.
            self.assertEqual(len(series[0]["clips"]), 2)
            self.assertEqual(len(series[0]["clips"][1]), 2)
            for name in os.listdir(directory):
                if name.endswith("640x360@260.h264"):
                    with open(os.path.join(directory, name), "rb") as f:
                        self.assertEqual(f.read(), b"keep")
            self.assertGreater(len(series[1]["table"]), 1)


@unittest.skipUnless(SLOW_RUNTIME, "no slow runtime built")
class SlowEncoder(unittest.TestCase):
    def test_failures_skip_higher_rates(self):
        with tempfile.TemporaryDirectory(prefix="corvantis-e2e-") as directory:
            program = install(directory, SLOW_RUNTIME)
            # A report that cannot be written is said before any clip, and the run goes on.
            target = os.path.join(directory, "missing", "r.json")
            result = subprocess.run([program, "-Adapter:Software", "-Seconds:1", "-Report:" + target],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=900)
            self.assertEqual(result.returncode, 0)
            lines = result.stdout.split("\n")
            notices = [i for i, line in enumerate(lines) if line.startswith("corvantis: ")]
            self.assertEqual(len(notices), 1, result.stdout)
            self.assertIn("cannot write the report (" + target, lines[notices[0]])
            self.assertLess(notices[0], min(i for i, line in enumerate(lines) if line.startswith("Video: ")))
            self.assertFalse(os.path.exists(os.path.dirname(target)))
            self.assertEqual(len(parse_blocks(result.stdout)), 2)
            for series in parse_blocks(result.stdout):
                # 40 ms a frame keeps up with none of the rates; each failure skips the higher
                # rates until the next size starts at a rate no higher.
                self.assertEqual(series["table"], ["640x360@144\tFAIL", "1280x720@60\tFAIL",
                                                   "1920x1080@60\tFAIL", "2560x1440@60\tFAIL",
                                                   "3840x2160@30\tFAIL"])


class DiskFull(unittest.TestCase):
    """A disk that fills up mid-run: the series stops with one line and leaves no cut stream."""

    def test_stream_that_cannot_be_written_is_removed(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small tmpfs needs root")
        mount = tempfile.mkdtemp(prefix="corvantis-full-")
        try:
            needed = sum(os.path.getsize(os.path.join(BIN_DIR, f)) for f in ("corvantis", RUNTIME_NAME))
            size_kib = needed // 1024 + 400
            mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dk" % size_kib, "tmpfs", mount],
                                     capture_output=True, text=True)
            if mounted.returncode != 0:
                self.skipTest("cannot mount a tmpfs here: " + mounted.stderr.strip())
            try:
                program = install(mount)
                result = run(program, "-Adapter:Software", "-Seconds:1")
                self.assertEqual(result.returncode, 0)
                stops = result.stderr.rstrip("\n").split("\n")
                self.assertGreaterEqual(len(stops), 1, result.stderr)
                for line in stops:
                    self.assertRegex(line, r"^(AVC|HEVC) \d+x\d+@\d+: 0x80070070 There is not enough space on the disk\.$")
                series = parse_blocks(result.stdout)
                finished = [row.split("\t")[0] for s in series for row in s["table"]]
                self.assertGreater(len(finished), 0, "the disk filled before the first clip ended")
                streams = sorted(f for f in os.listdir(mount) if re.search(r"\.h26[45]$", f))
                # Every stream left is a finished clip's, whole.
                self.assertEqual(len(streams), len(finished), (streams, finished))
                for name in streams:
                    rate = int(re.search(r"@(\d+)\.h26", name).group(1))
                    self.assertEqual(int(probe(os.path.join(mount, name))["nb_read_frames"]), rate, name)
            finally:
                subprocess.run(["umount", mount], check=True)
        finally:
            os.rmdir(mount)


class Arguments(unittest.TestCase):
    def test_help_prints_usage_and_starts_nothing(self):
        with tempfile.TemporaryDirectory() as directory:
            program = install(directory)
            for option in ("-?", "-h", "-help", "--help", "-HELP"):
                result = run(program, "-Adapter:Software", option, timeout=60)
                self.assertEqual(result.returncode, 0, option)
                self.assertEqual(result.stderr, "", option)
                self.assertTrue(result.stdout.startswith("Usage: corvantis"), option)
                for text in ("-Report", "-Seconds", "-Adapter:Software", "standard error", "minutes"):
                    self.assertIn(text, result.stdout)
            self.assertEqual(sorted(os.listdir(directory)), sorted(["corvantis", RUNTIME_NAME]))


    def test_user_without_address_starts_nothing(self):
        with tempfile.TemporaryDirectory() as directory:
            program = install(directory)
            result = run(program, "-user", timeout=60)
            self.assertNotEqual(result.returncode, 0)
            self.assertEqual(result.stdout, "")
            self.assertEqual(len(result.stderr.strip().split("\n")), 1)
            self.assertEqual(sorted(os.listdir(directory)), sorted(["corvantis", RUNTIME_NAME]))

    def test_list_adapters_ends_with_the_software_adapter_and_encodes_nothing(self):
        nodes = sorted(d for d in (os.listdir("/sys/class/drm") if os.path.isdir("/sys/class/drm") else [])
                       if d.startswith("renderD"))
        with tempfile.TemporaryDirectory() as directory:
            program = install(directory)
            result = run(program, "-ListAdapters", timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)
            lines = result.stdout.splitlines()
            self.assertEqual(len(lines), len(nodes) + 1, result.stdout)
            self.assertEqual(lines[-1], "%d: Software adapter (CPU encoders libx264 and libx265); "
                             "H.264 encodes; HEVC encodes" % len(nodes))
            self.assertEqual(sorted(os.listdir(directory)), sorted(["corvantis", RUNTIME_NAME]))

    def test_no_amd_adapter_prints_only_a_notice(self):
        if any(open(os.path.join("/sys/class/drm", d, "device/vendor")).read().strip() == "0x1002"
               for d in (os.listdir("/sys/class/drm") if os.path.isdir("/sys/class/drm") else [])
               if d.startswith("renderD") and os.path.exists(os.path.join("/sys/class/drm", d, "device/vendor"))):
            self.skipTest("this machine has an AMD adapter")
        with tempfile.TemporaryDirectory() as directory:
            program = install(directory)
            result = run(program, timeout=60)
            self.assertEqual(result.returncode, 0)
            self.assertEqual(result.stdout, "")
            self.assertIn("-Adapter:Software", result.stderr)


if __name__ == "__main__":
    if not BIN_DIR:
        sys.exit("CORVANTIS_BIN_DIR is not set")
    unittest.main(argv=sys.argv[:1] + sys.argv[1:], verbosity=2)
