#!/usr/bin/env python3
"""A small OpenImmo portal for the demo: takes posted OpenImmo documents on 127.0.0.1 and answers
each listing with the portal's own id, as a portal does. The documents it receives are kept in
the folder given as the second argument."""
import sys
import xml.etree.ElementTree as ET
from http.server import BaseHTTPRequestHandler, HTTPServer
from pathlib import Path

PORT = int(sys.argv[1]) if len(sys.argv) > 1 else 18765
INBOX = Path(sys.argv[2]) if len(sys.argv) > 2 else Path("portal-inbox")
COUNT = 0


def local(tag):
    return tag.rsplit("}", 1)[-1]


class Portal(BaseHTTPRequestHandler):
    def do_POST(self):
        global COUNT
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        COUNT += 1
        INBOX.mkdir(parents=True, exist_ok=True)
        (INBOX / f"document-{COUNT:03}.xml").write_bytes(body)
        answer = ET.Element("openimmo_feedback")
        try:
            root = ET.fromstring(body)
        except ET.ParseError as e:
            self.reply(400, f"<openimmo_feedback><meldung><freitext>{e}</freitext></meldung></openimmo_feedback>")
            return
        for listing in (n for n in root.iter() if local(n.tag) == "immobilie"):
            fields = {local(n.tag): (n.text or "") for n in listing.iter()}
            item = ET.SubElement(answer, "immobilie")
            ET.SubElement(item, "openimmo_obid").text = fields.get("openimmo_obid", "")
            ET.SubElement(item, "expose_id").text = "WH-" + fields.get("objektnr_extern", "")
            ET.SubElement(item, "antwort", art="OK")
            ET.SubElement(ET.SubElement(item, "meldung"), "freitext").text = "übernommen"
        self.reply(200, ET.tostring(answer, encoding="unicode"))

    def reply(self, status, text):
        data = ('<?xml version="1.0" encoding="UTF-8"?>' + text).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/xml; charset=UTF-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    HTTPServer(("127.0.0.1", PORT), Portal).serve_forever()
