"""The native engine: one entry, `call`, taking and returning JSON text."""

from typing import Final

__all__ = ["call", "__version__", "PROTOCOL_VERSION"]  # noqa: RUF022 (the module's order)

__version__: Final[str]
PROTOCOL_VERSION: Final[int]

def call(op: str, payload: str) -> str:
    """Runs a merchant-accounts operation; `payload` and the result are JSON strings
    (see `quillon_core::ffi`)."""
