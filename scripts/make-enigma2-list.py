#!/usr/bin/env python3
"""Writes a small Enigma2 settings list of made-up channels into a folder:
"lamedb" (version 4, or 3 or 5 with --version; version 5 is "lamedb5"), the
"satellites.xml" that names its positions, and a bouquet
"userbouquet.favourites.tv", as settings makers publish them for a receiver.

Three satellites (19.2E, 13.0E and 30.0W) and a cable network; TV and radio
services, scrambled ones, a data service, a service listed twice, one whose
list gives no PIDs, and UTF-8 names with the DVB emphasis codes, characters
that code page 1252 has and characters it lacks. All names are made up.

    scripts/make-enigma2-list.py [--version 3|4|5] FOLDER
"""
import argparse
import os

# Transponders: (namespace, tsid, onid, delivery data as version 4 writes it).
TRANSPONDERS = [
    ("00c00000", "0441", "0001", "s 11494000:22000000:1:2:192:2:0:1:2:0:2"),
    ("00c00000", "0451", "0001", "s 12148000:27500000:0:3:192:2:0"),
    ("00820000", "2af8", "013e", "s 10719000:27500000:1:4:130:0:0:1:2:0:2"),
    ("0dde0000", "0401", "0002", "s 10892000:27500000:0:3:-300:0:0"),
    ("ffff0000", "0011", "0085", "c 346000:6900000:0:3:0"),
]

# Services: (sid, namespace, tsid, onid, type, name, data).
SERVICES = [
    ("2841", "00c00000", "0441", "0001", 25, "Velmora News HD", "p:Demo,c:0013ed,c:0113ee,c:0313ed"),
    ("2842", "00c00000", "0441", "0001", 25, "\u0086Velmora\u0087 Sport", "p:Demo,c:0013f7,c:0113f8"),
    ("2843", "00c00000", "0441", "0001", 1, "Studio Köln Demo", "p:Demo,c:001401,c:041402"),
    ("2844", "00c00000", "0441", "0001", 2, "Velmora Radio One", "p:Demo,c:011450,c:031450"),
    ("2845", "00c00000", "0441", "0001", 12, "Velmora Data", "p:Demo,c:031460"),
    ("4f01", "00c00000", "0451", "0001", 25, "Cinéma Première €", "p:Pay,c:000201,c:010202,C:0b00"),
    ("4f02", "00c00000", "0451", "0001", 1, "Ελληνική Demo", "p:Pay,C:0000"),
    ("4f03", "00c00000", "0451", "0001", 10, "Evergreen Classics", "p:Demo,c:010301"),
    ("2841", "00c00000", "0441", "0001", 25, "Velmora News HD (again)", "p:Demo,c:0013ed"),
    ("0101", "00820000", "2af8", "013e", 1, "Demo Uno", "p:Demo,c:000200,c:010201"),
    ("0102", "00820000", "2af8", "013e", 22, "Demo Due", "p:Demo,c:000210,c:010211,C:0100"),
    ("0201", "0dde0000", "0401", "0002", 1, "Atlantico TV", "p:Demo,c:0000a0,c:010050"),
    ("0301", "ffff0000", "0011", "0085", 1, "Kabel Demo", "p:Cable,c:000300,c:010301"),
]

SATELLITES_XML = """<?xml version="1.0" encoding="UTF-8"?>
<!-- Made-up satellite names for the Velmora demo. -->
<satellites>
\t<sat name="19.2E Demo Sat One" flags="1" position="192">
\t\t<transponder frequency="11494000" symbol_rate="22000000" polarization="1" fec_inner="2" />
\t</sat>
\t<sat name="Demo Sat Two (13.0E)" flags="1" position="130" />
\t<sat name="30.0W Demo Atlántico" flags="1" position="-300" />
</satellites>
"""

BOUQUET = [("4f01", "0451", "0001", "c00000"), ("2841", "0441", "0001", "c00000"),
           ("0101", "2af8", "013e", "820000")]


def lamedb(version):
    lines = ["eDVB services /%d/" % version]
    if version == 5:
        for ns, tsid, onid, delivery in TRANSPONDERS:
            lines.append("t:%s:%s:%s,%s" % (ns, tsid, onid, delivery.replace(" ", ":", 1)))
        for sid, ns, tsid, onid, kind, name, data in SERVICES:
            lines.append('s:%s:%s:%s:%s:%d:0:0,"%s",%s' % (sid, ns, tsid, onid, kind, name, data))
        return "\n".join(lines) + "\n"
    lines.append("transponders")
    for ns, tsid, onid, delivery in TRANSPONDERS:
        if version == 3:
            delivery = ":".join(delivery.split(":")[:7])
        lines += ["%s:%s:%s" % (ns, tsid, onid), "\t" + delivery, "/"]
    lines += ["end", "services"]
    for sid, ns, tsid, onid, kind, name, data in SERVICES:
        lines += ["%s:%s:%s:%s:%d:0" % (sid, ns, tsid, onid, kind), name, data]
    lines += ["end", "Have a lot of bugs!"]
    return "\n".join(lines) + "\n"


def bouquet():
    lines = ["#NAME Velmora demo favourites", "#SERVICE 1:64:0:0:0:0:0:0:0:0:",
             "#DESCRIPTION --- Demo ---"]
    for sid, tsid, onid, ns in BOUQUET:
        lines.append("#SERVICE 1:0:1:%s:%s:%s:%s:0:0:0:" % (sid.upper(), tsid.upper(),
                                                            onid.upper(), ns.upper()))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description="Writes a small made-up Enigma2 settings list.")
    parser.add_argument("--version", type=int, choices=(3, 4, 5), default=4)
    parser.add_argument("folder")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    files = {
        "lamedb5" if args.version == 5 else "lamedb": lamedb(args.version),
        "satellites.xml": SATELLITES_XML,
        "userbouquet.favourites.tv": bouquet(),
    }
    for name, text in files.items():
        with open(os.path.join(args.folder, name), "w", encoding="utf-8", newline="\n") as out:
            out.write(text)
        print(os.path.join(args.folder, name))


if __name__ == "__main__":
    main()
