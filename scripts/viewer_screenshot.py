"""Takes the README's screenshot of `vantrel view` (docs/viewer.png): the
default simulated camera, live, with a region of interest and a recording in
progress, in Debian's headless Chromium.

Run: .venv/bin/python scripts/viewer_screenshot.py [OUT.png]
"""

import os
import sys
import tempfile
import time

from selenium import webdriver

import vantrel_sim as vs
from vantrel.viewer.server import ViewerThread
from vantrel.viewer.sources import open_source


def main() -> None:
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "docs", "viewer.png")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--window-size=1400,1040", "--disable-gpu", "--hide-scrollbars"):
        options.add_argument(argument)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")
    with tempfile.TemporaryDirectory() as folder:
        with ViewerThread(open_source(vs.DEFAULT_SERIAL, out_dir=folder)) as view:
            camera = view.source.camera
            camera.get_tool_by_id("roi").apply({"enabled": True, "x": 40, "y": 30, "width": 560, "height": 420})
            view.source.start_recording("run-1")
            driver = webdriver.Chrome(service=webdriver.ChromeService("/usr/bin/chromedriver"), options=options)
            try:
                driver.get(view.url)
                time.sleep(6)
                driver.save_screenshot(out)
            finally:
                driver.quit()
    print("wrote", out)


if __name__ == "__main__":
    main()
