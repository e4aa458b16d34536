"""Client library for the merchant-accounts gateway."""
