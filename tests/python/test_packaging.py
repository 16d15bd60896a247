"""What an installation holds and where: one version throughout, the driver
library inside the package with run paths that reach it, and a wheel that
installs into a fresh environment and runs the demo there."""

import importlib.metadata
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tomllib
import zipfile
from pathlib import Path

import pytest

import vantrel
import vantrel_core as vc

ROOT = Path(__file__).resolve().parents[2]
SITE = Path(vc.__file__).resolve().parent
DRIVER = "libvantrel_driver.so"


def pyproject_version() -> str:
    with open(ROOT / "pyproject.toml", "rb") as f:
        return tomllib.load(f)["project"]["version"]


# --- the version ---------------------------------------------------------------------------

def test_every_version_is_the_one_in_pyproject():
    version = pyproject_version()
    assert vc.get_version() == version
    assert vantrel.__version__ == version
    assert importlib.metadata.version("vantrel") == version


def cmake_version(tmp_path, pyproject_text=None, *defines):
    """Runs the build's version lookup on its own; returns (status, output)."""
    script = tmp_path / "print_version.cmake"
    script.write_text('include("%s")\nmessage(NOTICE "${VANTREL_VERSION}|${VANTREL_VERSION_NUMBERS}")\n'
                      % (ROOT / "cmake" / "ProjectVersion.cmake").as_posix())
    args = list(defines)
    if pyproject_text is not None:
        (tmp_path / "pyproject.toml").write_text(pyproject_text)
        args.append("-DVANTREL_PYPROJECT=%s" % (tmp_path / "pyproject.toml"))
    cmake = shutil.which("cmake", path=os.path.dirname(sys.executable)) or shutil.which("cmake")
    done = subprocess.run([cmake, *args, "-P", str(script)], capture_output=True, text=True, timeout=60)
    return done.returncode, (done.stdout + done.stderr).strip()


def test_plain_cmake_builds_read_the_version_of_pyproject(tmp_path):
    version = pyproject_version()
    assert cmake_version(tmp_path) == (0, "%s|%s" % (version, version))
    # Only the [project] table's key counts, wherever other tables put theirs.
    tricky = ('[build-system]\nrequires = []\n[tool.scikit-build]\nminimum-version = "0.10"\n'
              'cmake.version = ">=3.24"\n[tool.other]\nversion = "9.9"\n'
              '[project]\nname = "vantrel"\n  version = "2.10.0rc1"\n[tool.after]\nversion = "8"\n')
    assert cmake_version(tmp_path, tricky) == (0, "2.10.0rc1|2.10.0")
    assert cmake_version(tmp_path, "[project]\nversion = '4.5'\n") == (0, "4.5|4.5")
    assert cmake_version(tmp_path, '[project]\nversion = "1.2.3.4.5"\n') == (0, "1.2.3.4.5|1.2.3.4")
    # What scikit-build-core hands over wins over the file, the text as written first.
    assert cmake_version(tmp_path, tricky, "-DSKBUILD_PROJECT_VERSION=3.1") == (0, "3.1|3.1")
    assert cmake_version(tmp_path, tricky, "-DSKBUILD_PROJECT_VERSION=3.1",
                         "-DSKBUILD_PROJECT_VERSION_FULL=3.1b2") == (0, "3.1b2|3.1")


def test_a_missing_or_wordy_version_stops_the_configuration(tmp_path):
    status, output = cmake_version(tmp_path, '[tool.x]\nversion = "1.0"\n[project]\nname = "vantrel"\n')
    assert status != 0 and "no version" in output
    status, output = cmake_version(tmp_path, '[project]\nversion = "dev"\n')
    assert status != 0 and "does not begin with numbers" in output


# --- the installed tree --------------------------------------------------------------------

def run_paths(library: Path) -> list[str]:
    dynamic = subprocess.run(["readelf", "-d", str(library)], capture_output=True, text=True, check=True).stdout
    found = re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library (?:runpath|rpath): \[([^\]]*)\]", dynamic)
    return [entry for paths in found for entry in paths.split(":")]


def modules_in(site: Path) -> list[Path]:
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    return [site / ("vantrel_core" + suffix), site / "vantrel" / ("_native" + suffix),
            site / "vantrel_sim" / ("_sim" + suffix)]


LOADED_DRIVERS = """
import vantrel_core, vantrel._native, vantrel_sim._sim
with open("/proc/self/maps") as maps:
    print("\\n".join(sorted({line.split()[-1] for line in maps if line.rstrip().endswith("/%s")})))
""" % DRIVER


def outside_env() -> dict[str, str]:
    """This process's environment less what would lead an interpreter to other modules."""
    return {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_LIBRARY_PATH", "PYTHONHOME")}


def loaded_drivers(python: str, cwd: Path, env: dict[str, str] | None = None) -> list[str]:
    """The driver libraries that an interpreter has mapped after importing every module."""
    done = subprocess.run([python, "-c", LOADED_DRIVERS], capture_output=True, text=True, timeout=60,
                          cwd=cwd, env=env)
    assert done.returncode == 0, done.stderr
    return done.stdout.split()


@pytest.mark.skipif(not shutil.which("readelf"), reason="needs readelf (binutils)")
def test_the_driver_lives_in_the_package_and_every_module_reaches_it(tmp_path):
    assert not list(SITE.glob(DRIVER + "*")), "the driver library lies loose in site-packages"
    driver = SITE / "vantrel" / "_lib" / DRIVER
    assert driver.is_file()
    for module in modules_in(SITE):
        paths = run_paths(module)
        # Relative to the module only: a path into the build tree would hide a broken install here.
        assert paths and all(p.startswith("$ORIGIN") for p in paths), (module.name, paths)
        reached = [Path(p.replace("$ORIGIN", str(module.parent))).resolve() for p in paths]
        assert driver.parent.resolve() in reached, (module.name, paths)
    assert loaded_drivers(sys.executable, tmp_path) == [str(driver.resolve())]


# --- the wheel -----------------------------------------------------------------------------

@pytest.fixture(scope="module")
def wheel(tmp_path_factory) -> Path:
    out = tmp_path_factory.mktemp("dist")
    done = subprocess.run([str(ROOT / "dev"), "wheel", str(out)], capture_output=True, text=True, timeout=900)
    assert done.returncode == 0, done.stderr
    return Path(done.stdout.strip().splitlines()[-1])


@pytest.mark.wheel
def test_the_wheel_is_tidy_and_self_contained(wheel):
    version = pyproject_version()
    assert re.fullmatch(r"vantrel-%s-cp313-cp313-manylinux_\d+_\d+_x86_64(\.manylinux\w+)*\.whl"
                        % re.escape(version), wheel.name), wheel.name
    names = zipfile.ZipFile(wheel).namelist()
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    tops = {name.split("/")[0] for name in names}
    allowed = {"vantrel", "vantrel_sim", "vantrel_core-stubs", "vantrel_sim-stubs", "vantrel_core" + suffix,
               "vantrel-%s.dist-info" % version, "vantrel.libs"}
    assert tops <= allowed, sorted(tops - allowed)
    assert "vantrel/_lib/" + DRIVER in names
    assert [n for n in names if n.endswith(DRIVER)] == ["vantrel/_lib/" + DRIVER]
    leftovers = [n for n in names if re.search(r"(\.(h|hpp|hpp\.in|cpp|a|o|cmake|pyc)$|__pycache__/|"
                                               r"(^|/)tests?/|CMake|\.ninja)", n)]
    assert leftovers == []
    for package in ("vantrel", "vantrel_sim"):
        assert package + "/__init__.py" in names
    assert "vantrel/py.typed" in names and "vantrel_core-stubs/__init__.pyi" in names


@pytest.mark.wheel
def test_the_wheel_runs_the_demo_in_a_fresh_environment(wheel, tmp_path):
    env_dir = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(env_dir)], check=True, timeout=120)
    python = env_dir / "bin" / "python"
    install = subprocess.run([str(python), "-m", "pip", "install", "-q", "--disable-pip-version-check", str(wheel)],
                             capture_output=True, text=True, timeout=600)
    assert install.returncode == 0, install.stderr
    site = Path(subprocess.run([str(python), "-c", "import sysconfig; print(sysconfig.get_paths()['platlib'])"],
                               capture_output=True, text=True, check=True).stdout.strip())
    # The driver comes from the fresh environment, not from the build or .venv.
    env = outside_env()
    assert loaded_drivers(str(python), tmp_path, env) == [str((site / "vantrel" / "_lib" / DRIVER).resolve())]
    work, out = tmp_path / "work", tmp_path / "out"
    work.mkdir()
    demo = subprocess.run([str(python), str(ROOT / "examples" / "demo.py"), "--out", str(out), "--seconds", "1"],
                          capture_output=True, text=True, timeout=300, cwd=work, env=env)
    assert demo.returncode == 0, demo.stdout + demo.stderr
    assert re.search(r"identical to what the callback received: True$", demo.stdout, re.MULTILINE), demo.stdout
    assert any(out.glob("*.png")), sorted(p.name for p in out.iterdir())
    version = subprocess.run([str(env_dir / "bin" / "vantrel"), "--version"], capture_output=True, text=True,
                             timeout=60, env=env)
    assert version.stdout.strip() == "vantrel " + pyproject_version()
