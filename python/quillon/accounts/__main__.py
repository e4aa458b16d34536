"""Placeholder entry: prints what the engine answers for describe and version."""

from quillon.accounts import _native

print(_native.call("describe", ""))
print(_native.call("version", ""))
