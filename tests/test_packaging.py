"""What ships: the extension's exported symbols, the wheel `make wheel` builds, the sdist's contents.

The builds here are slow (a full compile) and each runs in its own temporary directories, so they never
share a build tree with `make install`.
"""

import os
import pathlib
import re
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


@BUILDS
def test_make_wheel_builds_a_manylinux_wheel_that_brings_re2_and_fmt(tmp_path):
    dist = tmp_path / "dist"
    run("make", "-s", "--no-print-directory", "wheel", f"WHEEL_DIR={dist}", cwd=ROOT)
    [wheel] = dist.glob("*.whl")
    named = re.fullmatch(r"quillmar-[^-]+-cp3\d+-cp3\d+-(manylinux_\d+_\d+_x86_64)\.whl", wheel.name)
    assert named, wheel.name
    tag = named.group(1)
    shown = " ".join(run(sys.executable, "-m", "auditwheel", "show", wheel).split())
    assert f'is consistent with the following platform tag: "{tag}"' in shown

    # A venv with the wheel alone in it, installed offline: the wheel needs nothing else.
    fresh = tmp_path / "fresh"
    run(sys.executable, "-m", "venv", "--without-pip", fresh)
    run(sys.executable, "-m", "pip", "--python", fresh / "bin" / "python", "install", "-q", "--no-index", wheel)
    [site] = fresh.glob("lib/python3.*/site-packages")
    installed = {re.sub(r"-[^-]+\.dist-info$", "-*.dist-info", entry.name) for entry in site.iterdir()}
    assert installed == {"quillmar", "quillmar-*.dist-info", "quillmar.libs"}
    [extension] = (site / "quillmar").glob("_quillmar.*.so")
    bundled = {path.name for path in (site / "quillmar.libs").iterdir()}

    # The extension names the bundled copies, not the system's sonames, and finds them beside itself.
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", run("readelf", "-d", extension))
    ours = {name for name in needed if re.match(r"lib(re2|fmt)\b", name)}
    assert ours == bundled and {name[3:6] for name in ours} == {"re2", "fmt"}
    linked = run("ldd", extension)
    assert "not found" not in linked
    resolved = dict(re.findall(r"^\s*(\S+) => (\S+)", linked, re.MULTILINE))
    for name in ours:
        assert pathlib.Path(resolved[name]).resolve() == (site / "quillmar.libs" / name).resolve()

    # One check that runs RE2 (the pattern) and fmt (the report's text), away from the source tree.
    check = """
import re, sys, typing
import quillmar
assert quillmar.__file__.startswith(sys.prefix), quillmar.__file__
user = quillmar.Validator({"id": int, "code": typing.Annotated[str, re.compile(r"[A-Z]{3}")]})
assert user.is_valid({"id": 1, "code": "ABC"}) and not user.is_valid({"id": 1, "code": "ABCD"})
try:
    user.validate_json(b'{"id": "1", "code": "ABC"}')
except quillmar.ValidationError as error:
    assert str(error) == "at id: expected int, got '1' [int_type]", str(error)
else:
    raise AssertionError("accepted")
"""
    run(fresh / "bin" / "python", "-I", "-c", check, cwd=tmp_path)
