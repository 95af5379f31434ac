"""Enumerations shared with the native core."""

import enum

__all__ = ["ToolDialect"]


class ToolDialect(str, enum.Enum):
    """How tool calls travel between the system and one provider."""

    TEXT = "text"
    """A ``tool_calls`` fence in the reply text."""
    OPENAI = "openai"
    """Native ``tool_calls`` in OpenAI-shaped replies."""
    ANTHROPIC = "anthropic"
    """Native ``tool_use`` blocks in Anthropic-shaped replies."""
