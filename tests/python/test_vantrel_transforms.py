"""Each transform against a slow, plainly written reference on small data."""

import math

import numpy as np
import pytest

from vantrel import (
    EVENT_DTYPE,
    denoise,
    event_frame,
    hot_pixels,
    remove_hot_pixels,
    time_surface,
    to_xytp,
    voxel_grid,
)

W, H = 12, 9


def random_events(n, seed, *, width=W, height=H, span=50_000):
    rng = np.random.default_rng(seed)
    events = np.zeros(n, dtype=EVENT_DTYPE)
    events["x"] = rng.integers(0, width, n)
    events["y"] = rng.integers(0, height, n)
    events["polarity"] = rng.integers(0, 2, n)
    events["timestamp"] = np.sort(rng.integers(1_000, 1_000 + span, n))
    return events


def rows(events):
    return [(int(e["x"]), int(e["y"]), int(e["polarity"]), int(e["timestamp"])) for e in events]


@pytest.mark.parametrize("seed", [0, 1])
def test_event_frames(seed):
    events = random_events(600, seed)
    count = np.zeros((H, W), int)
    net = np.zeros((H, W), int)
    split = np.zeros((2, H, W), int)
    for x, y, p, _ in rows(events):
        count[y, x] += 1
        net[y, x] += 1 if p else -1
        split[1 if p else 0, y, x] += 1
    assert np.array_equal(event_frame(events, W, H), count)
    assert np.array_equal(event_frame(events, W, H, mode="polarity"), net)
    assert np.array_equal(event_frame(to_xytp(events), W, H, mode="split"), split)
    with pytest.raises(ValueError, match="mode"):
        event_frame(events, W, H, mode="sum")


@pytest.mark.parametrize("split", [False, True])
def test_time_surface(split):
    events = random_events(400, 2)
    tau, t_ref = 5_000.0, 40_000
    want = np.zeros((2, H, W) if split else (H, W))
    last = {}
    for x, y, p, t in rows(events):
        if t <= t_ref:
            last[(1 if p else 0) if split else 0, y, x] = t
    for (c, y, x), t in last.items():
        want[(c, y, x) if split else (y, x)] = math.exp(-(t_ref - t) / tau)
    got = time_surface(events, W, H, tau_us=tau, t_ref=t_ref, split_polarity=split)
    assert got.shape == want.shape and np.allclose(got, want, rtol=1e-12, atol=0)


@pytest.mark.parametrize("bins", [1, 2, 5])
def test_voxel_grid(bins):
    events = random_events(500, 3)
    ts = [int(t) for t in events["timestamp"]]
    t0, t1 = min(ts), max(ts)
    want = np.zeros((bins, H, W))
    for x, y, p, t in rows(events):
        b = (bins - 1) * (t - t0) / (t1 - t0)
        for k in range(bins):
            want[k, y, x] += (1 if p else -1) * max(0.0, 1.0 - abs(b - k))
    got = voxel_grid(events, W, H, bins)
    assert got.dtype == np.float32 and np.allclose(got, want, atol=1e-5)
    # Every event's weights add up to one: the grid keeps the net polarity.
    assert np.isclose(got.sum(), (2 * events["polarity"].astype(int) - 1).sum(), atol=1e-3)


def test_voxel_grid_of_events_at_one_instant_and_of_none():
    events = random_events(10, 4)
    events["timestamp"] = 7
    assert np.array_equal(voxel_grid(events, W, H, 3)[0], event_frame(events, W, H, mode="polarity"))
    assert not voxel_grid(events[:0], W, H, 3).any()
    with pytest.raises(ValueError, match="bins"):
        voxel_grid(events, W, H, 0)


def reference_denoise(events, dt, radius):
    """The background-activity filter as usually written: one pass over the
    stream, each pixel remembering its latest event."""
    last = {}
    kept = []
    for x, y, p, t in rows(events):
        latest = [last[(x + dx, y + dy)] for dy in range(-radius, radius + 1) for dx in range(-radius, radius + 1)
                  if (dx, dy) != (0, 0) and (x + dx, y + dy) in last]
        if latest and t - max(latest) <= dt:
            kept.append((x, y, p, t))
        last[(x, y)] = t
    return kept


@pytest.mark.parametrize(("dt", "radius", "seed"), [(500, 1, 5), (2_000, 1, 6), (300, 2, 7), (0, 1, 8)])
def test_denoise(dt, radius, seed):
    events = random_events(800, seed, span=20_000)
    events["timestamp"][100:110] = events["timestamp"][100]  # simultaneous events
    want = reference_denoise(events, dt, radius)
    assert rows(denoise(events, W, H, dt_us=dt, radius=radius)) == want
    assert 0 < len(want) < len(events)


def test_denoise_keeps_a_moving_edge_and_drops_isolated_noise():
    edge = [(x, 4, 1, 1_000 + 100 * x) for x in range(W)]
    noise = [(0, 0, 1, 1_050), (W - 1, H - 1, 0, 1_450)]
    events = np.array(sorted(edge + noise, key=lambda e: e[3]),
                      dtype=[("x", "u2"), ("y", "u2"), ("polarity", "u1"), ("timestamp", "u8")])
    kept = rows(denoise(events, W, H, dt_us=150))
    assert kept == edge[1:]  # the first edge event has nothing before it
    with pytest.raises(ValueError, match="time order"):
        denoise(events[::-1], W, H)


def test_hot_pixels():
    events = random_events(2_000, 9)
    hot = np.zeros(300, dtype=EVENT_DTYPE)
    hot["x"], hot["y"], hot["timestamp"] = 3, 2, np.arange(300)
    both = np.concatenate([events, hot])
    counts = np.zeros((H, W))
    for x, y, _, _ in rows(both):
        counts[y, x] += 1
    mean = counts.sum() / counts.size
    std = math.sqrt(((counts - mean) ** 2).sum() / counts.size)
    assert np.array_equal(hot_pixels(both, W, H, sigma=4), counts > mean + 4 * std)
    assert hot_pixels(both, W, H, sigma=4).sum() == 1
    cleaned = remove_hot_pixels(both, W, H, sigma=4)
    assert len(cleaned) == len(both) - counts[2, 3] and not ((cleaned["x"] == 3) & (cleaned["y"] == 2)).any()
    mask = np.zeros((H, W), bool)
    mask[0, 0] = True
    assert len(remove_hot_pixels(both, W, H, hot=mask)) == len(both) - counts[0, 0]
    with pytest.raises(ValueError, match="shape"):
        remove_hot_pixels(both, W, H, hot=mask.T)


def test_events_outside_the_sensor_are_refused():
    events = random_events(5, 10)
    events["x"][2] = W
    for transform in (event_frame, time_surface, denoise, hot_pixels):
        with pytest.raises(ValueError, match="outside"):
            transform(events, W, H)


def test_the_blocked_search_of_denoise_is_searchsorted():
    from vantrel.transforms import _sorted_search

    rng = np.random.default_rng(11)
    keys = np.sort(rng.integers(0, 1_000, 500))
    queries = np.sort(rng.integers(-100, 1_100, 300))
    for block in (1, 7, 64, 1_000):
        assert np.array_equal(_sorted_search(keys, queries, block), np.searchsorted(keys, queries))
