#!/usr/bin/python3
"""Checks that an HTML page stands alone: it parses, every picture is an
embedded PNG that decodes completely, and nothing refers to another file or
runs a script; a link within the page leads to an element of it. Prints one line per fault and exits 1 when there is any;
prints the number of pictures otherwise."""

import base64
import html.parser
import struct
import sys
import zlib


def png_fault(data):
    """Why `data` is not a complete, well-formed PNG, or None."""
    if not data.startswith(b"\x89PNG\r\n\x1a\n"):
        return "no PNG signature"
    at, idat, seen_end, width, height = 8, b"", False, 0, 0
    while at < len(data):
        if at + 8 > len(data):
            return "truncated chunk header"
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if len(body) != length or at + 12 + length > len(data):
            return "truncated chunk " + kind.decode("latin-1")
        (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        if zlib.crc32(kind + body) != crc:
            return "bad CRC in " + kind.decode("latin-1")
        if kind == b"IHDR":
            width, height = struct.unpack(">II", body[:8])
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            seen_end = True
        at += 12 + length
    if not seen_end or width == 0 or height == 0:
        return "no IEND or empty IHDR"
    try:
        zlib.decompress(idat)
    except zlib.error as e:
        return "image data does not inflate: %s" % e
    return None


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.faults, self.pictures, self.open = [], 0, []
        self.ids, self.fragments = set(), []

    def handle_starttag(self, tag, attrs):
        if tag not in ("br", "img", "meta"):
            self.open.append(tag)
        if tag in ("script", "iframe", "object", "embed", "link"):
            self.faults.append("<%s> in the page" % tag)
        for name, value in attrs:
            value = value or ""
            if name == "id":
                self.ids.add(value)
            if name == "href" and value.startswith("#"):
                self.fragments.append(value[1:])
                continue
            if name.startswith("on"):
                self.faults.append("script attribute %s" % name)
            if name in ("href", "src", "data", "background", "poster"):
                if tag == "img" and name == "src" and value.startswith("data:image/png;base64,"):
                    continue
                self.faults.append("reference %s=%r" % (name, value[:60]))
        if tag == "img":
            src = dict(attrs).get("src") or ""
            prefix = "data:image/png;base64,"
            if src.startswith(prefix):
                self.pictures += 1
                fault = png_fault(base64.b64decode(src[len(prefix):], validate=True))
                if fault:
                    self.faults.append("picture %d: %s" % (self.pictures, fault))

    def handle_endtag(self, tag):
        if tag in self.open:
            while self.open and self.open.pop() != tag:
                pass
        else:
            self.faults.append("</%s> closes nothing" % tag)

    def handle_data(self, data):
        if "url(" in data:
            self.faults.append("url() in the page")


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        text = f.read()
    page = Page()
    page.feed(text)
    page.close()
    if page.open:
        page.faults.append("unclosed: %s" % " ".join(page.open))
    page.faults += ["link to #%s, which is not on the page" % fragment
                    for fragment in page.fragments if fragment not in page.ids]
    for fault in page.faults:
        print(fault)
    if not page.faults:
        print("pictures: %d" % page.pictures)
    return 1 if page.faults else 0


if __name__ == "__main__":
    sys.exit(main())
