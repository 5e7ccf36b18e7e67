"""A small HTTP/1.1 server for the room, on asyncio: every host of the room's segment reaches it, so it trusts
nothing. A request is a GET of one of a few paths with a few short query values, or it is refused; its head
must come whole within HEAD_SECONDS; an address holds PER_ADDRESS connections at most, FILES_PER_ADDRESS of them
sending a file. When ALL are open, the oldest one that is not sending a file makes room for a new one: idle
connections and slow readers of small answers never keep a PC out, and the files go only where the routes
allow (a PC of the room). Files go out with sendfile, never through Python; one connection, one request."""

import asyncio
import os
import resource
import select
import socket
import urllib.parse

HEAD_SECONDS = 10
WRITE_SECONDS = 30  # for each piece of a file: a reader that stalls that long is dropped
PER_ADDRESS = 16
FILES_PER_ADDRESS = 4  # iPXE fetches its files one after another
ALL = 512
_REASONS = {200: "OK", 400: "Bad Request", 403: "Forbidden", 404: "Not Found", 405: "Method Not Allowed",
            503: "Service Unavailable", 507: "Insufficient Storage"}


class Refused(Exception):
    def __init__(self, status):
        super().__init__(status)
        self.status = status


class Response:
    def __init__(self, status=200, text="", kind="text/plain", path=None, on_piece=None):
        self.status, self.text, self.kind, self.path, self.on_piece = status, text, kind, path, on_piece


def query_values(query, names, longest=None):
    """{name: value} of QUERY, each of NAMES at most once, nothing else, each value 1 to 64 characters (or
    as LONGEST, {name: characters}, allows)."""
    try:
        pairs = urllib.parse.parse_qsl(query, keep_blank_values=True, strict_parsing=bool(query), max_num_fields=8)
    except ValueError:
        raise Refused(400)
    values, longest = dict(pairs), longest or {}
    if len(values) != len(pairs) or not set(values) <= set(names) or not all(
            0 < len(value) <= longest.get(name, 64) for name, value in values.items()):
        raise Refused(400)
    return values


class HttpServer:
    """ROUTE(path, query, address) -> Response, or raises Refused; ON_FAULT(exception) for a fault of ours."""

    def __init__(self, route, on_fault):
        self.route, self.on_fault, self.by_address, self.files = route, on_fault, {}, {}
        self.evictable, self.sending = {}, set()  # connections in the order they came; those sending a file

    async def start(self, address, port):
        # A burst of connections is accepted before any is looked at: room for them beyond a login's 1,024.
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        try:
            resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, 65536), max(hard, 65536)))
        except (ValueError, OSError):
            resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
        # The limit bounds a line of the request's head.
        self.server = await asyncio.start_server(self._connection, address, port, limit=4096, reuse_address=True,
                                                 backlog=256)

    def close(self):
        """No new connection, and those open closed now: a stopping server keeps no peer waiting."""
        self.server.close()
        for writer in list(self.evictable) + list(self.sending):
            writer.transport.abort()

    def _admit(self, writer, address):
        if self.by_address.get(address, 0) >= PER_ADDRESS:
            return False
        if sum(self.by_address.values()) >= ALL:
            if not self.evictable:
                return False
            oldest = next(iter(self.evictable))
            del self.evictable[oldest]
            oldest.transport.abort()
        self.by_address[address] = self.by_address.get(address, 0) + 1
        self.evictable[writer] = True
        return True

    def _file_slot(self, writer, address):
        """Whether ADDRESS may have one more file on its way: then this connection is no longer evicted."""
        if self.files.get(address, 0) >= FILES_PER_ADDRESS:
            return False
        self.files[address] = self.files.get(address, 0) + 1
        self.evictable.pop(writer, None)
        self.sending.add(writer)
        return True

    async def _connection(self, reader, writer):
        address = (writer.get_extra_info("peername") or ("?",))[0]
        if not self._admit(writer, address):
            writer.transport.abort()
            return
        try:
            try:
                method, target = await asyncio.wait_for(self._head(reader), HEAD_SECONDS)
                if method != "GET":
                    raise Refused(405)
                url = urllib.parse.urlsplit(target)
                response = self.route(url.path, url.query, address)
                if response.path and not self._file_slot(writer, address):
                    raise Refused(503)
            except Refused as refused:
                response = Response(refused.status, _REASONS[refused.status] + "\n")
            await self._send(writer, response)
        except (asyncio.TimeoutError, asyncio.LimitOverrunError, asyncio.IncompleteReadError, ConnectionError,
                ValueError):
            pass  # a head that never came whole, or a peer that went
        except Exception as error:  # a fault of ours: this request fails, the room goes on
            self.on_fault(error)
        finally:
            self.evictable.pop(writer, None)
            if writer in self.sending:
                self.sending.discard(writer)
                _less(self.files, address)
            _less(self.by_address, address)
            writer.transport.abort()

    async def _head(self, reader):
        parts = (await reader.readuntil(b"\n")).decode("ascii").split()
        if len(parts) != 3 or not parts[2].startswith("HTTP/1.") or not parts[1].startswith("/"):
            raise Refused(400)
        for _ in range(64):
            if (await reader.readuntil(b"\n")).strip() == b"":
                return parts[0], parts[1]
        raise Refused(400)

    async def _send(self, writer, response):
        size = os.path.getsize(response.path) if response.path else None
        body = b"" if response.path else response.text.encode("utf-8")
        head = "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nCache-Control: no-store\r\n" \
               "Connection: close\r\n\r\n" % (response.status, _REASONS[response.status], response.kind,
                                              len(body) if size is None else size)
        writer.write(head.encode("ascii") + body)
        await asyncio.wait_for(writer.drain(), WRITE_SECONDS)
        if response.path:
            with open(response.path, "rb") as source:
                await self._send_file(writer, source, size, response.on_piece)

    async def _send_file(self, writer, source, size, on_piece):
        """SOURCE to the peer with sendfile in worker threads (they share the cores, as a server's workers do),
        a piece at a time, so that more peers than workers take turns; a peer that reads slowly is waited for
        by the event loop, never by a thread. ON_PIECE after each piece, a twentieth of the file (4 MiB at
        least). The workers send on a descriptor of their own: the transport closes its own as soon as the
        peer goes, and that number may be another connection's by the time a worker uses it."""
        loop, sent, sock = asyncio.get_running_loop(), 0, writer.get_extra_info("socket")
        piece = max(1 << 22, size // 20)
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_CORK, 1)  # full segments, as nginx's tcp_nopush
        fd, mark = os.dup(sock.fileno()), piece
        try:
            while sent < size:
                done = await loop.run_in_executor(None, _push, fd, source.fileno(), sent, min(piece, size - sent))
                if not done:
                    await asyncio.wait_for(_writable(fd), WRITE_SECONDS)
                sent += done
                if on_piece and (sent >= mark or sent == size):
                    on_piece(sent, size)
                    mark += piece
        finally:
            os.close(fd)


def _less(counts, key):
    counts[key] -= 1
    if not counts[key]:
        del counts[key]


def _push(fd, source, offset, count):
    """COUNT bytes of SOURCE from OFFSET to the socket FD, as many as it takes within a few milliseconds of
    waiting (a peer that reads fast is kept up with here, a slow one left to the event loop); how many."""
    sent, poller = 0, select.poll()
    poller.register(fd, select.POLLOUT)
    while sent < count:
        try:
            done = os.sendfile(fd, source, offset + sent, count - sent)
        except BlockingIOError:
            if poller.poll(5):
                continue
            break
        if not done:
            raise ConnectionError("the file ended early")
        sent += done
    return sent


async def _writable(fd):
    """Until FD (a descriptor the event loop watches for nothing else) takes more."""
    loop, ready = asyncio.get_running_loop(), asyncio.get_running_loop().create_future()
    loop.add_writer(fd, lambda: ready.done() or ready.set_result(None))
    try:
        await ready
    finally:
        loop.remove_writer(fd)
