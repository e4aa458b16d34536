from typing import Any

FIELDS: dict[str, tuple[str, ...]]

def bind(
    decimal: type[Any],
    account_status: type[Any],
    payment_status: type[Any],
    classes: dict[str, Any],
) -> bool: ...
def parse(op: str, status: int, body: bytes) -> Any | None: ...
