#!/usr/bin/python3
"""A stand-in for the gallery delivery service, for development and tests.

    stand_in.py [--host 127.0.0.1] [--port 8765] [--data DIR] [--token TOKEN]

Serves every endpoint the desktop program uses, with real storage: an SQLite
database and the uploaded files under DIR (default ~/.cache/keepframe/delivery-service).
Requests need "Authorization: Bearer TOKEN" (default token "dev-token",
or $KEEPFRAME_DELIVERY_TOKEN). Uploads go to the URLs the upload request
hands out (PUT, no token). A plain gallery page lists a gallery's images at
/gallery.html?g=<slug>.

Test and operator helpers (token required):
    POST /admin/topup/<id>/mark      {"status": "paid" | "expired"}
    POST /admin/fail                 {"method": "GET", "path": "/deliver/profile",
                                      "status": 404, "body": "..."}  (next matching request only)
Only loopback addresses are served by default; it is a test partner, not a product.
"""
import argparse
import html
import json
import os
import re
import secrets
import sqlite3
import sys
import threading
import uuid
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


class Store:
    def __init__(self, folder):
        self.folder = folder
        os.makedirs(os.path.join(folder, "storage"), exist_ok=True)
        self.db = sqlite3.connect(os.path.join(folder, "service.db"), check_same_thread=False)
        self.db.executescript(SCHEMA)
        self.lock = threading.Lock()
        self.failures = []

    def q(self, sql, args=()):
        with self.lock:
            cur = self.db.execute(sql, args)
            self.db.commit()
            return cur.fetchall()

    def setting(self, key, default=""):
        rows = self.q("SELECT value FROM settings WHERE key = ?", (key,))
        return rows[0][0] if rows else default

    def quota(self):
        return int(self.setting("quota_bytes", str(10 * GB)))

    def used(self):
        return self.q("SELECT COALESCE(SUM(size_bytes), 0) FROM files WHERE confirmed = 1")[0][0]


class Handler(BaseHTTPRequestHandler):
    store = None
    token = None
    base = None
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):  # quiet unless asked
        if os.environ.get("KEEPFRAME_SERVICE_LOG"):
            sys.stderr.write("%s %s\n" % (self.command, fmt % args))

    # ------------------------------------------------------------ plumbing
    def reply(self, status, body=None, content_type="application/json"):
        data = b"" if body is None else (body if isinstance(body, bytes) else json.dumps(body).encode())
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def json_body(self):
        try:
            value = json.loads(self.body() or b"{}")
            return value if isinstance(value, dict) else None
        except ValueError:
            return None

    def authorised(self):
        if self.headers.get("Authorization") == "Bearer " + self.token:
            return True
        self.reply(401, {"detail": "Invalid or missing token"})
        return False

    def forced_failure(self):
        for f in list(self.store.failures):
            if f["method"] == self.command and f["path"] == urlparse(self.path).path:
                self.store.failures.remove(f)
                self.body()
                body = f.get("body", "")
                self.reply(int(f["status"]), body.encode() if isinstance(body, str) else json.dumps(body).encode())
                return True
        return False

    def route(self):
        path = urlparse(self.path).path
        if self.command == "PUT" and path.startswith("/storage/"):
            return self.put_blob(path[len("/storage/"):])
        if self.command == "GET" and path.startswith("/storage/"):
            return self.get_blob(path[len("/storage/"):])
        if self.command == "GET" and path == "/gallery.html":
            return self.gallery_page()
        if not self.authorised():
            return
        if self.forced_failure():
            return
        routes = [
            ("GET", r"/deliver/galleries", self.list_galleries),
            ("GET", r"/deliver/galleries/([^/]+)/files", self.gallery_files),
            ("POST", r"/deliver/galleries/([^/]+)/settings", self.gallery_settings),
            ("DELETE", r"/deliver/galleries/([^/]+)", self.delete_gallery),
            ("POST", r"/gallery/([^/]+)/change-password", self.change_password),
            ("GET", r"/deliver/profile", self.get_profile),
            ("POST", r"/deliver/profile", self.save_profile),
            ("POST", r"/deliver/storage/topup", self.create_topup),
            ("GET", r"/deliver/storage/topup/([^/]+)/status", self.topup_status),
            ("POST", r"/deliver/upload-request", self.upload_request),
            ("POST", r"/deliver/upload-complete", self.upload_complete),
            ("POST", r"/admin/topup/([^/]+)/mark", self.admin_mark_topup),
            ("POST", r"/admin/fail", self.admin_fail),
        ]
        for method, pattern, handler in routes:
            m = re.fullmatch(pattern, path)
            if m and method == self.command:
                return handler(*m.groups())
        self.body()
        self.reply(404, {"detail": "No such endpoint: %s %s" % (self.command, path)})

    do_GET = do_POST = do_PUT = do_DELETE = route

    # ------------------------------------------------------------ galleries
    def gallery_row(self, gallery_id):
        rows = self.store.q("SELECT id FROM galleries WHERE id = ?", (gallery_id,))
        if not rows:
            self.body()
            self.reply(404, {"detail": "Gallery not found"})
        return bool(rows)

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
        self.reply(200, {"quota_bytes": quota, "used_bytes": used, "remaining_bytes": max(quota - used, 0),
                         "lifetime_galleries_created": int(self.store.setting("lifetime_galleries", "0")),
                         "galleries": galleries})

    def gallery_files(self, gid):
        if not self.gallery_row(gid):
            return
        cover = self.store.q("SELECT cover_file_id FROM galleries WHERE id = ?", (gid,))[0][0] or ""
        files = [{"file_id": f, "filename": n} for f, n in
                 self.store.q("SELECT id, filename FROM files WHERE gallery_id = ? AND confirmed = 1", (gid,))]
        self.reply(200, {"current_cover_file_id": cover, "files": files})

    def gallery_settings(self, gid):
        body = self.json_body()
        if not self.gallery_row(gid):
            return
        if body is None or len(body) != 1:
            return self.reply(422, {"detail": "Exactly one setting expected"})
        (key, value), = body.items()
        column = {"cover_file_id": "cover_file_id", "allow_download": "allow_download",
                  "face_search_enabled": "face_search"}.get(key)
        if column is None:
            return self.reply(422, {"detail": "Unknown setting " + key})
        self.store.q("UPDATE galleries SET %s = ? WHERE id = ?" % column, (value, gid))
        self.reply(200, {"ok": True})

    def delete_gallery(self, gid):
        if not self.gallery_row(gid):
            return
        for key, in self.store.q("SELECT compressed_key FROM files WHERE gallery_id = ? UNION "
                                 "SELECT original_key FROM files WHERE gallery_id = ?", (gid, gid)):
            for path, in self.store.q("SELECT path FROM blobs WHERE key = ?", (key,)):
                if os.path.exists(path):
                    os.remove(path)
            self.store.q("DELETE FROM blobs WHERE key = ?", (key,))
        self.store.q("DELETE FROM files WHERE gallery_id = ?", (gid,))
        self.store.q("DELETE FROM galleries WHERE id = ?", (gid,))
        self.reply(200, {"ok": True})

    def change_password(self, gid):
        body = self.json_body()
        if not self.gallery_row(gid):
            return
        if body is None or not isinstance(body.get("new_password"), str):
            return self.reply(422, {"detail": "new_password missing"})
        if body["new_password"] == "":
            return self.reply(422, {"detail": "Password must not be empty"})
        self.store.q("UPDATE galleries SET password = ? WHERE id = ?", (body["new_password"], gid))
        self.reply(200, {"ok": True})

    # ------------------------------------------------------------ profile and storage
    def get_profile(self):
        self.reply(200, {"studio_name": self.store.setting("studio_name"),
                         "public_contact_phone": self.store.setting("public_contact_phone")})

    def save_profile(self):
        body = self.json_body() or {}
        for key in ("studio_name", "public_contact_phone"):
            if key in body:
                self.store.q("INSERT OR REPLACE INTO settings VALUES (?, ?)", (key, str(body[key])))
        self.reply(200, {"ok": True})

    def create_topup(self):
        body = self.json_body() or {}
        gb = body.get("additional_gb")
        if not isinstance(gb, int) or gb <= 0 or gb % 10:
            return self.reply(422, {"detail": "additional_gb must be a positive multiple of 10"})
        tid = "tp_" + secrets.token_hex(6)
        self.store.q("INSERT INTO topups VALUES (?, ?, 'pending')", (tid, gb))
        self.reply(200, {"topup_id": tid, "additional_gb": gb, "remaining_months": 12, "amount_rupees": gb * 20,
                         "qr_code_id": "qr_" + tid, "qr_image_url": self.base + "/storage/qr_" + tid})

    def topup_status(self, tid):
        rows = self.store.q("SELECT gb, status FROM topups WHERE id = ?", (tid,))
        if not rows:
            return self.reply(404, {"detail": "Top-up not found"})
        gb, status = rows[0]
        self.reply(200, {"status": status, "added_gb": gb, "storage_quota_bytes": self.store.quota()})

    def admin_mark_topup(self, tid):
        body = self.json_body() or {}
        status = body.get("status")
        rows = self.store.q("SELECT gb, status FROM topups WHERE id = ?", (tid,))
        if not rows or status not in ("paid", "expired"):
            return self.reply(422, {"detail": "unknown top-up or status"})
        if status == "paid" and rows[0][1] != "paid":
            self.store.q("INSERT OR REPLACE INTO settings VALUES ('quota_bytes', ?)",
                         (str(self.store.quota() + rows[0][0] * GB),))
        self.store.q("UPDATE topups SET status = ? WHERE id = ?", (status, tid))
        self.reply(200, {"ok": True})

    def admin_fail(self):
        body = self.json_body()
        if not body or "path" not in body or "status" not in body:
            return self.reply(422, {"detail": "path and status needed"})
        body.setdefault("method", "GET")
        self.store.failures.append(body)
        self.reply(200, {"ok": True})

    # ------------------------------------------------------------ uploads
    def upload_request(self):
        body = self.json_body()
        if body is None or not isinstance(body.get("files"), list):
            return self.reply(422, {"detail": "files missing"})
        total = sum(int(f.get("compressed_size_bytes") or f.get("original_size_bytes") or 0) for f in body["files"])
        if self.store.used() + total > self.store.quota():
            return self.reply(402, {"detail": "Not enough storage left"})
        gid = "g_" + uuid.uuid4().hex[:12]
        slug = re.sub(r"[^a-z0-9]+", "-", str(body.get("gallery_title", "")).lower()).strip("-") or "gallery"
        slug = "%s-%s" % (slug, secrets.token_hex(3))
        created = datetime.now().strftime("%Y-%m-%d %H:%M:%S.%f")
        self.store.q("INSERT INTO galleries VALUES (?, ?, ?, ?, 'pending', ?, ?, '', ?)",
                     (gid, body.get("gallery_title", ""), slug, body.get("gallery_password", ""),
                      int(bool(body.get("allow_download"))), int(bool(body.get("face_search_enabled"))), created))
        lifetime = int(self.store.setting("lifetime_galleries", "0")) + 1
        self.store.q("INSERT OR REPLACE INTO settings VALUES ('lifetime_galleries', ?)", (str(lifetime),))
        uploads = []
        for f in body["files"]:
            fid = "f_" + uuid.uuid4().hex[:12]
            okey, ckey = "%s/%s/original" % (gid, fid), "%s/%s/compressed" % (gid, fid)
            self.store.q("INSERT INTO files (id, gallery_id, filename, original_key, compressed_key) VALUES "
                         "(?, ?, ?, ?, ?)", (fid, gid, f.get("filename", ""), okey, ckey))
            uploads.append({"filename": f.get("filename", ""), "original_r2_key": okey, "compressed_r2_key": ckey,
                            "original_upload_url": self.base + "/storage/" + okey,
                            "compressed_upload_url": self.base + "/storage/" + ckey})
        self.reply(200, {"gallery_id": gid, "gallery_slug": slug, "uploads": uploads})

    def put_blob(self, key):
        data = self.body()
        known = self.store.q("SELECT id FROM files WHERE original_key = ? OR compressed_key = ?", (key, key))
        if not known:
            return self.reply(403, {"detail": "Unknown upload URL"})
        path = os.path.join(self.store.folder, "storage", key.replace("/", "_") + ".jpg")
        with open(path, "wb") as out:
            out.write(data)
        self.store.q("INSERT OR REPLACE INTO blobs VALUES (?, ?, ?)", (key, path, len(data)))
        self.store.q("UPDATE files SET uploaded = 1 WHERE id = ?", (known[0][0],))
        self.reply(200, b"", "text/plain")

    def get_blob(self, key):
        rows = self.store.q("SELECT path FROM blobs WHERE key = ?", (key,))
        if not rows or not os.path.exists(rows[0][0]):
            return self.reply(404, {"detail": "not found"})
        with open(rows[0][0], "rb") as f:
            self.reply(200, f.read(), "image/jpeg")

    def upload_complete(self):
        body = self.json_body()
        if body is None:
            return self.reply(422, {"detail": "invalid JSON"})
        gid = body.get("gallery_id", "")
        if not self.store.q("SELECT id FROM galleries WHERE id = ?", (gid,)):
            return self.reply(404, {"detail": "Gallery not found"})
        for f in body.get("files", []):
            key = f.get("compressed_r2_key") or f.get("original_r2_key") or ""
            rows = self.store.q("SELECT id FROM files WHERE gallery_id = ? AND (original_key = ? OR compressed_key = ?)",
                                (gid, key, key))
            blob = self.store.q("SELECT size FROM blobs WHERE key = ?", (key,))
            if not rows or not blob:
                return self.reply(422, {"detail": "File %s was not uploaded" % f.get("filename")})
            fid = rows[0][0]
            faces = f.get("faces", [])
            for face in faces:
                self.store.q("INSERT INTO faces VALUES (?, ?, ?, ?, ?, ?)", (fid, face.get("image_base64", ""),
                             face.get("bbox_x", 0), face.get("bbox_y", 0), face.get("bbox_width", 0),
                             face.get("bbox_height", 0)))
            self.store.q("UPDATE files SET confirmed = 1, size_bytes = ?, width = ?, height = ?, faces = ?, is_cover = ? "
                         "WHERE id = ?", (blob[0][0], f.get("width"), f.get("height"), len(faces),
                                          int(bool(f.get("is_cover"))), fid))
            if f.get("is_cover"):
                self.store.q("UPDATE galleries SET cover_file_id = ? WHERE id = ?", (fid, gid))
        self.store.q("UPDATE galleries SET status = 'active' WHERE id = ?", (gid,))
        self.reply(200, {"ok": True})

    def gallery_page(self):
        slug = parse_qs(urlparse(self.path).query).get("g", [""])[0]
        rows = self.store.q("SELECT id, title FROM galleries WHERE slug = ?", (slug,))
        if not rows:
            return self.reply(404, b"<h1>No such gallery</h1>", "text/html; charset=utf-8")
        gid, title = rows[0]
        items = []
        for name, okey, ckey in self.store.q("SELECT filename, original_key, compressed_key FROM files "
                                             "WHERE gallery_id = ? AND confirmed = 1 ORDER BY filename", (gid,)):
            key = ckey if self.store.q("SELECT 1 FROM blobs WHERE key = ?", (ckey,)) else okey
            items.append('<figure><img src="/storage/%s" width="240"><figcaption>%s</figcaption></figure>'
                         % (html.escape(key), html.escape(name)))
        page = "<!doctype html><meta charset=utf-8><title>%s</title><h1>%s</h1>%s" % (
            html.escape(title), html.escape(title), "\n".join(items))
        self.reply(200, page.encode(), "text/html; charset=utf-8")


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=8765, help="0 picks a free port")
    p.add_argument("--data", default=os.path.join(os.path.expanduser("~"), ".cache", "keepframe", "delivery-service"))
    p.add_argument("--token", default=os.environ.get("KEEPFRAME_DELIVERY_TOKEN", "dev-token"))
    args = p.parse_args()
    Handler.store = Store(args.data)
    Handler.token = args.token
    server = ThreadingHTTPServer((args.host, args.port), Handler)
    Handler.base = "http://%s:%d" % (args.host, server.server_address[1])
    print("listening on " + Handler.base, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
