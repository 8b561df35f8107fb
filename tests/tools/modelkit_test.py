#!/usr/bin/python3
"""The model kit refuses missing or altered sources with one clear message and
writes exactly the four model files and the manifest."""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KIT = os.path.join(ROOT, "tools", "modelkit", "modelkit.py")
SOURCES = os.environ.get("KEEPFRAME_MODEL_SOURCES") or os.path.join(ROOT, "..", "shared", "models", "src")
NEEDED = ["face_detection_yunet_2026may.onnx", "mobilefacenet_foamliu_128d_bnfused.onnx",
          "fer2013_mini_XCEPTION.102-0.66.onnx", "open_closed_eye.onnx"]


def run_kit(*args):
    return subprocess.run([sys.executable, KIT, *args], capture_output=True, text=True)


class ModelKit(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def copy_sources(self):
        src = os.path.join(self.tmp, "src")
        os.makedirs(src)
        for f in NEEDED:
            shutil.copy(os.path.join(SOURCES, f), src)
        return src

    def test_missing_source_folder(self):
        r = run_kit("--src", os.path.join(self.tmp, "nowhere"), "--out", os.path.join(self.tmp, "out"))
        self.assertEqual(r.returncode, 1)
        self.assertEqual(len(r.stderr.strip().splitlines()), 1, r.stderr)
        self.assertIn("model source missing", r.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "out", "buffalo_l")))

    @unittest.skipUnless(all(os.path.exists(os.path.join(SOURCES, f)) for f in NEEDED), "model sources absent")
    def test_altered_source_is_refused_and_nothing_is_written(self):
        src = self.copy_sources()
        with open(os.path.join(src, "open_closed_eye.onnx"), "r+b") as f:
            f.seek(100)
            byte = f.read(1)
            f.seek(100)
            f.write(bytes([byte[0] ^ 0xFF]))
        out = os.path.join(self.tmp, "out")
        r = run_kit("--src", src, "--out", out)
        self.assertEqual(r.returncode, 1)
        self.assertIn("open_closed_eye.onnx", r.stderr)
        self.assertIn("refusing", r.stderr)
        self.assertFalse(os.path.exists(out))

    @unittest.skipUnless(all(os.path.exists(os.path.join(SOURCES, f)) for f in NEEDED), "model sources absent")
    def test_builds_the_four_files_and_manifest(self):
        src = self.copy_sources()
        out = os.path.join(self.tmp, "models")
        r = run_kit("--src", src, "--out", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        files = sorted(os.path.relpath(os.path.join(d, f), out) for d, _, fs in os.walk(out) for f in fs)
        self.assertEqual(files, ["MANIFEST.json", "buffalo_l/det_10g.onnx", "buffalo_l/w600k_r50.onnx",
                                 "emotion-ferplus-8.onnx", "open_closed_eye.onnx"])
        manifest = json.load(open(os.path.join(out, "MANIFEST.json")))
        for role, entry in manifest["files"].items():
            with open(os.path.join(out, entry["file"]), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), entry["sha256"], role)
            self.assertTrue(entry["licence"])
            self.assertEqual(entry["source_folder"], src, role)
            self.assertNotIn("downloaded_from", entry, role)
            self.assertTrue(entry["origin"].startswith("https://raw.githubusercontent.com/"), role)
        self.assertEqual(manifest["detector"], "yunet")


if __name__ == "__main__":
    unittest.main()
