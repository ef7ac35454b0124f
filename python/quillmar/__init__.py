"""Schema validation for Python annotations, compiled once into an immutable validator."""

from quillmar import _quillmar
from quillmar._quillmar import *  # noqa: F401,F403

__all__ = list(_quillmar.__all__)
