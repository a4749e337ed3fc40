#!/usr/bin/env python3
"""A loopback stand-in for the host's REST service, for the demo and the tests.

It answers what FernDispatcher asks of the service, below the base path (default "/api"):
  GET  users/{user DSN}                           the availability check: the user as XML
  POST portals/publish                            the publish request (only the status counts)
  GET  portals/{DSN}/authenticationStart          an OAuth grant begins: address, token, secret
  POST portals/{DSN}/authenticationEnd            the grant ends with token, secret and verifier
  GET  portals/{DSN}/isAuthenticatedWithOAuth     whether the portal's grant is complete
and, outside the base path, the portal's authorisation page "/authorize?oauth_token=T", whose
button leads to "/authorize/confirm", which redirects to "/callback?oauth_token=T&oauth_verifier=V".

Every request needs Basic credentials: one of the --user entries ("<company>/<login>:<password>")
or, with --super, "local/superAdmin" with an empty password. Each request is kept as it arrived
(request line, headers in their order, blank line, body) in the --record folder, one file each.
The port is printed as "PORT <n>" once the service listens; it ends itself after --lifetime
seconds. Each answer is logged on standard error as "<method> <path> -> <status>", and once
written as "<method> <path> sent".
"""
import argparse
import base64
import html
import os
import re
import secrets
import ssl
import sys
import threading
import time
import xml.etree.ElementTree as ET
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import parse_qs, unquote, urlsplit

GUID = r"\{?[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\}?"

p = argparse.ArgumentParser()
p.add_argument("--port", type=int, default=0)
p.add_argument("--base", default="/api")
p.add_argument("--user", action="append", default=[])
p.add_argument("--super", action="store_true")
p.add_argument("--record", default="")
p.add_argument("--users-content-type", default="application/xml; charset=UTF-8")
p.add_argument("--publish-status", type=int, default=200)
p.add_argument("--publish-location", default="", help="publish answers 302 to this address")
p.add_argument("--delay", type=float, default=0.0, help="seconds before each answer")
p.add_argument("--publish-delay", type=float, default=0.0, help="seconds before the publish answer")
p.add_argument("--users-answer", default="", help="a file whose bytes answer the availability check")
p.add_argument("--cert", default="")
p.add_argument("--key", default="")
p.add_argument("--lifetime", type=float, default=600.0)
ARGS = p.parse_args()

USERS = {}
for entry in ARGS.user:
    name, _, password = entry.partition(":")
    USERS[name] = password
if ARGS.super:
    USERS["local/superAdmin"] = ""

LOCK = threading.Lock()
COUNT = 0
GRANTS = {}         # portal DSN -> {"token", "secret", "verifier"}
AUTHENTICATED = set()


def local(tag):
    return tag.rsplit("}", 1)[-1]


def texts(body):
    """The element texts of an XML body by local name (a default namespace is allowed)."""
    root = ET.fromstring(body)
    return local(root.tag), {local(n.tag): (n.text or "") for n in root.iter()}


def portal_key(dsn):
    return dsn.strip("{}").upper()


class Service(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def origin(self):
        scheme = "https" if ARGS.cert else "http"
        return f"{scheme}://127.0.0.1:{self.server.server_address[1]}"

    def record(self, body):
        global COUNT
        if not ARGS.record:
            return
        with LOCK:
            COUNT += 1
            number = COUNT
        head = self.requestline + "\r\n" + "".join(f"{k}: {v}\r\n" for k, v in self.headers.items())
        folder = Path(ARGS.record)
        folder.mkdir(parents=True, exist_ok=True)
        (folder / f"{number:03}-{self.command}.txt").write_bytes(head.encode("latin-1") + b"\r\n" + body)

    def reply(self, status, text, content_type="application/xml; charset=UTF-8", extra=()):
        data = text if isinstance(text, bytes) else text.encode("utf-8")
        print(f"{self.command} {self.path} -> {status}", file=sys.stderr, flush=True)
        if ARGS.delay:
            time.sleep(ARGS.delay)
        try:
            self.send_response(status)
            if content_type:
                self.send_header("Content-Type", content_type)
            for k, v in extra:
                self.send_header(k, v)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
            self.wfile.flush()
            print(f"{self.command} {self.path} sent", file=sys.stderr, flush=True)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up waiting

    def authorised(self):
        value = self.headers.get("Authorization", "")
        if value.startswith("Basic "):
            try:
                name, _, password = base64.b64decode(value[6:]).decode("utf-8").partition(":")
            except Exception:
                name, password = None, None
            if name in USERS and USERS[name] == password:
                return True
        self.reply(401, "<error>Anmeldung erforderlich</error>",
                   extra=[("WWW-Authenticate", 'Basic realm="KAVANTOR-API"')])
        return False

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        self.record(body)
        url = urlsplit(self.path)
        if url.path.startswith("/authorize") or url.path == "/callback":
            return self.portal_pages(url)
        if not url.path.startswith(ARGS.base.rstrip("/") + "/"):
            return self.reply(404, "<error>unbekannte Adresse</error>")
        if not self.authorised():
            return
        route = unquote(url.path[len(ARGS.base.rstrip("/")) + 1:])
        if m := re.fullmatch(r"users/(" + GUID + ")", route):
            if self.command != "GET":
                return self.reply(405, "<error>GET erwartet</error>")
            if ARGS.users_answer:
                return self.reply(200, Path(ARGS.users_answer).read_bytes(), ARGS.users_content_type)
            return self.reply(200, f"<user><dsn>{m.group(1).strip('{}')}</dsn></user>",
                              ARGS.users_content_type)
        if route == "portals/publish":
            if self.command != "POST":
                return self.reply(405, "<error>POST erwartet</error>")
            try:
                root, values = texts(body)
            except ET.ParseError as e:
                return self.reply(400, f"<error>{e}</error>")
            if root != "publishPortalsType" or not values.get("portalIds", "").strip():
                return self.reply(400, "<error>publishPortalsType mit portalIds erwartet</error>")
            if ARGS.publish_delay:
                time.sleep(ARGS.publish_delay)
            if ARGS.publish_location:
                loc = ARGS.publish_location
                return self.reply(302, f'<html><body><a href="{html.escape(loc)}">weiter</a></body></html>',
                                  "text/html; charset=UTF-8", [("Location", loc)])
            return self.reply(ARGS.publish_status, "<publishResult><accepted>true</accepted></publishResult>")
        if m := re.fullmatch(r"portals/(" + GUID + ")/(authenticationStart|authenticationEnd|isAuthenticatedWithOAuth)", route):
            return self.portal_login(portal_key(m.group(1)), m.group(2), body)
        return self.reply(404, "<error>unbekannter Endpunkt</error>")

    def portal_login(self, portal, action, body):
        if action == "authenticationStart":
            grant = {"token": secrets.token_hex(8), "secret": secrets.token_hex(12),
                     "verifier": secrets.token_hex(6)}
            with LOCK:
                GRANTS[portal] = grant
            address = f"{self.origin()}/authorize?oauth_token={grant['token']}"
            return self.reply(200, "<portalAuthenticationType>"
                              f"<authenticationUrl>{address.replace('&', '&amp;')}</authenticationUrl>"
                              f"<authenticationToken>{grant['token']}</authenticationToken>"
                              f"<authenticationTokenSecret>{grant['secret']}</authenticationTokenSecret>"
                              "</portalAuthenticationType>")
        if action == "authenticationEnd":
            try:
                _, values = texts(body)
            except ET.ParseError as e:
                return self.reply(400, f"<error>{e}</error>")
            with LOCK:
                grant = GRANTS.get(portal)
                ok = grant is not None and all(
                    values.get(k, "") == grant[v] for k, v in
                    (("authenticationToken", "token"), ("authenticationTokenSecret", "secret"),
                     ("verifier", "verifier")))
                if ok:
                    AUTHENTICATED.add(portal)
            if not ok:
                return self.reply(400, "<error>Token, Secret oder Verifier passen nicht</error>")
            return self.reply(200, "<portalAuthenticationType><status>AUTHENTICATED</status></portalAuthenticationType>")
        with LOCK:
            done = portal in AUTHENTICATED
        message = "SUCCESSFULLY SENT AN TEST-REQUEST" if done else "NOT AUTHENTICATED"
        return self.reply(200, f"<portalAuthenticationCheck><message>{message}</message></portalAuthenticationCheck>")

    def portal_pages(self, url):
        query = parse_qs(url.query)
        token = (query.get("oauth_token") or [""])[0]
        with LOCK:
            grant = next((g for g in GRANTS.values() if g["token"] == token), None)
        if url.path == "/callback":
            return self.reply(200, "<html><body><p>Anmeldung abgeschlossen.</p></body></html>",
                              "text/html; charset=UTF-8")
        if grant is None:
            return self.reply(400, "<html><body><p>Unbekanntes oauth_token.</p></body></html>",
                              "text/html; charset=UTF-8")
        if url.path == "/authorize/confirm":
            target = f"{self.origin()}/callback?oauth_token={token}&oauth_verifier={grant['verifier']}"
            return self.reply(302, "", None, [("Location", target)])
        return self.reply(200, "<html><body><h1>ImmobilienScout24 (Demo)</h1>"
                          "<p>Der Host-Dienst bittet um Zugriff auf Ihr Konto.</p>"
                          f"<form action=\"/authorize/confirm\"><input type=\"hidden\" name=\"oauth_token\" value=\"{token}\">"
                          "<button type=\"submit\">Zugriff erlauben</button></form></body></html>",
                          "text/html; charset=UTF-8")

    do_GET = do_POST = do_PUT = handle_any

    def log_message(self, *args):
        pass


def main():
    server = ThreadingHTTPServer(("127.0.0.1", ARGS.port), Service)
    server.daemon_threads = True
    if ARGS.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(ARGS.cert, ARGS.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Timer(ARGS.lifetime, lambda: os._exit(0)).start()
    print("PORT", server.server_address[1], flush=True)
    server.serve_forever(poll_interval=0.2)


if __name__ == "__main__":
    main()
