#!/usr/bin/env python3
"""A slow network link between two programs on loopback, for kernels without
netem: relays each TCP connection from a listening port to a target port, and
sends what it carries through one link per direction with a fixed rate and
one-way delay.

    slowlink.py --delay-ms 25 --rate-mbit 100 LISTEN:TARGET [LISTEN:TARGET...]

Every connection shares the link of its direction, as the connections of a
real line do. A new connection waits one round trip before its first byte
goes, as for a handshake. Each direction keeps at most --window-kib in
flight per connection, so that a fast sender waits on the link like one
bounded by a TCP window instead of filling the relay's memory. Prints "ready"
once every port listens; runs until terminated.
"""
import argparse
import asyncio
import sys
import time


class Link:
    """One direction of the line: bytes leave one after another at the
    rate and arrive the delay later."""

    def __init__(self, bytes_per_second, delay):
        self.bytes_per_second = bytes_per_second
        self.delay = delay
        self.free_at = 0.0

    def arrival(self, size):
        start = max(time.monotonic(), self.free_at)
        self.free_at = start + size / self.bytes_per_second
        return self.free_at + self.delay


async def pump(reader, writer, link, window):
    queue = asyncio.Queue()
    room = asyncio.Event()
    room.set()
    in_flight = 0

    async def deliver():
        nonlocal in_flight
        while True:
            arrival, data = await queue.get()
            wait = arrival - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()
            in_flight -= len(data)
            if in_flight < window:
                room.set()

    delivery = asyncio.ensure_future(deliver())
    try:
        while True:
            data = await reader.read(64 * 1024)
            queue.put_nowait((link.arrival(len(data)), data or None))
            if not data:
                break
            in_flight += len(data)
            if in_flight >= window:
                room.clear()
                await room.wait()
        await delivery
    finally:
        delivery.cancel()


async def relay(client_reader, client_writer, target, links, args):
    await asyncio.sleep(2 * args.delay_ms / 1000.0)
    try:
        server_reader, server_writer = await asyncio.open_connection('127.0.0.1', target)
    except OSError:
        client_writer.close()
        return
    window = args.window_kib * 1024
    try:
        await asyncio.gather(pump(client_reader, server_writer, links[0], window),
                             pump(server_reader, client_writer, links[1], window))
    except (OSError, asyncio.CancelledError):
        pass
    finally:
        for writer in (client_writer, server_writer):
            writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--delay-ms', type=float, default=25)
    parser.add_argument('--rate-mbit', type=float, default=100)
    parser.add_argument('--window-kib', type=int, default=4096)
    parser.add_argument('ports', nargs='+')
    args = parser.parse_args()
    bytes_per_second = args.rate_mbit * 1e6 / 8
    links = (Link(bytes_per_second, args.delay_ms / 1000.0), Link(bytes_per_second, args.delay_ms / 1000.0))
    servers = []
    for pair in args.ports:
        listen, target = (int(port) for port in pair.split(':'))
        servers.append(await asyncio.start_server(
            lambda r, w, target=target: relay(r, w, target, links, args), '127.0.0.1', listen))
    print('ready', flush=True)
    await asyncio.gather(*(server.serve_forever() for server in servers))


if __name__ == '__main__':
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
