"""The exceptions that vostrel raises.

The native core maps its errors onto these classes (and three built-ins:
FileNotFoundError, ValueError and OSError), and maps them back when Python code
that the core called raises one of them.
"""

__all__ = [
    "SessionError",
    "GameplanLoadError",
    "AccessDeniedError",
    "ProviderError",
    "ProviderHTTPError",
    "ProviderNetworkError",
    "ProviderEmptyResponseError",
]


class SessionError(Exception):
    """A session could not be set up, run or continued."""


class GameplanLoadError(Exception):
    """A gameplan file could not be read or does not describe a valid gameplan."""


class AccessDeniedError(Exception):
    """The access policy refused an operation."""


class ProviderError(Exception):
    """A chat provider failed."""


class ProviderHTTPError(ProviderError):
    """A provider answered with an HTTP error status.

    `status_code`, `url` and `body` are what the core reads back when one is
    raised by Python code that it called (a custom transport, say).
    """

    def __init__(self, status_code, url, body):
        super().__init__(status_code, url, body)
        self.status_code = status_code
        self.url = url
        self.body = body

    def __str__(self):
        return f"HTTP {self.status_code} from {self.url}: {self.body}"


class ProviderNetworkError(ProviderError):
    """A provider could not be reached: `url` and the `cause`."""

    def __init__(self, url, cause):
        super().__init__(url, cause)
        self.url = url
        self.cause = cause

    def __str__(self):
        return f"Network error for {self.url}: {self.cause}"


class ProviderEmptyResponseError(ProviderError):
    """A provider answered with nothing usable."""
