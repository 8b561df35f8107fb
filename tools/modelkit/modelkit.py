#!/usr/bin/python3
"""Builds Keepframe's four model files from verified pretrained source files.

    modelkit.py --out DIR [--src DIR] [--detector yunet|scrfd]
    modelkit.py fetch [--dest DIR]     download the default sources
    modelkit.py locate [--src DIR]     print the folder that holds them

Sources: --src, else $KEEPFRAME_MODEL_SOURCES, else ../shared/models/src beside
the repository. Every source file is checked against its sha256 before use.
`fetch` downloads each default source that is missing from
$KEEPFRAME_CACHE/model-sources (default ~/.cache/keepframe/model-sources, on
Windows %LOCALAPPDATA%\\keepframe\\model-sources) from
its origin in SOURCES, or from $KEEPFRAME_MODEL_MIRROR + "/" + its file name,
and keeps it only when its length and sha256 match. It reads no byte past the
table's length, stops a download that is not complete within FILE_SECONDS or
that sends nothing for READ_SECONDS, and first removes what an interrupted fetch
left behind. `locate` prefers the local sources to the downloaded ones.
The output folder receives exactly
    buffalo_l/det_10g.onnx       face detector (5 landmarks)
    buffalo_l/w600k_r50.onnx     face recogniser (512-float embedding)
    emotion-ferplus-8.onnx       expression classifier (8 FER+ logits)
    open_closed_eye.onnx         eye state (element 1 = open)
    MANIFEST.json                sources, sha256 and licences
Each file wraps its source network in a small adapter graph so that it takes
and gives exactly what the engine expects; the engine is unchanged.
"""
import argparse
import contextlib
import fcntl
import hashlib
import http.client
import json
import os
import shutil
import socket
import sys
import tempfile
import threading
import urllib.error
import urllib.parse
import urllib.request

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

HERE = os.path.dirname(os.path.abspath(__file__))


def github_raw(repo, commit, path):
    return f"https://raw.githubusercontent.com/{repo}/{commit}/{path}"


# One table of source files with their sha256 and length in bytes. The four
# defaults carry the origin they are downloaded from when no local folder holds
# them: the raw file at a fixed commit of the public repository that carries it.
SOURCES = {
    "yunet": {
        "file": "face_detection_yunet_2026may.onnx",
        "sha256": "ebafce4e3c118d6554634be5c27ab333b4c047a9a8c3faf1d7cf93101c22f0f0",
        "size": 229738,
        "licence": "MIT (OpenCV Zoo YuNet, Copyright (c) 2020 Shiqi Yu)",
        "url": github_raw("RuDr8A/RealTime-PPE-Compliance", "d876a822bbb20180b9ed7850c1d3229d72883067",
                          "face_detection_yunet_2026may.onnx"),
    },
    "scrfd": {
        "file": "scrfd_2.5g_bnkps_det_2.5g.onnx",
        "sha256": "041f73f47371333d1d17a6fee6c8ab4e6aecabefe398ff32cca4e2d5eaee0af9",
        "size": 3292009,
        "licence": "InsightFace SCRFD 2.5G weights: non-commercial research use only",
    },
    "mobilefacenet": {
        "file": "mobilefacenet_foamliu_128d_bnfused.onnx",
        "sha256": "e0974ec4c84ae30781e9b0a320c37c6705944d4532bfa9fb0c083755b19dde14",
        "size": 3981135,
        "licence": "Apache-2.0 (foamliu/MobileFaceNet weights)",
        "url": github_raw("rit5k0005296-star/SmartStorage-RV1126B", "c82083740e324d64677418ceff207ff51efe2c51",
                          "models/mobilefacenet.onnx"),
    },
    "mini_xception": {
        "file": "fer2013_mini_XCEPTION.102-0.66.onnx",
        "sha256": "95036c208085db79ad43e057245b8cb6e21b5319ef7dcb4f0c83e0102f550d30",
        "size": 235945,
        "licence": "MIT (oarriaga/face_classification); trained on FER2013",
        "url": github_raw("ishaansucksatlife/SAMS", "23c605494ece0e4e09922b5eeab37b86d3cdf81c",
                          "assets/fer2013_mini_xception.onnx"),
    },
    "eye": {
        "file": "open_closed_eye.onnx",
        "sha256": "4daa100034482525a26c9afb9297c16580a531189e66e3d2b2ac7d32becfd593",
        "size": 46164,
        "licence": "Apache-2.0 (OpenVINO Open Model Zoo open-closed-eye-0001)",
        "url": github_raw("rorens05/bus-driver-camera-ai", "24d5d9b9ff2801e4f1404abdf102dfb5aaa40dc5",
                          "data/open_closed_eye.onnx"),
    },
}
DEFAULT_KEYS = ("yunet", "mobilefacenet", "mini_xception", "eye")

OUTPUT_FILES = {
    "detector": "buffalo_l/det_10g.onnx",
    "recognizer": "buffalo_l/w600k_r50.onnx",
    "expression": "emotion-ferplus-8.onnx",
    "eye": "open_closed_eye.onnx",
}

DETECTOR_SIZE = 640
STRIDES = (8, 16, 32)


class KitError(Exception):
    pass


def default_sources():
    env = os.environ.get("KEEPFRAME_MODEL_SOURCES")
    if env:
        return env
    return os.path.normpath(os.path.join(HERE, "..", "..", "..", "shared", "models", "src"))


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def verified(src, key):
    info = SOURCES[key]
    path = os.path.join(src, info["file"])
    if not os.path.isfile(path):
        raise KitError(f"model source missing: {path} (put the files of the model MANIFEST in {src})")
    digest = sha256(path)
    if digest != info["sha256"]:
        raise KitError(f"model source {path} has sha256 {digest}, expected {info['sha256']}; refusing it")
    return path


# ---------------------------------------------------------------- download

def download_cache():
    """The folder that downloaded sources are kept in."""
    cache = os.environ.get("KEEPFRAME_CACHE")
    if not cache and os.name == "nt" and os.environ.get("LOCALAPPDATA"):
        cache = os.path.join(os.environ["LOCALAPPDATA"], "keepframe")  # where the build looks on Windows
    if not cache:
        cache = os.path.join(os.path.expanduser("~"), ".cache", "keepframe")
    return os.path.join(cache, "model-sources")


def holds_defaults(folder):
    try:
        for key in DEFAULT_KEYS:
            verified(folder, key)
    except KitError:
        return False
    return True


def locate(src):
    """The folder holding every default source, verified: src first, else the download cache."""
    for folder in (src, download_cache()):
        if holds_defaults(folder):
            return os.path.abspath(folder)
    return None


def origin(key):
    """Where a source is downloaded from: its table origin, or the file of that name under $KEEPFRAME_MODEL_MIRROR."""
    mirror = os.environ.get("KEEPFRAME_MODEL_MIRROR")
    if mirror:
        return mirror.rstrip("/") + "/" + urllib.parse.quote(SOURCES[key]["file"])
    return SOURCES[key]["url"]


class Unreachable(KitError):
    pass


# Beside downloaded sources: the URL and sha256 each was downloaded with.
ORIGINS = "ORIGINS.json"


def downloaded_from(folder):
    """File name -> the URL it was downloaded from, for the files whose recorded
    sha256 is still the table's (an unreadable record records nothing)."""
    try:
        with open(os.path.join(folder, ORIGINS)) as f:
            record = json.load(f)
    except (OSError, ValueError):
        return {}
    found = {}
    for info in SOURCES.values():
        entry = record.get(info["file"]) if isinstance(record, dict) else None
        if isinstance(entry, dict) and entry.get("sha256") == info["sha256"] and isinstance(entry.get("url"), str):
            found[info["file"]] = entry["url"]
    return found


def record_origin(dest, key, url):
    """Adds a verified download to the folder's record, replaced in one step."""
    sha_of = {info["file"]: info["sha256"] for info in SOURCES.values()}
    record = {name: {"url": u, "sha256": sha_of[name]} for name, u in downloaded_from(dest).items()}
    record[SOURCES[key]["file"]] = {"url": url, "sha256": SOURCES[key]["sha256"]}
    fd, tmp = tempfile.mkstemp(prefix=f".{ORIGINS}.", dir=dest)
    try:
        with os.fdopen(fd, "w") as f:
            json.dump(record, f, indent=2)
            f.write("\n")
        os.chmod(tmp, 0o644)
        os.replace(tmp, os.path.join(dest, ORIGINS))
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)


# Bounds of one download: no read waits longer than READ_SECONDS, and the whole
# file, from the first connection to its last byte, arrives within FILE_SECONDS.
# Tests shorten both.
READ_SECONDS = 30
FILE_SECONDS = 120


class Deadline:
    """Ends one download when its time is up, whatever read it waits in (a
    header sent a byte at a time included): every connection it opened is shut
    down, its reads end, and `expired` says why."""

    def __init__(self, seconds):
        self.expired = False
        self._sockets = []  # duplicates of the connections' sockets: shutting one shuts the connection
        self._lock = threading.Lock()
        self._timer = threading.Timer(seconds, self._expire)
        self._timer.daemon = True

    def __enter__(self):
        self._timer.start()
        return self

    def __exit__(self, *exc):
        self._timer.cancel()
        with self._lock:
            for sock in self._sockets:
                sock.close()
            self._sockets.clear()

    def _expire(self):
        with self._lock:
            self.expired = True
            for sock in self._sockets:
                with contextlib.suppress(OSError):
                    sock.shutdown(socket.SHUT_RDWR)

    def _watch(self, sock):
        with self._lock:
            self._sockets.append(sock.dup())
            if self.expired:
                with contextlib.suppress(OSError):
                    sock.shutdown(socket.SHUT_RDWR)
        return sock

    def opener(self):
        """A URL opener whose connections, TLS handshake included, end at the deadline."""
        watch = self._watch

        def watched(base):
            class Connection(base):
                def __init__(self, *args, **kwargs):
                    super().__init__(*args, **kwargs)
                    self._create_connection = lambda *a, **k: watch(socket.create_connection(*a, **k))
            return Connection

        class Plain(urllib.request.HTTPHandler):
            def http_open(self, req):
                return self.do_open(watched(http.client.HTTPConnection), req)

        class Secure(urllib.request.HTTPSHandler):
            def https_open(self, req):
                return self.do_open(watched(http.client.HTTPSConnection), req, context=self._context)

        return urllib.request.build_opener(Plain, Secure)


def download(key, dest):
    """Downloads one source under a temporary name in dest and gives it its own
    name only once its length and sha256 are right; nothing else stays behind.
    No byte past the table's length is read, and the whole download is bounded
    in time (FILE_SECONDS)."""
    name, expected, length = SOURCES[key]["file"], SOURCES[key]["sha256"], SOURCES[key]["size"]
    url = origin(key)
    fd, part = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=dest)
    try:
        digest, size = hashlib.sha256(), 0
        with os.fdopen(fd, "wb") as out, Deadline(FILE_SECONDS) as deadline:
            late = KitError(f"download of {name} from {url} did not finish within {FILE_SECONDS} s; stopped it")
            try:
                response = deadline.opener().open(url, timeout=READ_SECONDS)
            except urllib.error.HTTPError as e:
                raise KitError(f"could not download {name} from {url}: HTTP {e.code} {e.reason}")
            except urllib.error.URLError as e:
                raise late if deadline.expired else Unreachable(str(e.reason))
            except http.client.HTTPException as e:  # not an HTTP answer at all
                raise late if deadline.expired else KitError(f"could not download {name} from {url}: {e!r}")
            try:
                with response:
                    announced = response.headers.get("Content-Length")
                    if announced is not None and announced.isdigit() and int(announced) > length:
                        raise KitError(f"{name} from {url} announces {announced} bytes, more than its {length}; "
                                       "refused it")
                    # One byte past the length is enough to know the file is wrong.
                    while size <= length:
                        block = response.read(min(1 << 16, length + 1 - size))
                        if not block:
                            break
                        out.write(block)
                        digest.update(block)
                        size += len(block)
            except (OSError, http.client.HTTPException) as e:
                raise late if deadline.expired else KitError(f"download of {name} from {url} failed: {e}")
            if deadline.expired:  # a connection shut at the deadline may read as a clean end
                raise late
            if size > length:
                raise KitError(f"download of {name} from {url} is longer than its {length} bytes; stopped reading")
            if size < length:
                raise KitError(f"download of {name} from {url} is truncated: {size} of {length} bytes")
            out.flush()
            os.fsync(out.fileno())
        if digest.hexdigest() != expected:
            raise KitError(f"{name} from {url} has sha256 {digest.hexdigest()}, expected {expected}; refused it")
        os.chmod(part, 0o644)
        os.replace(part, os.path.join(dest, name))
        record_origin(dest, key, url)
        return size
    finally:
        if os.path.exists(part):
            os.remove(part)


@contextlib.contextmanager
def exclusive(folder):
    """Holds the download folder for one fetch at a time: clones in other
    folders share the cache, and a fetch removes what no running fetch owns."""
    fd = os.open(folder, os.O_RDONLY)
    try:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f"modelkit: waiting for another fetch into {folder}", flush=True)
            fcntl.flock(fd, fcntl.LOCK_EX)
        yield
    finally:
        os.close(fd)


def left_behind(entry):
    """Whether a file of the download folder is what an interrupted fetch left:
    a partial download or an unfinished record of origins."""
    if entry.startswith(f".{ORIGINS}."):
        return True
    return entry.endswith(".part") and any(entry.startswith(f".{info['file']}.") for info in SOURCES.values())


def fetch(dest):
    """Downloads into dest each default source it does not hold verified; returns how many."""
    os.makedirs(dest, exist_ok=True)
    with exclusive(dest):
        for entry in sorted(os.listdir(dest)):
            if left_behind(entry):
                print(f"modelkit: removing {entry}, left behind by an interrupted download")
                os.remove(os.path.join(dest, entry))
        missing = []
        for key in DEFAULT_KEYS:
            path = os.path.join(dest, SOURCES[key]["file"])
            if os.path.exists(path):
                if sha256(path) == SOURCES[key]["sha256"]:
                    continue
                print(f"modelkit: {path} does not match its sha256; removing it")
                os.remove(path)
            missing.append(key)
        for i, key in enumerate(missing):
            print(f"modelkit: downloading {SOURCES[key]['file']} from {origin(key)}", flush=True)
            try:
                size = download(key, dest)
            except Unreachable as e:
                lines = [f"cannot download the face model sources ({e}). Put these files, under the names on the",
                         f"left, in {dest} (or in a folder named by KEEPFRAME_MODEL_SOURCES), then build again:"]
                lines += [f"  {SOURCES[k]['file']}  {origin(k)}" for k in missing[i:]]
                raise KitError("\n".join(lines))
            print(f"modelkit: {SOURCES[key]['file']}: {size} bytes, sha256 verified")
        return len(missing)


# ---------------------------------------------------------------- graph helpers

class Adapter:
    """Nodes and constants added around a source graph; names start with kf_."""

    def __init__(self):
        self.nodes_before, self.nodes_after, self.inits = [], [], []
        self.count = 0

    def name(self, hint):
        self.count += 1
        return f"kf_{hint}_{self.count}"

    def const(self, value, dtype=np.float32, hint="c"):
        n = self.name(hint)
        self.inits.append(numpy_helper.from_array(np.asarray(value, dtype=dtype), n))
        return n

    def op(self, op_type, inputs, hint=None, before=False, outputs=1, **attrs):
        outs = [self.name(hint or op_type.lower()) for _ in range(outputs)]
        node = helper.make_node(op_type, inputs, outs, name=self.name("node"), **attrs)
        (self.nodes_before if before else self.nodes_after).append(node)
        return outs[0] if outputs == 1 else outs


def wrap(model, adapter, new_input, old_input_from, new_outputs):
    """Feeds the source graph's input from `old_input_from` (an adapter tensor
    computed from `new_input`) and replaces its outputs with `new_outputs`."""
    g = model.graph
    old_input = g.input[0].name
    # The adapter's last pre-processing node writes the source input's name.
    for node in adapter.nodes_before:
        node.output[:] = [old_input if o == old_input_from else o for o in node.output]
    kept_inputs = [i for i in g.input if i.name != old_input]
    nodes = list(adapter.nodes_before) + list(g.node) + list(adapter.nodes_after)
    graph = helper.make_graph(nodes, g.name + "_keepframe", [new_input] + kept_inputs, new_outputs,
                              list(g.initializer) + adapter.inits, value_info=list(g.value_info))
    out = helper.make_model(graph, opset_imports=list(model.opset_import), producer_name="keepframe-modelkit")
    out.ir_version = model.ir_version
    onnx.checker.check_model(out)
    return out


def float_input(name, shape):
    return helper.make_tensor_value_info(name, TensorProto.FLOAT, shape)


# ---------------------------------------------------------------- the four models

def build_yunet_detector(path):
    """YuNet -> the engine's SCRFD-style layout: nine outputs, two anchors per
    cell (the second with score 0), distances in stride units from the anchor
    at (col * s, row * s), landmark offsets in stride units."""
    model = onnx.load(path)
    a = Adapter()
    # Engine input (v - 127.5) / 128 back to YuNet's raw 0..255 BGR.
    scaled = a.op("Mul", ["kf_input", a.const([128.0])], before=True)
    a.op("Add", [scaled, a.const([127.5])], hint="raw", before=True)
    raw_name = a.nodes_before[-1].output[0]

    scores, boxes, kps = [], [], []
    for s in STRIDES:
        n = (DETECTOR_SIZE // s) ** 2
        zero_one = (a.const(0.0), a.const(1.0))
        cls = a.op("Clip", [f"cls_{s}", *zero_one])
        obj = a.op("Clip", [f"obj_{s}", *zero_one])
        score = a.op("Sqrt", [a.op("Mul", [cls, obj])])                       # [1,N,1]
        score = a.op("Reshape", [score, a.const([n, 1, 1], np.int64)])
        second = a.op("Mul", [score, a.const([0.0])])
        pair = a.op("Concat", [score, second], axis=1)                       # [N,2,1]
        scores.append(a.op("Reshape", [pair, a.const([2 * n, 1], np.int64)], hint=f"score_{s}"))

        b0, b1, b2, b3 = a.op("Split", [f"bbox_{s}"], outputs=4, axis=2)    # each [1,N,1]
        half_w = a.op("Mul", [a.op("Exp", [b2]), a.const([0.5])])
        half_h = a.op("Mul", [a.op("Exp", [b3]), a.const([0.5])])
        d = [a.op("Sub", [half_w, b0]), a.op("Sub", [half_h, b1]), a.op("Add", [b0, half_w]), a.op("Add", [b1, half_h])]
        dist = a.op("Reshape", [a.op("Concat", d, axis=2), a.const([n, 1, 4], np.int64)])
        pair = a.op("Concat", [dist, dist], axis=1)
        boxes.append(a.op("Reshape", [pair, a.const([2 * n, 4], np.int64)], hint=f"bbox_{s}"))

        k = a.op("Reshape", [f"kps_{s}", a.const([n, 1, 10], np.int64)])
        pair = a.op("Concat", [k, k], axis=1)
        kps.append(a.op("Reshape", [pair, a.const([2 * n, 10], np.int64)], hint=f"kps_{s}"))

    outputs = []
    for names, width, label in ((scores, 1, "score"), (boxes, 4, "bbox"), (kps, 10, "kps")):
        for s, nm in zip(STRIDES, names):
            outputs.append(float_input(nm, [2 * (DETECTOR_SIZE // s) ** 2, width]))
    return wrap(model, a, float_input("kf_input", [1, 3, DETECTOR_SIZE, DETECTOR_SIZE]), raw_name, outputs)


def build_scrfd_detector(path):
    """SCRFD 2.5G already has the engine's layout; only the input is fixed at 640."""
    model = onnx.load(path)
    dims = model.graph.input[0].type.tensor_type.shape.dim
    for d, v in zip(dims, (1, 3, DETECTOR_SIZE, DETECTOR_SIZE)):
        d.ClearField("dim_param")
        d.dim_value = v
    onnx.checker.check_model(model)
    return model


def build_recognizer(path):
    """MobileFaceNet: engine input v / 127.5 - 1 (BGR planes) -> RGB, v / 255,
    ImageNet mean/std. The aligned face and its mirror image run through the
    network as a batch of two and their embeddings are summed: a face and its
    mirror image get one embedding, and what differs between the two views
    averages out. The 128-d sum is padded with zeros to 512 (cosine similarity
    is unchanged; the engine normalises)."""
    model = onnx.load(path)
    a = Adapter()
    v = a.op("Mul", [a.op("Add", ["kf_input", a.const([1.0])], before=True), a.const([127.5])], before=True)
    rgb = a.op("Gather", [v, a.const([2, 1, 0], np.int64)], axis=1, before=True)
    mean = np.array([0.485, 0.456, 0.406], np.float32).reshape(1, 3, 1, 1)
    std = np.array([0.229, 0.224, 0.225], np.float32).reshape(1, 3, 1, 1)
    scaled = a.op("Mul", [rgb, a.const(1.0 / (255.0 * std))], before=True)
    face = a.op("Sub", [scaled, a.const(mean / std)], before=True)
    last = np.iinfo(np.int64).min
    mirrored = a.op("Slice", [face, a.const([-1], np.int64), a.const([last], np.int64), a.const([3], np.int64),
                              a.const([-1], np.int64)], before=True)
    a.op("Concat", [face, mirrored], axis=0, hint="normalised", before=True)
    normalised = a.nodes_before[-1].output[0]

    # The network's last Reshape flattens the whole batch; its 2 x 128 values are the two embeddings.
    width = 128
    pair = a.op("Reshape", [model.graph.output[0].name, a.const([2, width], np.int64)])
    summed = a.op("ReduceSum", [pair], axes=[0], keepdims=1)
    padded = a.op("Concat", [summed, a.const(np.zeros((1, 512 - width), np.float32))], axis=1, hint="embedding")
    return wrap(model, a, float_input("kf_input", [1, 3, 112, 112]), normalised, [float_input(padded, [1, 512])])


FER_PLUS_ORDER = [6, 3, 5, 4, 0, 1, 2]  # neutral, happiness, surprise, sadness, anger, disgust, fear


def build_expression(path):
    """mini-Xception (FER2013, 7 probabilities, NHWC input in [-1, 1]) -> raw
    grey 1x1x64x64 input and eight FER+ logits (log-probabilities, contempt very
    low), so the engine's softmax gives back the network's probabilities."""
    model = onnx.load(path)
    a = Adapter()
    x = a.op("Add", [a.op("Mul", ["kf_input", a.const([2.0 / 255.0])], before=True), a.const([-1.0])], before=True)
    a.op("Reshape", [x, a.const([1, 64, 64, 1], np.int64)], hint="nhwc", before=True)
    nhwc = a.nodes_before[-1].output[0]

    probs = model.graph.output[0].name
    logp = a.op("Log", [a.op("Max", [probs, a.const([1e-12])])])
    ordered = a.op("Gather", [logp, a.const(FER_PLUS_ORDER, np.int64)], axis=1)
    logits = a.op("Concat", [ordered, a.const([[-60.0]])], axis=1, hint="logits")
    return wrap(model, a, float_input("kf_input", [1, 1, 64, 64]), nhwc, [float_input(logits, [1, 8])])


# ---------------------------------------------------------------- main

def build(src, out, detector="yunet"):
    det_key = "yunet" if detector == "yunet" else "scrfd"
    paths = {key: verified(src, key) for key in (det_key, "mobilefacenet", "mini_xception", "eye")}
    if det_key == "scrfd":
        print("modelkit: NOTE: the SCRFD 2.5G detector weights are licensed for non-commercial research only.")

    tmp = tempfile.mkdtemp(prefix=".modelkit-", dir=os.path.dirname(os.path.abspath(out)) or ".")
    try:
        os.makedirs(os.path.join(tmp, "buffalo_l"))
        det = build_yunet_detector(paths["yunet"]) if det_key == "yunet" else build_scrfd_detector(paths["scrfd"])
        onnx.save(det, os.path.join(tmp, OUTPUT_FILES["detector"]))
        onnx.save(build_recognizer(paths["mobilefacenet"]),
                  os.path.join(tmp, OUTPUT_FILES["recognizer"]))
        onnx.save(build_expression(paths["mini_xception"]), os.path.join(tmp, OUTPUT_FILES["expression"]))
        shutil.copyfile(paths["eye"], os.path.join(tmp, OUTPUT_FILES["eye"]))

        manifest = {"kit": "keepframe-modelkit 1", "detector": det_key, "files": {}}
        source_folder = os.path.abspath(src)
        downloads = downloaded_from(src)
        sources_of = {"detector": det_key, "recognizer": "mobilefacenet", "expression": "mini_xception", "eye": "eye"}
        for role, rel in OUTPUT_FILES.items():
            key = sources_of[role]
            entry = {
                "file": rel,
                "sha256": sha256(os.path.join(tmp, rel)),
                "source": SOURCES[key]["file"],
                "source_sha256": SOURCES[key]["sha256"],
                "licence": SOURCES[key]["licence"],
                "source_folder": source_folder,
            }
            if SOURCES[key]["file"] in downloads:
                entry["downloaded_from"] = downloads[SOURCES[key]["file"]]
            if "url" in SOURCES[key]:
                entry["origin"] = SOURCES[key]["url"]
            manifest["files"][role] = entry
        with open(os.path.join(tmp, "MANIFEST.json"), "w") as f:
            json.dump(manifest, f, indent=2)
            f.write("\n")

        # Replace the output folder's four files and manifest in one step each.
        for rel in list(OUTPUT_FILES.values()) + ["MANIFEST.json"]:
            target = os.path.join(out, rel)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            os.replace(os.path.join(tmp, rel), target)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def fetch_main(argv):
    p = argparse.ArgumentParser(prog="modelkit.py fetch",
                                description="Downloads the default model sources that are missing and verifies them.")
    p.add_argument("--dest", default=None, help="folder to download into (default: $KEEPFRAME_CACHE/model-sources)")
    args = p.parse_args(argv)
    dest = args.dest or download_cache()
    try:
        count = fetch(dest)
    except (KitError, OSError) as e:
        print(f"modelkit: {e}", file=sys.stderr)
        return 1
    print(f"modelkit: model sources in {dest}" + ("" if count else " (nothing to download)"))
    return 0


def locate_main(argv):
    p = argparse.ArgumentParser(prog="modelkit.py locate",
                                description="Prints the folder that holds every default source, verified.")
    p.add_argument("--src", default=None,
                   help="local folder, preferred (default: $KEEPFRAME_MODEL_SOURCES or ../shared/models/src)")
    folder = locate(p.parse_args(argv).src or default_sources())
    if folder is None:
        return 1
    print(folder)
    return 0


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv[:1] == ["fetch"]:
        return fetch_main(argv[1:])
    if argv[:1] == ["locate"]:
        return locate_main(argv[1:])
    p = argparse.ArgumentParser(description="Builds Keepframe's four model files from pretrained sources.")
    p.add_argument("--out", required=True, help="models folder to write")
    p.add_argument("--src", default=None,
                   help="folder of source files (default: $KEEPFRAME_MODEL_SOURCES or ../shared/models/src)")
    p.add_argument("--detector", choices=("yunet", "scrfd"), default="yunet",
                   help="yunet (MIT, default) or scrfd (SCRFD 2.5G, non-commercial weights)")
    args = p.parse_args(argv)
    src = args.src or default_sources()
    try:
        build(src, args.out, args.detector)
    except KitError as e:
        print(f"modelkit: {e}", file=sys.stderr)
        return 1
    print(f"modelkit: wrote {args.out} ({args.detector} detector)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
