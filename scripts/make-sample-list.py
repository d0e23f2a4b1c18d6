#!/usr/bin/env python3
"""Writes the project's sample SATCODX channel list (version "103").

Three satellites: a Ku-band one at 19.2 E, a Ku-band one at 30.0 W (stored as
orbital position 3300) and a C-band one at 68.5 E; TV channels, radio channels
and one scrambled channel. All names are made up for the demo.

    scripts/make-sample-list.py res/sample-channels.sdx
"""
import sys

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


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "sample-channels.sdx"
    with open(out, "wb") as f:
        for c in CHANNELS:
            f.write(record(*c))


if __name__ == "__main__":
    main()
