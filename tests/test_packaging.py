"""What ships: the extension's exported symbols and the sdist's contents.

The builds here run in their own temporary directories, so they never share a build tree with
`make install`.
"""

import os
import pathlib
import shutil
import subprocess
import sys
import tarfile

import pytest

import quillmar._quillmar

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Every tool a build starts would run with the sanitizer runtimes preloaded.
BUILDS = pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="builds under the sanitizer preload")


def run(*command, **kwargs):
    done = subprocess.run([str(part) for part in command], capture_output=True, text=True, **kwargs)
    assert done.returncode == 0, f"{command}\n{done.stdout}\n{done.stderr}"
    return done.stdout


def exported_symbols(library):
    return {line.split()[-1] for line in run("nm", "-D", "--defined-only", library).splitlines()}


# Anything more would be found by, and could clash with, another module's lookups.
def test_the_extension_exports_its_init_function_only():
    assert exported_symbols(quillmar._quillmar.__file__) == {"PyInit__quillmar"}


def tracked_files():
    if not (ROOT / ".git").exists():
        pytest.skip("needs the git checkout to know the sources")
    return run("git", "-C", ROOT, "ls-files", "-z").split("\0")[:-1]


@BUILDS
def test_the_sdist_holds_the_sources_and_nothing_else_in_the_tree(tmp_path):
    tree = tmp_path / "tree"
    sources = tracked_files()
    for name in sources:
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(ROOT / name, tree / name)
    # What a working tree gathers: outputs (wheelhouse/ is auditwheel's own default, which no ignore
    # file names), build trees, a venv, caches.
    litter = {
        "dist/quillmar-0.1.0-cp313-cp313-linux_x86_64.whl": "wheel",
        "wheelhouse/quillmar-0.1.0-cp313-cp313-manylinux_2_34_x86_64.whl": "wheel",
        "build/cp313-cp313-linux_x86_64/CMakeCache.txt": "cache",
        "tests/__pycache__/test_module.cpython-313.pyc": "bytecode",
        "tests/.hypothesis/examples/entry": "example",
        ".pytest_cache/v/cache/lastfailed": "{}",
        ".mypy_cache/3.13/quillmar.meta.json": "{}",
    }
    for name, text in litter.items():
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        (tree / name).write_text(text)
    run(sys.executable, "-m", "venv", "--without-pip", tree / "env")

    out = tmp_path / "out"
    run(sys.executable, "-m", "build", "--sdist", "--no-isolation", "--outdir", out, tree)
    [sdist] = out.glob("*.tar.gz")
    with tarfile.open(sdist) as archive:
        members = {member.name.split("/", 1)[1] for member in archive.getmembers() if member.isfile()}
    assert members == {*sources, "PKG-INFO"}
