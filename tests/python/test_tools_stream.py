"""What each tool does to a simulated camera's stream. Cameras run with
realtime=False and a fixed seed, so two cameras with the same settings give
the same events and a filtered stream can be checked against an unfiltered
one event for event."""

import numpy as np
import pytest

import vantrel_core as vc

import simcam  # noqa: E402
from toolcam import collect  # noqa: E402

sim = simcam.sim


def pair(width=64, height=32, **options):
    """Two cameras of the same scene: a reference and one to configure."""
    plain = simcam.open_camera("PLAIN", width=width, height=height, seed=11, **options)
    tuned = simcam.open_camera("TUNED", width=width, height=height, seed=11, **options)
    return plain, tuned


def keys(events):
    return list(zip(events["timestamp"].tolist(), events["x"].tolist(), events["y"].tolist(),
                    events["polarity"].tolist()))


def test_roi_delivers_exactly_the_window(sim):
    plain, tuned = pair(event_rate=2e5)
    assert tuned.get_tool_by_id("roi").apply({"enabled": True, "x": 10, "y": 4, "width": 20, "height": 8})
    reference = collect(plain, 20_000)
    got = collect(tuned, 20_000)
    inside = reference[(reference["x"] >= 10) & (reference["x"] < 30) & (reference["y"] >= 4) &
                       (reference["y"] < 12)]
    assert len(inside) > 100
    assert keys(got) == keys(inside)


def test_roi_refuses_a_window_off_the_sensor(sim):
    roi = simcam.open_camera("ROI", width=64, height=32).get_tool_by_id("roi")
    result = roi.apply({"enabled": True, "y": 20, "height": 13})
    assert (result.ok, result.error.param) == (False, "y")
    assert "y + height must not exceed 32" in result.error.message
    assert roi.get("enabled") is False


def test_event_trail_filter_drops_repeats_within_the_threshold(sim):
    plain, tuned = pair(width=16, height=16, event_rate=1e5)
    assert tuned.get_tool_by_id("event_trail_filter").apply({"enabled": True, "threshold_us": 1000})
    reference = collect(plain, 50_000)
    got = collect(tuned, 50_000)
    # The rule applied to the reference: pass when the pixel's previous
    # event (passed or not) is at least 1000 us back.
    last = {}
    expected = []
    for event in keys(reference):
        t, x, y, _ = event
        previous = last.get((x, y))
        if previous is None or t - previous >= 1000:
            expected.append(event)
        last[(x, y)] = t
    assert 0 < len(expected) < len(reference)
    assert keys(got) == expected


def test_event_rate_control_keeps_every_millisecond_under_the_limit(sim):
    plain, tuned = pair(event_rate=2e6)
    assert tuned.get_tool_by_id("event_rate_control").apply({"enabled": True, "max_event_rate": 300_000})
    reference = collect(plain, 40_000)
    got = collect(tuned, 40_000)
    per_ms = np.bincount((got["timestamp"] // 1000).astype(np.int64), minlength=40)
    assert per_ms.max() <= 300
    assert per_ms[1:].min() >= 290  # the busy stream uses its share
    # Thinned evenly: the kept events are a subset of the scene's, spread over each millisecond.
    assert set(keys(got)) <= set(keys(reference))
    late_half = np.count_nonzero((got["timestamp"] % 1000) >= 500)
    assert abs(late_half / len(got) - 0.5) < 0.05


def test_bias_raises_and_lowers_the_rate(sim):
    counts = []
    for on, off, gain in [(50, 50, 0.5), (20, 10, 0.8), (0, 0, 1.0), (-30, 0, 1.5), (-50, -50, 2.0)]:
        camera = simcam.open_camera(f"BIAS{len(counts)}", event_rate=1e5, seed=3)
        assert camera.get_tool_by_id("bias").apply({"threshold_on": on, "threshold_off": off, "gain": gain})
        counts.append(len(collect(camera, 50_000)))
    assert counts == sorted(counts) and len(set(counts)) == len(counts)
    assert counts[2] == pytest.approx(5000, rel=0.05)
    assert counts[0] == pytest.approx(5000 / 8, rel=0.1)
    assert counts[4] == pytest.approx(5000 * 8, rel=0.05)


def test_trigger_in_emits_both_edges_at_its_rate(sim):
    edges = {"OFF": [], "ON": []}
    for serial, enabled in (("OFF", False), ("ON", True)):
        camera = simcam.open_camera(serial, event_rate=1e4)
        trigger = camera.get_tool(vc.ToolType.TOOL_TRIGGER_IN)
        assert trigger.apply({"enabled": enabled, "channel": 6, "frequency_hz": 1000})
        into = edges[serial]
        callback = camera.register_trigger_in_callback(lambda e, into=into: into.append((e.polarity, e.timestamp, e.id)))
        collect(camera, 20_000, settle=lambda: not enabled or len(into) >= 40)
        assert camera.unregister_trigger_in_callback(callback)
    assert edges["OFF"] == []
    got = [edge for edge in edges["ON"] if edge[1] < 20_000]
    assert len(got) == 40
    assert got[0] == (1, 0, 6) and got[1] == (0, 500, 6)
    assert all(p != q for (p, _, _), (q, _, _) in zip(got, got[1:]))
    assert {i for _, _, i in got} == {6}
    assert set(np.diff([t for _, t, _ in got]).tolist()) == {500}


def test_sync_secondary_moves_the_time_base_at_the_next_start(sim):
    camera = simcam.open_camera("SYNC", event_rate=1e5)
    sync = camera.get_tool_by_id("sync")
    assert sync.apply({"mode": "secondary", "offset_us": 5_000_000})
    events = collect(camera, 5_010_000)
    assert events["timestamp"].min() >= 5_000_000
    assert len(events) > 500

    standalone = simcam.open_camera("SYNC2", event_rate=1e5)
    assert standalone.get_tool_by_id("sync").apply({"mode": "primary", "offset_us": 5_000_000})
    assert collect(standalone, 1000)["timestamp"].min() < 1000


def blocks_of(events):
    """Index of each event's block of 4x4 pixels on a 640x480 sensor."""
    return (events["y"].astype(np.int64) // 4) * 160 + events["x"] // 4


def flicker_blocks(events):
    """Blocks that carry the scene's 100 Hz flicker, found from the events:
    ON events in the 1.5 ms after the light's rise in many of its periods,
    and hardly any in a quiet stretch of the same length (a passing edge
    fires in a few periods only, a hot pixel at every phase)."""
    block = blocks_of(events)
    cycle = (events["timestamp"] // 10_000).astype(np.int64)
    phase = events["timestamp"] % 10_000
    on = events["polarity"] == 1

    def periods_with(selected):
        pairs = np.unique(block[selected] * 1000 + cycle[selected])
        return np.bincount(pairs // 1000, minlength=160 * 120)

    flash = periods_with(on & (phase < 1500))
    quiet = periods_with(on & (phase >= 2500) & (phase < 4000))
    return np.flatnonzero((flash >= 10) & (quiet <= 3))


@pytest.mark.parametrize("band, suppressed", [((90, 130), True), ((40, 60), False)])
def test_anti_flicker_suppresses_the_flickering_patch_inside_its_band(sim, band, suppressed):
    plain, tuned = pair(width=640, height=480, scene="default")
    assert tuned.get_tool_by_id("anti_flicker").apply(
        {"enabled": True, "low_frequency_hz": band[0], "high_frequency_hz": band[1]})
    reference = collect(plain, 300_000)
    got = collect(tuned, 300_000)
    patch = flicker_blocks(reference)
    assert len(patch) >= 300  # the patch is found in the reference stream
    in_reference = np.isin(blocks_of(reference), patch)
    in_got = np.isin(blocks_of(got), patch)
    # The first few periods pass while the detector locks on.
    patch_reference = np.count_nonzero(in_reference & (reference["timestamp"] >= 100_000))
    patch_got = np.count_nonzero(in_got & (got["timestamp"] >= 100_000))
    if suppressed:
        assert patch_got < patch_reference * 0.05
    else:
        # A region that misses every other flash of the 100 Hz light sees 50 Hz
        # now and then; it may be locked for a moment, nothing more.
        assert patch_got > patch_reference * 0.9
    # Moving bars, noise and hot pixels elsewhere are left alone.
    assert np.count_nonzero(~in_got) > np.count_nonzero(~in_reference) * 0.97
