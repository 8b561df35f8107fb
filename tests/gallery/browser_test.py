#!/usr/bin/python3
"""The client's gallery page in a real headless browser (Debian's chromium
through its WebDriver), against keepframe-gallery on loopback with the real
face models and a delivery of the identity-labelled test photographs; and
the face-search endpoint over plain HTTP (limits and stalled clients).

  browser_test.py --gallery PROG --seed PROG --models DIR --photos DIR [--screens OUT]

With --screens, a PNG of each state is saved into OUT (desktop and phone
sizes). Exits 77 (skipped) when the browser, its driver or the models are
missing.
"""
import argparse
import io
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request
import zipfile

SKIP = 77
PASSWORD = "lantern-garden"
# People with at least three photographs: one is held back as the selfie, the rest are delivered.
SEARCHED = "obama"
DESKTOP = (1366, 900)
PHONE = (390, 844)

ARGS = None


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--gallery", required=True)
    p.add_argument("--seed", required=True)
    p.add_argument("--models", required=True)
    p.add_argument("--photos", required=True)
    p.add_argument("--screens", default="")
    args, rest = p.parse_known_args()
    return args, rest


def missing_requirements(args):
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "python3-selenium is not installed"
    for program in ("chromium", "chromedriver"):
        if not shutil.which(program):
            return program + " is not installed"
    if not os.path.isfile(os.path.join(args.models, "buffalo_l", "det_10g.onnx")):
        return "no face models in " + args.models
    if not os.path.isdir(os.path.join(args.photos, SEARCHED)):
        return "no test photographs in " + args.photos
    return ""


class Service:
    """keepframe-gallery on a free loopback port, stopped by its pid."""

    def __init__(self, program, models, data):
        self.log = open(os.path.join(data, "service.log"), "w")
        self.process = subprocess.Popen(
            [program, "serve", "--data", data, "--port", "0", "--models", models, "--first-photographer", "Studio"],
            stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.url = self.token = ""
        deadline = time.time() + 60
        while time.time() < deadline and not (self.url and self.token):
            line = self.process.stdout.readline()
            if not line:
                break
            if line.startswith("listening on "):
                self.url = line.split()[-1]
            if "Access token" in line:
                self.token = line.split()[-1]
        if not (self.url and self.token):
            self.stop()
            raise RuntimeError("keepframe-gallery did not start; see " + data + "/service.log")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.log.close()

    def request(self, method, path, body=None, headers=None):
        """(status, body bytes, headers) of one request; never raises for an HTTP status."""
        data = body if isinstance(body, (bytes, type(None))) else json.dumps(body).encode()
        req = urllib.request.Request(self.url + path, data=data, method=method, headers=headers or {})
        if isinstance(body, dict):
            req.add_header("Content-Type", "application/json")
        try:
            with urllib.request.urlopen(req, timeout=120) as r:
                return r.status, r.read(), r.headers
        except urllib.error.HTTPError as e:
            return e.code, e.read(), e.headers

    def api(self, path, body):
        status, answer, _ = self.request("POST", path, body, {"Authorization": "Bearer " + self.token})
        if status != 200:
            raise RuntimeError(path + ": " + str(status) + " " + answer.decode(errors="replace"))
        return json.loads(answer)


def seed(service, photos, title, face_search, downloads):
    cmd = [ARGS.seed, "--url", service.url, "--token", service.token, "--password", PASSWORD, "--title", title,
           "--models", ARGS.models]
    if face_search:
        cmd.append("--face-search")
    if not downloads:
        cmd.append("--no-download")
    done = subprocess.run(cmd + photos, capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        raise RuntimeError("keepframe-gallery-seed failed: " + done.stderr)
    return json.loads(done.stdout)


def plain_jpeg(width=800, height=600):
    """A photograph without a face: a soft gradient."""
    from PIL import Image
    image = Image.new("RGB", (width, height))
    image.putdata([(40 + x * 150 // width, 90, 60 + y * 120 // height) for y in range(height) for x in range(width)])
    out = io.BytesIO()
    image.save(out, "JPEG", quality=90)
    return out.getvalue()


def browser(size, phone=False, downloads=""):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service as DriverService
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--no-first-run", "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--disable-default-apps", "--hide-scrollbars",
                 "--window-size=%d,%d" % size):
        options.add_argument(flag)
    if phone:
        options.add_experimental_option("mobileEmulation", {
            "deviceMetrics": {"width": size[0], "height": size[1], "pixelRatio": 2.0, "touch": True},
            "userAgent": "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) "
                         "Chrome/120.0 Mobile Safari/537.36"})
    if downloads:
        options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                                  "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=DriverService(shutil.which("chromedriver")), options=options)
    driver.set_page_load_timeout(60)
    if downloads:
        driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    return driver


def wait_for(condition, timeout=60, what="a condition"):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


class Shared:
    """One service and two deliveries for every case: a gallery with face
    search and downloads, one without either; and the held-back selfies."""
    service = None

    @classmethod
    def start(cls):
        if cls.service:
            return cls
        cls.work = tempfile.mkdtemp(prefix="gallery-browser-")
        cls.service = Service(ARGS.gallery, ARGS.models, cls.work)
        cls.service.api("/deliver/profile", {"studio_name": "Lantern & Rye Photography",
                                             "public_contact_phone": "+91 98450 12345"})
        people = sorted(d for d in os.listdir(ARGS.photos) if not d.startswith("_")
                        and os.path.isdir(os.path.join(ARGS.photos, d)))
        delivered, cls.selfies = [], {}
        for person in people:
            files = sorted(os.path.join(ARGS.photos, person, f) for f in os.listdir(os.path.join(ARGS.photos, person))
                           if f.lower().endswith(".jpg"))
            if len(files) >= 3:
                cls.selfies[person] = files.pop()
            delivered += files
        groups = os.path.join(ARGS.photos, "_groups")
        delivered += sorted(os.path.join(groups, f) for f in os.listdir(groups) if f.endswith(".jpg"))
        with open(os.path.join(groups, "groups.json")) as f:
            cls.groups = json.load(f)["groups"]
        cls.open = seed(cls.service, delivered, "Asha & Rohan", face_search=True, downloads=True)
        cls.closed = seed(cls.service, delivered[:3], "Private preview", face_search=False, downloads=False)
        faces = sum(f["faces"] for f in cls.open["files"])
        wait_for(lambda: cls.face_rows() >= faces, 300, "the face data of the delivery")
        return cls

    @classmethod
    def stop(cls):
        if cls.service:
            cls.service.stop()
            shutil.rmtree(cls.work, ignore_errors=True)
            cls.service = None

    @classmethod
    def face_rows(cls):
        status, body, _ = cls.service.request("GET", "/deliver/galleries", None,
                                              {"Authorization": "Bearer " + cls.service.token})
        return sum(g["face_data_rows"] for g in json.loads(body)["galleries"]) if status == 200 else 0

    @classmethod
    def person_of(cls, filename):
        """The people a delivered file shows, by the test photographs' labels."""
        name = filename.split("-", 1)
        if name[0] == "_groups":
            return set(cls.groups.get(name[1], {}).get("persons", []))
        return {name[0]}


def tearDownModule():
    Shared.stop()


class GalleryPage(unittest.TestCase):
    """The page in the browser, at a desktop size and a phone size."""

    @classmethod
    def setUpClass(cls):
        shared = Shared.start()
        cls.service, cls.open, cls.closed, cls.selfies = shared.service, shared.open, shared.closed, shared.selfies
        cls.person_of = staticmethod(shared.person_of)
        cls.downloads = os.path.join(shared.work, "downloads")
        os.makedirs(cls.downloads, exist_ok=True)
        cls.driver = browser(DESKTOP, downloads=cls.downloads)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()

    # ---- helpers

    def shot(self, driver, name):
        if ARGS.screens:
            os.makedirs(ARGS.screens, exist_ok=True)
            time.sleep(0.4)  # images and layout settle
            driver.save_screenshot(os.path.join(ARGS.screens, name + ".png"))

    def page(self, gallery):
        return self.service.url + "/gallery.html?g=" + gallery["slug"]

    def sign_in(self, driver, gallery, password=PASSWORD):
        from selenium.webdriver.common.by import By
        driver.delete_all_cookies()
        driver.get(self.page(gallery))
        field = driver.find_element(By.NAME, "password")
        field.send_keys(password)
        field.submit()
        if password == PASSWORD:
            wait_for(lambda: driver.execute_script(
                "const g = document.getElementById('gallery'); return g && g.classList.contains('ready');"),
                what="the gallery's photos")
            self.wait_for_images(driver)

    def wait_for_images(self, driver):
        wait_for(lambda: driver.execute_script(
            "return [...document.images].filter(i => i.loading !== 'lazy' || i.getBoundingClientRect().top <"
            " innerHeight).every(i => i.complete);"), what="the images on screen")

    def cells(self, driver):
        """File ids the grid shows, in order."""
        return driver.execute_script(
            "return [...document.querySelectorAll('#grid a')].map(a => a.href.split('/image/')[1].split('/')[0]);")

    def fetch(self, driver, path):
        """(status, text) of a request the page itself makes, with its session."""
        return driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch(arguments[0], {credentials: 'same-origin'}).then(async r => done([r.status, await r.text()]))"
            ".catch(e => done([0, String(e)]));", path)

    def search(self, driver, path):
        from selenium.webdriver.common.by import By
        driver.execute_script("document.getElementById('selfie').hidden = false;")
        # The browser takes only a canonical path for a file field.
        driver.find_element(By.ID, "selfie").send_keys(os.path.realpath(path))
        driver.execute_script("document.getElementById('selfie').hidden = true;")
        status = driver.find_element(By.ID, "find-status")
        wait_for(lambda: status.text and not status.text.startswith("Looking"), 60, "the search's answer")
        self.wait_for_images(driver)
        return status.text

    # ---- cases

    def test_password_then_studio_cover_and_every_photo_in_rows(self):
        from selenium.webdriver.common.by import By
        d = self.driver
        d.set_window_size(*DESKTOP)
        self.sign_in(d, self.open, "not-the-password")
        self.assertEqual(d.find_element(By.ID, "login-note").text, "Wrong password.")
        self.assertNotIn("not-the-password", d.current_url)
        self.assertEqual(d.get_cookies(), [])
        self.shot(d, "desktop-01-wrong-password")
        self.sign_in(d, self.open)
        self.assertNotIn(PASSWORD, d.current_url)
        self.assertTrue(all(c["httpOnly"] for c in d.get_cookies()))
        self.assertIn("Lantern & Rye Photography", d.find_element(By.ID, "contact").text)
        self.assertIn("+91 98450 12345", d.find_element(By.ID, "contact").text)
        cover = d.find_element(By.ID, "cover")
        self.assertIn(self.open["files"][0]["file_id"], cover.get_attribute("src"))
        self.assertGreater(d.execute_script("return arguments[0].naturalWidth", cover), 0)
        self.assertIn("never stored", d.find_element(By.ID, "find").text)
        self.assertIn("turn face search off", d.find_element(By.ID, "find").text)
        self.shot(d, "desktop-02-gallery")
        d.execute_script("document.getElementById('grid').scrollIntoView()")
        self.shot(d, "desktop-02-grid")
        d.execute_script("scrollTo(0, 0)")
        # Every photograph, in order, in rows that fill the width and keep each photo's shape.
        self.assertEqual(self.cells(d), [f["file_id"] for f in self.open["files"]])
        rows = d.execute_script("""
            const grid = document.getElementById('grid'), s = getComputedStyle(grid);
            const inner = grid.clientWidth - parseFloat(s.paddingLeft) - parseFloat(s.paddingRight);
            const rows = new Map();
            for (const a of grid.querySelectorAll('a')) {
              const r = a.getBoundingClientRect(), img = a.querySelector('img');
              const row = rows.get(Math.round(r.top)) || {width: 0, count: 0, height: r.height, skew: 0};
              row.width += r.width; row.count += 1;
              row.skew = Math.max(row.skew, Math.abs(r.width / r.height - img.naturalWidth / img.naturalHeight));
              rows.set(Math.round(r.top), row);
            }
            return {inner: inner, rows: [...rows.values()]};""")
        for row in rows["rows"][:-1]:
            self.assertAlmostEqual(row["width"] + 4 * (row["count"] - 1), rows["inner"], delta=row["count"] + 2)
        self.assertTrue(all(row["skew"] < 0.05 for row in rows["rows"]), rows)
        # The grid shows the small renditions, not the delivered photographs.
        sizes = d.execute_script("return [...document.querySelectorAll('#grid img')].slice(0, 4)"
                                 ".map(i => Math.max(i.naturalWidth, i.naturalHeight));")
        self.assertTrue(all(0 < s <= 640 for s in sizes), sizes)

    def test_viewer_keys_and_single_download(self):
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        d = self.driver
        d.set_window_size(*DESKTOP)
        self.sign_in(d, self.open)
        files = self.open["files"]
        d.find_elements(By.CSS_SELECTOR, "#grid a")[1].click()
        viewer = d.find_element(By.ID, "viewer")
        self.assertTrue(viewer.is_displayed())
        name = d.find_element(By.ID, "viewer-name")
        self.assertIn(files[1]["filename"], name.text)
        wait_for(lambda: d.execute_script("return document.getElementById('viewer-image').complete"))
        self.shot(d, "desktop-03-viewer")
        body = d.find_element(By.TAG_NAME, "body")
        body.send_keys(Keys.ARROW_RIGHT)
        self.assertIn(files[2]["filename"], name.text)
        body.send_keys(Keys.ARROW_LEFT)
        body.send_keys(Keys.ARROW_LEFT)
        self.assertIn(files[0]["filename"], name.text)
        body.send_keys(Keys.ARROW_LEFT)  # round to the last
        self.assertIn(files[-1]["filename"], name.text)
        link = d.find_element(By.ID, "viewer-download").get_attribute("href")
        self.assertIn(files[-1]["file_id"], link)
        status, _ = self.fetch(d, link)
        self.assertEqual(status, 200)
        body.send_keys(Keys.ESCAPE)
        self.assertFalse(viewer.is_displayed())

    def test_whole_gallery_download_is_one_zip_of_the_originals(self):
        from selenium.webdriver.common.by import By
        d = self.driver
        self.sign_in(d, self.open)
        for f in os.listdir(self.downloads):
            os.remove(os.path.join(self.downloads, f))
        d.find_element(By.ID, "download-all").click()
        archive = wait_for(lambda: [f for f in os.listdir(self.downloads) if f.endswith(".zip")], 120,
                           "the download")[0]
        with zipfile.ZipFile(os.path.join(self.downloads, archive)) as z:
            self.assertIsNone(z.testzip())  # every entry's CRC-32 holds
            names = z.namelist()
            self.assertEqual(names, [f["filename"] for f in self.open["files"]])
            for f in self.open["files"][:3]:
                with open(f["path"], "rb") as original:
                    self.assertEqual(z.read(f["filename"]), original.read())

    def test_downloads_switched_off_are_refused_not_just_hidden(self):
        from selenium.webdriver.common.by import By
        d = self.driver
        d.set_window_size(*DESKTOP)
        self.sign_in(d, self.closed)
        self.assertEqual(d.find_elements(By.ID, "download-all"), [])
        self.assertEqual(d.find_elements(By.ID, "find"), [])  # face search is off here
        d.find_elements(By.CSS_SELECTOR, "#grid a")[0].click()
        self.assertEqual(d.find_elements(By.ID, "viewer-download"), [])
        self.shot(d, "desktop-07-no-downloads")
        base = "/gallery/" + self.closed["slug"]
        file_id = self.closed["files"][0]["file_id"]
        for path in (base + "/download.zip", base + "/photo/" + file_id + "?download=1", base + "/photo/" + file_id):
            status, text = self.fetch(d, path)
            self.assertEqual(status, 403, path)
            self.assertEqual(json.loads(text)["detail"], "Downloads are switched off for this gallery")
        # What the page shows still works.
        self.assertEqual(self.fetch(d, base + "/image/" + file_id + "/large")[0], 200)

    def test_find_my_photos_finds_the_selfies_person(self):
        from selenium.webdriver.common.by import By
        d = self.driver
        d.set_window_size(*DESKTOP)
        self.sign_in(d, self.open)
        text = self.search(d, self.selfies[SEARCHED])
        by_id = {f["file_id"]: f["filename"] for f in self.open["files"]}
        found = [by_id[i] for i in self.cells(d)]
        self.assertIn("You are in", text)
        theirs = [f["filename"] for f in self.open["files"] if SEARCHED in self.person_of(f["filename"])]
        self.assertTrue(found and all(SEARCHED in self.person_of(f) for f in found), found)
        self.assertGreaterEqual(len(found), len(theirs) - 1, (found, theirs))
        self.shot(d, "desktop-04-found")
        d.find_element(By.ID, "show-all").click()
        self.assertEqual(len(self.cells(d)), len(self.open["files"]))

    def test_a_selfie_without_a_face_gets_the_services_message(self):
        d = self.driver
        d.set_window_size(*DESKTOP)
        self.sign_in(d, self.open)
        path = os.path.join(Shared.work, "wall.jpg")
        with open(path, "wb") as f:
            f.write(plain_jpeg())
        text = self.search(d, path)
        self.assertEqual(text, "No face was found in the selfie. Take one of your face, in good light.")
        self.assertEqual(len(self.cells(d)), len(self.open["files"]))  # the grid is left as it was
        self.shot(d, "desktop-05-no-face")

    def test_on_a_phone(self):
        from selenium.webdriver.common.by import By
        phone = browser(PHONE, phone=True)
        try:
            phone.get(self.page(self.open))
            self.shot(phone, "phone-01-password")
            self.sign_in(phone, self.open)
            self.shot(phone, "phone-02-gallery")
            phone.execute_script("document.getElementById('grid').scrollIntoView()")
            self.shot(phone, "phone-02-grid")
            # Nothing wider than the screen, and several photos to a row.
            width = phone.execute_script("return [document.documentElement.scrollWidth, innerWidth]")
            self.assertLessEqual(width[0], width[1])
            tops = phone.execute_script(
                "return [...document.querySelectorAll('#grid a')].map(a => Math.round(a.getBoundingClientRect().top))")
            self.assertGreater(len(tops) / len(set(tops)), 1.5)
            selfie = phone.find_element(By.ID, "selfie")
            self.assertEqual(selfie.get_attribute("accept"), "image/*")
            self.assertEqual(selfie.get_attribute("capture"), "user")
            self.search(phone, self.selfies[SEARCHED])
            self.shot(phone, "phone-03-found")
            phone.find_element(By.ID, "show-all").click()
            phone.find_elements(By.CSS_SELECTOR, "#grid a")[0].click()
            name = phone.find_element(By.ID, "viewer-name")
            first = name.text
            self.shot(phone, "phone-04-viewer")

            # A swipe to the left shows the next photo.
            def touch(kind, x):
                points = [] if kind == "touchEnd" else [{"x": x, "y": 400}]
                phone.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": kind, "touchPoints": points})
            touch("touchStart", 320)
            touch("touchMove", 200)
            touch("touchMove", 80)
            phone.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": "touchEnd", "touchPoints": []})
            wait_for(lambda: name.text != first, 10, "the swipe")
            self.assertIn(self.open["files"][1]["filename"], name.text)
        finally:
            phone.quit()


class FaceSearchEndpoint(unittest.TestCase):
    """The search endpoint as scripts call it: sessions, limits, stalled clients."""

    @classmethod
    def setUpClass(cls):
        shared = Shared.start()
        cls.service, cls.gallery = shared.service, shared.open
        with open(shared.selfies[SEARCHED], "rb") as f:
            cls.selfie = f.read()
        cls.theirs = {f["file_id"] for f in shared.open["files"] if SEARCHED in shared.person_of(f["filename"])}

    def post(self, body, headers):
        return self.service.request("POST", "/gallery/" + self.gallery["slug"] + "/face-search", body, headers)

    def test_sessions_and_passwords(self):
        jpeg = {"Content-Type": "image/jpeg"}
        status, body, _ = self.post(self.selfie, jpeg)
        self.assertEqual(status, 401)
        self.assertIn("detail", json.loads(body))
        self.assertEqual(self.post(self.selfie, dict(jpeg, Cookie="kfg_" + self.gallery["gallery_id"] + "=" +
                                                      "0" * 64))[0], 401)
        status, body, _ = self.post(self.selfie, dict(jpeg, **{"X-Gallery-Password": PASSWORD}))
        self.assertEqual(status, 200)
        matches = json.loads(body)["matches"]
        self.assertEqual({m["file_id"] for m in matches}, self.theirs)
        self.assertEqual([m["score"] for m in matches], sorted((m["score"] for m in matches), reverse=True))

    def test_a_selfie_over_the_limit_is_refused_before_it_is_read(self):
        limit = 16 * 1024 * 1024
        with socket.create_connection(self.host_port(), timeout=30) as s:
            s.sendall(("POST /gallery/%s/face-search HTTP/1.1\r\nHost: x\r\nContent-Type: image/jpeg\r\n"
                       "X-Gallery-Password: %s\r\nContent-Length: %d\r\n\r\n" %
                       (self.gallery["slug"], PASSWORD, limit + 1)).encode())
            reply = b""
            while True:  # the service closes the connection after its answer
                piece = s.recv(4096)
                if not piece:
                    break
                reply += piece
            reply = reply.decode(errors="replace")
        self.assertTrue(reply.startswith("HTTP/1.1 413"), reply)
        self.assertIn("larger than", reply)

    def test_a_stalled_upload_is_dropped_and_blocks_no_one(self):
        with socket.create_connection(self.host_port(), timeout=60) as stalled:
            stalled.sendall(("POST /gallery/%s/face-search HTTP/1.1\r\nHost: x\r\nContent-Type: image/jpeg\r\n"
                             "X-Gallery-Password: %s\r\nContent-Length: %d\r\n\r\n" %
                             (self.gallery["slug"], PASSWORD, len(self.selfie))).encode() + self.selfie[:1000])
            started = time.time()
            # Meanwhile another guest's search is answered.
            status, _, _ = self.post(self.selfie, {"Content-Type": "image/jpeg", "X-Gallery-Password": PASSWORD})
            self.assertEqual(status, 200)
            self.assertLess(time.time() - started, 10)
            # The stalled one is closed once the read times out (15 s), without an answer to a search.
            reply = b""
            while True:
                piece = stalled.recv(4096)
                if not piece:
                    break
                reply += piece
            self.assertLess(time.time() - started, 40)
            self.assertNotIn(b"matches", reply)

    def host_port(self):
        host, port = self.service.url.split("//")[1].rsplit(":", 1)
        return host, int(port)


if __name__ == "__main__":
    ARGS, rest = parse_args()
    problem = missing_requirements(ARGS)
    if problem:
        print("skipped: " + problem)
        sys.exit(SKIP)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
