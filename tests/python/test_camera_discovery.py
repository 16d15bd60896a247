"""Camera discovery: CameraDescription and EvCameraService over the
simulated devices."""

import threading
import time

import pytest

import vantrel_core as vc
import vantrel_sim as vs
from simcam import open_camera, sim  # noqa: F401


def test_fresh_description_and_repr():
    d = vc.CameraDescription()
    assert (d.serial, d.product, d.manufacturer, d.vid, d.pid, d.firmware_version) == ("", "", "", 0, 0, "")
    assert d.interface_type == vc.InterfaceType.USB
    assert repr(d) == "<CameraDescription serial='' product=''>"
    d.serial, d.product = "it's", "a 'b'"
    assert repr(d) == "<CameraDescription serial='it's' product='a 'b''>"


def test_description_field_conversion_keeps_old_values_on_error():
    d = vc.CameraDescription()
    d.vid = 65535
    for bad in (65536, -1, 1.0):
        with pytest.raises(TypeError):
            d.vid = bad
    assert d.vid == 65535
    with pytest.raises(TypeError):
        d.interface_type = 1
    d.interface_type = vc.InterfaceType.MIPI
    assert d.interface_type == vc.InterfaceType.MIPI


def test_a_fresh_process_has_the_default_camera(python_subprocess):
    result = python_subprocess("""
        import vantrel_core as vc
        s = vc.EvCameraService()
        print(s.refresh(), [(d.serial, d.product, d.manufacturer, d.firmware_version) for d in s.list()])
        c = s.open("VTR-SIM-0001")
        print(c.get_width(), c.get_height(), c.is_connected())
    """)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "1 [('VTR-SIM-0001', 'Vantrel Simulated Event Camera', 'Vantrel', '1.0.0')]"
    assert lines[1] == "640 480 True"


def test_listings_show_the_last_scan(sim):
    service = vc.EvCameraService()
    assert service.refresh() == 0
    assert service.list() == [] and service.list_cameras() == []
    vs.add_camera("A", product="Prod", manufacturer=b"Maker", vid=1, pid=2,
                  interface_type=vc.InterfaceType.MIPI, firmware_version="3.2.1")
    vs.add_camera("B")
    assert service.list_cameras() == []
    assert service.refresh() == 2
    first, second = service.list(), service.list_cameras()
    assert [d.serial for d in first] == ["A", "B"] == [d.serial for d in second]
    assert first[0] is not second[0]
    a = first[0]
    assert (a.product, a.manufacturer, a.vid, a.pid, a.firmware_version) == ("Prod", "Maker", 1, 2, "3.2.1")
    assert a.interface_type == vc.InterfaceType.MIPI
    a.product = "changed"
    assert service.list()[0].product == "Prod"
    assert vs.remove_camera("A")
    assert len(service.list()) == 2
    assert service.refresh() == 1


def test_open_shares_the_camera_until_it_is_closed(sim):
    vs.add_camera("A", realtime=False)
    service = vc.EvCameraService()
    assert service.open("nobody") is None
    first = service.open("A")
    again = vc.EvCameraService().open(serial="A")
    assert first is again
    first.close()
    reopened = service.open("A")
    assert reopened is not None and reopened is not first
    with pytest.raises(TypeError):
        service.open(42)


def test_text_that_is_not_utf8_raises_when_read(sim):
    vs.add_camera(b"\xff\xfe", product=b"\xc3(")
    service = vc.EvCameraService()
    service.refresh()
    (d,) = service.list()
    with pytest.raises(UnicodeDecodeError):
        d.serial
    with pytest.raises(UnicodeDecodeError):
        repr(d)
    assert vs.cameras() == [b"\xff\xfe"]


def test_refresh_and_open_run_without_the_gil(sim):
    vs.add_camera("A", realtime=False)
    service = vc.EvCameraService()
    vs.inject_fault("EvCameraService::refresh", "delay", delay=0.3, count=2)
    threads = [threading.Thread(target=service.refresh) for _ in range(2)]
    begin = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert time.monotonic() - begin < 0.55  # the two scans overlapped
