"""Pieces of a recording: every event in exactly one piece, whatever the size
of the pieces, with empty time ranges and with damaged blocks; time pieces
are the recording's windows; what the index proves about time order."""

import pickle

import numpy as np
import pytest

import vantrel
import vantrel_sim as vs
from recfiles import damage_event_blocks, falsify_event_block, same, scene_events, write
from simcam import make_events, open_camera, sim  # noqa: F401 (fixture)
from vantrel.partitions import EventPiece, TimePiece, partitions

BLOCK = 65536  # events per block of write_recording
N = 4 * BLOCK + 12_345
GAP = 300_000  # us without events in the middle of the recording


def gapped_events(n, seed):
    events = scene_events(n, seed=seed)
    events["timestamp"][n // 2:] += GAP
    return events


@pytest.fixture(scope="module")
def recording(tmp_path_factory):
    events = gapped_events(N, seed=3)
    return write(tmp_path_factory.mktemp("pieces") / "r.vtr", events), events


@pytest.fixture(scope="module")
def small(tmp_path_factory):
    events = gapped_events(500, seed=4)
    events["timestamp"][250:] -= GAP - 200  # a short gap: a few hundred 1-us windows
    return write(tmp_path_factory.mktemp("small") / "s.vtr", events), events


def expected_by_index(events, readable, piece):
    keep = readable[piece.start:piece.end]
    return events[piece.start:piece.end][keep]


def check_event_pieces(pieces, events, readable):
    """Contiguous index ranges covering the file; each piece reads exactly
    the readable events of its range."""
    assert pieces[0].start == 0 and pieces[-1].end == len(events)
    assert all(a.end == b.start for a, b in zip(pieces[:-1], pieces[1:]))
    # Backwards first (as a scheduler may run them), with one reader that
    # meets each damaged block first while it holds the next one.
    vantrel.release_readers()
    got = [piece.read() for piece in pieces[::-1]][::-1]
    for piece, part in zip(pieces, got):
        assert same(part, expected_by_index(events, readable, piece)), piece
    assert same(np.concatenate(got), events[readable])
    assert all(same(piece.read(), part) for piece, part in zip(pieces, got))


def check_time_pieces(path, pieces, every):
    """The pieces are the recording's windows, empty ones included."""
    want = [(w.index, w.start, w.end, w.events) for w in vantrel.windows(path, every_us=every)]
    assert len(pieces) == len(want)
    vantrel.release_readers()
    for piece, (k, start, end, events) in list(zip(pieces, want))[::-1]:
        assert isinstance(piece, TimePiece) and (piece.start, piece.end) == (start, end), k
        assert same(piece.read(), events), k


@pytest.mark.parametrize("size", [1_000, BLOCK - 1, BLOCK, BLOCK + 1, 100_003, N, N + 1, 2**40])
def test_event_pieces_of_any_size_hold_every_event_once(recording, size):
    path, events = recording
    pieces = partitions(path, events=size)
    assert len(pieces) == -(-N // size)
    assert all(isinstance(p, EventPiece) and p.end - p.start == size for p in pieces[:-1])
    check_event_pieces(list(pieces), events, np.ones(N, bool))


@pytest.mark.parametrize("size", [1, 3])
def test_tiny_event_pieces(small, size):
    path, events = small
    check_event_pieces(list(partitions(path, events=size)), events, np.ones(len(events), bool))


@pytest.mark.parametrize("every", [997, 10_000, BLOCK, 10**12])
def test_time_pieces_are_the_windows_with_the_empty_ones(recording, every):
    path, events = recording
    pieces = partitions(path, every_us=every)
    check_time_pieces(path, pieces, every)
    if every < GAP:
        assert any(len(p.read()) == 0 for p in pieces)  # the gap
    assert pieces.t0 == int(events["timestamp"][0])


def test_one_microsecond_time_pieces(small):
    path, events = small
    pieces = partitions(path, every_us=1)
    assert len(pieces) == int(events["timestamp"][-1] - events["timestamp"][0]) + 1
    check_time_pieces(path, pieces, 1)


@pytest.mark.parametrize("damaged", [[2], [1, 3], [0], [4], [0, 1, 2, 3, 4]])
def test_damaged_blocks_leave_their_events_out_of_every_piece(tmp_path, recording, damaged):
    _, events = recording
    path = write(tmp_path / "d.vtr", events)
    damage_event_blocks(path, damaged)
    readable = np.ones(N, bool)
    for k in damaged:
        readable[k * BLOCK:(k + 1) * BLOCK] = False
    # Cuts inside damaged blocks, at their edges and across them.
    for size in (1_000, BLOCK, 100_003, 150_000, N):
        check_event_pieces(list(partitions(path, events=size)), events, readable)
    for every in (5_000, 77_777):
        pieces = partitions(path, every_us=every)
        check_time_pieces(path, pieces, every)
        if readable.any():
            assert pieces.t0 == int(events["timestamp"][readable][0])  # windows start at the first readable event
        else:
            assert len(pieces) == 0


def test_a_block_that_lies_about_its_events_is_left_out_like_a_damaged_one(tmp_path, recording):
    _, events = recording
    path = write(tmp_path / "f.vtr", events)
    falsify_event_block(path, 3)  # a block without escapes: found out only when decoded
    readable = np.ones(N, bool)
    readable[3 * BLOCK:4 * BLOCK] = False
    for size in (BLOCK, 100_003, N):
        check_event_pieces(list(partitions(path, events=size)), events, readable)
    check_time_pieces(path, partitions(path, every_us=20_000), 20_000)


def test_pieces_are_values_that_read_anywhere(recording):
    path, events = recording
    pieces = partitions(path, events=100_000)
    again = pickle.loads(pickle.dumps(list(pieces)))
    assert again == list(pieces)
    assert same(again[1].read(), events[100_000:200_000])
    assert pieces[-1] == pieces[len(pieces) - 1] and pieces[1:3] == [pieces[1], pieces[2]]
    with pytest.raises(IndexError):
        pieces[len(pieces)]
    assert "by events=100000: 3>" in repr(pieces)


def test_an_empty_recording_has_no_pieces(tmp_path):
    path = write(tmp_path / "e.vtr", make_events(0))
    assert len(partitions(path, events=10)) == 0
    assert len(partitions(path, every_us=10)) == 0


def test_bad_arguments_and_unreadable_files(tmp_path, recording):
    path, _ = recording
    for kwargs in ({}, {"events": 10, "every_us": 10}, {"events": 0}, {"every_us": -1}, {"events": 1.5},
                   {"every_us": True}):
        with pytest.raises(ValueError):
            partitions(path, **kwargs)
    with pytest.raises(FileNotFoundError):
        partitions(tmp_path / "none.vtr", events=10)
    with pytest.raises(IsADirectoryError):
        partitions(tmp_path, events=10)
    (tmp_path / "text.vtr").write_text("not a recording")
    with pytest.raises(vantrel.UnreadableRecording):
        partitions(tmp_path / "text.vtr", events=10)
    with pytest.raises(TypeError):
        partitions(42, events=10)


@pytest.mark.parametrize(("fault", "kwargs"), [("EvFileReader::readEvents", {"events": 50_000}),
                                                ("EvFileReader::readEventsByTimeIntervalFromTimestamp",
                                                 {"every_us": 50_000})])
def test_a_failed_read_raises_instead_of_giving_nothing(recording, fault, kwargs):
    path, _ = recording
    piece = partitions(path, **kwargs)[1]
    vs.inject_fault(fault, "fail")
    try:
        with pytest.raises(RuntimeError, match="see the driver's log"):
            piece.read()
    finally:
        vs.clear_faults()
    assert len(piece.read()) > 0


def test_divisions_where_the_index_proves_the_order(tmp_path, recording):
    path, events = recording
    by_time = partitions(path, every_us=100_000)
    assert by_time.divisions() == [p.start for p in by_time] + [int(events["timestamp"][-1])]

    strict = make_events(10_000, start=5)  # one microsecond apart
    strict_path = write(tmp_path / "strict.vtr", strict, width=64, height=32)
    assert partitions(strict_path, events=3_000).divisions() == [5, 3_005, 6_005, 9_005, 10_004]
    tied = strict.copy()
    tied["timestamp"][3_000] = tied["timestamp"][2_999]  # the same time on both sides of a cut
    tied_path = write(tmp_path / "tied.vtr", tied, width=64, height=32)
    assert partitions(tied_path, events=3_000).divisions() is None
    assert partitions(tied_path, events=2_000).divisions() is not None


def test_a_recording_whose_time_goes_back_is_cut_by_events_only(tmp_path, sim):
    path = str(tmp_path / "back.vtr")
    camera = open_camera("S", scene="scripted")
    assert camera.start_recording(path) and camera.start()
    first, second = make_events(1_000, start=50_000), make_events(1_000, start=10_000)
    assert vs.push_batch("S", first) and vs.push_batch("S", second)
    camera.stop()
    assert camera.stop_recording()
    camera.close()
    with pytest.raises(ValueError, match="cut it by events instead"):
        partitions(path, every_us=1_000)
    pieces = partitions(path, events=300)
    assert pieces.divisions() is None
    assert same(np.concatenate([p.read() for p in pieces]), np.concatenate([first, second]))
