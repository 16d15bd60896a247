"""Compressed recordings seen from Python: what write_recording, live
recordings, vantrel.record and `vantrel record --compression` store, and
that every read gives back the same events as from an uncompressed file."""

import numpy as np
import pytest

import vantrel
import vantrel_core as vc
import vantrel_sim as vs
from recfiles import damage_event_blocks, event_block_spans, same, scene_events, write
from simcam import sim  # noqa: F401
from vantrel import cli


def file_version(path):
    return int.from_bytes(open(path, "rb").read()[8:10], "little")


def open_reader(path):
    reader = vc.EvFileReader.create_file_reader(str(path))
    assert reader is not None and reader.open()
    return reader


@pytest.fixture
def process_choice():
    """The process-wide compression, put back afterwards."""
    was = vs.recording_compression()
    try:
        yield
    finally:
        vs.set_recording_compression(was)


def gapped_scene(n):
    """Scene events with gaps too long for a packed word: blocks with escaped
    events among their words."""
    events = scene_events(n, seed=3)
    for k in (n // 3, n // 2, n // 2 + 1):
        events["timestamp"][k:] += 1 << 40
    return events


def test_every_read_of_a_compressed_file_matches_the_uncompressed_one(tmp_path):
    events = gapped_scene(300_000)
    plain = write(tmp_path / "plain.vtr", events, compression="none")
    packed = write(tmp_path / "packed.vtr", events, compression="zstd")
    assert (file_version(plain), file_version(packed)) == (1, 2)
    a, b = open_reader(plain), open_reader(packed)
    assert b.get_event_count() == a.get_event_count() == len(events)
    assert same(b.read_events(len(events)), events)
    t0, t1 = int(events["timestamp"][1000]), int(events["timestamp"][250_000])
    for read in (lambda r: r.read_events_from_event_index(123_457, 54_321),
                 lambda r: r.read_events_by_time_interval_from_timestamp(t0, t1 - t0),
                 lambda r: r.read_events_by_time_interval_from_event_index(99_000, t1 - t0),
                 lambda r: r.read_events_from_timestamp(int(events["timestamp"][200_001]), 9999)):
        x, y = read(a), read(b)
        assert len(x) > 0 and x.tobytes() == y.tobytes()
    for t in (t0, t1, int(events["timestamp"][-1])):
        assert a.seek_to_timestamp(t) and b.seek_to_timestamp(t)
        assert a.get_current_event_index() == b.get_current_event_index()
        assert a.read_events(777).tobytes() == b.read_events(777).tobytes()


def test_compressed_files_are_smaller_and_damage_stays_within_its_block(tmp_path):
    events = scene_events(400_000, seed=5)
    plain = write(tmp_path / "plain.vtr", events)
    packed = write(tmp_path / "packed.vtr", events, compression="zstd")
    plain_size, packed_size = (len(open(p, "rb").read()) for p in (plain, packed))
    assert packed_size < 0.85 * plain_size
    spans = event_block_spans(packed)
    assert len(spans) >= 2
    damage_event_blocks(packed, [1])
    got = open_reader(packed).read_events(len(events))
    # Exactly the damaged block's events are missing, the rest are intact.
    kept = open_reader(plain)
    first = kept.read_events(len(events))
    missing = len(events) - len(got)
    assert 0 < missing < len(events) // 2
    assert same(got[:100], first[:100]) and same(got[-100:], first[-100:])


def test_the_process_wide_choice_and_bad_names(tmp_path, process_choice):
    assert vs.recording_compressions() == ["none", "zstd"]
    events = scene_events(20_000)
    vs.set_recording_compression("zstd")
    assert vs.recording_compression() == "zstd"
    assert file_version(write(tmp_path / "a.vtr", events)) == 2
    assert file_version(write(tmp_path / "b.vtr", events, compression="none")) == 1
    vs.set_recording_compression("none")
    assert file_version(write(tmp_path / "c.vtr", events)) == 1
    with pytest.raises(ValueError, match="gzip"):
        vs.set_recording_compression("gzip")
    with pytest.raises(ValueError, match="lz4"):
        write(tmp_path / "d.vtr", events, compression="lz4")
    with pytest.raises(TypeError, match="compression must be a str"):
        write(tmp_path / "e.vtr", events, compression=1)
    assert vs.recording_compression() == "none"


def test_live_recordings_take_the_choice_made_when_they_start(sim, tmp_path, process_choice):
    vs.add_camera("Z", scene="noise", width=64, height=32, event_rate=200_000)
    with vantrel.open_camera("Z") as cam:
        first = vantrel.record(cam, tmp_path / "z.vtr", 0.2, progress=False, compression="zstd")
        assert vs.recording_compression() == "none"  # the choice was for that recording only
        second = vantrel.record(cam, tmp_path / "n.vtr", 0.2, progress=False)
        vs.set_recording_compression("zstd")
        third = vantrel.record(cam, tmp_path / "p.vtr", 0.2, progress=False)
        with pytest.raises(ValueError, match="unknown compression 'lzma'"):
            vantrel.record(cam, tmp_path / "x.vtr", 0.1, progress=False, compression="lzma")
    assert [file_version(r.path) for r in (first, second, third)] == [2, 1, 2]
    for r in (first, second, third):
        reader = open_reader(r.path)
        assert reader.get_event_count() == r.events > 1000
        ts = reader.read_events(r.events)["timestamp"]
        assert np.all(np.diff(ts.astype(np.int64)) >= 0)


def test_command_line_record_with_compression(capsys, sim, tmp_path):
    vs.add_camera("CZ", scene="noise", width=64, height=32, event_rate=200_000)
    out_file = str(tmp_path / "cz.vtr")
    status = cli.main(["record", "CZ", out_file, "--seconds", "0.2", "--compression", "zstd"])
    _, err = capsys.readouterr()
    assert status == 0, err
    assert file_version(out_file) == 2 and open_reader(out_file).get_event_count() > 1000
    with pytest.raises(SystemExit) as stop:
        cli.main(["record", "CZ", out_file, "--compression", "gzip"])
    assert stop.value.code == 2
    assert "invalid choice: 'gzip'" in capsys.readouterr().err
