#!/usr/bin/python3
"""Frame times of the web build in headless Chromium, one thread: every frame
of a packed site's content at 25 fps (the page's ?bench=1: Render, draw and
present into memory, nothing shown), and the size of the page's own code.

usage: web_bench.py SITE_DIR     (a site made by scripts/web-pack.sh)
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'web'))
import browser_test  # noqa: E402  (the DevTools driver and the static server)


def main():
    site = sys.argv[1]
    code = sum(os.path.getsize(os.path.join(site, f)) for f in ('index.html', 'page.js', 'demo.js', 'demo.wasm'))
    server, base = browser_test.serve(site)
    browser = browser_test.Browser()
    try:
        browser.open(base + '?bench=1')
        browser.wait('!!window.benchResult || demoState.phase === "failed"', 900, 'the benchmark to finish')
        r = browser.eval('window.benchResult')
        timing = browser.eval('demoState.timing')
    finally:
        browser.close()
        server.shutdown()
    if not r:
        print('web_bench: the page failed', file=sys.stderr)
        return 1
    print('web_bench: %d frames at 800x600, one thread: mean %.2f ms, 99th percentile %.2f ms, worst %.2f ms'
          % (r['frames'], r['mean'], r['p99'], r['worst']))
    print('web_bench: first picture %.0f ms after the content arrived' %
          (timing['firstPresent'] - timing['contentArrived']) if 'firstPresent' in timing else
          'web_bench: (no picture is shown in a benchmark run)')
    print('web_bench: the page\'s code (index.html, page.js, demo.js, demo.wasm): %d bytes (%.2f MB)' %
          (code, code / 1e6))
    return 0


if __name__ == '__main__':
    sys.exit(main())
