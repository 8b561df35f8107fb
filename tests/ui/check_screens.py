"""Runs the screenshot tool into a temporary folder and checks every picture:
present, not empty, and not a single flat colour."""
import subprocess
import sys
import tempfile
from pathlib import Path

from PIL import Image

EXPECTED = ["01-cull-empty", "02-cull-running", "03-results-time", "04-results-category", "05-lightbox",
            "06-cluster-popup", "07-for-review", "08-export-result"]


def main() -> int:
    tool = sys.argv[1]
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([tool, out], check=True, stdout=subprocess.DEVNULL)
        bad = []
        for name in EXPECTED:
            path = Path(out) / (name + ".png")
            if not path.is_file() or path.stat().st_size == 0:
                bad.append(name + ": missing or empty")
                continue
            with Image.open(path) as image:
                extrema = image.convert("RGB").getextrema()
                if all(low == high for low, high in extrema):
                    bad.append(name + ": a single flat colour")
        for line in bad:
            print(line)
        print(f"{len(EXPECTED) - len(bad)} passed, {len(bad)} failed")
        return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
