"""Pictures rendered from events, checked pixel by pixel against the events."""

import io

import numpy as np
import pytest
from PIL import Image

from vantrel import render
from vantrel.progress import ProgressBar

from vantrel import EVENT_DTYPE, make_events


def events(*rows):
    return np.array(list(rows), dtype=EVENT_DTYPE)


def test_polarity_frame_follows_net_polarity():
    ev = events((1, 0, 1, 10), (1, 0, 1, 20), (2, 1, 0, 30), (3, 2, 1, 40), (3, 2, 0, 50),
                (0, 3, 0, 60), (0, 3, 0, 70), (0, 3, 0, 80))
    frame = render.polarity_frame(ev, 4, 4)
    assert frame.shape == (4, 4) and frame.dtype == np.uint8
    assert frame[0, 1] == 255          # two ON events
    assert frame[1, 2] == 64           # one OFF event
    assert frame[2, 3] == 128          # ON and OFF cancel
    assert frame[3, 0] == 0            # three OFF events, clipped
    untouched = np.ones((4, 4), bool)
    untouched[[0, 1, 2, 3], [1, 2, 3, 0]] = False
    assert (frame[untouched] == render.BACKGROUND).all()


def test_accumulate_matches_a_python_count():
    rng = np.random.default_rng(3)
    n = 5000
    ev = np.zeros(n, dtype=EVENT_DTYPE)
    ev["x"] = rng.integers(0, 32, n)
    ev["y"] = rng.integers(0, 16, n)
    ev["polarity"] = rng.integers(0, 2, n)
    ev["timestamp"] = np.arange(n)
    expected = np.zeros((16, 32), np.int32)
    for e in ev:
        expected[e["y"], e["x"]] += 1 if e["polarity"] else -1
    assert (render.accumulate(ev, 32, 16) == expected).all()


def test_time_surface_decays_from_the_latest_event():
    ev = events((0, 0, 1, 1000), (0, 0, 0, 5000), (1, 0, 1, 9000), (2, 0, 1, 20000))
    surface = render.time_surface(ev, 3, 2, tau_us=1000.0, t_ref=10000)
    assert surface[0, 0] == pytest.approx(np.exp(-5.0))   # latest event of that pixel wins
    assert surface[0, 1] == pytest.approx(np.exp(-1.0))
    assert surface[0, 2] == 0.0                            # after t_ref: ignored
    assert (surface[1] == 0.0).all()
    image = render.time_surface_image(ev, 3, 2, tau_us=1000.0)
    assert image[0, 2] == 255 and image[1, 0] == 0


def test_event_rate_bins():
    ev = events(*[(0, 0, 1, t) for t in (100, 150, 900, 1100, 2999)])
    starts, rates = render.event_rate(ev, 1000)
    assert starts.tolist() == [100, 1100, 2100]
    assert rates.tolist() == [3000.0, 1000.0, 1000.0]
    s, r = render.event_rate(events(), 1000)
    assert len(s) == len(r) == 0


def test_rate_plot_draws_the_curve(tmp_path):
    ev = events(*[(0, 0, 1, t) for t in range(0, 100000, 7)])
    image = render.rate_plot(ev, 5000, size=(400, 200))
    assert image.size == (400, 200)
    pixels = np.asarray(image)
    assert ((pixels == (31, 119, 180)).all(axis=2)).sum() > 100
    path = render.save_png(image, tmp_path / "rate.png")
    assert Image.open(path).size == (400, 200)


def test_png_round_trip_keeps_pixels(tmp_path):
    ev = events((1, 1, 1, 5), (2, 1, 0, 6))
    frame = render.polarity_frame(ev, 4, 3)
    path = render.save_png(frame, tmp_path / "frame.png")
    assert (np.asarray(Image.open(path)) == frame).all()


def test_bad_input_is_refused():
    with pytest.raises(TypeError):
        render.polarity_frame(np.zeros(3), 4, 4)
    with pytest.raises(ValueError):
        render.polarity_frame(events((4, 0, 1, 0)), 4, 4)
    with pytest.raises(ValueError):
        render.time_surface(events(), 4, 4, tau_us=0)
    with pytest.raises(TypeError):
        render.save_png(np.zeros((2, 2), np.float32), "x.png")


def test_event_dtype_is_the_modules():
    import vantrel_core as vc
    import vantrel_sim as vs

    vs.reset()
    try:
        vs.add_camera("DT", scene="scripted", realtime=False)
        camera = vc.EvCameraService().open("DT")
        camera.start()
        pushed = make_events(x=[1, 2], y=3, polarity=[0, 1], timestamp=[5, 6])
        assert vs.push_batch("DT", pushed)
        got = camera.get_next_batch()
        assert got.dtype == EVENT_DTYPE and (got == pushed).all()
        camera.close()
    finally:
        vs.reset()
        vs.add_camera(vs.DEFAULT_SERIAL)


def test_progress_bar_without_terminal():
    out = io.StringIO()
    with ProgressBar("work", 4, stream=out, width=4) as bar:
        for i in range(1, 5):
            bar.update(i)
    lines = out.getvalue().splitlines()
    assert lines[-1] == "work [####] 100%"
    assert len(lines) == 4
