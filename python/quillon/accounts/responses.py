"""The former name of :mod:`quillon.accounts.raw_response`, kept for imports."""

from quillon.accounts.raw_response import Exchange, RawResponse, raw_response, raw_response_async

__all__ = ["Exchange", "RawResponse", "raw_response", "raw_response_async"]
