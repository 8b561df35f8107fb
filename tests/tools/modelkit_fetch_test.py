#!/usr/bin/python3
"""Downloading the model sources from a loopback server that serves good,
truncated, altered, missing, endless and dripped files: the kit ends with
verified files or with one error naming the file, in bounded time, never leaves
a partial or unverified file in the cache, downloads nothing twice and prefers
local sources."""
import contextlib
import hashlib
import http.server
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from unittest import mock

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KIT = os.path.join(ROOT, "tools", "modelkit", "modelkit.py")
sys.path.insert(0, os.path.dirname(KIT))
import modelkit as kit  # noqa: E402

REAL_SOURCES = os.environ.get("KEEPFRAME_MODEL_SOURCES") or os.path.join(ROOT, "..", "shared", "models", "src")
CULL = os.environ.get("KEEPFRAME_CULL", "")


class Handler(http.server.BaseHTTPRequestHandler):
    """Serves server.files (path -> bytes); server.claimed (path -> length)
    announces a longer body than is sent, and the connection then closes.
    server.hostile (path -> (behaviour, seconds)) answers as a broken mirror:
    "endless" sends a body without length that never ends, "drip" sends the
    file a byte every `seconds`, "drip-headers" its headers too."""

    def do_GET(self):
        self.server.requests.append(self.path)
        if self.path in self.server.hostile:
            behaviour, seconds = self.server.hostile[self.path]
            try:
                getattr(self, behaviour.replace("-", "_"))(seconds)
            except OSError:  # the kit hung up: that is the point
                pass
            self.close_connection = True
            return
        body = self.server.files.get(self.path)
        if body is None:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Length", str(self.server.claimed.get(self.path, len(body))))
        self.end_headers()
        self.wfile.write(body)

    def endless(self, _):
        self.wfile.write(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
        block = b"x" * (1 << 16)
        for _ in range(100_000):  # at most 6.5 GB, at about 10 MB/s, to a client that never stops
            self.wfile.write(block)
            time.sleep(0.006)

    def drip(self, seconds):
        body = self.server.files[self.path]
        self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body))
        self.send_slowly(body, seconds)

    def drip_headers(self, seconds):
        body = self.server.files[self.path]
        self.send_slowly(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body, seconds)

    def send_slowly(self, data, seconds):
        for i in range(len(data)):
            self.wfile.write(data[i:i + 1])
            time.sleep(seconds)

    def log_message(self, *args):
        pass


@contextlib.contextmanager
def loopback_server():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.files, server.claimed, server.requests, server.hostile = {}, {}, [], {}
    server.base = f"http://127.0.0.1:{server.server_address[1]}"
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield server
    finally:
        server.shutdown()
        server.server_close()


def run_main(*args):
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        code = kit.main(list(args))
    return code, out.getvalue(), err.getvalue()


class Fetch(unittest.TestCase):
    """Small fake sources whose sha256 and loopback origins are patched into a
    copy of the kit's table."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.server = self.enterContext(loopback_server())
        self.cache = os.path.join(self.tmp, "cache")
        self.dest = os.path.join(self.cache, "model-sources")
        self.enterContext(mock.patch.dict(os.environ, {"KEEPFRAME_CACHE": self.cache}))
        os.environ.pop("KEEPFRAME_MODEL_MIRROR", None)
        table = {key: dict(info) for key, info in kit.SOURCES.items()}
        self.content = {}
        for key in kit.DEFAULT_KEYS:
            body = f"fake {key} network ".encode() * 200
            self.content[key] = body
            table[key]["sha256"] = hashlib.sha256(body).hexdigest()
            table[key]["size"] = len(body)
            table[key]["url"] = f"{self.server.base}/origin/{key}.onnx"
            self.server.files[f"/origin/{key}.onnx"] = body
        self.enterContext(mock.patch.object(kit, "SOURCES", table))

    def name(self, key):
        return kit.SOURCES[key]["file"]

    def cache_files(self):
        return sorted(os.listdir(self.dest)) if os.path.isdir(self.dest) else []

    def assert_eye_refused(self, code, err, eye_path, expected):
        """The fetch failed with one error naming the eye model, its address and
        `expected`; the three good files stay, no partial or refused file does."""
        self.assertEqual(code, 1)
        self.assertEqual(len(err.strip().splitlines()), 1, err)
        self.assertIn(self.name("eye"), err)
        self.assertIn(self.server.base + eye_path, err)
        self.assertIn(expected, err)
        self.assert_cache_holds_exactly(["yunet", "mobilefacenet", "mini_xception"])

    def assert_cache_holds_exactly(self, keys):
        """The verified files of keys and the record of where each came from; nothing else."""
        self.assertEqual(self.cache_files(), sorted([self.name(k) for k in keys] + [kit.ORIGINS]))
        for key in keys:
            with open(os.path.join(self.dest, self.name(key)), "rb") as f:
                self.assertEqual(f.read(), self.content[key], key)
        self.assertEqual(kit.downloaded_from(self.dest), {self.name(k): kit.origin(k) for k in keys})

    def test_downloads_each_source_once_into_the_cache(self):
        code, out, err = run_main("fetch")
        self.assertEqual(code, 0, err)
        self.assert_cache_holds_exactly(kit.DEFAULT_KEYS)
        self.assertEqual(sorted(self.server.requests), sorted(f"/origin/{k}.onnx" for k in kit.DEFAULT_KEYS))

        self.server.requests.clear()
        code, out, err = run_main("fetch")
        self.assertEqual(code, 0, err)
        self.assertEqual(self.server.requests, [])
        self.assertIn("nothing to download", out)
        self.assertEqual(kit.locate(os.path.join(self.tmp, "no-local-sources")), self.dest)

    def test_mirror_replaces_every_origin_by_the_table_file_name(self):
        for key in kit.DEFAULT_KEYS:
            self.server.files[f"/mirror/{self.name(key)}"] = self.content[key]
        with mock.patch.dict(os.environ, {"KEEPFRAME_MODEL_MIRROR": self.server.base + "/mirror/"}):
            code, _, err = run_main("fetch")
            self.assertEqual(code, 0, err)
            self.assert_cache_holds_exactly(kit.DEFAULT_KEYS)
        self.assertEqual(sorted(self.server.requests), sorted(f"/mirror/{self.name(k)}" for k in kit.DEFAULT_KEYS))

    def test_a_bad_download_is_refused_with_one_error_and_leaves_nothing_behind(self):
        eye_path = "/origin/eye.onnx"
        good = self.content["eye"]
        # expected words in the error -> (body served, length announced)
        cases = {
            "truncated": (good[: len(good) // 2], len(good)),
            "sha256": (good[:-1] + b"!", None),
            "HTTP 404": (None, None),
        }
        for expected, (body, announced) in cases.items():
            with self.subTest(expected):
                shutil.rmtree(self.cache, ignore_errors=True)
                self.server.claimed.clear()
                if announced is not None:
                    self.server.claimed[eye_path] = announced
                if body is None:
                    del self.server.files[eye_path]
                else:
                    self.server.files[eye_path] = body
                code, _, err = run_main("fetch")
                self.assert_eye_refused(code, err, eye_path, expected)

                # Once the origin serves the right file, only that one is fetched.
                self.server.claimed.clear()
                self.server.files[eye_path] = good
                self.server.requests.clear()
                code, _, err = run_main("fetch")
                self.assertEqual(code, 0, err)
                self.assertEqual(self.server.requests, [eye_path])
                self.assert_cache_holds_exactly(kit.DEFAULT_KEYS)

    def test_a_hostile_mirror_is_stopped_at_the_length_and_the_deadline(self):
        eye_path = "/origin/eye.onnx"
        # (behaviour, seconds) or a length announced -> expected words in the error
        cases = [
            (("endless", 0), "longer than its"),
            (4_000_000_000, "announces 4000000000 bytes"),
            (("drip", 0.2), "did not finish within 1.5 s"),
            (("drip-headers", 0.2), "did not finish within 1.5 s"),
        ]
        self.enterContext(mock.patch.object(kit, "FILE_SECONDS", 1.5))
        self.enterContext(mock.patch.object(kit, "READ_SECONDS", 1))  # longer than each drip's pause
        for misbehaviour, expected in cases:
            with self.subTest(misbehaviour):
                shutil.rmtree(self.cache, ignore_errors=True)
                self.server.hostile.clear()
                self.server.claimed.clear()
                if isinstance(misbehaviour, int):
                    self.server.claimed[eye_path] = misbehaviour
                else:
                    self.server.hostile[eye_path] = misbehaviour
                started = time.monotonic()
                code, _, err = run_main("fetch")
                self.assertLess(time.monotonic() - started, 6)
                self.assert_eye_refused(code, err, eye_path, expected)

    def test_what_a_killed_fetch_left_is_removed_by_the_next(self):
        # A fetch of the real table from a mirror that drips, killed while it downloads.
        first = kit.SOURCES["yunet"]["file"]
        self.server.files["/mirror/" + first] = b"y" * 1000
        self.server.hostile["/mirror/" + first] = ("drip", 0.05)
        env = dict(os.environ, KEEPFRAME_MODEL_MIRROR=self.server.base + "/mirror")
        child = subprocess.Popen([sys.executable, KIT, "fetch"], env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        try:
            for _ in range(200):
                parts = [f for f in self.cache_files() if f.endswith(".part")]
                if parts:
                    break
                time.sleep(0.05)
            time.sleep(0.2)  # the first bytes are on their way
        finally:
            child.kill()
            child.wait()
        self.assertEqual(len(parts), 1, self.cache_files())

        code, out, err = run_main("fetch")
        self.assertEqual(code, 0, err)
        self.assertIn(f"removing {parts[0]}", out)
        self.assert_cache_holds_exactly(kit.DEFAULT_KEYS)

    def test_an_altered_file_already_in_the_cache_is_replaced(self):
        self.assertEqual(run_main("fetch")[0], 0)
        with open(os.path.join(self.dest, self.name("mobilefacenet")), "r+b") as f:
            f.write(b"XX")
        self.server.requests.clear()
        code, _, err = run_main("fetch")
        self.assertEqual(code, 0, err)
        self.assertEqual(self.server.requests, ["/origin/mobilefacenet.onnx"])
        self.assert_cache_holds_exactly(kit.DEFAULT_KEYS)

    def test_without_a_network_the_message_names_files_urls_and_folder(self):
        with loopback_server() as gone:
            closed = gone.base
        with mock.patch.dict(os.environ, {"KEEPFRAME_MODEL_MIRROR": closed}):
            code, _, err = run_main("fetch")
        self.assertEqual(code, 1)
        self.assertLessEqual(len(err.strip().splitlines()), 8, err)
        self.assertIn(self.dest, err)
        for key in kit.DEFAULT_KEYS:
            self.assertIn(f"{self.name(key)}  {closed}/{self.name(key)}", err)
        self.assertEqual(self.cache_files(), [])

    def test_an_unreadable_or_outdated_record_records_nothing(self):
        self.assertEqual(run_main("fetch")[0], 0)
        record = os.path.join(self.dest, kit.ORIGINS)
        with open(record) as f:
            entries = json.load(f)
        entries[self.name("eye")]["sha256"] = "0" * 64
        with open(record, "w") as f:
            json.dump(entries, f)
        self.assertNotIn(self.name("eye"), kit.downloaded_from(self.dest))
        self.assertIn(self.name("yunet"), kit.downloaded_from(self.dest))
        for garbage in ("[1, 2]", "{not json", '{"open_closed_eye.onnx": 7}'):
            with open(record, "w") as f:
                f.write(garbage)
            self.assertEqual(kit.downloaded_from(self.dest), {}, garbage)

    def test_local_sources_are_preferred_to_the_cache(self):
        local = os.path.join(self.tmp, "local")
        os.makedirs(local)
        for key in kit.DEFAULT_KEYS:
            with open(os.path.join(local, self.name(key)), "wb") as f:
                f.write(self.content[key])
        self.assertEqual(run_main("fetch")[0], 0)
        code, out, _ = run_main("locate", "--src", local)
        self.assertEqual((code, out.strip()), (0, local))

        # A local folder missing one file, or holding an altered one, loses to the cache.
        os.remove(os.path.join(local, self.name("eye")))
        self.assertEqual(kit.locate(local), self.dest)
        with open(os.path.join(local, self.name("eye")), "wb") as f:
            f.write(b"not the eye network")
        self.assertEqual(kit.locate(local), self.dest)
        shutil.rmtree(self.cache)
        code, out, _ = run_main("locate", "--src", local)
        self.assertEqual((code, out), (1, ""))


DEFAULT_FILES = [kit.SOURCES[k]["file"] for k in kit.DEFAULT_KEYS]


@unittest.skipUnless(all(os.path.exists(os.path.join(REAL_SOURCES, f)) for f in DEFAULT_FILES),
                     "model sources absent")
class RealSources(unittest.TestCase):
    """The real source files, served from loopback as a mirror, pass the kit's
    own table and build models whose information names where they came from."""

    def test_downloaded_sources_build_models_that_name_their_origin(self):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp, True)
        with loopback_server() as server:
            for f in DEFAULT_FILES:
                with open(os.path.join(REAL_SOURCES, f), "rb") as src:
                    server.files["/" + f] = src.read()
            env = dict(os.environ, KEEPFRAME_CACHE=os.path.join(tmp, "cache"), KEEPFRAME_MODEL_MIRROR=server.base)
            env.pop("KEEPFRAME_MODEL_SOURCES", None)
            fetch = subprocess.run([sys.executable, KIT, "fetch"], env=env, capture_output=True, text=True)
        self.assertEqual(fetch.returncode, 0, fetch.stderr)
        cache = os.path.join(tmp, "cache", "model-sources")
        located = subprocess.run([sys.executable, KIT, "locate", "--src", os.path.join(tmp, "none")], env=env,
                                 capture_output=True, text=True)
        self.assertEqual(located.stdout.strip(), cache)

        models = os.path.join(tmp, "models")
        built = subprocess.run([sys.executable, KIT, "--src", cache, "--out", models], env=env,
                               capture_output=True, text=True)
        self.assertEqual(built.returncode, 0, built.stderr)
        if not CULL:
            self.skipTest("KEEPFRAME_CULL not set")
        info = subprocess.run([CULL, "--models-info", models], capture_output=True, text=True)
        self.assertEqual(info.returncode, 0, info.stderr)
        for key in kit.DEFAULT_KEYS:
            self.assertIn("origin: " + kit.SOURCES[key]["url"], info.stdout)
        for f in DEFAULT_FILES:
            self.assertIn(f"taken from: {cache} (downloaded from {server.base}/{f})", info.stdout)


if __name__ == "__main__":
    unittest.main()
