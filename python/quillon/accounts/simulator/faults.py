"""Scripted misbehaviour of the simulated gateway: failures, delays, garbage, dropped answers."""

from __future__ import annotations

import json
import threading
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

from quillon.accounts.simulator.state import Rejection

__all__ = ["Fault", "FaultScript"]


@dataclass(frozen=True)
class Fault:
    """One scripted misbehaviour, used by the next matching request."""

    status: int | None = None
    """The HTTP status that replaces the answer; None keeps the normal answer (after ``delay``).
    """
    body: str | None = None
    """The body sent with ``status`` (JSON text or not)."""
    retry_after: str | None = None
    """A Retry-After header sent with ``status``."""
    delay: float = 0.0
    """Seconds to wait before answering."""
    drop: bool = False
    """Whether to close the connection without any answer."""
    path: str | None = None
    """When given, the fault applies only to requests whose path ends with it."""

    def matches(self, path: str) -> bool:
        """Whether this fault applies to a request for ``path``."""
        return self.path is None or path.rstrip("/").endswith(self.path.rstrip("/"))


_FAULT_MESSAGES = {
    408: "Tiempo de espera agotado",
    429: "Demasiadas solicitudes, intente más tarde",
    500: "Error interno del servidor",
    502: "Puerta de enlace incorrecta",
    503: "Servicio no disponible temporalmente",
    504: "Tiempo de espera de la puerta de enlace agotado",
}


class FaultScript:
    """The queue of scripted faults, and the ways to add to it.

    Faults are served in the order they were scripted, each to the first
    authorized request whose path it matches.
    """

    def __init__(self) -> None:
        self._fault_lock = threading.Lock()
        self._faults: list[Fault] = []

    def script(self, *faults: Fault) -> None:
        """Queues ``faults``, to be served in order."""
        with self._fault_lock:
            self._faults.extend(faults)

    def fail_next(
        self,
        status: int = 503,
        *,
        count: int = 1,
        retry_after: float | str | None = None,
        body: str | dict[str, Any] | None = None,
        path: str | None = None,
    ) -> None:
        """The next ``count`` matching requests get ``status``, with Retry-After if given."""
        if body is None:
            body = {"message": _FAULT_MESSAGES.get(status, f"Error {status}")}
        text = body if isinstance(body, str) else json.dumps(body, ensure_ascii=False)
        after = (
            None
            if retry_after is None
            else str(retry_after if isinstance(retry_after, str) else int(retry_after))
        )
        self.script(*[Fault(status=status, body=text, retry_after=after, path=path)] * count)

    def reject_next(
        self,
        *,
        code: str = "VAL-001",
        message: str = "Solicitud rechazada",
        errors: Sequence[str] | Mapping[str, str] = (),
        status: int = 400,
        envelope_code: str = "01",
        count: int = 1,
        path: str | None = None,
    ) -> None:
        """The next ``count`` matching requests are refused as the gateway refuses input.

        The answer has HTTP ``status`` and the gateway's envelope with ``envelope_code``
        (anything but "00"), the error code ``code`` and ``message``. ``errors`` lists
        the individual messages; a mapping gives each as "field: message". The client
        raises :class:`~quillon.accounts.errors.ApiError` with ``code`` and one field
        error per message (or one holding ``message`` when there are none).
        """
        if envelope_code == "00":
            raise ValueError('envelope_code "00" means success; a rejection needs another code')
        items = (
            [f"{name}: {text}" for name, text in errors.items()]
            if isinstance(errors, Mapping)
            else list(errors)
        )
        body = Rejection(status, envelope_code, code, items or [message]).body()
        body["errorMessage"] = message
        if items:
            body["data"] = items
        self.fail_next(status, count=count, body=body, path=path)

    def slow_next(self, seconds: float, *, count: int = 1, path: str | None = None) -> None:
        """The next ``count`` matching requests are answered normally after ``seconds``."""
        self.script(*[Fault(delay=seconds, path=path)] * count)

    def garbage_next(
        self,
        status: int = 200,
        *,
        count: int = 1,
        path: str | None = None,
        body: str = "<html><body><h1>Gateway</h1>upstream said nothing useful</body></html>",
    ) -> None:
        """The next ``count`` matching requests get a body that is not JSON."""
        self.script(*[Fault(status=status, body=body, path=path)] * count)

    def drop_next(self, *, count: int = 1, path: str | None = None) -> None:
        """The next ``count`` matching requests are read, then left unanswered and closed."""
        self.script(*[Fault(drop=True, path=path)] * count)

    def clear_faults(self) -> None:
        """Forgets the scripted faults not served yet."""
        with self._fault_lock:
            self._faults.clear()

    def take_fault(self, path: str) -> Fault | None:
        """Removes and gives the first scripted fault that matches ``path``."""
        with self._fault_lock:
            for i, fault in enumerate(self._faults):
                if fault.matches(path):
                    return self._faults.pop(i)
        return None
