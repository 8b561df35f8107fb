"""Fails when a QML file of the given folder other than Theme.qml writes a
colour or a font size itself instead of taking it from Theme."""
import re
import sys
from pathlib import Path

from check_report import report

LITERALS = [
    re.compile(r'"#[0-9A-Fa-f]{3,8}"'),                       # "#2962ff"
    re.compile(r'\bQt\.(rgba|rgb|hsla|hsl|hsva|hsv)\s*\('),   # Qt.rgba(0, 0, 0, 0.5)
    re.compile(r'\b(pixelSize|pointSize)\s*:\s*[0-9]'),       # font.pixelSize: 13
]


def main() -> int:
    folder = Path(sys.argv[1])
    files = sorted(p for p in folder.glob("*.qml") if p.name != "Theme.qml")
    if not files:
        print(f"no QML files in {folder}")
        return 1
    found = []
    for path in files:
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), start=1):
            if line.lstrip().startswith("//"):
                continue
            if any(p.search(line) for p in LITERALS):
                found.append(f"{path.name}:{number}: {line.strip()}")
    return report(found, f"{len(files)} files, {len(found)} colours or font sizes outside Theme.qml")


if __name__ == "__main__":
    sys.exit(main())
