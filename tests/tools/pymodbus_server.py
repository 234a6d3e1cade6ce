#!/usr/bin/python3
"""A pymodbus server on loopback as an independent peer for kvx-probe's network transports.

usage: pymodbus_server.py FRAMING PORT [CERT KEY CLIENT_CA]

FRAMING is rtu (RTU frames over TCP), socket (Modbus TCP) or tls (Modbus TCP over TLS with the
socket framer, the client's certificate required and checked against CLIENT_CA). Slave 1 holds
a controller identity of firmware 117 in holding registers 1-4; every other holding and input
register reads 0. Runs until killed.
"""
import asyncio
import logging
import ssl
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartAsyncTcpServer, StartAsyncTlsServer
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer

REGISTERS = 4000
IDENTITY = [31, 117, 4242, 1]  # product type, firmware version, serial number, address


def context():
    holding = IDENTITY + [0] * (REGISTERS - len(IDENTITY))
    # The data blocks count from 1 with zero_mode off: register reference 1 is wire address 0.
    slave = ModbusSlaveContext(hr=ModbusSequentialDataBlock(1, holding),
                               ir=ModbusSequentialDataBlock(1, [0] * REGISTERS),
                               zero_mode=False)
    return ModbusServerContext(slaves={1: slave}, single=False)


async def main(argv):
    framing, port = argv[1], int(argv[2])
    address = ("127.0.0.1", port)
    if framing == "tls":
        cert, key, client_ca = argv[3:6]
        sslctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        sslctx.minimum_version = ssl.TLSVersion.TLSv1_2
        sslctx.load_cert_chain(cert, key)
        sslctx.verify_mode = ssl.CERT_REQUIRED
        sslctx.load_verify_locations(client_ca)
        await StartAsyncTlsServer(context=context(), address=address, sslctx=sslctx,
                                  framer=ModbusSocketFramer, allow_reuse_address=True)
    else:
        framer = ModbusRtuFramer if framing == "rtu" else ModbusSocketFramer
        await StartAsyncTcpServer(context=context(), address=address, framer=framer,
                                  allow_reuse_address=True)


if __name__ == "__main__":
    logging.basicConfig(level=logging.CRITICAL)
    asyncio.run(main(sys.argv))
