"""The package as pip installs it, and its stub against the module."""
import ast
import inspect
import json
import os
import pathlib
import re
import subprocess
import sys

import pytest

import keo
from conftest import ROOT, keo_frames, pictures

STUB = pathlib.Path(keo.__file__).with_name("__init__.pyi")


def stub_calls():
    """(owner, name, stub function or property) for every call the stub
    declares, methods of Movie and MovieIterator included."""
    tree = ast.parse(STUB.read_text())
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            yield keo, node.name, node
        elif isinstance(node, ast.ClassDef) and node.name != "Error":
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    yield getattr(keo, node.name), item.name, item


def test_the_stub_says_what_the_module_has():
    # A call renamed, an argument added or a summary reworded in one and not
    # the other shows here.
    for owner, name, node in stub_calls():
        where = f"{owner.__name__}.{name}"
        assert hasattr(owner, name), f"the stub names {where}, which the module lacks"
        found = getattr(owner, name)
        summary = ast.get_docstring(node)
        if summary:
            doc = found.__doc__ or ""
            doc = doc.split("\n--\n\n", 1)[-1]
            assert doc.splitlines()[0] == summary, where
        if isinstance(found, property) or name.startswith("__"):
            continue
        stub_args = [a.arg for a in node.args.args if a.arg != "self"]
        stub_defaults = [ast.literal_eval(d) for d in node.args.defaults]
        params = [p for p in inspect.signature(found).parameters.values() if p.name != "self"]
        assert [p.name for p in params] == stub_args, where
        defaults = [p.default for p in params if p.default is not inspect.Parameter.empty]
        assert defaults == stub_defaults, where
    assert (STUB.parent / "py.typed").exists()


@pytest.mark.skipif(os.environ.get("KEO_SANITIZED") == "1",
                    reason="pip builds the package plain; this build is instrumented")
def test_pip_installs_a_clean_clone_into_a_fresh_venv(tmp_path, make_movie):
    if subprocess.run(["git", "-C", ROOT, "rev-parse"], capture_output=True).returncode != 0:
        pytest.skip("not a git checkout")
    movie = make_movie(pictures(3, 16, 8, "noise"))
    source, venv = tmp_path / "source", tmp_path / "venv"
    subprocess.run(["git", "clone", "-q", ROOT, source], check=True)
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", venv], check=True)
    # Nothing of the build tree or the test run may help the venv find keo.
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "KEO_PLUGIN", "KEO_BIN", "LD_PRELOAD")}
    env["CMAKE_BUILD_PARALLEL_LEVEL"] = env.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    python = str(venv / "bin" / "python")
    pip = [python, "-m", "pip", "-q", "--disable-pip-version-check"]
    subprocess.run([*pip, "install", "--no-build-isolation", "--no-index", source], check=True,
                   env=env, cwd=tmp_path, timeout=900)
    report = ("import importlib.metadata, json, pathlib, sys, keo\n"
              "package = pathlib.Path(keo.__file__).parent\n"
              "m = keo.open(sys.argv[1])\n"
              "print(json.dumps({'package': str(package), 'version': keo.__version__,\n"
              "    'metadata': importlib.metadata.version('keo'),\n"
              "    'requires': importlib.metadata.requires('keo'),\n"
              "    'files': sorted(p.name for p in package.iterdir() if p.suffix != '.pyc'\n"
              "                    and p.name != '__pycache__'),\n"
              "    'frames': m[:].tolist()}))\n")
    done = subprocess.run([python, "-c", report, movie], env=env, cwd="/", capture_output=True,
                          text=True)
    assert done.returncode == 0, done.stderr
    got = json.loads(done.stdout)
    version = re.search(r"project\(keo VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    assert got["package"].startswith(str(venv))
    assert got["version"] == got["metadata"] == version.group(1)
    assert got["requires"] == ["numpy"]
    assert [f for f in got["files"] if not f.startswith("_keo.")] == [
        "KEOImporter.so", "__init__.py", "__init__.pyi", "py.typed"]
    assert got["frames"] == keo_frames(movie).tolist()
    subprocess.run([*pip, "uninstall", "-y", "keo"], check=True, env=env)
    gone = subprocess.run([python, "-c", "import keo; print(keo.__file__)"], env=env, cwd="/",
                          capture_output=True, text=True)
    assert gone.returncode != 0 or not gone.stdout.startswith(str(venv))
