#!/usr/bin/python3
"""A Modbus TCP device, or the devices of a serial line, for the software
card's tests and examples.

The server is pymodbus's (Debian's python3-pymodbus); this script only gives
it an image, a record of the requests it served, and a way to make it go away
and come back as a failing device would.

  modbus_peer.py [--port N] [--unit U[,U...]] [--size N] [--pattern] [--image FILE]
                 [--ready FILE] [--log FILE] [--control FILE]
                 [--outage-on-write TABLE:ADDRESS=VALUE --outage-for SECONDS]
                 [--no-mask-write-unit U] [--unreachable-unit U] [--silent-ready FILE]
  modbus_peer.py --serial PATH [--baud B] [--parity N|E|O] [--data-bits 7|8]
                 [--stop-bits 1|2] [--card-end PATH] [--unit U[,U...]] ...

Each unit of --unit has an image of its own. With --serial the units are
Modbus RTU devices on the serial port PATH (the far end of a pseudo-terminal
pair that socat makes), at the line settings given (19200 8E1 by default), and
broadcasts (unit 0) are written to all of them. --card-end names the end the
card opens: the peer keeps it open (so that the pair outlives the card's
closing it) and reads the settings the card gave it, to be the line between
them. A card at another baud rate or number of data bits sends the devices
noise, which they ignore (the card hears nothing); a card at another parity
is understood, as by devices that do not check parity, but reads each byte
of the answer with a parity error, as zero (the card sees a CRC error).

Tables: co (coils), di (discrete inputs), hr (holding registers), ir (input
registers), each of --size elements from address 0; a request past them gets
the illegal-address exception. --pattern fills them with values a test can
compute (see pattern_value). An image file has lines

  TABLE ADDRESS VALUE...          consecutive elements (decimal or 0x..)
  f32 REGISTER VALUE [low-first]  an IEEE single in two holding registers
  u32 REGISTER VALUE [low-first]  a 32-bit number in two holding registers

with '#' comments. --ready receives the port once the server listens. --log
receives one JSON object a line: each request ({"t", "event": "request",
"table", "address", "count", "write"}), each connection made or closed, the
mask writes refused, and the outages. --control names a file whose content
(up, down, mute, garble) the server follows: down closes the connections and
stops listening, mute keeps them but answers nothing, garble answers with
another transaction's identifier. --outage-on-write goes down for
--outage-for seconds after a write of VALUE to ADDRESS of TABLE.
--no-mask-write-unit serves a second unit with the same image that answers
mask write (function 22) with exception 1, as devices without it do.
--unreachable-unit answers every request to that unit with exception 11, as
a gateway does for a device behind it that does not answer.
--silent-ready receives the port of a second server that takes connections
and never answers: a silent device beside this one. On a serial line the
control file's garble corrupts each answer's CRC, and down is not offered.
"""
import argparse
import asyncio
import json
import logging
import os
import signal
import struct
import sys
import termios
import time

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.pdu import ModbusExceptions
from pymodbus.server.async_io import (ModbusConnectedRequestHandler,
                                      ModbusSerialServer,
                                      ModbusSingleRequestHandler, ModbusTcpServer)
from pymodbus.transaction import ModbusRtuFramer

TABLES = ("co", "di", "hr", "ir")
# The tables the datastore names by letter.
LETTERS = {"c": "co", "d": "di", "h": "hr", "i": "ir"}


def pattern_value(table, address):
    """The --pattern image: what element `address` of `table` holds."""
    if table == "co":
        return 1 if address % 3 == 0 else 0
    if table == "di":
        return 1 if address % 5 == 0 else 0
    if table == "hr":
        return (address * 7 + 3) & 0xFFFF
    return ((address * 11 + 5) & 0xFFFF) ^ 0x8000


def number(text):
    return int(text, 0)


def read_image(path, values):
    with open(path, encoding="utf-8") as lines:
        for n, line in enumerate(lines, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            kind = words[0]
            try:
                if kind in TABLES:
                    start = number(words[1])
                    for k, word in enumerate(words[2:]):
                        values[kind][start + k] = number(word)
                elif kind in ("f32", "u32"):
                    register = number(words[1])
                    raw = (struct.pack(">f", float(words[2])) if kind == "f32" else
                           struct.pack(">I", number(words[2]) & 0xFFFFFFFF))
                    high, low = struct.unpack(">HH", raw)
                    low_first = len(words) > 3 and words[3] == "low-first"
                    pair = (low, high) if low_first else (high, low)
                    values["hr"][register:register + 2] = list(pair)
                else:
                    raise ValueError(f"unknown kind {kind}")
            except (IndexError, ValueError) as error:
                sys.exit(f"modbus_peer: {path}:{n}: {error}")


class Peer:
    """The server's state beside pymodbus: its record, outages and muting."""

    def __init__(self, args):
        self.args = args
        self.log_file = open(args.log, "a", encoding="utf-8") if args.log else None
        self.muted = False
        self.garbled = False
        self.down = False
        self.server = None
        self.port = args.port
        self.outage_trigger = None
        if args.outage_on_write:
            where, value = args.outage_on_write.split("=")
            table, address = where.split(":")
            self.outage_trigger = (table, number(address), number(value))

    def record(self, event, **fields):
        if self.log_file:
            fields.update(t=time.time(), event=event)
            self.log_file.write(json.dumps(fields) + "\n")
            self.log_file.flush()

    def served(self, table, address, count, values=None, unit=None):
        self.record("request", table=table, address=address, count=count,
                    write=values is not None, unit=unit)
        if values is not None and self.outage_trigger:
            t_table, t_address, t_value = self.outage_trigger
            if table == t_table and address <= t_address < address + len(values) \
                    and values[t_address - address] == t_value:
                # After the answer to this write has gone out.
                asyncio.get_event_loop().call_later(
                    0.05, lambda: asyncio.ensure_future(self.outage(self.args.outage_for)))

    async def outage(self, seconds):
        await self.go_down()
        await asyncio.sleep(seconds)
        await self.come_up()

    async def go_down(self):
        if self.down:
            return
        self.down = True
        for handler in list(self.server.active_connections.values()):
            handler.transport.abort()
        self.server.active_connections = {}
        if self.server.server is not None:
            self.server.server.close()
            await self.server.server.wait_closed()
            self.server.server = None
        self.record("down")

    async def come_up(self):
        if not self.down:
            return
        self.down = False
        await self.listen()
        self.record("up")

    async def listen(self):
        self.server.serving = asyncio.get_event_loop().create_future()
        self.server.address = (self.args.host, self.port)
        asyncio.ensure_future(self.server.serve_forever())
        await self.server.serving
        self.port = self.server.server.sockets[0].getsockname()[1]


PEER = None


class RecordingContext(ModbusSlaveContext):
    """The datastore of one unit, recording what each request asked of it."""

    def __init__(self, unit, **blocks):
        super().__init__(**blocks)
        self.unit = unit

    def getValues(self, fc_as_hex, address, count=1):
        values = super().getValues(fc_as_hex, address, count)
        if fc_as_hex not in (5, 6, 15, 16, 22, 23):
            PEER.served(LETTERS[self.decode(fc_as_hex)], address, count, unit=self.unit)
        return values

    def setValues(self, fc_as_hex, address, values):
        super().setValues(fc_as_hex, address, values)
        PEER.served(LETTERS[self.decode(fc_as_hex)], address, len(values), list(values),
                    unit=self.unit)


class Handler(ModbusConnectedRequestHandler):
    """pymodbus's connection handler, recording connections and muted when asked."""

    def connection_made(self, transport):
        super().connection_made(transport)
        PEER.record("connect", client=list(transport.get_extra_info("peername")[:2]))

    def connection_lost(self, call_exc):
        super().connection_lost(call_exc)
        PEER.record("close")

    def execute(self, request, *addr):
        if PEER.muted:
            return
        if request.unit_id == PEER.args.unreachable_unit:
            # What a gateway answers for a device behind it that is silent.
            PEER.record("unreachable", unit=request.unit_id)
            response = request.doException(ModbusExceptions.GatewayNoResponse)
            response.transaction_id = request.transaction_id
            response.unit_id = request.unit_id
            self.send(response, *addr)
            return
        if request.function_code == 22 and request.unit_id == PEER.args.no_mask_write_unit:
            PEER.record("refused", function=22, unit=request.unit_id)
            response = request.doException(ModbusExceptions.IllegalFunction)
            response.transaction_id = request.transaction_id
            response.unit_id = request.unit_id
            self.send(response, *addr)
            return
        super().execute(request, *addr)

    def send(self, message, *addr, **kwargs):
        if PEER.garbled and not kwargs.get("skip_encoding", False):
            message.transaction_id = (message.transaction_id + 1) & 0xFFFF
        super().send(message, *addr, **kwargs)


# The card's line settings as termios says them, against the devices'.
SPEEDS = {getattr(termios, f"B{rate}"): rate
          for rate in (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)}


class Line:
    """The line between the card's end of the pair and the devices."""

    def __init__(self, args):
        self.args = args
        self.card_end = None
        if args.card_end:
            self.card_end = os.open(args.card_end, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)

    def card_settings(self):
        """(baud, data bits, parity letter) of the card's end, or None."""
        if self.card_end is None:
            return None
        _, _, cflag, _, _, ospeed, _ = termios.tcgetattr(self.card_end)
        bits = 7 if cflag & termios.CSIZE == termios.CS7 else 8
        # Linux keeps no parity on a pseudo-terminal but the flag for odd:
        # even and none are not told apart.
        if cflag & termios.PARODD:
            parity = "O"
        else:
            parity = "E" if self.args.parity == "O" else self.args.parity
        return SPEEDS.get(ospeed, 0), bits, parity

    def mismatch(self):
        """'noise', 'parity' or None: what the card's settings make of the line."""
        card = self.card_settings()
        if card is None:
            return None
        baud, bits, parity = card
        if baud != self.args.baud or bits != self.args.data_bits:
            return "noise"
        return "parity" if parity != self.args.parity else None


LINE = None


class SerialHandler(ModbusSingleRequestHandler):
    """pymodbus's serial handler behind the emulated line, muted or garbled when asked."""

    def data_received(self, data):
        if LINE.mismatch() == "noise":
            PEER.record("noise", bytes=len(data))
            return
        super().data_received(data)

    def execute(self, request, *addr):
        if PEER.muted:
            return
        super().execute(request, *addr)

    def _send_(self, data):
        if LINE.mismatch() == "parity":
            data = bytes(len(data))
            PEER.record("parity-errors", bytes=len(data))
        elif PEER.garbled:
            data = data[:-1] + bytes([data[-1] ^ 0xFF])
        super()._send_(data)


async def serve_line(args, context):
    """The units on the serial line until a signal ends the peer."""
    global LINE  # pylint: disable=global-statement
    LINE = Line(args)
    # The devices' parity is the Line's to judge: Linux refuses parity on a
    # pseudo-terminal.
    server = ModbusSerialServer(context, framer=ModbusRtuFramer, port=args.serial,
                                baudrate=args.baud, parity="N",
                                bytesize=args.data_bits, stopbits=args.stop_bits,
                                handler=SerialHandler, broadcast_enable=True,
                                ignore_missing_slaves=True)
    await server.start()
    if server.transport is None:  # pymodbus says why in its debug log only
        sys.exit(f"modbus_peer: cannot open the serial port {args.serial}")
    PEER.record("listen", serial=args.serial)
    await serve_until_signal(args, args.serial)
    await server.shutdown()


def write_ready(path, text):
    """Says where the peer is, in one step: a reader never sees half of it."""
    with open(path + ".tmp", "w", encoding="utf-8") as ready:
        ready.write(f"{text}\n")
    os.replace(path + ".tmp", path)


async def serve_until_signal(args, where):
    """Says where the peer is, follows the control file, and returns at a signal."""
    if args.ready:
        write_ready(args.ready, where)
    if args.control:
        asyncio.ensure_future(follow_control(args.control))
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        asyncio.get_event_loop().add_signal_handler(sig, stop.set)
    await stop.wait()


async def silent_server(args):
    """A device that takes connections and never answers."""
    async def swallow(reader, writer):
        try:
            while await reader.read(4096):
                pass
        except ConnectionError:
            pass
        writer.close()

    server = await asyncio.start_server(swallow, args.host, 0)
    port = server.sockets[0].getsockname()[1]
    write_ready(args.silent_ready, port)
    return server


async def follow_control(path):
    last = None
    while True:
        try:
            with open(path, encoding="utf-8") as control:
                state = control.read().strip()
        except OSError:
            state = "up"
        if state != last:
            last = state
            PEER.muted = state == "mute"
            PEER.garbled = state == "garble"
            if state == "down":
                await PEER.go_down()
            else:
                await PEER.come_up()
            PEER.record("control", state=state)
            # The state is in force: tell whoever waits for it.
            with open(path + ".ack", "w", encoding="utf-8") as ack:
                ack.write(state)
        await asyncio.sleep(0.02)


async def main(args):
    values = {table: [0] * args.size for table in TABLES}
    if args.pattern:
        for table in TABLES:
            values[table] = [pattern_value(table, a) for a in range(args.size)]
    for path in args.image or []:
        read_image(path, values)
    units = {}
    for number in args.unit:
        blocks = {table: ModbusSequentialDataBlock(0, list(values[table])) for table in TABLES}
        units[number] = RecordingContext(number, di=blocks["di"], co=blocks["co"],
                                         hr=blocks["hr"], ir=blocks["ir"], zero_mode=True)
    # Units the server must know to answer them as the options say.
    for number in (args.no_mask_write_unit, args.unreachable_unit):
        if number is not None:
            units[number] = units[args.unit[0]]
    context = ModbusServerContext(slaves=units, single=False)
    if args.serial:
        await serve_line(args, context)
        return
    PEER.server = ModbusTcpServer(context, address=(args.host, args.port), handler=Handler,
                                  allow_reuse_address=True)
    await PEER.listen()
    PEER.record("listen", port=PEER.port)
    silent = await silent_server(args) if args.silent_ready else None
    await serve_until_signal(args, PEER.port)
    await PEER.go_down()
    if silent:
        silent.close()


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0: a free port")
    parser.add_argument("--unit", type=lambda text: [int(u) for u in text.split(",")],
                        default=[1])
    parser.add_argument("--size", type=int, default=10000)
    parser.add_argument("--pattern", action="store_true")
    parser.add_argument("--image", action="append")
    parser.add_argument("--ready")
    parser.add_argument("--log")
    parser.add_argument("--control")
    parser.add_argument("--outage-on-write")
    parser.add_argument("--outage-for", type=float, default=3.0)
    parser.add_argument("--no-mask-write-unit", type=int)
    parser.add_argument("--unreachable-unit", type=int)
    parser.add_argument("--silent-ready")
    parser.add_argument("--serial")
    parser.add_argument("--baud", type=int, default=19200)
    parser.add_argument("--parity", choices=("N", "E", "O"), default="E")
    parser.add_argument("--data-bits", type=int, choices=(7, 8), default=8)
    parser.add_argument("--stop-bits", type=int, choices=(1, 2), default=1)
    parser.add_argument("--card-end")
    return parser.parse_args()


if __name__ == "__main__":
    # pymodbus reports every closed connection and exception answer as an error.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL + 1)
    PEER = Peer(parse_args())
    asyncio.run(main(PEER.args))
