"""Tour of the Vantrel SDK on the default simulated camera."""

import vantrel_core as vc


def main() -> None:
    print(f"vantrel_core {vc.get_version()} (built {vc.get_build_date()})")

    service = vc.EvCameraService()
    count = service.refresh()
    print(f"{count} camera(s) found")
    for description in service.list_cameras():
        camera = service.open(description.serial)
        if camera is None:
            print(f"  {description.serial}: could not be opened")
            continue
        print(f"  {description.serial}  {description.product}  "
              f"{camera.get_width()}x{camera.get_height()}  firmware {description.firmware_version}")

    cameras = service.list_cameras()
    if not cameras:
        return
    camera = service.open(cameras[0].serial)
    camera.set_batch_events_time(10_000)
    if camera.start():
        for _ in range(3):
            batch = camera.get_next_batch()
            if len(batch):
                span = int(batch["timestamp"][-1]) - int(batch["timestamp"][0])
                print(f"  batch of {len(batch)} events over {span} us")
        camera.stop()
    camera.close()


if __name__ == "__main__":
    main()
