#!/usr/bin/env python3
# usage: delay_relay.py DELAY_MS LISTEN_PORT:TARGET_PORT...
# A TCP relay on 127.0.0.1 that holds every chunk DELAY_MS milliseconds in each direction
# before passing it on, as a network's latency would (asyncio waits at least about a
# millisecond whenever the delay is above 0). Used by server_shards.py.
import asyncio
import sys

delay = float(sys.argv[1]) / 1000
pairs = [tuple(map(int, p.split(":"))) for p in sys.argv[2:]]  # (listen, target)


async def pump(reader, writer):
    loop = asyncio.get_running_loop()
    try:
        while True:
            data = await reader.read(1 << 16)
            if not data:
                break
            due = loop.time() + delay
            await asyncio.sleep(max(0, due - loop.time()))
            writer.write(data)
            await writer.drain()
    except OSError:
        pass
    writer.close()


def handler(target):
    async def relay(reader, writer):
        target_reader, target_writer = await asyncio.open_connection("127.0.0.1", target)
        asyncio.ensure_future(pump(reader, target_writer))
        asyncio.ensure_future(pump(target_reader, writer))
    return relay


async def main():
    for listen, target in pairs:
        await asyncio.start_server(handler(target), "127.0.0.1", listen)
    await asyncio.Event().wait()


asyncio.run(main())
