"""The driver's logger as Python sees it."""

import os

import pytest

import vantrel_core as vc


@pytest.fixture
def logger():
    log = vc.Logger.instance()
    yield log
    log.set_log_level(vc.LOG_WARNING)
    log.set_log_file("")


def test_instance_identity():
    first = vc.Logger.instance()
    assert vc.Logger.instance() is first
    del first
    assert vc.Logger.instance().get_log_level() == vc.LOG_WARNING


def test_levels_round_trip(logger):
    for level in (vc.LOG_DEBUG, vc.LOG_INFO, vc.LOG_ERROR, vc.LOG_FATAL, vc.LOG_OFF, vc.LOG_WARNING):
        logger.set_log_level(level=level)
        assert logger.get_log_level() == level
    logger.set_log_level(vc.LOG_INVALID)  # refused by the driver
    assert logger.get_log_level() == vc.LOG_WARNING


def test_wrong_argument_types(logger):
    with pytest.raises(TypeError):
        logger.set_log_level(0)
    with pytest.raises(TypeError):
        logger.set_log_level(vc.ToolType.TOOL_BIAS)
    with pytest.raises(TypeError):
        logger.set_log_file(None)
    with pytest.raises(TypeError):
        logger.set_log_file(3)


def test_log_file_writable_and_unwritable(logger, tmp_path):
    path = tmp_path / "driver.log"
    assert logger.set_log_file(log_file=str(path)) is True
    logger.set_log_level(vc.LOG_INVALID)  # makes the driver explain the refusal in the log
    text = path.read_text()
    assert "WARNING" in text and "refusing log level INVALID" in text

    assert logger.set_log_file(str(tmp_path / "no" / "such" / "dir.log")) is False
    # The previous file stays the destination and says why the switch failed.
    lines = path.read_text().splitlines()
    assert "cannot open log file" in lines[-1]
    assert os.path.exists(path)
