#!/usr/bin/env python3
"""Draws Keepframe's icon: the scalable SVG and PNGs of the usual sizes, from
one description of its shapes (on a 256-unit square).

    make_icon.py OUT_DIR [SIZE...]

writes OUT_DIR/scalable/apps/keepframe.svg and OUT_DIR/NxN/apps/keepframe.png,
the layout of an icon theme's folder (hicolor)."""
import os
import sys

from PIL import Image, ImageDraw

# The window's own colours (Theme.qml): the workspace canvas and panel, ash,
# paper and the accent.
CANVAS = "#14110f"
PANEL = "#1e1a17"
ASH = "#6b655e"
PAPER = "#f2ece3"
ACCENT = "#e8963c"

# A shoot's frames stacked on a tile, the kept one marked with a tick.
SHAPES = [
    ("rect", dict(x=16, y=16, w=224, h=224, r=52, fill=PANEL)),
    ("rect", dict(x=84, y=52, w=124, h=96, r=10, fill=ASH)),
    ("rect", dict(x=48, y=86, w=136, h=104, r=10, fill=PAPER)),
    ("rect", dict(x=62, y=100, w=108, h=76, r=4, fill=CANVAS)),
    ("circle", dict(cx=184, cy=184, r=42, fill=ACCENT)),
    ("tick", dict(points=[(164, 185), (179, 200), (206, 170)], width=11, stroke=CANVAS)),
]
SIZES = [16, 24, 32, 48, 64, 128, 256]


def svg_text():
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">']
    for kind, s in SHAPES:
        if kind == "rect":
            parts.append(f'  <rect x="{s["x"]}" y="{s["y"]}" width="{s["w"]}" height="{s["h"]}" '
                         f'rx="{s["r"]}" fill="{s["fill"]}"/>')
        elif kind == "circle":
            parts.append(f'  <circle cx="{s["cx"]}" cy="{s["cy"]}" r="{s["r"]}" fill="{s["fill"]}"/>')
        elif kind == "tick":
            points = " ".join(f"{x},{y}" for x, y in s["points"])
            parts.append(f'  <polyline points="{points}" fill="none" stroke="{s["stroke"]}" '
                         f'stroke-width="{s["width"]}" stroke-linecap="round" stroke-linejoin="round"/>')
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def png(size):
    # Drawn four times larger and scaled down, which smooths the edges.
    scale = size * 4 / 256
    image = Image.new("RGBA", (size * 4, size * 4), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    for kind, s in SHAPES:
        if kind == "rect":
            box = [s["x"] * scale, s["y"] * scale, (s["x"] + s["w"]) * scale, (s["y"] + s["h"]) * scale]
            draw.rounded_rectangle(box, radius=s["r"] * scale, fill=s["fill"])
        elif kind == "circle":
            cx, cy, r = s["cx"] * scale, s["cy"] * scale, s["r"] * scale
            draw.ellipse([cx - r, cy - r, cx + r, cy + r], fill=s["fill"])
        elif kind == "tick":
            points = [(x * scale, y * scale) for x, y in s["points"]]
            width = max(1, round(s["width"] * scale))
            draw.line(points, fill=s["stroke"], width=width, joint="curve")
            for x, y in (points[0], points[-1]):  # round caps
                draw.ellipse([x - width / 2, y - width / 2, x + width / 2, y + width / 2], fill=s["stroke"])
    return image.resize((size, size), Image.LANCZOS)


def write_replacing(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    temp = path + ".tmp"
    with open(temp, "wb") as f:
        f.write(data)
    os.replace(temp, path)


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    out = argv[1]
    sizes = [int(a) for a in argv[2:]] or SIZES
    write_replacing(os.path.join(out, "scalable", "apps", "keepframe.svg"), svg_text().encode("utf-8"))
    for size in sizes:
        path = os.path.join(out, f"{size}x{size}", "apps", "keepframe.png")
        temp = path + ".tmp.png"
        os.makedirs(os.path.dirname(path), exist_ok=True)
        png(size).save(temp, "PNG")
        os.replace(temp, path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
