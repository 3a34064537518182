"""The package as pip installs it, and its stub against the module."""
import ast
import inspect
import json
import os
import pathlib
import re
import subprocess

import pytest

import keo
from conftest import ROOT, keo_frames, pictures

STUB = pathlib.Path(keo.__file__).with_name("__init__.pyi")


def stub_calls():
    """(owner, stub function or property) for every call the stub declares,
    methods of Movie and MovieIterator included."""
    for node in ast.parse(STUB.read_text()).body:
        if isinstance(node, ast.FunctionDef):
            yield keo, node
        elif isinstance(node, ast.ClassDef) and node.name != "Error":
            owner = getattr(keo, node.name)
            yield from ((owner, i) for i in node.body if isinstance(i, ast.FunctionDef))


def test_the_stub_says_what_the_module_has():
    # A call renamed, an argument added or a summary reworded in one and not
    # the other shows here.
    for owner, node in stub_calls():
        where = f"{owner.__name__}.{node.name}"
        assert hasattr(owner, node.name), f"the stub names {where}, which the module lacks"
        found = getattr(owner, node.name)
        summary = ast.get_docstring(node)
        if summary:  # the module's summary follows its signature and "--"
            assert (found.__doc__ or "").split("\n--\n\n", 1)[-1].splitlines()[0] == summary, where
        if isinstance(found, property) or node.name.startswith("__"):
            continue
        params = [p for p in inspect.signature(found).parameters.values() if p.name != "self"]
        assert [p.name for p in params] == [a.arg for a in node.args.args if a.arg != "self"], where
        defaults = [p.default for p in params if p.default is not inspect.Parameter.empty]
        assert defaults == [ast.literal_eval(d) for d in node.args.defaults], where
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
    env.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    python = str(venv / "bin" / "python")
    pip = [python, "-m", "pip", "-q", "--disable-pip-version-check"]
    subprocess.run([*pip, "install", "--no-build-isolation", "--no-index", source], check=True,
                   env=env, cwd=tmp_path, timeout=900)
    report = ("import importlib.metadata as meta, json, sys, keo\n"
              "print(json.dumps([keo.__file__, keo.__version__, meta.version('keo'),\n"
              "                  meta.requires('keo'), keo.open(sys.argv[1])[:].tolist()]))")
    done = subprocess.run([python, "-c", report, movie], env=env, cwd="/", capture_output=True,
                          text=True)
    assert done.returncode == 0, done.stderr
    init, version, metadata, requires, frames = json.loads(done.stdout)
    package = pathlib.Path(init).parent
    assert init.startswith(str(venv))
    cmake = re.search(r"project\(keo VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    assert version == metadata == cmake.group(1)
    assert requires == ["numpy"]
    assert sorted(p.name for p in package.iterdir() if not p.name.startswith("_keo.")
                  and p.suffix != ".pyc" and p.name != "__pycache__") == [
        "KEOImporter.so", "__init__.py", "__init__.pyi", "py.typed"]
    assert frames == keo_frames(movie).tolist()
    subprocess.run([*pip, "uninstall", "-y", "keo"], check=True, env=env)
    gone = subprocess.run([python, "-c", "import keo; print(keo.__file__)"], env=env, cwd="/",
                          capture_output=True, text=True)
    assert gone.returncode != 0 or not gone.stdout.startswith(str(venv))
