"""Runs the screenshot tool into a temporary folder and checks every picture:
present, not empty, and not a single flat colour."""
import subprocess
import sys
import tempfile
from pathlib import Path

from PIL import Image

from check_report import report

EXPECTED = ["01-home-empty", "02-enhance-empty", "03-cull-empty", "04-cull-running", "05-results-time",
            "06-results-category", "06a-people-strip", "07-lightbox", "07a-lightbox-face-info", "07b-keys",
            "08-cluster-popup",
            "08a-compare-fit",
            "08b-compare-faces", "08c-compare-info", "09-for-review", "09a-marks-grid", "09b-filter-empty",
            "10a-export-folder", "10b-export-new-folder", "10c-export-running", "10-export-result",
            "11-xmp-dialog", "12-xmp-result", "13-skipped-files", "14-home-projects", "15-enhance-grid",
            "16-enhance-running", "17-enhance-viewer", "18-deliver-no-token", "19-deliver-delivered",
            "20-deliver-over-quota", "21-deliver-error", "22-deliver-cover-picker", "23-deliver-gallery-settings",
            "24-deliver-topup", "25-about", "26-about-end", "27-account"]


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
        return report(bad, f"{len(EXPECTED) - len(bad)} passed, {len(bad)} failed")


if __name__ == "__main__":
    sys.exit(main())
