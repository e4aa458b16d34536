"""The installed distribution and the package agree on their version."""

from importlib.metadata import version

import quillon.accounts


def test_package_version_is_the_distribution_version() -> None:
    assert quillon.accounts.__version__ == version("quillon-accounts")
