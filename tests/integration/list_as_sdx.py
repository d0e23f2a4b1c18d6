#!/usr/bin/env python3
"""Writes the services of an Enigma2 or VDR channel list as a SATCODX list.

    list_as_sdx.py LIST OUT.sdx [--satellites-xml FILE] [--satellite POS]...
                   [--bouquet FILE]... [--free-only]
    list_as_sdx.py --lamedb {3,5} LAMEDB4 OUT

The first form writes one 128-byte SATCODX "103" record per service that goes
into the receiver's database, in the order it goes in, with the numbers and
the code page 1252 names the receiver should get; converted with the same
settings, that list must give the image the Enigma2 or VDR list gives. It is
written from the formats themselves, apart from the program's readers, so
that the two check each other. It prints what became of the services.

The second form rewrites a version-4 lamedb as version 3 (no DVB-S2 data) or
version 5 (one line per transponder and per service).
"""
import argparse
import re
import sys
import xml.etree.ElementTree as ElementTree

TV_TYPES = {1, 17, 22, 25, 31}
RADIO_TYPES = {2, 10}
CA_CODES = {0: b"____", 0x0100: b"MGRD", 0x0500: b"VICS", 0x0600: b"IRDT", 0x0900: b"VGRD",
            0x0B00: b"CONX", 0x0D00: b"CRYW", 0x0E00: b"POVU"}
NO_PID = 8191


def lines_of(data):
    return [line[:-1] if line.endswith(b"\r") else line for line in data.split(b"\n")]


def ca_id(caid):
    return (caid >> 8) << 8 if (caid >> 8) in (0x01, 0x05, 0x06, 0x09, 0x0B, 0x0D, 0x0E) else 1


def position_text(tenths):
    west = tenths > 1800
    value = 3600 - tenths if west else tenths
    return "%d.%d%s" % (value // 10, value % 10, "W" if west else "E")


def parse_position(text):
    match = re.fullmatch(r"(\d{1,3})(?:\.(\d))?([EWew])", text)
    if not match:
        sys.exit("not an orbital position: %s" % text)
    tenths = int(match.group(1)) * 10 + int(match.group(2) or 0)
    return (3600 - tenths) % 3600 if match.group(3) in "Ww" else tenths


def cp1252(raw, width):
    """UTF-8 to code page 1252 as the receiver shows names: '?' for what it
    lacks, a byte that is no UTF-8 kept; emphasis codes 86 and 87 dropped."""
    out = bytearray()
    for ch in raw.decode("utf-8", "surrogateescape"):
        if ch in "\x86\x87\udc86\udc87":
            continue
        if 0xDC80 <= ord(ch) <= 0xDCFF:
            out.append(ord(ch) - 0xDC00)
        elif ord(ch) < 0x80:
            out.append(ord(ch))
        else:
            try:
                encoded = ch.encode("cp1252")
            except UnicodeEncodeError:
                encoded = b"?"
            out += b"?" if 0x80 <= ord(ch) <= 0x9F else encoded
    return bytes(out[:width]).ljust(width, b" ")


def satellite_names(path):
    names = {}
    if path:
        for sat in ElementTree.parse(path).getroot().iter("sat"):
            position = int(sat.get("position"))
            names.setdefault(position % 3600, sat.get("name"))
    return names


def satellite_name(position, names):
    text = position_text(position)
    name = names.get(position, "").strip()
    name = re.sub(r"^\d+(?:[.,]\d+)?\s*°?[EWew](?=\s|$)", "", name).strip()
    if name.endswith(")") and "(" in name:
        name = name[:name.rindex("(")].strip()
    return (text + " " + name if name else text).encode()


def enigma2_data(data, service):
    pids, cas = {}, []
    for item in data.split(","):
        if item.startswith("c:") and len(item) > 4:
            pid = int(item[4:], 16)
            if pid < NO_PID:
                pids.setdefault(int(item[2:4], 16), pid)
        elif item.startswith("C:"):
            cas.append(int(item[2:].split(":")[0], 16))
    video, audio = pids.get(0), pids.get(1, pids.get(4))
    service["video"] = NO_PID if video is None else video
    service["audio"] = NO_PID if audio is None else audio
    service["pcr"] = pids.get(3, video if video is not None else service["audio"])
    service["nopids"] = video is None and audio is None
    nonzero = [caid for caid in cas if caid != 0]
    service["ca"] = 0 if not cas else ca_id(nonzero[0]) if nonzero else 1


def enigma2_entries(lines):
    """Transponders by key and service entries (key, type, name, data) of any version."""
    version = int(lines[0].strip()[len(b"eDVB services /"):-1])
    transponders, entries = {}, []
    if version >= 5:
        for line in lines[1:]:
            text = line.decode("utf-8", "surrogateescape")
            if text.startswith("t:"):
                key, delivery = text[2:].split(",", 1)
                transponders[tuple(int(x, 16) for x in key.split(":"))] = delivery
            elif text.startswith("s:"):
                head, rest = text[2:].split(",", 1)
                name, data = rest[1:].split('",', 1) if '",' in rest else (rest[1:-1], "")
                entries.append((head.split(":"), name.encode("utf-8", "surrogateescape"), data))
        return transponders, entries
    at = lines.index(b"transponders") + 1
    while lines[at] != b"end":
        key = tuple(int(x, 16) for x in lines[at].decode().split(":"))
        transponders[key] = lines[at + 1].decode().strip().replace(" ", ":", 1)
        at += 3
    at = lines.index(b"services") + 1
    while lines[at] != b"end":
        entries.append((lines[at].decode().split(":"), lines[at + 1], lines[at + 2].decode("utf-8", "surrogateescape")))
        at += 3
    return transponders, entries


def read_enigma2(data, tally):
    transponders, entries = enigma2_entries(lines_of(data))
    services, seen = [], set()
    for head, name, data_line in entries:
        tally["read"] += 1
        sid, ns, tsid, onid = (int(x, 16) for x in head[:4])
        kind = int(head[4])
        key = (ns, sid, tsid, onid)
        delivery = transponders.get((ns, tsid, onid))
        if key in seen:
            tally["duplicate"] += 1
            continue
        seen.add(key)
        if delivery is None:
            tally["noTransponder"] += 1
            continue
        if not delivery.startswith("s:"):
            tally["notSatellite"] += 1
            continue
        if kind not in TV_TYPES | RADIO_TYPES:
            tally["serviceType"] += 1
            continue
        f = [int(x) for x in delivery[2:].split(":")[:5]]
        service = {"key": key, "type": b"T" if kind in TV_TYPES else b"R", "name": name,
                   "freq": (f[0] + 500) // 1000, "sr": (f[1] + 500) // 1000,
                   "pol": b"1" if f[2] in (0, 2) else b"0", "pos": f[4] % 3600,
                   "sid": sid, "nid": onid, "tsid": tsid}
        enigma2_data(data_line, service)
        services.append(service)
    return services


def vdr_pids(vpid, apid):
    video = int(re.split(r"[+=]", vpid)[0] or 0)
    pcr = int(vpid.split("+")[1].split("=")[0]) if "+" in vpid else None
    audio_part, _, dolby_part = apid.partition(";")
    audio = int(audio_part.split(",")[0].split("=")[0] or 0)
    dolby = int(dolby_part.split(",")[0].split("=")[0] or 0)
    audio = audio or dolby
    return video, audio, pcr if pcr is not None else (video or audio)


def read_vdr(data, tally):
    services = []
    for line in lines_of(data):
        text = line.decode("utf-8", "surrogateescape").strip()
        if not text or text[0] in "#:":
            continue
        tally["read"] += 1
        f = text.split(":")
        if len(f) != 13:
            tally["unreadable"] += 1
            continue
        if not f[3].startswith("S"):
            tally["notSatellite"] += 1
            continue
        video, audio, pcr = vdr_pids(f[5], f[6])
        if not video and not audio:
            tally["serviceType"] += 1
            continue
        pol = next(c for c in f[2].upper() if c in "HVLR")
        caids = [int(x, 16) for x in f[8].split(",") if int(x, 16) != 0]
        freq = int(f[1])
        services.append({
            "key": (0, int(f[9]), int(f[11]), int(f[10])), "type": b"T" if video else b"R",
            "name": re.split(r"[,;]", f[0])[0].replace("|", ":").encode("utf-8", "surrogateescape"),
            "freq": (freq + 500) // 1000 if freq > 100000 else freq, "sr": int(f[4]),
            "pol": b"1" if pol in "HL" else b"0", "pos": parse_position(f[3][1:]),
            "sid": int(f[9]), "nid": int(f[10]), "tsid": int(f[11]),
            "video": video, "audio": audio, "pcr": pcr, "nopids": False,
            "ca": ca_id(caids[0]) if caids else 0})
    return services


def bouquet_keys(path):
    keys = []
    for line in open(path, encoding="utf-8", errors="replace").read().splitlines():
        match = re.match(r"#SERVICE:? 1:0:[0-9A-Fa-f]+:([0-9A-Fa-f]+):([0-9A-Fa-f]+):"
                         r"([0-9A-Fa-f]+):([0-9A-Fa-f]+):", line.strip())
        if match:
            sid, tsid, onid, ns = (int(x, 16) for x in match.groups())
            keys.append((ns, sid, tsid, onid))
    return keys


def choose(services, args, tally):
    positions = {parse_position(p) for p in args.satellite}
    left = [s for s in services
            if (not positions or s["pos"] in positions) and not (args.free_only and s["ca"])]
    if args.bouquet:
        by_key = {s["key"]: s for s in left}
        chosen = []
        for path in args.bouquet:
            for key in bouquet_keys(path):
                if key in by_key and by_key[key] not in chosen:
                    chosen.append(by_key[key])
        left = chosen
    tally["outsideChoice"] = len(services) - len(left)
    return left


def record(s, sat_name):
    r = bytearray(b" " * 128)

    def put(at, text):
        r[at:at + len(text)] = text

    def digits(at, width, value):
        text = b"%0*d" % (width, value)
        assert len(text) == width, (value, width)
        put(at, text)

    name = cp1252(s["name"], 20)
    put(0, b"SATCODX103")
    put(10, cp1252(sat_name, 18))
    put(28, s["type"])
    put(29, b"MPG2")
    digits(33, 6, s["freq"])
    put(39, b"000")
    put(42, s["pol"])
    put(43, name[:8])
    digits(51, 4, s["pos"])
    digits(69, 5, s["sr"])
    for at, width, field in ((75, 4, "video"), (79, 4, "audio"), (83, 4, "pcr"), (87, 5, "sid"),
                             (92, 5, "nid"), (97, 5, "tsid")):
        digits(at, width, s[field])
    put(111, CA_CODES.get(s["ca"], b"NAGV"))
    put(115, name[8:20])
    r[127] = 0x0A
    return bytes(r)


def rewrite_lamedb(version, source, target):
    lines = lines_of(open(source, "rb").read())
    out = [b"eDVB services /%d/" % version]
    if version == 5:
        out.append(b"# written from a version-4 lamedb")
    at = lines.index(b"transponders") + 1
    v3 = [b"transponders"]
    while lines[at] != b"end":
        key, delivery = lines[at], lines[at + 1].strip()
        if version == 5:
            out.append(b"t:" + key + b"," + delivery.replace(b" ", b":", 1))
        else:
            v3 += [key, b"\t" + b":".join(delivery.split(b":")[:7]), b"/"]
        at += 3
    at = lines.index(b"services") + 1
    v3 += [b"end", b"services"]
    while lines[at] != b"end":
        if version == 5:
            data = b"," + lines[at + 2] if lines[at + 2] else b""
            out.append(b"s:" + lines[at] + b':0,"' + lines[at + 1] + b'"' + data)
        else:
            v3 += lines[at:at + 3]
        at += 3
    out += [] if version == 5 else v3 + [b"end"]
    open(target, "wb").write(b"\n".join(out) + b"\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--lamedb", type=int, choices=(3, 5))
    parser.add_argument("list")
    parser.add_argument("out")
    parser.add_argument("--satellites-xml")
    parser.add_argument("--satellite", action="append", default=[])
    parser.add_argument("--bouquet", action="append", default=[])
    parser.add_argument("--free-only", action="store_true")
    args = parser.parse_args()
    if args.lamedb:
        rewrite_lamedb(args.lamedb, args.list, args.out)
        return 0
    data = open(args.list, "rb").read()
    tally = dict.fromkeys(("read", "duplicate", "noTransponder", "notSatellite", "serviceType",
                           "unreadable", "outsideChoice"), 0)
    services = read_enigma2(data, tally) if data.startswith(b"eDVB services /") else read_vdr(data, tally)
    chosen = choose(services, args, tally)
    names = satellite_names(args.satellites_xml)
    with open(args.out, "wb") as out:
        for s in chosen:
            out.write(record(s, satellite_name(s["pos"], names)))
    print("%s: %d services read, %d converted (%d without PIDs); skipped: %s" % (
        args.list, tally["read"], len(chosen), sum(s["nopids"] for s in chosen),
        ", ".join("%s %d" % (k, v) for k, v in tally.items() if k != "read" and v)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
