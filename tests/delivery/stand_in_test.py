#!/usr/bin/python3
"""The stand-in delivery service answers every request, keeps its connections in
step, changes its state one request at a time and guards galleries with their
password: the delivery client's tests rely on all of it."""
import http.client
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest
from urllib.parse import urlencode, urlparse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVICE = os.path.join(ROOT, "tools", "delivery_service", "stand_in.py")
TOKEN = "secret"


class Service:
    def __init__(self):
        self.data = tempfile.mkdtemp()
        self.process = subprocess.Popen([sys.executable, SERVICE, "--port", "0", "--data", self.data,
                                         "--token", TOKEN], stdout=subprocess.PIPE, text=True)
        self.base = self.process.stdout.readline().strip().replace("listening on ", "")
        self.port = urlparse(self.base).port

    def stop(self):
        self.process.kill()
        self.process.wait(5)
        self.process.stdout.close()
        shutil.rmtree(self.data, ignore_errors=True)

    def connect(self):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=5)

    def call(self, method, path, body=None, token=TOKEN, connection=None, headers=None):
        """One request; (status, decoded JSON or raw bytes, response headers)."""
        own = connection is None
        conn = self.connect() if own else connection
        data = body if isinstance(body, bytes) or body is None else json.dumps(body).encode()
        sent = dict(headers or {})
        if token is not None:
            sent["Authorization"] = "Bearer " + token
        conn.request(method, path, body=data, headers=sent)
        response = conn.getresponse()
        raw = response.read()
        if own:
            conn.close()
        try:
            value = json.loads(raw)
        except ValueError:
            value = raw
        return response.status, value, response

    def gallery(self, title="Asha & Ravi", password="pw", names=("a.jpg", "b.jpg")):
        """A delivered gallery: (gallery id, slug, {filename: storage path}, {filename: file id})."""
        status, made, _ = self.call("POST", "/deliver/upload-request", {
            "gallery_title": title, "gallery_password": password,
            "files": [{"filename": n, "original_size_bytes": 4} for n in names]})
        assert status == 200, made
        keys = {}
        for upload in made["uploads"]:
            path = urlparse(upload["original_upload_url"]).path
            assert self.call("PUT", path, b"\xff\xd8\xff\xd9", token=None)[0] == 200
            keys[upload["filename"]] = (path, upload["original_r2_key"])
        files = [{"filename": n, "original_r2_key": keys[n][1], "original_size_bytes": 4} for n in names]
        status, _, _ = self.call("POST", "/deliver/upload-complete", {"gallery_id": made["gallery_id"], "files": files})
        assert status == 200
        status, listing, _ = self.call("GET", "/deliver/galleries/%s/files" % made["gallery_id"])
        ids = {f["filename"]: f["file_id"] for f in listing["files"]}
        return made["gallery_id"], made["gallery_slug"], {n: keys[n][0] for n in names}, ids


class StandIn(unittest.TestCase):
    def setUp(self):
        self.service = Service()

    def tearDown(self):
        self.service.stop()

    def test_every_request_is_answered_and_the_connection_stays_in_step(self):
        s = self.service
        conn = s.connect()
        # Unknown galleries: the body is read once, the answer comes at once.
        status, body, _ = s.call("POST", "/deliver/galleries/nope/settings", {"allow_download": True}, connection=conn)
        self.assertEqual((status, body["detail"]), (404, "Gallery not found"))
        status, body, _ = s.call("POST", "/gallery/nope/change-password", {"new_password": "x"}, connection=conn)
        self.assertEqual((status, body["detail"]), (404, "Gallery not found"))
        # A refused token with a body still leaves the next request readable.
        status, _, _ = s.call("POST", "/deliver/profile", {"studio_name": "x" * 5000}, token="wrong",
                              connection=conn)
        self.assertEqual(status, 401)
        self.assertEqual(s.call("GET", "/deliver/profile", connection=conn)[0], 200)
        # Bodies that are not a JSON object are a 400, never a dropped connection.
        for bad in (b"{not json", b"[1, 2]", b"\xff\xfe", b"[" * 100000):
            status, body, _ = s.call("POST", "/deliver/profile", bad, connection=conn)
            self.assertEqual(status, 400, bad[:10])
            self.assertIn(body["detail"], ("Malformed JSON body", "A JSON object is expected"))
        # Well-formed JSON of the wrong shape is refused with a reason.
        for shape in ({"files": [1]}, {"files": [{"filename": 3}]}, {"files": [{"original_size_bytes": "9"}]}):
            status, body, _ = s.call("POST", "/deliver/upload-request", shape, connection=conn)
            self.assertEqual(status, 422, shape)
        status, body, _ = s.call("POST", "/deliver/upload-complete", {"gallery_id": "g", "files": "x"},
                                 connection=conn)
        self.assertEqual(status, 422)
        self.assertEqual(s.call("POST", "/deliver/profile", {"studio_name": 7}, connection=conn)[0], 422)
        self.assertEqual(s.call("GET", "/deliver/profile", connection=conn)[1]["studio_name"], "")
        conn.close()

        # A length that cannot be read closes the connection after a clear answer.
        conn = s.connect()
        conn.putrequest("POST", "/deliver/profile")
        conn.putheader("Authorization", "Bearer " + TOKEN)
        conn.putheader("Content-Length", "many")
        conn.endheaders()
        response = conn.getresponse()
        self.assertEqual(response.status, 400)
        self.assertEqual(json.loads(response.read())["detail"], "Bad Content-Length")
        conn.close()

    def test_parallel_requests_change_the_service_one_at_a_time(self):
        s = self.service
        errors = []

        def make_gallery(i):
            try:
                status, _, _ = s.call("POST", "/deliver/upload-request",
                                      {"gallery_title": "g%d" % i, "files": [{"filename": "x.jpg"}]})
                if status != 200:
                    errors.append(status)
            except Exception as error:  # collected, reported below
                errors.append(error)

        threads = [threading.Thread(target=make_gallery, args=(i,)) for i in range(24)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])
        self.assertEqual(s.call("GET", "/deliver/galleries")[1]["lifetime_galleries_created"], 24)

        # One payment settled from many threads at once adds its storage once.
        status, topup, _ = s.call("POST", "/deliver/storage/topup", {"additional_gb": 20})
        self.assertEqual(status, 200)
        mark = "/admin/topup/%s/mark" % topup["topup_id"]
        threads = [threading.Thread(target=s.call, args=("POST", mark, {"status": "paid"})) for _ in range(12)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(s.call("GET", "/deliver/galleries")[1]["quota_bytes"], 30 * 1024 ** 3)

    def test_gallery_page_and_stored_files_need_the_gallery_password(self):
        s = self.service
        gid, slug, paths, _ = s.gallery(password="lantern")
        page = "/gallery.html?g=" + slug
        status, body, _ = s.call("GET", page, token=None)
        self.assertEqual(status, 401)
        self.assertNotIn(b"a.jpg", body)
        form = {"Content-Type": "application/x-www-form-urlencoded"}
        status, body, _ = s.call("POST", page, urlencode({"password": "wrong"}).encode(), token=None, headers=form)
        self.assertEqual(status, 401)
        self.assertIn(b"Wrong password", body)
        status, body, _ = s.call("POST", page, urlencode({"password": "lantern"}).encode(), token=None,
                                 headers=form)
        self.assertEqual(status, 200)
        self.assertIn(b"a.jpg", body)
        link = body.decode().split('src="')[1].split('"')[0]
        self.assertTrue(link.startswith("/storage/") and "access=" in link, link)

        # The page's link opens the file; the bare address does not.
        self.assertEqual(s.call("GET", link, token=None)[0], 200)
        for path in paths.values():
            self.assertEqual(s.call("GET", path, token=None)[0], 401)
            self.assertEqual(s.call("GET", path + "?access=0123", token=None)[0], 401)
            self.assertEqual(s.call("GET", path)[0], 200)  # the photographer's own token
        # A new password closes the old links.
        self.assertEqual(s.call("POST", "/gallery/%s/change-password" % gid, {"new_password": "new"})[0], 200)
        self.assertEqual(s.call("GET", link, token=None)[0], 401)

    def test_gallery_settings_accept_only_known_files_and_plain_values(self):
        s = self.service
        gid, _, _, ids = s.gallery()
        other, _, _, other_ids = s.gallery(title="Other")
        settings = "/deliver/galleries/%s/settings" % gid
        for bad in ({"cover_file_id": "f_unknown"}, {"cover_file_id": other_ids["a.jpg"]}, {"cover_file_id": 5},
                    {"allow_download": "yes"}, {"face_search_enabled": 1}, {"colour": "red"},
                    {"allow_download": True, "face_search_enabled": True}):
            self.assertEqual(s.call("POST", settings, bad)[0], 422, bad)
        self.assertEqual(s.call("GET", "/deliver/galleries/%s/files" % gid)[1]["current_cover_file_id"], "")
        self.assertEqual(s.call("POST", settings, {"cover_file_id": ids["b.jpg"]})[0], 200)
        self.assertEqual(s.call("GET", "/deliver/galleries/%s/files" % gid)[1]["current_cover_file_id"],
                         ids["b.jpg"])

    def test_payment_code_image_is_served(self):
        s = self.service
        status, topup, _ = s.call("POST", "/deliver/storage/topup", {"additional_gb": 10})
        self.assertEqual(status, 200)
        url = urlparse(topup["qr_image_url"])
        self.assertEqual(url.port, s.port)
        status, image, response = s.call("GET", url.path, token=None)  # an image view sends no token
        self.assertEqual(status, 200)
        self.assertEqual(response.getheader("Content-Type"), "image/png")
        self.assertTrue(image.startswith(b"\x89PNG\r\n\x1a\n"))
        self.assertEqual(s.call("GET", "/pay/qr/tp_unknown.png", token=None)[0], 404)


if __name__ == "__main__":
    unittest.main()
