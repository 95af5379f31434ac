"""Conversations among several LLM-backed agents."""

import os as _os

from . import _core, _enums, exceptions

# The core keeps the exception classes and the dialect enumeration, and reads
# its built-in assets from the folder installed beside this file.
_core.bootstrap(
    exceptions,
    _enums.ToolDialect,
    _os.path.join(_os.path.dirname(_os.path.abspath(__file__)), "assets"),
)

__version__ = _core.__version__
VERSION = _core.VERSION
