#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets next to this script. Deterministic: run it again
after changing it and commit what it writes."""
import calendar
import pathlib
import random
import struct

HERE = pathlib.Path(__file__).resolve().parent
NTP_UNIX_DIFF = 2208988800

# The frozen clock of fuzz_reply: a reply that echoes this stamp answers every request it sends.
REQUEST_TIME = calendar.timegm((2006, 3, 10, 15, 13, 22)) + NTP_UNIX_DIFF + 0.125


def stamp(t):
    if t == 0:
        return bytes(8)
    seconds = int(t) % 2**32
    fraction = int((t - int(t)) * 2**32)
    return struct.pack(">II", seconds, fraction)


def reply(leap=0, version=4, mode=4, stratum=1, poll=0, ref=b"GPS\0", ref_time=None,
          originate=REQUEST_TIME, receive=None, transmit=None, offset=0.25):
    receive = REQUEST_TIME + 0.010 + offset if receive is None else receive
    transmit = receive + 0.0002 if transmit is None else transmit
    ref_time = transmit - 64 if ref_time is None else ref_time
    header = struct.pack(">BBBb", leap << 6 | version << 3 | mode, stratum, poll, -20)
    return (header + bytes(8) + ref + stamp(ref_time) + stamp(originate) + stamp(receive)
            + stamp(transmit))


def write(folder, name, data):
    path = HERE / folder / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


def replies():
    # Octet 2 (poll) chooses fuzz_reply's options: bit 0 sets the clock, bits 1-4 the stratum limit.
    write("reply", "stratum1_set_clock.bin", reply(poll=0x1F))
    write("reply", "stratum2.bin", reply(stratum=2, ref=bytes([192, 0, 2, 1]), poll=0x06, offset=-1.5))
    write("reply", "kod_rate.bin", reply(leap=3, stratum=0, ref=b"RATE", ref_time=0, receive=0, transmit=0))
    write("reply", "no_sync_leap3.bin", reply(leap=3, stratum=16, poll=0x01))
    write("reply", "zero_originate_with_arrival.bin",
          reply(originate=0, poll=0x01) + stamp(REQUEST_TIME + 0.03) + bytes([1, 0x01, 0xF4]))
    write("reply", "stale_originate.bin", reply(originate=REQUEST_TIME - 64))
    write("reply", "next_era.bin", reply(receive=REQUEST_TIME + 2**32 + 0.01, poll=0x01))
    write("reply", "short.bin", reply()[:20])
    rng = random.Random(6)
    write("reply", "mtu_1500.bin", reply() + bytes(rng.randrange(256) for _ in range(1500 - 48)))


def numbers():
    texts = {
        "poll.txt": b" 60",
        "negative.txt": b"-1",
        "fraction.txt": b"12.5",
        "half_at_limit.txt": b"32767.5",
        "huge.txt": b"99999999",
        "int32_low.txt": b"-2147483648.5",
        "blanks_sign.txt": b" \t+0.000001",
        "exponent.txt": b"1e5",
        "trailing.txt": b"15 minutes",
        "arabic_digit.txt": "\u0663".encode(),
        "utf16_sixty.bin": " 60".encode("utf-16-le"),
    }
    for name, data in texts.items():
        write("number", name, data)


def answer(silent=False, leap=0, stratum=1, offset=0.25, reference_age=64):
    """How one server of fuzz_settings' pass answers: eight octets."""
    whole = int(offset // 1)
    return struct.pack(">BBiBB", (4 if silent else 0) | leap, stratum, whole,
                       int((offset - whole) * 256), reference_age // 30)


def settings():
    # Lines: SysTimeAdj, NtpPoll, RefTimeHighlight, StratumHighlight, NtpServerCnt, then one name
    # a line; after a NUL, eight octets for each server's answer.
    write("settings", "normal.txt", b"1\n 300\n 600\n 3\n 3\npool.example.org\n127.0.0.1\nntp.example.net\0"
          + answer(stratum=2, offset=-1.5) + answer(silent=True) + answer(stratum=1, offset=0.75))
    write("settings", "limits.txt", b"1\n-2147483648\n2147483647\n32768\n100000\na\nb\0"
          + answer(stratum=15, offset=-2**31, reference_age=7650) + answer(stratum=16, leap=3))
    write("settings", "huge_count.txt", b"0\n60\n120\n0\n99999999\n \n" + b"x" * 300 + b"\nzeit.example\0"
          + answer(stratum=0, reference_age=0))
    write("settings", "letters.txt", b"yes\nsixty\n1e5\n-0.5\n2.5\n\t\ta=b\n\"quoted\"\n")
    write("settings", "no_servers.txt", b" 1\n 3600\n 3600\n 15\n-1\n")
    rng = random.Random(7)
    write("settings", "garbage.bin", bytes(rng.randrange(256) for _ in range(400)))


def servernames():
    # First octet even: UTF-8 as typed; odd: raw UTF-16.
    write("servername", "plain.txt", b"\0  pool.example.org \t")
    write("servername", "blank.txt", b"\0 \t\r\n")
    write("servername", "long.txt", b"\0" + b"a" * 256)
    write("servername", "ini_special.txt", b"\0a=b;c\\d \"e\"\n[Settings]")
    write("servername", "emoji_at_cut.bin", b"\x01" + ("x" + "\U0001F552" * 140).encode("utf-16-le"))
    write("servername", "lone_surrogate.bin", b"\x01" + "x".encode("utf-16-le") + b"\x00\xd8")


def channel():
    good = reply()
    write("channel", "reply.bin", good)
    write("channel", "refused_then_reply.bin", reply(mode=3) + b"\n--\n" + good + b"\n--\n" + good)
    write("channel", "empty_and_short.bin", b"\n--\n" + good[:20])
    write("channel", "zero_originate.bin", reply(originate=0))


def nts_record(critical, kind, body):
    return struct.pack(">HH", kind | (0x8000 if critical else 0), len(body)) + body


def nts_field(kind, body):
    body += bytes(-(len(body) + 4) % 4)
    return struct.pack(">HH", kind, len(body) + 4) + body


def nts():
    # First octet odd: key exchange records; even: an NTP reply (and the encrypted fields of one).
    good = (nts_record(True, 1, b"\0\0") + nts_record(True, 4, b"\0\x0f") + nts_record(False, 5, bytes(100))
            + nts_record(True, 6, b"ntp.example") + nts_record(True, 7, b"\x10\x2b") + nts_record(True, 0, b""))
    write("nts", "ke_response.bin", b"\x01" + good)
    write("nts", "ke_error.bin", b"\x01" + nts_record(True, 2, b"\0\x01") + nts_record(True, 0, b""))
    write("nts", "ke_cut.bin", b"\x01" + good[:-3])
    cookies = nts_field(0x0204, bytes(100)) + nts_field(0x0204, bytes(range(100)))
    write("nts", "cookies.bin", b"\x00" + cookies)
    header = struct.pack(">BBBb", 4 << 3 | 4, 0, 0, -20) + bytes(8) + b"NTSN" + bytes(32)
    write("nts", "nak.bin", b"\x00" + header + nts_field(0x0104, b"\x33" * 32))


if __name__ == "__main__":
    replies()
    numbers()
    settings()
    servernames()
    channel()
    nts()
