"""The viewer in a real browser: Debian's headless Chromium, driven by
Selenium through Debian's chromedriver (nothing is downloaded), against
simulated cameras and recordings. The pictures are read back from the
canvas."""

import http.server
import math
import os
import threading
import time

import numpy as np
import pytest
from PIL import Image

import vantrel_core as vc
import vantrel_sim as vs
from simcam import make_events, sim  # noqa: F401
from viewerpage import playback, scripted_view, square  # noqa: F401

CHROMEDRIVER = "/usr/bin/chromedriver"
CHROMIUM = "/usr/bin/chromium"
W, H = 64, 48

webdriver = pytest.importorskip("selenium.webdriver", reason="selenium is not installed (./dev installs it)")
if not (os.path.exists(CHROMEDRIVER) and os.path.exists(CHROMIUM)):
    pytest.skip("Debian's chromium and chromium-driver are not installed (./dev installs them when run as root)",
                allow_module_level=True)

from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.ui import Select, WebDriverWait  # noqa: E402


@pytest.fixture
def browser(chromium):
    """The browser; the page must log no error (a script that threw, a file missing)."""
    chromium.get_log("browser")
    yield chromium
    errors = [entry["message"] for entry in chromium.get_log("browser") if entry["level"] == "SEVERE"]
    assert not errors


@pytest.fixture(scope="module")
def chromium(tmp_path_factory):
    downloads = tmp_path_factory.mktemp("downloads")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--window-size=1400,1000", "--disable-gpu", "--disable-dev-shm-usage"):
        options.add_argument(argument)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")   # Chromium's sandbox refuses to run as root
    # The browser is not ours to instrument: a sanitizer preloaded for the
    # modules under test stays out of it.
    env = {name: value for name, value in os.environ.items() if name not in ("LD_PRELOAD", "PYTHONMALLOC")}
    driver = webdriver.Chrome(service=webdriver.ChromeService(CHROMEDRIVER, env=env), options=options)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)})
    driver.downloads = downloads
    yield driver
    driver.quit()


def until(driver, script, timeout=15):
    """Waits until the JavaScript expression is truthy; its value."""
    return WebDriverWait(driver, timeout, poll_frequency=0.05).until(lambda d: d.execute_script("return " + script))


def open_page(driver, view):
    driver.get(view.url)
    until(driver, "window.vantrelViewer && window.vantrelViewer.state.info !== null")


def canvas(driver):
    """The picture canvas as an (height, width, 4) uint8 array."""
    data = driver.execute_script("""
        const c = document.getElementById('picture');
        return [c.width, c.height, Array.from(c.getContext('2d').getImageData(0, 0, c.width, c.height).data)];""")
    width, height, pixels = data
    return np.array(pixels, dtype=np.uint8).reshape(height, width, 4)


def colours(driver):
    return {k: np.array(v, dtype=np.uint8) for k, v in driver.execute_script(
        "return window.vantrelViewer.PALETTE").items()}


def type_into(driver, element_id, text):
    field = driver.find_element(By.ID, element_id)
    field.clear()
    field.send_keys(text, Keys.TAB)


def test_the_canvas_shows_the_pushed_pattern(browser, scripted_view):
    open_page(browser, scripted_view)
    type_into(browser, "window-ms", "100")
    until(browser, "window.vantrelViewer.state.settings.window_us === 100000")
    assert vs.push_batch("VIEW", np.concatenate([square(4, 6, 5, 1, 1_000), square(30, 20, 3, 0, 1_500)]))
    until(browser, "window.vantrelViewer.state.frame && window.vantrelViewer.state.frame.lit === 34")
    palette = colours(browser)
    expected = np.empty((H, W, 3), dtype=np.uint8)
    expected[:] = palette["none"]
    expected[6:11, 4:9] = palette["on"]
    expected[20:23, 30:33] = palette["off"]
    picture = canvas(browser)
    assert (picture[..., :3] == expected).all() and (picture[..., 3] == 255).all()

    Select(browser.find_element(By.ID, "polarity")).select_by_value("on")
    until(browser, "window.vantrelViewer.state.frame.polarity === 1")
    expected[20:23, 30:33] = palette["none"]
    assert (canvas(browser)[..., :3] == expected).all()

    browser.find_element(By.CSS_SELECTOR, 'input[name="mode"][value="surface"]').click()
    until(browser, "window.vantrelViewer.state.frame.kind === 1")
    level = round(math.exp(-(1_500 - 1_000) / (100_000 / 4)) * 255)   # tau is a quarter of the window
    surface = browser.execute_script(f"return window.vantrelViewer.surfaceColour({level})")
    expected[6:11, 4:9] = surface
    assert (canvas(browser)[..., :3] == expected).all()


def test_dragging_on_the_picture_sets_the_roi(browser, scripted_view):
    open_page(browser, scripted_view)
    overlay = browser.find_element(By.ID, "overlay")
    rect = browser.execute_script("return arguments[0].getBoundingClientRect().toJSON()", overlay)
    assert rect["width"] >= 4 * W   # the picture is drawn larger than the sensor

    def offset(sx, sy):   # the middle of sensor pixel (sx, sy), from the overlay's centre
        return (round((sx + 0.5) * rect["width"] / W - rect["width"] / 2),
                round((sy + 0.5) * rect["height"] / H - rect["height"] / 2))

    start, end = offset(10, 8), offset(41, 27)
    (ActionChains(browser).move_to_element_with_offset(overlay, *start).click_and_hold()
     .move_to_element_with_offset(overlay, (start[0] + end[0]) // 2, (start[1] + end[1]) // 2)
     .move_to_element_with_offset(overlay, *end).release().perform())
    until(browser, "document.getElementById('result-roi').textContent === 'roi: accepted'")
    roi = scripted_view.source.camera.get_tool_by_id("roi")
    window = {"enabled": True, "x": 10, "y": 8, "width": 32, "height": 20}
    assert {name: roi.get(name) for name in window} == window
    # The page shows what the driver reports, in the tool's controls.
    until(browser, "document.getElementById('param-roi-width').value === '32'")
    shown = {name: browser.find_element(By.ID, f"param-roi-{name}") for name in window}
    assert shown["enabled"].is_selected()
    assert {n: int(e.get_attribute("value")) for n, e in shown.items() if n != "enabled"} == \
        {"x": 10, "y": 8, "width": 32, "height": 20}


def test_a_refused_value_shows_the_refusal(browser, scripted_view):
    open_page(browser, scripted_view)
    type_into(browser, "param-bias-threshold_on", "51")
    result = until(browser, "document.getElementById('result-bias').textContent")
    assert result == "bias.threshold_on refused by the camera: value 51 is outside the range -50..50"
    assert "refused" in browser.find_element(By.ID, "result-bias").get_attribute("class")
    newest = browser.find_element(By.CSS_SELECTOR, "#message-list li")
    assert newest.text == result and newest.get_attribute("class") == "refused"
    assert scripted_view.source.camera.get_tool_by_id("bias").get("threshold_on") == 0
    type_into(browser, "param-bias-threshold_on", "-7")
    until(browser, "document.getElementById('result-bias').textContent === 'bias: accepted'")
    assert scripted_view.source.camera.get_tool_by_id("bias").get("threshold_on") == -7


def test_record_from_the_page(browser, scripted_view, tmp_path):
    open_page(browser, scripted_view)
    type_into(browser, "record-name", "from-page")
    browser.find_element(By.ID, "record").click()
    until(browser, "document.getElementById('record-state').textContent.startsWith('recording to')")
    sent = [make_events(1_000, start=k * 1_000, width=W, height=H) for k in range(3)]
    for batch in sent:
        assert vs.push_batch("VIEW", batch)
    until(browser, "window.vantrelViewer.state.status.recording.events === 3000")
    browser.find_element(By.ID, "record").click()
    path = tmp_path / "from-page.vtr"
    state = until(browser, f"document.getElementById('record-state').textContent.startsWith('{path}:') && "
                           "document.getElementById('record-state').textContent")
    assert state.startswith(f"{path}: 3,000 events, ")
    reader = vc.EvFileReader.create_file_reader(str(path))
    assert reader.open() and (reader.read_events(10_000) == np.concatenate(sent)).all()


def test_snapshot_saves_the_picture_as_png(browser, scripted_view):
    open_page(browser, scripted_view)
    assert vs.push_batch("VIEW", square(10, 10, 7, 1, 500))
    until(browser, "window.vantrelViewer.state.frame && window.vantrelViewer.state.frame.lit === 49")
    browser.find_element(By.ID, "snapshot").click()
    saved = browser.downloads / "VIEW-501us.png"
    deadline = time.monotonic() + 15
    while not saved.exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(0.2)
    with Image.open(saved) as png:
        assert png.size == (W, H)
        assert (np.asarray(png.convert("RGBA")) == canvas(browser)).all()


def test_a_page_from_another_origin_cannot_drive_the_camera(chromium, scripted_view):
    browser = chromium   # whose console reports the refused requests
    port = scripted_view.viewer.port
    page = f"""<!doctype html><script>
      window.report = {{opened: false, closed: false, fetched: null}};
      const ws = new WebSocket("ws://127.0.0.1:{port}/ws");
      ws.onopen = () => {{ window.report.opened = true; ws.send('{{"type": "stop"}}'); }};
      ws.onclose = () => {{ window.report.closed = true; }};
      fetch("http://127.0.0.1:{port}/").then(r => r.text()).then(
        t => {{ window.report.fetched = "read " + t.length; }},
        e => {{ window.report.fetched = "failed"; }});
    </script>"""

    class Elsewhere(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            body = page.encode()
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    other = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Elsewhere)
    threading.Thread(target=other.serve_forever, daemon=True).start()
    try:
        browser.get(f"http://localhost:{other.server_address[1]}/")
        report = until(browser, "window.report.closed && window.report.fetched !== null && window.report")
    finally:
        other.shutdown()
        other.server_close()
    assert report == {"opened": False, "closed": True, "fetched": "failed"}
    assert scripted_view.viewer.refused == 2 and not scripted_view.viewer.clients
    assert vs.push_batch("VIEW", make_events(1, width=W, height=H))   # still streaming


def test_the_time_slider_seeks_in_a_recording(browser, playback):
    open_page(browser, playback)
    assert not browser.find_element(By.ID, "playback").get_attribute("hidden")
    assert browser.find_element(By.ID, "stream").get_attribute("hidden")
    palette = colours(browser)

    def seek(t_us):
        browser.execute_script("""
            const slider = document.getElementById('time');
            slider.value = arguments[0];
            slider.dispatchEvent(new Event('input'));""", t_us)
        until(browser, f"window.vantrelViewer.state.frame && window.vantrelViewer.state.frame.end === {t_us}")
        return canvas(browser)[..., :3]

    lit = seek(1_000_001) != palette["none"]
    assert lit.any(axis=2)[2:6, 2:6].all() and lit.any(axis=2).sum() == 16
    picture = seek(3_000_001)
    assert (picture[30:36, 40:46] == palette["off"]).all() and (picture != palette["none"]).any(axis=2).sum() == 36
    assert browser.find_element(By.ID, "time-label").text.endswith("of 2.000 s")
