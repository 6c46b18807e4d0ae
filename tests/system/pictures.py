# SPDX-License-Identifier: MIT
"""What a window shows, in a screenshot (PIL): pixels of an exact colour in a region, a second after the window
appeared. llvmpipe draws the unlit spheres, the lines and raylib's bitmap font unfiltered, so colours match exactly
where nothing is blended; the scene moves, so the thresholds are lower bounds, about a third of what a typical frame
shows."""
import io
import subprocess

from PIL import Image, ImageFilter, ImageStat

from harness import Failed

TITLE = "QUENDRA / Orvan Engine \u2014 Live GPU Window (Raylib/OpenGL)"
BACKGROUND = (10, 10, 18)


def count(image, box, colour):
    """Pixels of exactly COLOUR in BOX (x, y, width, height) of IMAGE."""
    x, y, w, h = box
    colours = image.convert("RGB").crop((x, y, x + w, y + h)).getcolors(w * h) or []
    return sum(n for n, c in colours if c == colour)


def assert_scene(image):
    """What the 1280x720 contents of the window show."""
    title = count(image, (18, 18, 700, 24), (120, 200, 255))
    fps = sum(count(image, (1198, 18, 80, 24), c) for c in ((0, 158, 47), (255, 161, 0), (230, 41, 55)))
    checks = {
        "background above the scene": count(image, (0, 80, 1280, 60), BACKGROUND) == 76800,
        f"title overlay at (20, 20) ({title} px)": title >= 1000,
        "title colour nowhere else": count(image, (0, 0, 1280, 720), (120, 200, 255)) == title,
        "device overlay at (20, 50)": count(image, (18, 48, 440, 18), (180, 180, 180)) >= 500,
        # Lime from 30 frames per second, orange from 15, red below: a loaded
        # machine or the sanitizer build may show any of them.
        f"FPS counter at (1200, 20) ({fps} px)": fps >= 100,
        "solid spheres": count(image, (0, 100, 1280, 620), (100, 200, 255)) >= 5000,
        "wire cube": count(image, (0, 100, 1280, 620), (255, 180, 50)) >= 500,
    }
    failed = [name for name, holds in checks.items() if not holds]
    assert not failed, f"the scene is not as drawn: {', '.join(failed)}"


def contents_rect(image):
    """(x, y, width, height) of the window's contents on a whole screen: the box around the scene's background
    colour, after an opening (5x5) drops lone pixels of it elsewhere (in a wallpaper)."""
    rgb = image.convert("RGB")
    mask = Image.new("L", rgb.size, 0)
    mask.putdata([255 if p == BACKGROUND else 0 for p in rgb.getdata()])
    box = mask.filter(ImageFilter.MinFilter(5)).filter(ImageFilter.MaxFilter(5)).getbbox()
    if box is None:
        raise Failed("no pixel of the scene's background on the screen")
    return box[0], box[1], box[2] - box[0], box[3] - box[1]


def read_title(image, box):
    """The text tesseract reads in BOX of IMAGE (scaled up three times, grey)."""
    x, y, w, h = box
    image.convert("L").crop((x, y, x + w, y + h)).resize((3 * w, 3 * h)).save(png := io.BytesIO(), "PNG")
    read = subprocess.run(["tesseract", "stdin", "stdout", "--psm", "7"], input=png.getvalue(), capture_output=True)
    return " ".join(read.stdout.decode(errors="replace").split())


def title_bar_checks(image, box, close):
    """A title bar in BOX showing the title ("Orvan Engine" read exactly: OCR may misread a theme's em dash, slashes,
    brackets) and a close button at CLOSE (x, y): the 16x16 square there is not plain, its grey levels' standard
    deviation (0 on a plain bar) at least 0.05."""
    text = read_title(image, box)
    assert "Orvan Engine" in text, f"the title bar at {box} shows the title (read: {text!r})"
    if close is not None:
        cx, cy = close
        square = image.convert("L").crop((cx - 8, cy - 8, cx + 8, cy + 8))
        deviation = ImageStat.Stat(square).stddev[0] / 255
        assert deviation >= 0.05, f"a close button drawn at {close} (grey deviation {deviation:.3f})"
