"""Chat providers.

`http_post_json` is the function every provider request of the core goes
through once `vostrel` is imported; replacing it here (for tests, or to route
requests elsewhere) is honoured by every session.
"""

from . import _core

__all__ = ["http_post_json"]


def http_post_json(url, payload, headers=None, timeout=60):
    """Send a JSON POST and return the parsed body."""
    return _core.http_post_json(url, payload, headers, timeout=timeout)
