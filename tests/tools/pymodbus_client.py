#!/usr/bin/python3
"""pymodbus as a Modbus client of dravo-sim --listen, an independent peer for its tests.

Reads the identity and block A, writes one holding register and reads it back, asks for a
unit nobody answers, and prints what it got as key=value lines. Exit status 0 when every
exchange gave what it should, 1 when one did not (the reason on stderr), 3 when a TLS
connection could not be made (the handshake refused), 4 when pymodbus is missing.
"""
import argparse
import asyncio
import logging
import ssl
import sys

try:
    from pymodbus.client import AsyncModbusTlsClient, ModbusTcpClient
    from pymodbus.exceptions import ConnectionException
    from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer
except ImportError as e:  # scripts/deps installs python3-pymodbus
    print(f"pymodbus is missing: {e}", file=sys.stderr)
    sys.exit(4)

SLAVE = 1
SETPOINT = 41  # a holding register the test may change (0-based address 40)


def check(ok, what):
    if not ok:
        raise RuntimeError(what)


def report(results):
    for key, value in results.items():
        print(f"{key}={value}")


async def exchanges(call, framing, value):
    """Runs the exchanges through call(method, *args) (awaited) and returns what they gave."""
    out = {}
    r = await call("read_holding_registers", 0, 4)
    check(not r.isError(), f"identity read failed: {r}")
    out["firmware"] = r.registers[1]
    out["serial"] = r.registers[2]
    r = await call("read_input_registers", 0, 44)
    check(not r.isError(), f"block A read failed: {r}")
    out["block_a"] = len(r.registers)
    r = await call("write_register", SETPOINT - 1, value)
    check(not r.isError(), f"write failed: {r}")
    r = await call("read_holding_registers", SETPOINT - 1, 1)
    check(not r.isError(), f"read back failed: {r}")
    out["read_back"] = r.registers[0]
    if framing == "mbap":
        # Another unit id behind the gateway: exception 11, no reply from the target.
        r = await call("read_holding_registers", 0, 1, slave=2)
        out["unit2"] = getattr(r, "exception_code", "none")
    return out


def run_plain(args):
    framer = ModbusRtuFramer if args.framing == "rtu" else ModbusSocketFramer
    client = ModbusTcpClient(args.host, port=args.port, framer=framer, timeout=2, retries=0)
    check(client.connect(), "cannot connect")

    async def call(method, *a, slave=SLAVE):
        return getattr(client, method)(*a, slave=slave)

    try:
        return asyncio.run(exchanges(call, args.framing, args.value))
    finally:
        client.close()


def tls_context(args):
    ctx = ssl.create_default_context(ssl.Purpose.SERVER_AUTH, cafile=args.ca)
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    if args.cert:
        ctx.load_cert_chain(args.cert, args.key)
    return ctx


async def run_tls(args):
    # The asynchronous TLS client with MBAP framing and a context that verifies the server:
    # pymodbus's own TLS framer leaves the MBAP header out, which Modbus/TCP Security keeps.
    client = AsyncModbusTlsClient(
        args.host,
        port=args.port,
        framer=ModbusSocketFramer,
        sslctx=tls_context(args),
        timeout=2,
        retries=0,
        # 0 is documented to turn reconnecting off, but 3.0.0rc1 then reconnects at once and
        # without end; a delay longer than the test keeps it to the one connection.
        reconnect_delay=3600000,
    )
    try:
        await asyncio.wait_for(client.connect(), 5)
    except (OSError, ssl.SSLError, asyncio.TimeoutError) as e:
        print(f"refused: {e}", file=sys.stderr)
        return None
    if not client.protocol:
        return None

    async def call(method, *a, slave=SLAVE):
        if not client.protocol:
            raise ConnectionError("the connection was closed")
        return await asyncio.wait_for(getattr(client, method)(*a, slave=slave), 5)

    try:
        # With TLS 1.3 a server that refuses our certificate says so after the client's side
        # of the handshake has finished: the refusal shows as a connection gone at the first
        # request.
        try:
            await asyncio.sleep(0.2)
            first = await call("read_holding_registers", 0, 1)
        except (ConnectionError, ConnectionException, AttributeError, asyncio.TimeoutError) as e:
            print(f"refused: {e}", file=sys.stderr)
            return None
        check(not first.isError(), f"first read failed: {first}")
        return await exchanges(call, "mbap", args.value)
    finally:
        await client.close()


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--framing", choices=["rtu", "mbap", "tls"], required=True)
    p.add_argument("--value", type=int, default=1234, help="what to write")
    p.add_argument("--ca", help="TLS: the CA the server's certificate must chain to")
    p.add_argument("--cert", help="TLS: the client's certificate")
    p.add_argument("--key", help="TLS: the client's key")
    args = p.parse_args()
    logging.disable(logging.CRITICAL)
    try:
        if args.framing == "tls":
            results = asyncio.run(run_tls(args))
            if results is None:
                return 3
        else:
            results = run_plain(args)
    except (RuntimeError, OSError, AttributeError, ConnectionException, asyncio.TimeoutError) as e:
        print(f"failed: {e}", file=sys.stderr)
        return 1
    report(results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
