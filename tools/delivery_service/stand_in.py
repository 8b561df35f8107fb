#!/usr/bin/python3
"""A stand-in for the gallery delivery service, for development and tests.

    stand_in.py [--host 127.0.0.1] [--port 8765] [--data DIR] [--token TOKEN]

Serves every endpoint the desktop program uses, with real storage: an SQLite
database and the uploaded files under DIR (default ~/.cache/keepframe/delivery-service).
Requests need "Authorization: Bearer TOKEN" (default token "dev-token",
or $KEEPFRAME_DELIVERY_TOKEN). Uploads go to the URLs the upload request
hands out (PUT, no token). A gallery page at /gallery.html?g=<slug> asks for
the gallery password and then lists the gallery's images; stored files are
served only with the bearer token or the access key that page puts in their
links. A top-up's payment code is a PNG at /pay/qr/<topup id>.png (a pattern
drawn from the id, not a scannable code).

Test and operator helpers (token required):
    POST /admin/topup/<id>/mark      {"status": "paid" | "expired"}
    POST /admin/fail                 {"method": "GET", "path": "/deliver/profile",
                                      "status": 404, "body": "...",
                                      "headers": {"Location": "..."}}
        answers the next matching request only; a path ending in "*" matches by prefix.
        With "behaviour" the request is served as usual (an upload is stored) but
        answered as a broken or hostile server would:
          "silent"        reads the request, then never answers (until the client leaves)
          "drip"          headers at once, then the body one byte every "interval_ms" (200)
          "drip-headers"  status line, headers and body one byte every "interval_ms"
          "endless"       a chunked body that never ends
          "huge"          a valid JSON object of "size" bytes, its length announced
    GET  /admin/probes               the requests that reached /probe/<name> (no token
                                     needed there), each with whether it carried an
                                     Authorization header
Only loopback addresses are served by default; it is a test partner, not a product.
"""
import argparse
import contextlib
import hashlib
import select
import hmac
import html
import json
import os
import re
import secrets
import sqlite3
import struct
import sys
import threading
import time
import uuid
import zlib
from datetime import datetime
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

GB = 1024 ** 3
SCHEMA = """
CREATE TABLE IF NOT EXISTS galleries (id TEXT PRIMARY KEY, title TEXT, slug TEXT UNIQUE, password TEXT,
  status TEXT, allow_download INTEGER, face_search INTEGER, cover_file_id TEXT, created_at TEXT);
CREATE TABLE IF NOT EXISTS files (id TEXT PRIMARY KEY, gallery_id TEXT, filename TEXT, original_key TEXT,
  compressed_key TEXT, size_bytes INTEGER DEFAULT 0, uploaded INTEGER DEFAULT 0, confirmed INTEGER DEFAULT 0,
  width INTEGER, height INTEGER, faces INTEGER DEFAULT 0, is_cover INTEGER DEFAULT 0);
CREATE TABLE IF NOT EXISTS blobs (key TEXT PRIMARY KEY, path TEXT, size INTEGER);
CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE IF NOT EXISTS topups (id TEXT PRIMARY KEY, gb INTEGER, status TEXT);
CREATE TABLE IF NOT EXISTS faces (file_id TEXT, image_base64 TEXT, x INTEGER, y INTEGER, w INTEGER, h INTEGER);
"""
HTML = "text/html; charset=utf-8"


class Refused(Exception):
    """Ends a request with this status and {"detail": ...}."""

    def __init__(self, status, detail):
        super().__init__(detail)
        self.status = status
        self.detail = detail


def answer(status, body=None, content_type="application/json", headers=None):
    return status, body, content_type, headers or {}


class Hostile:
    """A forced answer that misbehaves (see "behaviour" above); played outside the
    store's lock, so that the service keeps answering other requests meanwhile."""

    LONGEST = 600  # seconds any misbehaviour lasts at most

    def __init__(self, forced):
        self.kind = forced["behaviour"]
        self.status = int(forced["status"])
        body = forced.get("body", "")
        self.body = body.encode() if isinstance(body, str) else json.dumps(body).encode()
        self.interval = max(int(forced.get("interval_ms", 200)), 1) / 1000.0
        self.size = int(forced.get("size", 0))

    def head(self, extra):
        lines = ["HTTP/1.1 %d Forced" % self.status, "Content-Type: application/json", "Connection: close"]
        return ("\r\n".join(lines + extra) + "\r\n\r\n").encode()

    def play(self, handler):
        handler.close_connection = True
        try:
            getattr(self, "play_" + self.kind.replace("-", "_"))(handler.connection)
        except OSError:  # the client gave up: that is the point
            pass

    def play_silent(self, conn):
        end = time.monotonic() + self.LONGEST
        while time.monotonic() < end:
            readable, _, _ = select.select([conn], [], [], 0.2)
            if readable and not conn.recv(65536):
                return

    def drip(self, conn, data):
        end = time.monotonic() + self.LONGEST
        for i in range(len(data)):
            if time.monotonic() > end:
                return
            conn.sendall(data[i:i + 1])
            time.sleep(self.interval)

    def play_drip(self, conn):
        conn.sendall(self.head(["Content-Length: %d" % len(self.body)]))
        self.drip(conn, self.body)

    def play_drip_headers(self, conn):
        self.drip(conn, self.head(["Content-Length: %d" % len(self.body)]) + self.body)

    def play_endless(self, conn):
        conn.sendall(self.head(["Transfer-Encoding: chunked"]))
        chunk = b"%x\r\n%s\r\n" % (1 << 16, b" " * (1 << 16))
        end = time.monotonic() + self.LONGEST
        while time.monotonic() < end:
            conn.sendall(chunk)
            time.sleep(0.001)  # at most about 60 MB/s, even to a client that keeps reading

    def play_huge(self, conn):
        start, finish = b'{"galleries": [], "padding": "', b'"}'
        pad = max(self.size - len(start) - len(finish), 0)
        conn.sendall(self.head(["Content-Length: %d" % (len(start) + pad + len(finish))]) + start)
        block = b"x" * (1 << 20)
        while pad > 0:
            conn.sendall(block[:pad])
            pad -= min(pad, len(block))
        conn.sendall(finish)


def is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def png(width, height, rows):
    """An 8-bit grey PNG from `rows` (bytes of `width` values each)."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes(row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def payment_code(text, modules=29, scale=8):
    """A square black-and-white pattern drawn from `text`, with the three corner marks of a QR code."""
    bits = "".join(format(b, "08b") for b in hashlib.sha256(text.encode()).digest() * 4)
    grid = [[bits[(y * modules + x) % len(bits)] == "1" for x in range(modules)] for y in range(modules)]
    for oy, ox in ((0, 0), (0, modules - 7), (modules - 7, 0)):
        for y in range(7):
            for x in range(7):
                ring = max(abs(y - 3), abs(x - 3))
                grid[oy + y][ox + x] = ring != 2
    side = (modules + 8) * scale
    rows = []
    for y in range(side):
        my = y // scale - 4
        rows.append([0 if 0 <= my < modules and 0 <= x // scale - 4 < modules and grid[my][x // scale - 4]
                     else 255 for x in range(side)])
    return png(side, side, rows)


class Store:
    def __init__(self, folder):
        self.folder = folder
        os.makedirs(os.path.join(folder, "storage"), exist_ok=True)
        self.db = sqlite3.connect(os.path.join(folder, "service.db"), check_same_thread=False)
        self.db.executescript(SCHEMA)
        # One request changes the service at a time: every handler runs under this lock.
        self.lock = threading.RLock()
        self.failures = []
        self.probes = []
        self.secret = secrets.token_bytes(16)

    def q(self, sql, args=()):
        with self.lock:
            cur = self.db.execute(sql, args)
            self.db.commit()
            return cur.fetchall()

    def setting(self, key, default=""):
        rows = self.q("SELECT value FROM settings WHERE key = ?", (key,))
        return rows[0][0] if rows else default

    def set_setting(self, key, value):
        self.q("INSERT OR REPLACE INTO settings VALUES (?, ?)", (key, str(value)))

    def quota(self):
        return int(self.setting("quota_bytes", str(10 * GB)))

    def used(self):
        return self.q("SELECT COALESCE(SUM(size_bytes), 0) FROM files WHERE confirmed = 1")[0][0]

    def access_key(self, gallery_id, password):
        """The key the gallery page puts in its image links; a new password invalidates it."""
        message = (gallery_id + "\0" + (password or "")).encode()
        return hmac.new(self.secret, message, hashlib.sha256).hexdigest()[:32]


class Handler(BaseHTTPRequestHandler):
    store = None
    token = None
    base = None
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):  # quiet unless asked
        if os.environ.get("KEEPFRAME_SERVICE_LOG"):
            sys.stderr.write("%s %s\n" % (self.command, fmt % args))

    # ------------------------------------------------------------ plumbing
    def reply(self, status, body=None, content_type="application/json", headers=None):
        data = b"" if body is None else (body if isinstance(body, bytes) else json.dumps(body).encode())
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        if self.close_connection:
            self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)

    def read_body(self):
        """Reads the request body exactly once, before any answer, so that the
        connection stays in step whatever the answer is."""
        if self.headers.get("Transfer-Encoding"):
            self.close_connection = True
            raise Refused(411, "Content-Length required")
        try:
            length = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            length = -1
        if length < 0:
            self.close_connection = True
            raise Refused(400, "Bad Content-Length")
        return self.rfile.read(length) if length else b""

    def json(self):
        """The body as a JSON object, or a 400 answer."""
        try:
            value = json.loads(self.raw.decode("utf-8"))
        except (ValueError, RecursionError):
            raise Refused(400, "Malformed JSON body")
        if not isinstance(value, dict):
            raise Refused(400, "A JSON object is expected")
        return value

    def authorised(self):
        offered = self.headers.get("Authorization", "").encode("latin-1", "replace")
        return hmac.compare_digest(offered, ("Bearer " + self.token).encode())

    def forced_answer(self, path):
        for f in list(self.store.failures):
            wanted = f["path"]
            matches = path.startswith(wanted[:-1]) if wanted.endswith("*") else path == wanted
            if f["method"] == self.command and matches:
                self.store.failures.remove(f)
                if f.get("behaviour"):
                    return Hostile(f)
                body = f.get("body", "")
                data = body.encode() if isinstance(body, str) else json.dumps(body).encode()
                return answer(int(f["status"]), data, headers=f.get("headers") or {})
        return None

    PUBLIC = [
        ("PUT", r"/storage/(.+)", "put_blob"),
        ("GET", r"/storage/(.+)", "get_blob"),
        ("GET", r"/gallery\.html", "gallery_page"),
        ("POST", r"/gallery\.html", "gallery_page"),
        ("GET", r"/pay/qr/([^/]+)\.png", "qr_image"),
        (None, r"/probe/([^/]+)", "probe"),
    ]
    PRIVATE = [
        ("GET", r"/deliver/galleries", "list_galleries"),
        ("GET", r"/deliver/galleries/([^/]+)/files", "gallery_files"),
        ("POST", r"/deliver/galleries/([^/]+)/settings", "gallery_settings"),
        ("DELETE", r"/deliver/galleries/([^/]+)", "delete_gallery"),
        ("POST", r"/gallery/([^/]+)/change-password", "change_password"),
        ("GET", r"/deliver/profile", "get_profile"),
        ("POST", r"/deliver/profile", "save_profile"),
        ("POST", r"/deliver/storage/topup", "create_topup"),
        ("GET", r"/deliver/storage/topup/([^/]+)/status", "topup_status"),
        ("POST", r"/deliver/upload-request", "upload_request"),
        ("POST", r"/deliver/upload-complete", "upload_complete"),
        ("POST", r"/admin/topup/([^/]+)/mark", "admin_mark_topup"),
        ("POST", r"/admin/fail", "admin_fail"),
        ("GET", r"/admin/probes", "admin_probes"),
    ]

    def find(self, table, path):
        for method, pattern, name in table:
            m = re.fullmatch(pattern, path)
            if m and method in (None, self.command):
                return getattr(self, name), m.groups()
        return None

    def dispatch(self):
        path = urlparse(self.path).path
        public = self.find(self.PUBLIC, path)
        if public is None and not self.authorised():
            return answer(401, {"detail": "Invalid or missing token"})
        forced = self.forced_answer(path)
        if forced and not isinstance(forced, Hostile):
            return forced
        found = public or self.find(self.PRIVATE, path)
        if found is None:
            return forced or answer(404, {"detail": "No such endpoint: %s %s" % (self.command, path)})
        handler, args = found
        if forced:
            # The request has its effect (an upload is stored); only the answer misbehaves.
            with contextlib.suppress(Refused):
                handler(*args)
            return forced
        return handler(*args)

    def route(self):
        try:
            self.raw = self.read_body()
            with self.store.lock:
                response = self.dispatch()
        except Refused as refused:
            response = answer(refused.status, {"detail": refused.detail})
        except Exception as error:  # a fault of the stand-in itself: answer, keep serving
            self.close_connection = True
            response = answer(500, {"detail": "Stand-in fault: %r" % (error,)})
        if isinstance(response, Hostile):
            response.play(self)
            return
        self.reply(*response)

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = route

    # ------------------------------------------------------------ galleries
    def gallery_row(self, gallery_id):
        rows = self.store.q("SELECT id, password FROM galleries WHERE id = ?", (gallery_id,))
        if not rows:
            raise Refused(404, "Gallery not found")
        return rows[0]

    def list_galleries(self):
        galleries = []
        for gid, title, slug, status, face, created in self.store.q(
                "SELECT id, title, slug, status, face_search, created_at FROM galleries ORDER BY created_at DESC"):
            count, size, faces = self.store.q(
                "SELECT COUNT(*), COALESCE(SUM(size_bytes),0), COALESCE(SUM(faces),0) FROM files "
                "WHERE gallery_id = ? AND confirmed = 1", (gid,))[0]
            galleries.append({"gallery_id": gid, "title": title, "slug": slug, "status": status, "file_count": count,
                              "size_bytes": size, "face_search_enabled": bool(face), "face_data_rows": faces,
                              "created_at": created})
        quota, used = self.store.quota(), self.store.used()
        return answer(200, {"quota_bytes": quota, "used_bytes": used, "remaining_bytes": max(quota - used, 0),
                            "lifetime_galleries_created": int(self.store.setting("lifetime_galleries", "0")),
                            "galleries": galleries})

    def gallery_files(self, gid):
        self.gallery_row(gid)
        cover = self.store.q("SELECT cover_file_id FROM galleries WHERE id = ?", (gid,))[0][0] or ""
        files = [{"file_id": f, "filename": n} for f, n in
                 self.store.q("SELECT id, filename FROM files WHERE gallery_id = ? AND confirmed = 1", (gid,))]
        return answer(200, {"current_cover_file_id": cover, "files": files})

    def gallery_settings(self, gid):
        body = self.json()
        self.gallery_row(gid)
        if len(body) != 1:
            raise Refused(422, "Exactly one setting expected")
        (key, value), = body.items()
        if key == "cover_file_id":
            known = isinstance(value, str) and self.store.q(
                "SELECT 1 FROM files WHERE id = ? AND gallery_id = ? AND confirmed = 1", (value, gid))
            if not known:
                raise Refused(422, "No such file in this gallery")
            column = "cover_file_id"
        elif key in ("allow_download", "face_search_enabled"):
            if not isinstance(value, bool):
                raise Refused(422, key + " must be true or false")
            column = "allow_download" if key == "allow_download" else "face_search"
            value = int(value)
        else:
            raise Refused(422, "Unknown setting " + key)
        self.store.q("UPDATE galleries SET %s = ? WHERE id = ?" % column, (value, gid))
        return answer(200, {"ok": True})

    def delete_gallery(self, gid):
        self.gallery_row(gid)
        for key, in self.store.q("SELECT compressed_key FROM files WHERE gallery_id = ? UNION "
                                 "SELECT original_key FROM files WHERE gallery_id = ?", (gid, gid)):
            for path, in self.store.q("SELECT path FROM blobs WHERE key = ?", (key,)):
                if os.path.exists(path):
                    os.remove(path)
            self.store.q("DELETE FROM blobs WHERE key = ?", (key,))
        self.store.q("DELETE FROM files WHERE gallery_id = ?", (gid,))
        self.store.q("DELETE FROM galleries WHERE id = ?", (gid,))
        return answer(200, {"ok": True})

    def change_password(self, gid):
        body = self.json()
        self.gallery_row(gid)
        if not isinstance(body.get("new_password"), str):
            raise Refused(422, "new_password missing")
        if body["new_password"] == "":
            raise Refused(422, "Password must not be empty")
        self.store.q("UPDATE galleries SET password = ? WHERE id = ?", (body["new_password"], gid))
        return answer(200, {"ok": True})

    # ------------------------------------------------------------ profile and storage
    def get_profile(self):
        return answer(200, {"studio_name": self.store.setting("studio_name"),
                            "public_contact_phone": self.store.setting("public_contact_phone")})

    def save_profile(self):
        body = self.json()
        for key in ("studio_name", "public_contact_phone"):
            if key in body and not isinstance(body[key], str):
                raise Refused(422, key + " must be text")
        for key in ("studio_name", "public_contact_phone"):
            if key in body:
                self.store.set_setting(key, body[key])
        return answer(200, {"ok": True})

    def create_topup(self):
        gb = self.json().get("additional_gb")
        if not is_int(gb) or gb <= 0 or gb % 10:
            raise Refused(422, "additional_gb must be a positive multiple of 10")
        tid = "tp_" + secrets.token_hex(6)
        self.store.q("INSERT INTO topups VALUES (?, ?, 'pending')", (tid, gb))
        return answer(200, {"topup_id": tid, "additional_gb": gb, "remaining_months": 12, "amount_rupees": gb * 20,
                            "qr_code_id": "qr_" + tid, "qr_image_url": self.base + "/pay/qr/" + tid + ".png"})

    def topup_status(self, tid):
        rows = self.store.q("SELECT gb, status FROM topups WHERE id = ?", (tid,))
        if not rows:
            raise Refused(404, "Top-up not found")
        gb, status = rows[0]
        return answer(200, {"status": status, "added_gb": gb, "storage_quota_bytes": self.store.quota()})

    def qr_image(self, tid):
        if not self.store.q("SELECT 1 FROM topups WHERE id = ?", (tid,)):
            raise Refused(404, "Top-up not found")
        return answer(200, payment_code(tid), "image/png")

    # ------------------------------------------------------------ test helpers
    def admin_mark_topup(self, tid):
        status = self.json().get("status")
        rows = self.store.q("SELECT gb, status FROM topups WHERE id = ?", (tid,))
        if not rows or status not in ("paid", "expired"):
            raise Refused(422, "unknown top-up or status")
        if status == "paid" and rows[0][1] != "paid":
            self.store.set_setting("quota_bytes", self.store.quota() + rows[0][0] * GB)
        self.store.q("UPDATE topups SET status = ? WHERE id = ?", (status, tid))
        return answer(200, {"ok": True})

    def admin_fail(self):
        body = self.json()
        if not isinstance(body.get("path"), str) or not is_int(body.get("status")):
            raise Refused(422, "path and status needed")
        if not isinstance(body.setdefault("headers", {}), dict):
            raise Refused(422, "headers must be an object")
        body.setdefault("method", "GET")
        behaviour = body.get("behaviour")
        if behaviour is not None and behaviour not in ("silent", "drip", "drip-headers", "endless", "huge"):
            raise Refused(422, "unknown behaviour")
        for key in ("interval_ms", "size"):
            if key in body and not is_int(body[key]):
                raise Refused(422, key + " must be a whole number")
        self.store.failures.append(body)
        return answer(200, {"ok": True})

    def probe(self, name):
        self.store.probes.append({"name": name, "method": self.command,
                                  "authorization": self.headers.get("Authorization") is not None})
        return answer(200, {"ok": True})

    def admin_probes(self):
        return answer(200, {"probes": self.store.probes})

    # ------------------------------------------------------------ uploads
    def upload_request(self):
        body = self.json()
        files = body.get("files")
        if not isinstance(files, list) or not all(isinstance(f, dict) for f in files):
            raise Refused(422, "files must be a list of objects")
        for f in files:
            if not isinstance(f.get("filename", ""), str):
                raise Refused(422, "filename must be text")
            for key in ("original_size_bytes", "compressed_size_bytes"):
                if key in f and (not is_int(f[key]) or f[key] < 0):
                    raise Refused(422, key + " must be a whole number of bytes")
        total = sum(f.get("compressed_size_bytes") or f.get("original_size_bytes") or 0 for f in files)
        if self.store.used() + total > self.store.quota():
            raise Refused(402, "Not enough storage left")
        title, password = body.get("gallery_title", ""), body.get("gallery_password", "")
        if not isinstance(title, str) or not isinstance(password, str):
            raise Refused(422, "gallery_title and gallery_password must be text")
        gid = "g_" + uuid.uuid4().hex[:12]
        slug = re.sub(r"[^a-z0-9]+", "-", title.lower()).strip("-") or "gallery"
        slug = "%s-%s" % (slug, secrets.token_hex(3))
        created = datetime.now().strftime("%Y-%m-%d %H:%M:%S.%f")
        self.store.q("INSERT INTO galleries VALUES (?, ?, ?, ?, 'pending', ?, ?, '', ?)",
                     (gid, title, slug, password, int(bool(body.get("allow_download"))),
                      int(bool(body.get("face_search_enabled"))), created))
        self.store.set_setting("lifetime_galleries", int(self.store.setting("lifetime_galleries", "0")) + 1)
        uploads = []
        for f in files:
            fid = "f_" + uuid.uuid4().hex[:12]
            okey, ckey = "%s/%s/original" % (gid, fid), "%s/%s/compressed" % (gid, fid)
            self.store.q("INSERT INTO files (id, gallery_id, filename, original_key, compressed_key) VALUES "
                         "(?, ?, ?, ?, ?)", (fid, gid, f.get("filename", ""), okey, ckey))
            uploads.append({"filename": f.get("filename", ""), "original_r2_key": okey, "compressed_r2_key": ckey,
                            "original_upload_url": self.base + "/storage/" + okey,
                            "compressed_upload_url": self.base + "/storage/" + ckey})
        return answer(200, {"gallery_id": gid, "gallery_slug": slug, "uploads": uploads})

    def put_blob(self, key):
        known = self.store.q("SELECT id FROM files WHERE original_key = ? OR compressed_key = ?", (key, key))
        if not known:
            raise Refused(403, "Unknown upload URL")
        # Keys are made by this service (see upload_request), so the name stays inside the folder.
        path = os.path.join(self.store.folder, "storage", key.replace("/", "_") + ".jpg")
        with open(path, "wb") as out:
            out.write(self.raw)
        self.store.q("INSERT OR REPLACE INTO blobs VALUES (?, ?, ?)", (key, path, len(self.raw)))
        self.store.q("UPDATE files SET uploaded = 1 WHERE id = ?", (known[0][0],))
        return answer(200, b"", "text/plain")

    def get_blob(self, key):
        rows = self.store.q("SELECT b.path, g.id, g.password FROM blobs b JOIN files f "
                            "ON b.key = f.original_key OR b.key = f.compressed_key "
                            "JOIN galleries g ON g.id = f.gallery_id WHERE b.key = ?", (key,))
        if not rows or not os.path.exists(rows[0][0]):
            raise Refused(404, "not found")
        path, gid, password = rows[0]
        offered = parse_qs(urlparse(self.path).query).get("access", [""])[0]
        expected = self.store.access_key(gid, password).encode()
        if not self.authorised() and not hmac.compare_digest(offered.encode(), expected):
            raise Refused(401, "The gallery password is required")
        with open(path, "rb") as f:
            return answer(200, f.read(), "image/jpeg")

    def upload_complete(self):
        body = self.json()
        gid, files = body.get("gallery_id", ""), body.get("files", [])
        if not isinstance(gid, str) or not isinstance(files, list) or not all(isinstance(f, dict) for f in files):
            raise Refused(422, "gallery_id and a list of files expected")
        if not self.store.q("SELECT id FROM galleries WHERE id = ?", (gid,)):
            raise Refused(404, "Gallery not found")
        confirmed = []
        for f in files:
            key = f.get("compressed_r2_key") or f.get("original_r2_key") or ""
            faces = f.get("faces", [])
            sizes = [f.get("width"), f.get("height")]
            if not isinstance(faces, list) or not all(isinstance(x, dict) for x in faces) or \
                    not all(v is None or is_int(v) for v in sizes) or not isinstance(key, str):
                raise Refused(422, "File %s is malformed" % f.get("filename"))
            rows = self.store.q("SELECT id FROM files WHERE gallery_id = ? AND "
                                "(original_key = ? OR compressed_key = ?)", (gid, key, key))
            blob = self.store.q("SELECT size FROM blobs WHERE key = ?", (key,))
            if not rows or not blob:
                raise Refused(422, "File %s was not uploaded" % f.get("filename"))
            confirmed.append((rows[0][0], blob[0][0], f, faces))
        for fid, size, f, faces in confirmed:
            for face in faces:
                self.store.q("INSERT INTO faces VALUES (?, ?, ?, ?, ?, ?)", (fid, face.get("image_base64", ""),
                             face.get("bbox_x", 0), face.get("bbox_y", 0), face.get("bbox_width", 0),
                             face.get("bbox_height", 0)))
            self.store.q("UPDATE files SET confirmed = 1, size_bytes = ?, width = ?, height = ?, faces = ?, "
                         "is_cover = ? WHERE id = ?", (size, f.get("width"), f.get("height"), len(faces),
                                                       int(bool(f.get("is_cover"))), fid))
            if f.get("is_cover"):
                self.store.q("UPDATE galleries SET cover_file_id = ? WHERE id = ?", (fid, gid))
        self.store.q("UPDATE galleries SET status = 'active' WHERE id = ?", (gid,))
        return answer(200, {"ok": True})

    def gallery_page(self):
        slug = parse_qs(urlparse(self.path).query).get("g", [""])[0]
        rows = self.store.q("SELECT id, title, password FROM galleries WHERE slug = ?", (slug,))
        if not rows:
            return answer(404, b"<h1>No such gallery</h1>", HTML)
        gid, title, password = rows[0]
        offered = None
        if self.command == "POST":
            offered = parse_qs(self.raw.decode("utf-8", "replace")).get("password", [""])[0]
        if offered is None or not hmac.compare_digest(offered.encode(), (password or "").encode()):
            note = "" if offered is None else "<p>Wrong password.</p>"
            form = ('<!doctype html><meta charset=utf-8><title>%s</title><h1>%s</h1>%s'
                    '<form method="post"><input type="password" name="password" autofocus>'
                    '<button>Open gallery</button></form>') % (html.escape(title), html.escape(title), note)
            return answer(401, form.encode(), HTML)
        access = self.store.access_key(gid, password)
        items = []
        for name, okey, ckey in self.store.q("SELECT filename, original_key, compressed_key FROM files "
                                             "WHERE gallery_id = ? AND confirmed = 1 ORDER BY filename", (gid,)):
            key = ckey if self.store.q("SELECT 1 FROM blobs WHERE key = ?", (ckey,)) else okey
            items.append('<figure><img src="/storage/%s?access=%s" width="240">'
                         '<figcaption>%s</figcaption></figure>' % (html.escape(key), access, html.escape(name)))
        page = "<!doctype html><meta charset=utf-8><title>%s</title><h1>%s</h1>%s" % (
            html.escape(title), html.escape(title), "\n".join(items))
        return answer(200, page.encode(), HTML)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=8765, help="0 picks a free port")
    p.add_argument("--data", default=os.path.join(os.path.expanduser("~"), ".cache", "keepframe", "delivery-service"))
    p.add_argument("--token", default=os.environ.get("KEEPFRAME_DELIVERY_TOKEN", "dev-token"))
    args = p.parse_args()
    Handler.store = Store(args.data)
    Handler.token = args.token
    ThreadingHTTPServer.request_queue_size = 128  # many uploads connect at once
    server = ThreadingHTTPServer((args.host, args.port), Handler)
    server.daemon_threads = True
    Handler.base = "http://%s:%d" % (args.host, server.server_address[1])
    print("listening on " + Handler.base, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
