"""Access policy: what the agents of a session may read, run and reach."""

__all__ = []
