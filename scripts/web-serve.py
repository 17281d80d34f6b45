#!/usr/bin/env python3
"""Serves a site made by scripts/web-pack.sh on http://127.0.0.1:PORT/ with the
cross-origin isolation headers (COOP and COEP) that let the page share memory
with workers: the demo then draws on every core. Any static server without
them plays the one-thread program.

usage: scripts/web-serve.py SITE_DIR [PORT]     (default port 8000)
"""
import functools
import http.server
import os
import sys


class SiteHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, '.wasm': 'application/wasm',
                      '.js': 'text/javascript'}
    isolated = True  # send COOP and COEP

    def end_headers(self):
        if self.isolated:
            self.send_header('Cross-Origin-Opener-Policy', 'same-origin')
            self.send_header('Cross-Origin-Embedder-Policy', 'require-corp')
        super().end_headers()


def main():
    if len(sys.argv) not in (2, 3) or not os.path.isfile(os.path.join(sys.argv[1], 'index.html')):
        print('usage: %s SITE_DIR [PORT]   (SITE_DIR made by scripts/web-pack.sh)' % sys.argv[0], file=sys.stderr)
        return 2
    port = int(sys.argv[2]) if len(sys.argv) == 3 else 8000
    handler = functools.partial(SiteHandler, directory=sys.argv[1])
    with http.server.ThreadingHTTPServer(('127.0.0.1', port), handler) as server:
        print('web-serve: http://127.0.0.1:%d/ (Ctrl+C stops)' % port)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == '__main__':
    sys.exit(main())
