"""The server against Debian's python3-websockets, as a script writer uses it.

With the library's keepalive on (a short interval here), compression offered
and not: the client stays connected, sees every change its clicks make, has
its close answered with its own code, and a stop of the server reaches an
open connection as a close frame with 1001. Run by ctest with
PANEL_SERVER_BIN and PANEL_MAKE_PICTURE set; leaves nothing behind.
"""

import asyncio
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

try:
    import websockets
except ImportError:
    print("skipped: python3-websockets is not installed (tools/setup.sh browser)")
    sys.exit(77)

SERVER = os.environ["PANEL_SERVER_BIN"]
MAKE_PICTURE = os.environ["PANEL_MAKE_PICTURE"]

# The demonstration panel: "circlef" fills a disc around (320, 240), "clear"
# blacks out the drawing area; the report clicks at a picture pixel.
CIRCLEF = (140, 20)
CLEAR = (500, 20)
CENTRE = (320, 240)
GREY = (100, 100, 100)  # the drawing colour the sliders start with
PING_INTERVAL = 0.2


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("server did not listen on %d" % port)


def pixel(picture, x, y):
    """The (blue, green, red) bytes of a 24-bit BMP at (x, y), y from the bottom."""
    start = struct.unpack_from("<I", picture, 10)[0]
    width = struct.unpack_from("<i", picture, 18)[0]
    at = start + y * ((width * 3 + 3) & ~3) + x * 3
    return tuple(picture[at : at + 3])


def report(x, y):
    return "mouse_X: %d\r\nmouse_Y: %d\r\n" % (x, y)


async def click_until(ws, where, wanted):
    """Clicks, then reads pictures until the centre shows `wanted` (bounded)."""
    await ws.send(report(*where))
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        message = await asyncio.wait_for(ws.recv(), deadline - time.monotonic())
        if isinstance(message, bytes) and message[:2] == b"BM":
            if wanted(pixel(message, *CENTRE)):
                return
    raise AssertionError("no picture showed the click on %r" % (where,))


async def session(port, compression):
    url = "ws://127.0.0.1:%d/" % port
    async with websockets.connect(
        url, compression=compression, ping_interval=PING_INTERVAL, ping_timeout=2
    ) as ws:
        started = time.monotonic()
        # Streaming (after the server's two pings) once the first picture is in.
        await asyncio.wait_for(ws.recv(), 10)
        for _ in range(3):
            await click_until(ws, CLEAR, lambda bgr: bgr == (0, 0, 0))
            await click_until(ws, CIRCLEF, lambda bgr: bgr == GREY)
        # Long enough for many keepalive rounds, and pings of its own.
        while time.monotonic() - started < 20 * PING_INTERVAL:
            await asyncio.wait_for(await ws.ping(b"script"), 5)
            try:
                await asyncio.wait_for(ws.recv(), PING_INTERVAL)
            except asyncio.TimeoutError:
                pass
        await ws.close(code=4000, reason="done")
        assert ws.close_rcvd is not None and ws.close_rcvd.code == 4000, ws.close_rcvd
        assert ws.close_rcvd_then_sent is False


async def stop_reaches(port, server):
    async with websockets.connect("ws://127.0.0.1:%d/" % port, ping_interval=None) as ws:
        await asyncio.wait_for(ws.recv(), 10)  # streaming
        server.send_signal(signal.SIGTERM)
        try:
            while True:
                await asyncio.wait_for(ws.recv(), 10)
        except websockets.ConnectionClosed as closed:
            assert closed.rcvd is not None and closed.rcvd.code == 1001, closed


def main():
    folder = tempfile.mkdtemp(prefix="panel-python-")
    server = None
    try:
        subprocess.run([MAKE_PICTURE, os.path.join(folder, "work.bmp"), "640", "480"],
                       check=True, stdout=subprocess.DEVNULL)
        port = free_port()
        server = subprocess.Popen([SERVER, "-p", str(port)], cwd=folder,
                                  stdout=subprocess.DEVNULL)
        wait_for_port(port)
        for compression in ("deflate", None):
            asyncio.run(session(port, compression))
            print("compression %s: stayed connected, saw every click, close answered"
                  % compression)
        asyncio.run(stop_reaches(port, server))
        assert server.wait(10) == 0
        print("stop: close frame 1001, exit status 0")
    finally:
        if server is not None and server.poll() is None:
            server.kill()
            server.wait()
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
