"""Schema validation for Python annotations, compiled once into an immutable validator."""

from quillmar._quillmar import *  # noqa: F401,F403

# Imported by name so that type checkers take the stub's list for the star
# import's names; copied so the package's list is its own.
from quillmar._quillmar import __all__ as __all__

__all__ = list(__all__)
