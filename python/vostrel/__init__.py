"""Conversations among several LLM-backed agents."""

from . import _core

__version__ = _core.__version__
VERSION = _core.VERSION
