#!/usr/bin/env python3
"""Writes the seeds of views_fuzz into fuzz/corpus/views_fuzz/: for some views,
agents that answer as real ones do (dense rows, indexes of the right length,
values of the right types), so that the fuzzer starts from filled views.

Run from the repository's top folder: python3 fuzz/netpeek/views_seeds.py
The encoding is the one described at the top of views_fuzz.cpp.
"""
import os
import struct

VIEWS = ["system", "interfaces", "routes", "arp", "tcp", "udp", "devices",
         "storage", "tasks", "installed", "services", "lldp", "users"]
INT, COUNTER, GAUGE, TICKS, OCTETS, IP, OID, NULL = range(8)


def value(kind, v):
    if kind in (INT, COUNTER, GAUGE, TICKS):
        return struct.pack(">I", v)
    if kind == OID:  # 1.3 followed by the arcs
        return bytes([len(v)]) + bytes(v)
    if kind == NULL:
        return b""
    return bytes([len(v)]) + bytes(v)


def same(kind, v):  # the name asked (a GET's answer)
    return bytes([kind << 4 | 0]) + value(kind, v)


def append(kind, arcs, v):  # the name asked with arcs appended (a first row)
    return bytes([kind << 4 | 1, len(arcs) - 1]) + bytes(arcs) + value(kind, v)


def step(kind, v, delta=1):  # the name asked with its last arc moved (next row)
    return bytes([kind << 4 | 2, delta]) + value(kind, v)


def answer(*bindings):
    return b"\x02" + b"".join(bindings)


def no_such_name(index):
    return bytes([1, 2, index])


def end_of_table(columns):  # the first column leaves the table
    return answer(bytes([NULL << 4 | 3, 0]), *[same(NULL, None)] * (columns - 1))


def table(kinds, first_arcs, rows):
    """rows: one list of values per row, one value per column."""
    out = answer(*[append(k, first_arcs, v) for k, v in zip(kinds, rows[0])])
    for row in rows[1:]:
        out += answer(*[step(k, v) for k, v in zip(kinds, row)])
    return out + end_of_table(len(kinds))


def system_group():
    return answer(same(OCTETS, b"Box OS"), same(TICKS, 900600), same(OCTETS, b"ops"),
                  same(OCTETS, b"box1"), same(OCTETS, b"rack 4"), same(INT, 72))


def seed(view, flags, body):
    return bytes([VIEWS.index(view), flags]) + body


def main():
    date = [0x07, 0xE8, 5, 6, 12, 53, 20, 0]
    host = lambda up: answer(same(TICKS, up), same(OCTETS, date), same(INT, 1536), same(OCTETS, b"BOOT"),
                             same(GAUGE, 3), same(GAUGE, 120), same(INT, 0))
    seeds = {
        "system_ms_uptime": seed("system", 0, system_group() + host(3600000) + host(3600020) +
                                 no_such_name(1) + answer(same(OCTETS, b"WORKGROUP"))),
        "system_time_fails": seed("system", 2, system_group() + no_such_name(1) + answer(same(TICKS, 5))),
        "storage": seed("storage", 0, table(
            [INT, OID, OCTETS, INT, INT, INT], [1],
            [[1, [6, 1, 2, 1, 25, 2, 1, 4], b"/", 4096, 1000, 10],
             [2, [6, 1, 2, 1, 25, 2, 1, 2], b"Physical memory", 1024, 4000000, 2000000],
             [3, [6, 1, 2, 1, 25, 2, 1, 3], b"Swap", 8192, 1048576, 1000]])),
        "devices": seed("devices", 0, table(
            [INT, OID, OCTETS, INT], [7],
            [[768, [6, 1, 2, 1, 25, 3, 1, 3], b"CPU", 2], [769, [6, 1, 2, 1, 25, 3, 1, 4], b"eth0", 2],
             [770, [6, 1, 2, 1, 25, 3, 1, 6], b"disk", 1]])),
        "tasks_sparse": seed("tasks", 0, table(
            [INT, OCTETS, OCTETS, OCTETS, INT, INT], [1],
            [[1, b"init", b"/sbin/init", b"", 10, 2048], [2, b"sshd", b"/usr/sbin/sshd", b"-D", 20, 512]])),
        "installed": seed("installed", 0, table(
            [INT, OCTETS, OCTETS], [1],
            [[1, b"beta", date], [2, b"Alpha", date[:3]], [3, b"alpha", b""]])),
        "services": seed("services", 0, table(
            [OCTETS, INT, INT, INT, INT], [6, 83, 101, 114, 118, 101, 114],
            [[b"Server", 3, 1, 1, 2], [b"server", 3, 1, 1, 2]])),
        "tcp_numeric": seed("tcp", 1, table([INT], [0, 0, 0, 0, 80, 0, 0, 0, 0, 0], [[2], [5], [11]])),
        "tcp_names": seed("tcp", 0, table([INT], [127, 0, 0, 1, 22, 127, 0, 0, 1, 200], [[5], [5]])),
        "udp": seed("udp", 0, table([IP], [127, 0, 0, 1, 161], [[[127, 0, 0, 1]], [[127, 0, 0, 1]]])),
        "interfaces": seed("interfaces", 0, system_group() +
                           table([IP, INT, IP], [10, 1, 2, 3], [[[10, 1, 2, 3], 2, [255, 255, 255, 0]]]) +
                           table([INT, OCTETS, INT, INT, GAUGE, OCTETS, INT, INT, TICKS], [1],
                                 [[1, b"lo", 24, 65536, 10000000, b"", 1, 1, 0],
                                  [2, b"eth0", 6, 1500, 1000000000, [0, 0x11, 0x22, 0x33, 0x44, 0x55], 1, 2, 500]])),
        "routes": seed("routes", 0, table([IP, INT, IP], [10, 1, 2, 3], [[[10, 1, 2, 3], 2, [255, 0, 0, 0]]]) +
                       table([IP, INT, INT, IP, IP], [0, 0, 0, 0],
                             [[[0, 0, 0, 0], 2, 1, [10, 1, 2, 254], [0, 0, 0, 0]]])),
        "lldp": seed("lldp", 0, system_group() +
                     table([OCTETS], [1], [[b"eth0"], [b"eth1"]]) +
                     table([INT], [1, 10, 0, 0, 1], [[1]]) +
                     table([OCTETS] * 7 + [INT, INT], [100, 1, 1],
                           [[[0, 0x11, 0x22, 0x33, 0x44, 0x55], b"Gi0/1", b"uplink", b"sw1", b"Switch OS",
                             [1, 0x14], [1, 0x10], 16, 10],
                            [b"switch-two", [1, 2, 3, 4, 5, 6, 7], b"p7", b"sw2", b"OS", [0x14], [], 30, 4096]]) +
                     table([INT, INT], [100, 1, 1, 1, 10, 0, 0, 254], [[2, 3]])),
        "silent_agent": seed("tasks", 0, b""),
    }
    folder = os.path.join("fuzz", "corpus", "views_fuzz")
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name + ".bin"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
