"""What ships: the extension's exported symbols, the wheel `make wheel` builds, the sdist's contents.

The builds here are slow (a full compile) and each runs in its own temporary directories, so they never
share a build tree with `make install`.
"""

import subprocess

import quillmar._quillmar


def run(*command, **kwargs):
    done = subprocess.run(command, capture_output=True, text=True, **kwargs)
    assert done.returncode == 0, f"{command}\n{done.stdout}\n{done.stderr}"
    return done.stdout


def exported_symbols(library):
    return {line.split()[-1] for line in run("nm", "-D", "--defined-only", str(library)).splitlines()}


# Anything more would be found by, and could clash with, another module's lookups.
def test_the_extension_exports_its_init_function_only():
    assert exported_symbols(quillmar._quillmar.__file__) == {"PyInit__quillmar"}
