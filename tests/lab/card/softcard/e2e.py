#!/usr/bin/python3
"""The host program through the driver and the software card against an
independent Modbus TCP server, run by tests/lab/card/softcard/e2e.sh beside the server
(PEER_PORT; its record in peer.log).

  e2e.py --host "COMMAND PREFIX" --driver PATH

The host program (the prefix: e.g. "cmake/wine-run.sh build/bin/qunhost.exe")
runs tests/lab/card/softcard/e2e/e2e.scn with --driver PATH, a driver module whose
folder holds the software card's card library. Then:

- the last table of values: every gate read from its kind's table of the
  device, but the address the device does not have, which failed (rc 1) with
  the driver's retry lines;
- the device's own image, read back by pymodbus's client: every write landed
  where its gate's address says;
- the device's record: each cyclic function polled at its sample rate (median
  interval from 0.8 to 1.5 times the period), reads failed while the device was
  away with the driver's remote-error lines, and it was polled again within
  seconds of its return;
- every connection was closed by EndQun, a second before the host ended;
- the summary's line of the devices' state, and the status file at exitbus.
"""
import argparse
import json
import os
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import time

from pymodbus.client import ModbusTcpClient

HERE = os.path.dirname(os.path.abspath(__file__))
UNIT = 17

# The last value of each gate that the device's image gives (e2e/image.txt over
# the pattern of lab/card/softcard/modbus_peer.py, with the writes of the scenario).
EXPECTED_VALUES = {
    "Blk.Coils": "1 0 0 1 0 0 1 0 0 1 0 0 1 0 0 1",
    "Blk.Inputs": "1 0 0 0 0 1 0 0",
    "Blk.Words": "1000 1001 8 1003 1004 1005 1006 1007",
    "Blk.InWords": "32883 32894 32905 32916",
    "Blk.Dwords": "55247698 305419896",
    "Blk.Floats": "21.5 -3.25",
    "Blk.Bytes": "18 52 86 120",
    "Blk.Target": "11 777 33 44",
    "Blk.CoilOut": "1 0 1 1 0 0 1 0",
    "Sgl.Coil": "1", "Sgl.Input": "1", "Sgl.Word": "1001", "Sgl.InWord": "32894",
    "Sgl.Byte": "52", "Sgl.PByte": "86", "Sgl.Bcd": "1234", "Sgl.Dword": "305419896",
    "Sgl.Float": "21.5", "Sgl.Bit": "1", "Bad.Address": "-",
    "Set.Word": "4321", "Set.Coil": "1", "Set.Dword": "-123456", "Set.Float": "2.5",
    "Set.Bcd": "1999", "Set.Byte": "171", "Set.PByte": "205", "Set.Bit": "1",
    "Set.Covered": "777", "Outage": "1",
}


def pattern(address):
    """Holding register `address` of the pattern image."""
    return (address * 7 + 3) & 0xFFFF


# What the writes left in the device: (table, first address, values).
EXPECTED_IMAGE = [
    ("hr", 250, [4321]),                                 # Set.Word
    ("co", 600, [1]),                                    # Set.Coil
    ("hr", 260, [0xFFFE, 0x1DC0]),                       # Set.Dword -123456, high word first
    ("hr", 270, [0x4020, 0x0000]),                       # Set.Float 2.5
    ("hr", 280, [0x1999]),                               # Set.Bcd 1999
    ("hr", 600, [0xAB00 | (pattern(600) & 0xFF)]),       # Set.Byte: byte 1201, the high one
    ("hr", 605, [(pattern(605) & 0xFF00) | 0xCD]),       # Set.PByte: byte 1210, the low one
    ("hr", 290, [0x0111]),                               # Set.Bit: bit 4 set, the rest kept
    ("hr", 299, [pattern(299), 11, 777, 33, 44, pattern(304)]),  # Blk.Target, Set.Covered
    ("co", 500, [1, 0, 1, 1, 0, 0, 1, 0]),               # Blk.CoilOut
    ("hr", 1999, [1]),                                   # Outage
]

# The blocks' cyclic functions: (gate, table, address, count) of their
# requests, and their sample rate in seconds.
CYCLIC = [
    ("Blk.Coils", "co", 0, 16, 0.2),
    ("Blk.Inputs", "di", 0, 8, 0.5),
    ("Blk.Words", "hr", 100, 8, 0.2),
    ("Blk.InWords", "ir", 10, 4, 1.0),
    ("Blk.Dwords", "hr", 120, 4, 0.5),
    ("Blk.Floats", "hr", 140, 4, 0.5),
    ("Blk.Bytes", "hr", 200, 2, 1.0),
]
# The median interval between polls, as a share of the sample rate: a busy
# machine delays polls more than it hurries them.
RATE_LOW, RATE_HIGH = 0.8, 1.5


class Check:
    def __init__(self):
        self.failures = []

    def expect(self, condition, what):
        if not condition:
            self.failures.append(what)
        return condition


def last_table(output):
    """Gate name -> (rc, value text) of the last table of values printed."""
    lines = output.splitlines()
    starts = [i for i, line in enumerate(lines) if line.startswith("  gate ")]
    if not starts:
        return {}
    header = lines[starts[-1]]
    value_column = header.index("value")
    table = {}
    for line in lines[starts[-1] + 1:]:
        words = line.split()
        if not words or words[0] not in EXPECTED_VALUES:
            break
        rc_index = 2 if words[2].isdigit() else 3  # a block's address has " xN"
        table[words[0]] = (int(words[rc_index]), line[value_column:].strip())
    return table


def run_host(args):
    for name in ("e2e.scn", "qunDOZ01.INT"):
        shutil.copy(os.path.join(HERE, "e2e", name), name)
    if os.path.exists("softcard-status.txt"):
        os.remove("softcard-status.txt")
    with open("softcard.ini", "w", encoding="utf-8") as settings:
        settings.write("# written by e2e.py\n[channel 0]\nprotocol = modbus-tcp\n\n"
                       "[channel 0 equipment 1]\nhost = 127.0.0.1\n"
                       f"port = {os.environ['PEER_PORT']}\nunit = {UNIT}\n"
                       "timeout = 300\nreconnect = 500\nword_order = high-first\n")
    command = shlex.split(args.host) + ["--driver", args.driver, "--plain",
                                        "--log", "qunhost.log", "e2e.scn"]
    environment = dict(os.environ, SOFTCARD_INI="softcard.ini")
    print("e2e: " + " ".join(command), flush=True)
    with open("qunhost.out", "w") as out, open("qunhost.err", "w") as err:
        status = subprocess.run(command, stdout=out, stderr=err, env=environment,
                                timeout=args.limit, check=False).returncode
    return status, time.time()


def read_image():
    client = ModbusTcpClient("127.0.0.1", port=int(os.environ["PEER_PORT"]))
    client.connect()
    image = {}
    for table, first, values in EXPECTED_IMAGE:
        if table == "hr":
            answer = client.read_holding_registers(first, len(values), slave=UNIT)
            image[(table, first)] = list(answer.registers)
        else:
            answer = client.read_coils(first, len(values), slave=UNIT)
            image[(table, first)] = [int(bit) for bit in answer.bits[:len(values)]]
    client.close()
    return image


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True, help="command prefix of the host program")
    parser.add_argument("--driver", required=True)
    parser.add_argument("--limit", type=float, default=150)
    args = parser.parse_args()
    check = Check()

    status, ended = run_host(args)
    with open("qunhost.out") as out:
        output = out.read()
    with open("qunhost.log", errors="replace") as log:
        driver_log = log.read()
    events = [json.loads(line) for line in open("peer.log", encoding="utf-8")]
    check.expect(status == 1, f"the host program's exit status {status}, not 1 "
                              "(the reads while the device was away and Bad.Address fail)")
    check.expect("errors      none" in output, "the host program found errors")

    # Every gate read as the device holds it.
    table = last_table(output)
    for gate, value in EXPECTED_VALUES.items():
        rc, shown = table.get(gate, (None, None))
        if gate == "Bad.Address":
            check.expect(rc == 1, f"{gate}: rc {rc}, not 1")
        else:
            check.expect(rc == 0 and shown.endswith(value),
                         f"{gate}: rc {rc} value '{shown}', not '{value}'")

    # The address the device does not have: the exception as a failed read.
    for line in ("RIREVI: Error detected; retry number 3",
                 "RIREVI: SingleRead() exited. Tag 'Bad.Address' rc = 1"):
        check.expect(line in driver_log, f"driver log without '{line}'")

    # Every write where its gate's address says.
    image = read_image()
    for table_name, first, values in EXPECTED_IMAGE:
        got = image[(table_name, first)]
        check.expect(got == values, f"{table_name} {first}: {got}, not {values}")

    # The cyclic functions' rates, before the first write.
    requests = [e for e in events if e["event"] == "request"]
    first_write = min(e["t"] for e in requests if e["write"])
    start = min(e["t"] for e in requests) + 0.5
    print("cyclic polling, measured by the server (median interval against the sample rate):")
    for gate, table_name, address, count, period in CYCLIC:
        times = [e["t"] for e in requests
                 if not e["write"] and (e["table"], e["address"], e["count"]) ==
                 (table_name, address, count) and start <= e["t"] < first_write]
        intervals = [b - a for a, b in zip(times, times[1:])]
        if not check.expect(len(intervals) >= 2, f"{gate}: {len(times)} polls only"):
            continue
        median = statistics.median(intervals)
        print(f"  {gate:12} S{int(period * 1000):<5} {len(times):3} polls in "
              f"{times[-1] - times[0]:5.2f} s, median {median * 1000:6.1f} ms, "
              f"mean {statistics.mean(intervals) * 1000:6.1f} ms")
        check.expect(RATE_LOW * period <= median <= RATE_HIGH * period,
                     f"{gate}: median interval {median:.3f} s for a rate of {period} s")

    # The outage: failures with the driver's lines, then polls again.
    downs = [e["t"] for e in events if e["event"] == "down"]
    ups = [e["t"] for e in events if e["event"] == "up"]
    if check.expect(downs and ups, "the server never went down and came back"):
        back = [e["t"] for e in requests if e["t"] > ups[0]]
        if check.expect(back, "no request after the server came back"):
            print(f"the device away {ups[0] - downs[0]:.2f} s; first request served "
                  f"{back[0] - ups[0]:.3f} s after its return")
            check.expect(back[0] - ups[0] < 3.0, "no request within 3 s of the return")
    for line in ("RIREVI: COMM_ERR_BY_REMOTE Sleeping for 50 ms",
                 "RIREVI: COMM_ERR_BY_REMOTE Sleeping for 50\n",
                 "RIREVI: CyclFuncRead() func. 1 error retry 1"):
        check.expect(line in driver_log, f"driver log without '{line.strip()}'")

    # EndQun closed every connection, before the host's last 2 s wait ended.
    connects = [e["t"] for e in events if e["event"] == "connect"]
    closes = [e["t"] for e in events if e["event"] == "close"]
    check.expect(len(connects) == len(closes),
                 f"{len(connects)} connections made, {len(closes)} closed")
    if closes:
        print(f"last connection closed {ended - closes[-1]:.2f} s before the host ended")
        check.expect(ended - closes[-1] >= 1.0, "a connection was open until the host ended")

    # The devices' state in the host program's summary and in the status file.
    check.expect(re.search(r"^  softcard    1 device: 1 connected, 0 away; \d+ requests: \d+ ok, "
                           r"\d+ status 4, \d+ status 70; status file softcard-status.txt$",
                           output, re.MULTILINE),
                 "no line of the software card's devices in the summary")
    status_file = ""
    if os.path.exists("softcard-status.txt"):
        with open("softcard-status.txt", encoding="utf-8") as text:
            status_file = text.read()
    check.expect("closed (exitbus) at" in status_file and
                 "channel 0 equipment 1: 127.0.0.1:" in status_file,
                 "the status file does not show the device at exitbus")

    summary = output[output.rfind("summary"):] if "summary" in output else output[-2000:]
    print(summary.rstrip())
    for failure in check.failures:
        print("e2e: FAILED: " + failure)
    print(f"e2e: {len(check.failures)} problems "
          "(qunhost.out, qunhost.log, qunhost.err, peer.log in " + os.getcwd() + ")")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
