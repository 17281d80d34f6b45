#!/usr/bin/python3
"""Frame times of the web build in headless Chromium: every frame of a packed
site's content at 25 fps, the frames bench_demo_frames draws on the desktop
(the page's ?bench=P: clear, Render, the time printed and present into memory,
nothing shown), by the one-thread program (a plain static server) and by the
threaded one (served cross-origin isolated), and the size of the page's own
code. With P passes each frame's time is its best of P, as bench_demo_frames
--passes.

usage: web_bench.py [--passes P] SITE_DIR     (a site made by scripts/web-pack.sh)
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'web'))
import browser_test  # noqa: E402  (the DevTools driver and the static server)

ONE_THREAD = ('index.html', 'page.js', 'demo.js', 'demo.wasm')
THREADED = ('threads/demo.js', 'threads/demo.worker.js', 'threads/demo.wasm')


def run(site, isolated, passes):
    """The benchmark result of the page, or None when it failed."""
    server, base = browser_test.serve(site, isolated=isolated)
    browser = browser_test.Browser()
    try:
        browser.open(base + '?bench=%d' % passes + ('&threads=1' if isolated else ''))
        browser.wait('!!window.benchResult || demoState.phase === "failed"', 120 + 60 * passes,
                     'the benchmark to finish')
        result = browser.eval('window.benchResult')
        if result:
            result['program'] = browser.eval('demoState.program')
            result['cores'] = browser.eval('navigator.hardwareConcurrency')
        return result
    finally:
        browser.close()
        server.shutdown()


def main():
    parser = argparse.ArgumentParser(description='Frame times of the web build in headless Chromium')
    parser.add_argument('--passes', type=int, default=1, choices=range(1, 101), metavar='P',
                        help='each frame\'s best of P passes (1..100, default 1)')
    parser.add_argument('site', help='a site made by scripts/web-pack.sh')
    args = parser.parse_args()
    site = args.site
    for isolated in (False, True):
        r = run(site, isolated, args.passes)
        if not r:
            print('web_bench: the page failed', file=sys.stderr)
            return 1
        threads = 'threads on %d cores' % r['cores'] if isolated else 'one thread'
        if args.passes > 1:
            threads += ", each frame's best of %d passes" % args.passes
        print('web_bench: %s, %d frames at 800x600, %s: mean %.2f ms, 99th percentile %.2f ms, worst %.2f ms'
              % (r['program'], r['frames'], threads, r['mean'], r['p99'], r['worst']))
    for name, files in (('one-thread', ONE_THREAD), ('threaded', THREADED)):
        size = sum(os.path.getsize(os.path.join(site, f)) for f in files)
        print('web_bench: the page\'s %s code (%s): %d bytes (%.2f MB)' % (name, ', '.join(files), size, size / 1e6))
    return 0


if __name__ == '__main__':
    sys.exit(main())
