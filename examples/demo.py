"""Tour of the Vantrel SDK on the default simulated camera."""

import vantrel_core as vc


def main() -> None:
    print(f"vantrel_core {vc.get_version()} (built {vc.get_build_date()})")


if __name__ == "__main__":
    main()
