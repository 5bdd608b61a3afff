"""A loopback HTTP service for the end-to-end tests: records every POST and answers it."""
import http.server
import threading


class Recorder(http.server.ThreadingHTTPServer):
    """Records POSTs and answers with `status`; "hang" keeps the connection without answering."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, status=200):
        self.requests, self.status, self.release = [], status, threading.Event()
        super().__init__(("127.0.0.1", port), RecordingHandler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def close(self):
        self.release.set()
        self.shutdown()
        self.server_close()


class RecordingHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        self.server.requests.append((self.path, dict(self.headers), body))
        if self.server.status == "hang":
            self.server.release.wait(120)
            return
        self.send_response(self.server.status)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass
