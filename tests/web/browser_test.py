#!/usr/bin/python3
"""The demo's web page in Debian's headless Chromium, driven over the DevTools
protocol (python3-websocket). Serves packed sites from 127.0.0.1 and checks:
identical pictures (the page's presented 16-bit pictures against democapture's
frames at the same demo times), the threaded program where the page is served
cross-origin isolated (drawing with workers, the same pictures), playing to the
end and ending on Escape, and the desktop's message in the page for a missing
and for a truncated scene.

usage: browser_test.py --site DIR --short-site DIR --democapture EXE --demo EXE --content DIR
  --site        a packed site of the content (scripts/web-pack.sh)
  --short-site  the same scene with a short music file: plays to its end quickly
  --democapture the desktop capture tool; --demo the desktop program
  --content     the content folder the site was packed from
Every wait is bounded; exit status 0 when every check passed.
"""
import argparse
import base64
import functools
import importlib.util
import http.server
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

import websocket

TIMES = [0, 2500, 5000, 7500, 9900]
CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                  '--disable-background-networking', '--disable-component-update', '--disable-sync',
                  '--mute-audio', '--remote-debugging-port=0']


class Failure(Exception):
    pass


def _site_handler():
    """The handler of scripts/web-serve.py, the server a user runs."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts', 'web-serve.py')
    spec = importlib.util.spec_from_file_location('web_serve', path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.SiteHandler


class QuietHandler(_site_handler()):
    isolated = False

    def log_message(self, *args):
        pass


def serve(root, isolated=False):
    """A static server of `root` on 127.0.0.1; returns (server, base URL)."""
    handler = type('Handler', (QuietHandler,), {'isolated': isolated})
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(handler, directory=root))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, 'http://127.0.0.1:%d/' % server.server_address[1]


class Browser:
    """Headless Chromium with one page, reached through its DevTools socket."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix='web-test-profile.')
        self.process = subprocess.Popen(['chromium', *CHROMIUM_FLAGS, '--user-data-dir=' + self.profile,
                                         'about:blank'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, 'DevToolsActivePort')
        for _ in range(300):  # 30 s
            if os.path.exists(port_file) and len(open(port_file).read().split()) >= 2:
                break
            if self.process.poll() is not None:
                raise Failure('chromium exited with status %s' % self.process.returncode)
            time.sleep(0.1)
        else:
            raise Failure('chromium did not open its DevTools port')
        port, path = open(port_file).read().split()[:2]
        self.socket = websocket.create_connection('ws://127.0.0.1:%s%s' % (port, path), timeout=60)
        self.next_id = 0
        target = self.call('Target.createTarget', url='about:blank')['targetId']
        self.session = self.call('Target.attachToTarget', targetId=target, flatten=True)['sessionId']
        self.call('Page.enable', session=True)
        self.call('Runtime.enable', session=True)

    def call(self, method, session=False, **params):
        self.next_id += 1
        message = {'id': self.next_id, 'method': method, 'params': params}
        if session:
            message['sessionId'] = self.session
        self.socket.send(json.dumps(message))
        while True:  # events in between are dropped; the socket's timeout bounds the wait
            reply = json.loads(self.socket.recv())
            if reply.get('id') == self.next_id:
                if 'error' in reply:
                    raise Failure('%s: %s' % (method, reply['error']))
                return reply.get('result', {})

    def eval(self, expression):
        result = self.call('Runtime.evaluate', session=True, expression=expression, returnByValue=True,
                           awaitPromise=True)
        if 'exceptionDetails' in result:
            raise Failure('%s: %s' % (expression, result['exceptionDetails'].get('text')))
        return result['result'].get('value')

    def open(self, url):
        self.call('Page.navigate', session=True, url=url)
        self.wait('document.readyState === "complete" && !!window.demoState', 30, 'the page to load')

    def wait(self, expression, seconds, what):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.eval(expression):
                return
            time.sleep(0.1)
        state = self.eval('JSON.stringify({phase: demoState.phase, message: demoState.message, '
                          'errors: demoState.errors.slice(-3)})')
        raise Failure('waited %d s for %s; page state: %s' % (seconds, what, state))

    def key(self, code, key, keycode):
        for kind in ('keyDown', 'keyUp'):
            self.call('Input.dispatchKeyEvent', session=True, type=kind, code=code, key=key,
                      windowsVirtualKeyCode=keycode)

    def screenshot(self, path):
        data = self.call('Page.captureScreenshot', session=True, format='png')['data']
        with open(path, 'wb') as f:
            f.write(base64.b64decode(data))

    def close(self):
        try:
            self.socket.close()
        finally:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
            shutil.rmtree(self.profile, ignore_errors=True)


def read_png_rgb(path):
    """Width, height and the RGB8 rows of an 8-bit RGB, non-interlaced PNG."""
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise Failure('%s: not a PNG file' % path)
    pos, idat, header = 8, b'', None
    while pos + 8 <= len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 2 or interlace != 0:
        raise Failure('%s: not an 8-bit RGB PNG' % path)
    raw, stride, rows, prev = zlib.decompress(idat), width * 3, [], bytearray(width * 3)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 3] if i >= 3 else 0
            b = prev[i]
            c = prev[i - 3] if i >= 3 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, rows


def widen565(pixels, width, height, pitch):
    """RGB8 rows of a little-endian RGB565 picture, each channel's top bits
    repeated into its low bits (as democapture writes its PNG files)."""
    rows = []
    for y in range(height):
        values = struct.unpack_from('<%dH' % width, pixels, y * pitch)
        row = bytearray()
        for v in values:
            r, g, b = v >> 11, (v >> 5) & 63, v & 31
            row += bytes(((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)))
        rows.append(bytes(row))
    return rows


def check_pictures(browser, base, democapture, content, work, times=TIMES, program='demo.js', query=''):
    for t in times:
        frames = os.path.join(work, 'frames%d-%s' % (t, program.replace('/', '-')))
        subprocess.run([democapture, '--at', str(t), '--png', frames], cwd=content, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env={**os.environ, 'DEMO_THREADS': '1'})
        width, height, expected = read_png_rgb(os.path.join(frames, 'frame%05d.png' % t))
        browser.open(base + '?time=%d%s' % (t, query))
        # The first picture is drawn before the clock is read; later ones at t.
        browser.wait('(demoState.keptCount || 0) >= 3', 60, 'three pictures at time %d' % t)
        picture = browser.eval('(() => { const p = demoState.keptPicture; let s = "";'
                               ' for (let i = 0; i < p.bytes.length; i += 32768)'
                               '  s += String.fromCharCode.apply(null, p.bytes.subarray(i, i + 32768));'
                               ' return {w: p.width, h: p.height, pitch: p.pitch, data: btoa(s)}; })()')
        loaded = browser.eval('demoState.program')
        if loaded != program:
            raise Failure('time %d: the page loaded %s, not %s' % (t, loaded, program))
        if (picture['w'], picture['h']) != (width, height):
            raise Failure('time %d: the page presented %dx%d, democapture drew %dx%d' %
                          (t, picture['w'], picture['h'], width, height))
        actual = widen565(base64.b64decode(picture['data']), width, height, picture['pitch'])
        differing = [(x // 3, y) for y in range(height) if actual[y] != expected[y]
                     for x in range(0, width * 3, 3) if actual[y][x:x + 3] != expected[y][x:x + 3]]
        if differing:
            x, y = differing[0]
            raise Failure('time %d: %d pixels differ from democapture\'s frame, the first at (%d, %d): %s, not %s' %
                          (t, len(differing), x, y, actual[y][3 * x:3 * x + 3].hex(),
                           expected[y][3 * x:3 * x + 3].hex()))
        print('browser_test: time %5d: %s: the page\'s picture equals democapture\'s bit for bit' % (t, program))


def check_threads(browser, site, democapture, content, work):
    """Served cross-origin isolated, the page may load the threaded program
    (here forced: this machine may have fewer cores than the page asks for),
    which draws with workers and the very same pictures."""
    server, base = serve(site, isolated=True)
    try:
        check_pictures(browser, base, democapture, content, work, times=[2500, 9900], program='threads/demo.js',
                       query='&threads=1')
        cores = browser.eval('navigator.hardwareConcurrency')
        workers = browser.eval('PThread.runningWorkers.length')
        if cores > 1 and workers < 1:
            raise Failure('the threaded program draws on %d workers with %d cores' % (workers, cores))
        print('browser_test: the threaded program drew with %d worker(s) beside the page, %d cores' % (workers, cores))
    finally:
        server.shutdown()


def start(browser, base, query=''):
    browser.open(base + query)
    browser.wait('demoState.phase === "ready"', 60, 'the start screen')
    if 'Click or press a key' not in browser.eval('document.getElementById("message").textContent'):
        raise Failure('the start screen does not ask for a click or a key')
    browser.key('Space', ' ', 32)
    browser.wait('demoState.phase !== "ready"', 10, 'the demo to start on a key')


def check_plays_to_end(browser, short_base, work):
    start(browser, short_base)
    browser.wait('demoState.presents > 0', 30, 'the first picture')
    browser.screenshot(os.path.join(work, 'playing.png'))
    timing = browser.eval('demoState.timing')
    browser.wait('demoState.phase === "ended"', 90, 'the demo to end by itself')
    state = browser.eval('({code: demoState.exitCode, message: demoState.message,'
                         ' again: !document.getElementById("again").classList.contains("hidden")})')
    if state['code'] != 0 or state['message'] != 'The demo has ended.' or not state['again']:
        raise Failure('after the end the page shows %r' % state)
    browser.screenshot(os.path.join(work, 'ended.png'))
    print('browser_test: plays to its end by itself (%d pictures); first picture %.0f ms after the start,'
          ' %.0f ms after the content arrived' % (browser.eval('demoState.presents'),
                                                  timing['firstPresent'] - timing['started'],
                                                  timing['firstPresent'] - timing['contentArrived']))
    # Play again: a second run in the same page.
    browser.eval('document.getElementById("again").click()')
    browser.wait('demoState.phase === "playing" && demoState.presents > 0', 10, 'a second run')


def check_escape(browser, base):
    start(browser, base)
    browser.wait('demoState.presents >= 10', 60, 'ten pictures')
    browser.key('Escape', 'Escape', 27)
    browser.wait('demoState.phase === "ended"', 10, 'the demo to end on Escape')
    if browser.eval('demoState.exitCode') != 0:
        raise Failure('Escape ended the demo with exit code %s' % browser.eval('demoState.exitCode'))
    print('browser_test: Escape ends the demo')


def desktop_message(demo, folder):
    env = {**os.environ, 'SDL_VIDEODRIVER': 'dummy', 'SDL_AUDIODRIVER': 'dummy'}
    run = subprocess.run([demo, folder], capture_output=True, text=True, timeout=60, env=env)
    lines = [l for l in run.stderr.splitlines() if l.strip()]
    if run.returncode != 2 or not lines:
        raise Failure('the desktop demo in %s exited %d with %r' % (folder, run.returncode, run.stderr))
    return lines[-1].strip()


def check_bad_scene(browser, site, demo, work):
    for name, damage in (('missing', lambda p: os.remove(p)), ('truncated', lambda p: os.truncate(p, 100))):
        folder = os.path.join(work, name)
        shutil.copytree(site, folder)
        damage(os.path.join(folder, 'scene.2vef'))
        expected = desktop_message(demo, folder)
        server, base = serve(folder)
        try:
            start(browser, base)
            browser.wait('demoState.phase === "ended"', 30, 'the message for a %s scene' % name)
            shown = browser.eval('document.getElementById("message").textContent')
            if shown != expected:
                raise Failure('%s scene: the page shows %r, the desktop says %r' % (name, shown, expected))
        finally:
            server.shutdown()
        print('browser_test: a %s scene shows the desktop\'s message: %s' % (name, shown))


def main():
    parser = argparse.ArgumentParser()
    for option in ('--site', '--short-site', '--democapture', '--demo', '--content'):
        parser.add_argument(option, required=True)
    parser.add_argument('--work', help='keep screenshots and frames here (default: a temporary folder)')
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix='web-test.')
    os.makedirs(work, exist_ok=True)
    server, base = serve(args.site)
    short_server, short_base = serve(args.short_site)
    browser = Browser()
    try:
        check_pictures(browser, base, os.path.abspath(args.democapture), args.content, work)
        check_threads(browser, args.site, os.path.abspath(args.democapture), args.content, work)
        check_plays_to_end(browser, short_base, work)
        check_escape(browser, base)
        check_bad_scene(browser, args.site, os.path.abspath(args.demo), work)
    except Failure as e:
        print('browser_test: FAILED: %s' % e, file=sys.stderr)
        return 1
    finally:
        browser.close()
        server.shutdown()
        short_server.shutdown()
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    print('browser_test: all checks passed')
    return 0


if __name__ == '__main__':
    sys.exit(main())
