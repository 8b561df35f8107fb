#!/usr/bin/python3
"""Quality of the cull's judgements on real photographs (figures, not a test).

    bench/quality.py [--cull BIN] [--models DIR] [--photos DIR] [--work DIR] [--size WxH] [--seed N]
                     [--skip-eyes] [--skip-persons]

Eyes: every labelled face of PHOTOS/eyes/labels.tsv is matched to the face that
`keepframe-cull --inspect` reports in the same file (highest box IoU, at least
0.4); the eye-open scores give the AUC of open against closed and of open
against closed or downcast eyes.

Persons: a shoot is generated from PHOTOS/identities (every photograph becomes a
burst of three to five camera-sized frames with small shifts, zooms and
exposure changes, in shuffled order), culled for real into a temporary
library, and every face of the project database is matched to the person it
shows (the largest face of a one-person photograph, the boxes of
_groups/groups.json for the group photographs). It prints the persons found
against the true people and the pairwise precision and recall of the person
assignment.
"""
import argparse
import csv
import json
import os
import random
import re
import sqlite3
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MATCH_IOU = 0.4
LABELS_SCORED = ("open", "closed", "downcast")


# ---------------------------------------------------------------- maths

def iou(a, b):
    """Intersection over union of two [x, y, w, h] boxes; 0 for an empty union."""
    ix = max(0.0, min(a[0] + a[2], b[0] + b[2]) - max(a[0], b[0]))
    iy = max(0.0, min(a[1] + a[3], b[1] + b[3]) - max(a[1], b[1]))
    inter = ix * iy
    union = a[2] * a[3] + b[2] * b[3] - inter
    return inter / union if union > 0 else 0.0


def best_match(box, candidates, threshold=MATCH_IOU):
    """Index of the candidate box with the highest IoU with `box` (at least
    `threshold`), or None."""
    best, best_iou = None, threshold
    for i, c in enumerate(candidates):
        v = iou(box, c)
        if v >= best_iou and (best is None or v > best_iou):
            best, best_iou = i, v
    return best


def auc(positives, negatives):
    """P(positive score > negative score) + 0.5 P(tie); None without both kinds."""
    if not positives or not negatives:
        return None
    wins = 0.0
    for p in positives:
        for n in negatives:
            wins += 1.0 if p > n else 0.5 if p == n else 0.0
    return wins / (len(positives) * len(negatives))


def pairwise(truth, predicted):
    """Pairwise precision and recall of a clustering. `truth` and `predicted`
    give each item's true and predicted group; a predicted group of None (a
    face given to no person) is a group of its own. Returns (precision, recall,
    true pairs, predicted pairs); precision or recall is None without any
    predicted or true pair."""
    n = len(truth)
    tp = fp = fn = 0
    for i in range(n):
        for j in range(i + 1, n):
            same_true = truth[i] == truth[j]
            same_pred = predicted[i] is not None and predicted[i] == predicted[j]
            tp += same_true and same_pred
            fp += same_pred and not same_true
            fn += same_true and not same_pred
    precision = tp / (tp + fp) if tp + fp else None
    recall = tp / (tp + fn) if tp + fn else None
    return precision, recall, tp + fn, tp + fp


def fmt(v):
    return "n/a" if v is None else f"{v:.3f}"


# ---------------------------------------------------------------- the program

def inspect(cull, models, files):
    """Runs keepframe-cull --inspect; returns {file: [face objects]} and the
    error lines."""
    r = subprocess.run([cull, "--inspect", *files, "--models", models], capture_output=True, text=True)
    if r.returncode not in (0, 1) or not r.stdout:
        sys.exit(f"quality: keepframe-cull --inspect failed ({r.returncode}): {r.stderr.strip()}")
    faces, errors = {f: [] for f in files}, []
    for line in r.stdout.splitlines():
        obj = json.loads(line)
        if obj["kind"] == "face":
            faces[obj["file"]].append(obj)
        elif obj["kind"] == "error":
            errors.append(f"{obj['file']}: {obj['error']}")
    return faces, errors


# ---------------------------------------------------------------- eyes

def read_labels(eyes_dir):
    with open(os.path.join(eyes_dir, "labels.tsv"), newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    for r in rows:
        r["path"] = os.path.normpath(os.path.join(eyes_dir, r["file"]))
        r["box"] = [float(r[k]) for k in ("x", "y", "w", "h")]
    return rows


def eye_benchmark(cull, models, photos):
    eyes_dir = os.path.join(photos, "eyes")
    labels = [r for r in read_labels(eyes_dir) if r["label"] in LABELS_SCORED]
    files = sorted({r["path"] for r in labels})
    faces, errors = inspect(cull, models, files)
    scores = {label: [] for label in LABELS_SCORED}
    unmatched = []
    for r in labels:
        found = faces[r["path"]]
        k = best_match(r["box"], [f["box"] for f in found])
        if k is None:
            unmatched.append(f"{r['file']} ({r['x']}, {r['y']}) {r['label']}")
            continue
        scores[r["label"]].append(found[k]["eyeOpen"])
    print("Eye state (labelled faces of eyes/labels.tsv, scored by keepframe-cull --inspect)")
    print(f"  faces: {len(labels)} labelled, {len(labels) - len(unmatched)} matched "
          f"(open {len(scores['open'])}, closed {len(scores['closed'])}, downcast {len(scores['downcast'])})")
    for line in errors + [f"not matched: {u}" for u in unmatched]:
        print(f"  {line}")
    closed = auc(scores["open"], scores["closed"])
    both = auc(scores["open"], scores["closed"] + scores["downcast"])
    print(f"  AUC open vs closed:             {fmt(closed)}  (target >= 0.90)")
    print(f"  AUC open vs closed or downcast: {fmt(both)}  (target >= 0.85)")
    return closed, both


# ---------------------------------------------------------------- the shoot

def source_photos(identities):
    """(relative path, person or None for a group photograph) of every photograph."""
    out = []
    for person in sorted(os.listdir(identities)):
        folder = os.path.join(identities, person)
        if not os.path.isdir(folder):
            continue
        for name in sorted(os.listdir(folder)):
            if name.lower().endswith((".jpg", ".jpeg")):
                out.append((f"{person}/{name}", None if person.startswith("_") else person))
    return out


def make_shoot(identities, folder, size, seed):
    """Writes the frames and manifest.json into `folder` (reused when the
    manifest of the same sources, size and seed is there). Each frame records
    its source photograph and the map from source to frame pixels."""
    from PIL import Image, ImageEnhance, ImageOps

    sources = source_photos(identities)
    key = {"size": list(size), "seed": seed, "sources": [s for s, _ in sources]}
    manifest_path = os.path.join(folder, "manifest.json")
    if os.path.exists(manifest_path):
        with open(manifest_path) as f:
            manifest = json.load(f)
        if manifest.get("key") == key:
            return manifest
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(seed)
    order = list(sources)
    rng.shuffle(order)
    frames, number, seconds = [], 0, 14 * 3600
    for rel, person in order:
        src = ImageOps.exif_transpose(Image.open(os.path.join(identities, rel))).convert("RGB")
        w, h = src.size
        fw, fh = size if w >= h else (size[1], size[0])
        scale = min(fw / w, fh / h)
        sw, sh = round(w * scale), round(h * scale)
        ox, oy = (fw - sw) // 2, (fh - sh) // 2
        border = src.resize((1, 1), Image.BOX).getpixel((0, 0))
        canvas = Image.new("RGB", (fw, fh), border)
        canvas.paste(src.resize((sw, sh), Image.BICUBIC), (ox, oy))
        seconds += 40
        for _ in range(rng.randint(3, 5)):
            number += 1
            seconds += 1
            zoom = rng.uniform(1.0, 1.08)
            cw, ch = fw / zoom, fh / zoom
            cx = min(max((fw - cw) / 2 + rng.uniform(-0.03, 0.03) * cw, 0), fw - cw)
            cy = min(max((fh - ch) / 2 + rng.uniform(-0.03, 0.03) * ch, 0), fh - ch)
            frame = canvas.resize((fw, fh), Image.BILINEAR, box=(cx, cy, cx + cw, cy + ch))
            frame = ImageEnhance.Brightness(frame).enhance(rng.uniform(0.9, 1.1))
            name = f"DSC_{number:04d}.jpg"
            exif = Image.Exif()
            exif[0x0132] = f"2024:06:15 {seconds // 3600:02d}:{seconds // 60 % 60:02d}:{seconds % 60:02d}"
            frame.save(os.path.join(folder, name), quality=90, exif=exif)
            k = fw / cw  # source pixel p -> ((p * scale + offset) - crop) * k
            frames.append({"file": name, "source": rel, "person": person,
                           "map": [scale * k, (ox - cx) * k, (oy - cy) * k]})
    manifest = {"key": key, "frames": frames}
    tmp = manifest_path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(manifest, f, indent=1)
    os.replace(tmp, manifest_path)
    return manifest


def source_truth(cull, models, identities, sources):
    """True faces of every source photograph in its own pixels: {rel: [(person, [x, y, w, h])]}.
    One-person photographs: the largest face the engine detects; group
    photographs: the boxes of _groups/groups.json (unknown people left out)."""
    with open(os.path.join(identities, "_groups", "groups.json")) as f:
        groups = json.load(f)["groups"]
    truth = {}
    singles = [rel for rel, person in sources if person]
    faces, errors = inspect(cull, models, [os.path.join(identities, rel) for rel in singles])
    for line in errors:
        print(f"  {line}")
    for rel in singles:
        found = faces[os.path.join(identities, rel)]
        if found:
            largest = max(found, key=lambda f: f["box"][2] * f["box"][3])
            truth[rel] = [(rel.split("/")[0], largest["box"])]
    for name, g in groups.items():
        truth[f"_groups/{name}"] = [(face["person"], [face["box_xyxy"][0], face["box_xyxy"][1],
                                                      face["box_xyxy"][2] - face["box_xyxy"][0],
                                                      face["box_xyxy"][3] - face["box_xyxy"][1]])
                                    for face in g["faces"] if face["person"]]
    return truth


def run_cull(cull, models, shoot, library):
    env = dict(os.environ, KEEPFRAME_DATA_DIR=library)
    r = subprocess.run([cull, shoot, "--models", models, "--quiet"], capture_output=True, text=True, env=env)
    if r.returncode != 0:
        sys.exit(f"quality: the cull failed ({r.returncode}): {r.stderr.strip()}")
    persons = int(re.search(r"Persons:\s+(\d+)", r.stdout).group(1))
    folder = re.search(r"Project:\s+\d+ in (.+)", r.stdout).group(1).strip()
    db = sqlite3.connect(os.path.join(folder, "project.db"))
    rows = db.execute(r"""SELECT i.filename, f.x, f.y, f.w, f.h, f.person_id
                          FROM faces f JOIN images i ON i.id = f.image_id""").fetchall()
    db.close()
    faces = {}
    for filename, x, y, w, h, person in rows:
        faces.setdefault(filename, []).append(([x, y, w, h], person if person >= 0 else None))
    return persons, faces


def person_benchmark(cull, models, photos, work, size, seed):
    identities = os.path.join(photos, "identities")
    sources = source_photos(identities)
    people = sorted({p for _, p in sources if p})
    groups = sum(1 for _, p in sources if not p)
    print(f"Persons (a shoot generated from identities/: {len(sources) - groups} photographs of one of "
          f"{len(people)} people, {groups} group photographs)")
    manifest = make_shoot(identities, os.path.join(work, f"shoot-{size[0]}x{size[1]}-{seed}"), size, seed)
    truth = source_truth(cull, models, identities, sources)
    with tempfile.TemporaryDirectory(prefix="quality-library-", dir=work) as library:
        persons, found = run_cull(cull, models, os.path.join(work, f"shoot-{size[0]}x{size[1]}-{seed}"), library)
    true_ids, predicted, missed = [], [], {}
    for frame in manifest["frames"]:
        s, dx, dy = frame["map"]
        boxes = found.get(frame["file"], [])
        for person, (x, y, w, h) in truth.get(frame["source"], []):
            k = best_match([x * s + dx, y * s + dy, w * s, h * s], [b for b, _ in boxes])
            if k is None:
                missed[frame["source"]] = missed.get(frame["source"], 0) + 1
                continue
            true_ids.append(person)
            predicted.append(boxes[k][1])
    precision, recall, true_pairs, predicted_pairs = pairwise(true_ids, predicted)
    holding = {p for p in predicted if p is not None}
    print(f"  frames: {len(manifest['frames'])} of {size[0]} x {size[1]}; labelled faces in the project: "
          f"{len(true_ids)} ({sum(missed.values())} not found, {predicted.count(None)} given to no person)")
    if missed:
        print("  not found (no usable face at the labelled place): " +
              ", ".join(f"{rel} x{n}" for rel, n in sorted(missed.items())))
    print(f"  persons found: {persons} (true people: {len(people)}; persons holding the labelled faces: "
          f"{len(holding)})")
    for person in people:
        got = {}
        for t, p in zip(true_ids, predicted):
            if t == person:
                got[p] = got.get(p, 0) + 1
        split = ", ".join(f"P{p}: {n}" if p is not None else f"none: {n}"
                          for p, n in sorted(got.items(), key=lambda kv: -kv[1]))
        print(f"    {person:<15} {split}")
    print(f"  pairwise precision: {fmt(precision)}  recall: {fmt(recall)}  "
          f"(true pairs {true_pairs}, predicted pairs {predicted_pairs}; target: precision >= 0.95 "
          f"and persons within one of {len(people)})")
    return persons, len(people), precision, recall


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--cull", default=os.path.join(ROOT, "build", "app", "keepframe-cull"))
    p.add_argument("--models", default=os.path.join(ROOT, "build", "app", "models"))
    p.add_argument("--photos", default=os.path.normpath(os.path.join(ROOT, "..", "shared", "testphotos")))
    p.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "keepframe-quality"),
                   help="folder for the generated shoot (kept and reused) and the temporary library")
    p.add_argument("--size", default="6000x4000", help="frame size of the generated shoot")
    p.add_argument("--seed", type=int, default=20)
    p.add_argument("--skip-eyes", action="store_true")
    p.add_argument("--skip-persons", action="store_true")
    args = p.parse_args(argv)
    size = tuple(int(v) for v in args.size.lower().split("x"))
    for path in (args.cull, args.models, args.photos):
        if not os.path.exists(path):
            sys.exit(f"quality: {path} not found (build first; see --help)")
    os.makedirs(args.work, exist_ok=True)
    if not args.skip_eyes:
        eye_benchmark(args.cull, args.models, args.photos)
    if not args.skip_persons:
        person_benchmark(args.cull, args.models, args.photos, args.work, size, args.seed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
