"""The build backend of the keo package (pyproject.toml names it).

pip asks it for a wheel; it builds the two compiled parts with the project's
own CMake, only the targets the package needs (the module keo._keo and the
importer module KEOImporter.so that keo loads from beside it), for the
interpreter pip runs, lays them out with the package's Python files, and
lets setuptools and wheel pack them with the metadata of pyproject.toml. The
version is the one of CMakeLists.txt's project(keo VERSION ...), the version
keo itself reports.

config_settings: build-dir=PATH keeps CMake's build there (a rebuild then
takes only what changed); otherwise it is a temporary folder. CMake builds
with CMAKE_BUILD_PARALLEL_LEVEL jobs, else one per core.
"""
import contextlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import warnings

ROOT = pathlib.Path(__file__).resolve().parents[2]
PACKAGE_FILES = ("__init__.py", "__init__.pyi", "py.typed")


def version():
    text = (ROOT / "CMakeLists.txt").read_text()
    found = re.search(r"project\(\s*keo\s+VERSION\s+([0-9][0-9.]*)", text)
    if not found:
        raise RuntimeError("CMakeLists.txt states no project(keo VERSION ...)")
    return found.group(1)


def _cmake(build_dir):
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), *generator,
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo", f"-DPython3_EXECUTABLE={sys.executable}",
                    "-DKEO_BUILD_TESTS=OFF", "-DKEO_BUILD_BENCH=OFF"], check=True)
    subprocess.run(["cmake", "--build", str(build_dir), "--parallel", jobs,
                    "--target", "keo_python", "keo_plugin"], check=True)


@contextlib.contextmanager
def _folder(config_settings, key):
    """The folder named by config_settings[key], else a temporary one."""
    given = (config_settings or {}).get(key)
    if given:
        path = pathlib.Path(given).resolve()
        path.mkdir(parents=True, exist_ok=True)
        yield path
    else:
        with tempfile.TemporaryDirectory(prefix="keo-") as path:
            yield pathlib.Path(path)


def _stage(stage, build_dir=None):
    """pyproject.toml and the readme in `stage`, and the package in
    stage/keo: built files when build_dir is given, else only the sources."""
    shutil.copy(ROOT / "pyproject.toml", stage)
    (stage / "python").mkdir()
    shutil.copy(ROOT / "python" / "README.md", stage / "python")
    package = stage / "keo"
    package.mkdir()
    for name in PACKAGE_FILES:
        shutil.copy(ROOT / "python" / "keo" / name, package)
    if build_dir is not None:
        for module in (build_dir / "python" / "keo").glob("_keo*.so"):
            shutil.copy(module, package)
        shutil.copy(build_dir / "lib" / "KEOImporter.so", package)


def _setup(stage, *arguments):
    """setuptools' setup() in `stage`, with the version of CMakeLists.txt."""
    import setuptools

    # The [tool.setuptools] table of pyproject.toml is what this setuptools
    # calls beta; it is all the package needs of it.
    warnings.filterwarnings("ignore", message=r"Support for `\[tool.setuptools\]`")

    class CompiledDistribution(setuptools.Distribution):
        # The package holds compiled modules: a wheel for this interpreter
        # and platform, not a pure one.
        def has_ext_modules(self):
            return True

    here = os.getcwd()
    os.chdir(stage)
    try:
        setuptools.setup(version=version(), distclass=CompiledDistribution, zip_safe=False,
                         script_args=list(arguments))
    finally:
        os.chdir(here)


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    with tempfile.TemporaryDirectory(prefix="keo-meta-") as stage:
        _stage(pathlib.Path(stage))
        _setup(pathlib.Path(stage), "-q", "dist_info", "--output-dir", metadata_directory)
    return next(p.name for p in pathlib.Path(metadata_directory).glob("keo-*.dist-info"))


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    wheels = pathlib.Path(wheel_directory).resolve()
    before = set(wheels.glob("*.whl"))
    with _folder(config_settings, "build-dir") as build_dir, \
            tempfile.TemporaryDirectory(prefix="keo-stage-") as stage:
        _cmake(build_dir)
        _stage(pathlib.Path(stage), build_dir)
        _setup(pathlib.Path(stage), "-q", "bdist_wheel", "--dist-dir", str(wheels))
    made = set(wheels.glob("*.whl")) - before
    return max(made, key=lambda p: p.stat().st_mtime).name


def _source_files():
    """The project's files: git's list where there is one, else every file
    but build folders."""
    listed = subprocess.run(["git", "-C", str(ROOT), "ls-files", "-z"], capture_output=True)
    if listed.returncode == 0 and listed.stdout:
        return [name for name in listed.stdout.decode().split("\0") if name]
    return [str(p.relative_to(ROOT)) for p in ROOT.rglob("*") if p.is_file()
            and not p.relative_to(ROOT).parts[0].startswith(("build", ".git"))]


def build_sdist(sdist_directory, config_settings=None):
    base = f"keo-{version()}"
    path = pathlib.Path(sdist_directory) / f"{base}.tar.gz"
    with tempfile.TemporaryDirectory(prefix="keo-meta-") as meta:
        info = pathlib.Path(meta) / prepare_metadata_for_build_wheel(meta)
        with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as sdist:
            for name in _source_files():
                if (ROOT / name).is_file():
                    sdist.add(ROOT / name, f"{base}/{name}")
            sdist.add(info / "METADATA", f"{base}/PKG-INFO")
    return path.name
