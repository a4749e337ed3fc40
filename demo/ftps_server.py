#!/usr/bin/env python3
"""The demo's FTPS server: pyftpdlib on 127.0.0.1 with explicit TLS required on the control and
the data channel and one account.

usage: ftps_server.py <port> <home> <user> <password> <certfile> <keyfile>
"""
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


class DataChannel(TLS_DTPHandler):
    # libcurl shakes hands on a protected passive data channel before it sends STOR; pyftpdlib
    # would take that early readable channel for an abandoned one and close it.
    def readable(self):
        if not self.receive and not self._initialized:
            return self._ssl_accepting or self._ssl_want_read
        return super().readable()


def main():
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    port, home, user, password, cert, key = sys.argv[1:]
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm='elradfmwMT')

    class Handler(TLS_FTPHandler):
        dtp_handler = DataChannel
        certfile = cert
        keyfile = key
        tls_control_required = True
        tls_data_required = True
        permit_foreign_addresses = False

    Handler.authorizer = authorizer
    server = FTPServer(('127.0.0.1', int(port)), Handler)
    server.serve_forever(timeout=0.5)


if __name__ == '__main__':
    main()
