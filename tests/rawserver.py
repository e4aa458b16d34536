"""A misbehaving HTTP server of the tests' own, written at the socket level.

It listens on 127.0.0.1 only, takes at most ``connections`` connections, and
stops by itself after ``lifetime`` seconds; each connection's request is read
(headers and a Content-Length body) and handed with the socket to ``answer``,
which writes whatever bytes it likes.
"""

from __future__ import annotations

import socket
import threading
import time
from collections.abc import Callable
from types import TracebackType

Answer = Callable[[socket.socket, bytes], None]


def read_request(conn: socket.socket) -> bytes:
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return data
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    while len(body) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    return head + b"\r\n\r\n" + body


def response(status: int, body: bytes = b"", *headers: str) -> bytes:
    lines = [f"HTTP/1.1 {status} X", f"Content-Length: {len(body)}", *headers]
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body


class RawServer:
    def __init__(self, answer: Answer, *, connections: int = 8, lifetime: float = 20.0) -> None:
        self.requests: list[bytes] = []
        self._answer = answer
        self._connections = connections
        self._until = time.monotonic() + lifetime
        self._sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._sock.bind(("127.0.0.1", 0))
        self._sock.listen(16)
        self._sock.settimeout(0.1)
        self.port = self._sock.getsockname()[1]
        self.url = f"http://127.0.0.1:{self.port}"
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self) -> None:
        served = 0
        while served < self._connections and not self._stop.is_set():
            if time.monotonic() > self._until:
                break
            try:
                conn, _ = self._sock.accept()
            except TimeoutError:
                continue
            served += 1
            threading.Thread(target=self._handle, args=(conn,), daemon=True).start()
        self._sock.close()

    def _handle(self, conn: socket.socket) -> None:
        conn.settimeout(max(0.1, self._until - time.monotonic()))
        try:
            request = read_request(conn)
            self.requests.append(request)
            self._answer(conn, request)
        except OSError:
            pass
        finally:
            conn.close()

    def __enter__(self) -> RawServer:
        return self

    def __exit__(
        self, kind: type[BaseException] | None, exc: BaseException | None, tb: TracebackType | None
    ) -> None:
        self._stop.set()
        self._thread.join(timeout=2)
