#!/usr/bin/python3
"""The Debian package as a photographer gets it: CPack builds it from the
build tree, it is unpacked into a temporary root (never installed), its
dependencies are resolved by apt without installing anything, its desktop
files pass their validators, and the unpacked programs run from another
working directory with the packaged ONNX Runtime, models and fonts.

    package_test.py BUILD_DIR MAKE_SHOOT_PROGRAM"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD = ""
MAKE_SHOOT = ""
MODEL_FILES = ["buffalo_l/det_10g.onnx", "buffalo_l/w600k_r50.onnx", "emotion-ferplus-8.onnx", "open_closed_eye.onnx"]


def run(args, timeout=600, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kwargs)


def read_text(path):
    with open(path, errors="replace") as f:
        return f.read()


def clean_environment(**extra):
    """The environment of a user's session: nothing that points into the
    build tree or the developer's caches."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("LD_LIBRARY_PATH", "KEEPFRAME_MODELS", "QT_PLUGIN_PATH", "QML2_IMPORT_PATH")}
    env.update(extra)
    return env


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="keepframe-package-")
        made = run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-G", "DEB",
                    "-B", os.path.join(cls.work, "out")], timeout=900, cwd=BUILD)
        if made.returncode != 0:
            raise AssertionError("cpack failed:\n" + made.stdout + made.stderr)
        debs = [f for f in os.listdir(os.path.join(cls.work, "out")) if f.endswith(".deb")]
        if len(debs) != 1:
            raise AssertionError("cpack made %r" % debs)
        cls.deb = os.path.join(cls.work, "out", debs[0])
        # Somewhere else entirely, as a moved installation would be.
        cls.root = os.path.join(cls.work, "unpacked root")
        unpacked = run(["dpkg-deb", "-x", cls.deb, cls.root])
        if unpacked.returncode != 0:
            raise AssertionError(unpacked.stderr)
        cls.bin = os.path.join(cls.root, "usr", "bin")
        cls.data = os.path.join(cls.root, "usr", "share", "keepframe")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_name_and_dependencies(self):
        self.assertRegex(os.path.basename(self.deb), r"^keepframe_\d+\.\d+\.\d+_amd64\.deb$")
        depends = run(["dpkg-deb", "-f", self.deb, "Depends"]).stdout
        for package in ("libqt6core6", "libqt6quick6", "libqt6sql6-sqlite", "libopencv-core406", "libraw20",
                        "libexiv2-27", "qml6-module-qtquick-controls"):
            self.assertIn(package, depends)
        self.assertNotIn("onnxruntime", depends)  # carried inside
        # apt resolves every dependency from Debian's archive, installing nothing.
        simulated = run(["apt-get", "install", "--simulate", "--no-install-recommends", self.deb])
        self.assertEqual(simulated.returncode, 0, simulated.stdout + simulated.stderr)
        self.assertRegex(simulated.stdout, r"(?m)^Inst keepframe ")

    def test_contents(self):
        for program in ("keepframe", "keepframe-cull", "keepframe-enhance", "keepframe-gallery"):
            self.assertTrue(os.access(os.path.join(self.bin, program), os.X_OK), program)
            dynamic = run(["readelf", "-d", os.path.join(self.bin, program)]).stdout
            # Found beside the programs wherever the tree is, never in a build machine's cache.
            self.assertIn("Library runpath: [$ORIGIN/../lib/keepframe]", dynamic, program)
        self.assertTrue(os.path.isfile(os.path.join(self.root, "usr", "lib", "keepframe", "libonnxruntime.so.1")))
        for model in MODEL_FILES:
            self.assertGreater(os.path.getsize(os.path.join(self.data, "models", model)), 0, model)
        fonts = os.listdir(os.path.join(self.data, "fonts"))
        for font in (f for f in fonts if f.endswith(".ttf")):
            family = re.sub(r"-(Regular|Medium)$", "", font[:-4])
            self.assertIn(family + "-OFL.txt", fonts, font)
        share = os.path.join(self.root, "usr", "share")
        self.assertTrue(os.path.isfile(os.path.join(share, "icons", "hicolor", "scalable", "apps", "keepframe.svg")))
        for size in (16, 32, 48, 64, 128, 256):
            self.assertTrue(os.path.isfile(os.path.join(share, "icons", "hicolor", "%dx%d" % (size, size), "apps",
                                                        "keepframe.png")), size)

    def test_desktop_files_pass_their_validators(self):
        share = os.path.join(self.root, "usr", "share")
        entry = run(["desktop-file-validate", os.path.join(share, "applications", "keepframe.desktop")])
        self.assertEqual((entry.returncode, entry.stdout + entry.stderr), (0, ""))
        metainfo = run(["appstreamcli", "validate", "--no-net", "--pedantic",
                        os.path.join(share, "metainfo", "com.orvo.keepframe.metainfo.xml")])
        self.assertEqual(metainfo.returncode, 0, metainfo.stdout + metainfo.stderr)
        self.assertNotRegex(metainfo.stdout, r"(?m)^[EWIP]: ")
        exec_line = re.search(r"(?m)^Exec=(\S+)", read_text(os.path.join(share, "applications", "keepframe.desktop")))
        self.assertTrue(os.path.isfile(os.path.join(self.bin, exec_line.group(1))))

    def test_gallery_unit_is_valid_and_not_enabled(self):
        unit = os.path.join(self.root, "usr", "lib", "systemd", "system", "keepframe-gallery.service")
        text = read_text(unit)
        exec_start = re.search(r"(?m)^ExecStart=(\S+)", text).group(1)
        self.assertTrue(os.access(os.path.join(self.root, exec_start.lstrip("/")), os.X_OK), exec_start)
        # Nothing in the package enables or starts it: no links, no maintainer scripts that do.
        self.assertFalse(os.path.exists(os.path.join(self.root, "etc", "systemd")))
        control = os.path.join(self.work, "control")
        self.assertEqual(run(["dpkg-deb", "-e", self.deb, control]).returncode, 0)
        for script in os.listdir(control):
            self.assertNotRegex(read_text(os.path.join(control, script)),
                                r"systemctl|deb-systemd|invoke-rc", script)
        verify = run(["systemd-analyze", "verify", "--man=no", unit])
        # Only the absolute ExecStart path is missing outside the unpacked root.
        problems = [line for line in (verify.stdout + verify.stderr).splitlines()
                    if line.strip() and "/usr/bin/keepframe-gallery" not in line]
        self.assertEqual(problems, [])

    def test_unpacked_gallery_finds_the_packaged_models(self):
        gallery = os.path.join(self.bin, "keepframe-gallery")
        data = os.path.join(self.work, "gallery data")
        served = subprocess.Popen([gallery, "serve", "--data", data, "--port", "0"], cwd=self.work,
                                  env=clean_environment(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            lines = []
            for line in served.stdout:
                lines.append(line)
                if line.startswith("face models:") or len(lines) > 40:
                    break
        finally:
            served.terminate()
            served.wait(timeout=30)
            served.stdout.close()
        self.assertIn("face models: " + os.path.join(self.data, "models") + "\n", lines, "".join(lines))

    def test_unpacked_cull_runs_on_a_shoot_with_the_packaged_models(self):
        shoot = os.path.join(self.work, "Shoot")
        made = run([MAKE_SHOOT, shoot, "--count", "6", "--size", "640x480"])
        self.assertEqual(made.returncode, 0, made.stderr)
        elsewhere = os.path.join(self.work, "elsewhere")
        os.makedirs(elsewhere, exist_ok=True)
        env = clean_environment(KEEPFRAME_DATA_DIR=os.path.join(self.work, "library"))
        cull = os.path.join(self.bin, "keepframe-cull")

        info = run([cull, "--models-info"], cwd=elsewhere, env=env)
        self.assertEqual(info.returncode, 0, info.stderr)
        self.assertIn(os.path.join(self.data, "models"), info.stdout)
        self.assertNotIn("missing", info.stdout)

        culled = run([cull, shoot, "--quiet"], cwd=elsewhere, env=env)
        self.assertEqual(culled.returncode, 0, culled.stdout + culled.stderr)
        self.assertRegex(culled.stdout, r"Project: +\d+ in ")
        self.assertEqual(os.listdir(elsewhere), [])  # nothing lands in the working directory

    def test_unpacked_desktop_program_starts_headless(self):
        home = os.path.join(self.work, "home")
        os.makedirs(home, exist_ok=True)
        env = clean_environment(HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
                                KEEPFRAME_DATA_DIR=os.path.join(self.work, "desktop library"),
                                QT_QPA_PLATFORM="offscreen", QT_QUICK_BACKEND="software")
        started = run([os.path.join(self.bin, "keepframe"), "--check"], timeout=300, cwd=home, env=env)
        self.assertEqual(started.returncode, 0, started.stdout + started.stderr)
        self.assertIn("Main window: loaded", started.stdout)
        self.assertIn("Models: %s (4 of 4 files)" % os.path.join(self.data, "models"), started.stdout)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        sys.exit(2)
    BUILD, MAKE_SHOOT = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
