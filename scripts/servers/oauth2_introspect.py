#!/usr/bin/env python3
"""The token check Dovecot's oauth2 passdb asks: oauth2_introspect.py PORT
A form POST "token=..." is answered with {"active": "true", "username": "alice"} for the
good test token and {"active": "false"} for any other."""
import http.server
import json
import sys
import urllib.parse

GOOD_TOKEN = "qarvel-good-token"


class Introspection(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        form = urllib.parse.parse_qs(self.rfile.read(length).decode("ascii", "replace"))
        token = (form.get("token") or [""])[0]
        answer = {"active": "true", "username": "alice"} if token == GOOD_TOKEN else {"active": "false"}
        body = json.dumps(answer).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Introspection).serve_forever()
