"""``python -m quillon.accounts``: the command line."""

import sys

from quillon.accounts.cli import main

sys.exit(main())
