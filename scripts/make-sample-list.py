#!/usr/bin/env python3
"""Writes the project's sample SATCODX channel list (version "103"), or a
version-"105" list with UTF-8 names.

Version 103: three satellites, a Ku-band one at 19.2 E, a Ku-band one at 30.0 W
(stored as orbital position 3300) and a C-band one at 68.5 E; TV channels,
radio channels and one scrambled channel. Names in code page 1252.

Version 105: two satellites with UTF-8 names that code page 1252 can show,
names it cannot (Greek), a name cut inside a character at its 25th byte, and
the closing NUL and space padding that exported lists often have. Records of
133 bytes (132 characters and a line feed), or of 128 bytes with
--record-length 128, as some exports write them.

All names are made up for the demo.

    scripts/make-sample-list.py res/sample-channels.sdx
    scripts/make-sample-list.py --version 105 [--record-length 128|133] OUT.sdx
"""
import argparse

# (satellite, orbital position in tenths, frequency MHz, polarisation digit,
#  symbol rate, service type, channel name, video, audio, pcr, sid, nid, tsid, CA code)
CHANNELS = [
    ("Demo Sat 19.2E", 192, 11494, 1, 22000, "T", "Velmora News HD", 511, 512, 511, 10301, 1, 1041, "____"),
    ("Demo Sat 19.2E", 192, 11494, 1, 22000, "T", "Velmora Sport", 521, 522, 521, 10302, 1, 1041, "____"),
    ("Demo Sat 19.2E", 192, 11494, 1, 22000, "T", "Velmora Kids", 531, 532, 531, 10303, 1, 1041, "____"),
    ("Demo Sat 19.2E", 192, 11494, 1, 22000, "R", "Velmora Radio One", 0, 612, 612, 10311, 1, 1041, "____"),
    ("Demo Sat 19.2E", 192, 12148, 0, 27500, "T", "Cinema Premiere", 1023, 1024, 1023, 20101, 1, 1093, "VICS"),
    ("Demo Sat 19.2E", 192, 12148, 0, 27500, "T", "Documentary Plus", 1033, 1034, 1033, 20102, 1, 1093, "____"),
    ("Demo Sat 19.2E", 192, 12148, 0, 27500, "R", "Evergreen Classics", 0, 1112, 1112, 20111, 1, 1093, "____"),
    ("Demo Sat 30.0W", 3300, 10892, 0, 27500, "T", "Atlantico TV", 160, 80, 160, 30001, 2, 1031, "____"),
    ("Demo Sat 30.0W", 3300, 10892, 0, 27500, "T", "Atlantico Noticias", 161, 81, 161, 30002, 2, 1031, "____"),
    ("Demo Sat 30.0W", 3300, 11016, 1, 29900, "T", "Deportes Demo", 170, 90, 170, 30011, 2, 1032, "NAGV"),
    ("Demo C 68.5E", 685, 3845, 1, 26666, "T", "Savanna One", 308, 256, 308, 40001, 3, 1, "____"),
    ("Demo C 68.5E", 685, 3845, 1, 26666, "T", "Savanna Music", 309, 257, 309, 40002, 3, 1, "____"),
    ("Demo C 68.5E", 685, 4180, 0, 6110, "R", "Coastline Radio", 0, 402, 402, 40011, 3, 2, "____"),
]

# The same, for a version-105 list: names as Unicode text, written as UTF-8.
CHANNELS_105 = [
    ("Demo Sat 19.2E", 192, 11494, 1, 22000, "T", "WDR HD Köln", 511, 512, 511, 10301, 1, 1041, "____"),
    ("Demo Sat 19.2E", 192, 11494, 1, 22000, "T", "Télé Café €uro", 521, 522, 521, 10302, 1, 1041, "____"),
    ("Demo Sat 19.2E", 192, 12148, 0, 27500, "T", "Ελληνική TV", 1023, 1024, 1023, 20101, 1, 1093, "VICS"),
    ("Demo Sat 19.2E", 192, 12148, 0, 27500, "R", "Radio Göteborg Ström", 0, 1112, 1112, 20111, 1, 1093, "____"),
    ("Türksat 42.0°E", 420, 11794, 1, 30000, "T", "Müzik Dünyası Çocuk Ağı", 160, 80, 160, 30001, 2, 1031, "____"),
    ("Türksat 42.0°E", 420, 11794, 1, 30000, "R", "Şarkı Radyo", 0, 81, 81, 30002, 2, 1031, "____"),
]


def field(text, width):
    return text[:width].ljust(width)


def digits(value, width):
    return str(value).rjust(width, "0")[-width:]


def record(sat, pos, freq, pol, sr, kind, name, vpid, apid, pcr, sid, nid, tsid, ca):
    name = field(name, 20)
    r = (
        "SATCODX"            # 0-6 signature
        + "103"              # 7-9 version
        + field(sat, 18)     # 10-27 satellite name
        + kind               # 28 service type
        + "MPG2"             # 29-32
        + digits(freq, 6)    # 33-38 frequency
        + "000"              # 39-41
        + str(pol)           # 42 polarisation
        + name[:8]           # 43-50 channel name, first 8
        + digits(pos, 4)     # 51-54 orbital position
        + "___ "             # 55-58
        + "    "             # 59-62
        + "___"              # 63-65
        + "___"              # 66-68
        + digits(sr, 5)      # 69-73 symbol rate
        + "0"                # 74
        + digits(vpid, 4)    # 75-78 video PID
        + digits(apid, 4)    # 79-82 audio PID
        + digits(pcr, 4)     # 83-86 PCR PID
        + digits(sid, 5)     # 87-91 service id
        + digits(nid, 5)     # 92-96 network id
        + digits(tsid, 5)    # 97-101 transport stream id
        + "___"              # 102-104
        + "_"                # 105
        + "__"               # 106-107
        + "___"              # 108-110
        + ca                 # 111-114 CA code
        + name[8:20]         # 115-126 channel name, characters 9-20
        + "\n"               # 127
    )
    assert len(r) == 128, (len(r), r)
    return r.encode("ascii")


def field_bytes(data, width):
    """UTF-8 bytes cut at `width` (perhaps inside a character), padded with spaces."""
    return data[:width].ljust(width, b" ")


def record_105(length, sat, pos, freq, pol, sr, kind, name, *rest):
    """A version-105 record: the fields of a 103 record, the names in UTF-8;
    the name's first 8 bytes at 43-50, the others at 115-131 (115-126 in a
    128-byte record)."""
    base = bytearray(record(sat="", pos=pos, freq=freq, pol=pol, sr=sr, kind=kind, name="",
                            vpid=rest[0], apid=rest[1], pcr=rest[2], sid=rest[3], nid=rest[4],
                            tsid=rest[5], ca=rest[6]))
    utf8 = field_bytes(name.encode("utf-8"), length - 108)  # 25 or 20 bytes
    base[7:10] = b"105"
    base[10:28] = field_bytes(sat.encode("utf-8"), 18)
    base[43:51] = utf8[:8]
    r = bytes(base[:115]) + utf8[8:] + b"\n"
    assert len(r) == length, (len(r), r)
    return r


def main():
    parser = argparse.ArgumentParser(description="Writes a made-up SATCODX channel list.")
    parser.add_argument("out", nargs="?", default="sample-channels.sdx")
    parser.add_argument("--version", choices=["103", "105"], default="103")
    parser.add_argument("--record-length", type=int, choices=[128, 133])
    args = parser.parse_args()
    with open(args.out, "wb") as f:
        if args.version == "103":
            for c in CHANNELS:
                f.write(record(*c))
            return
        for c in CHANNELS_105:
            f.write(record_105(args.record_length or 133, *c))
        f.write(b"\0" + b" " * 63)  # the closing NUL and padding of many exports


if __name__ == "__main__":
    main()
