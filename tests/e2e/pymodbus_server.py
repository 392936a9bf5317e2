#!/usr/bin/python3
"""Serves a fixed register image with pymodbus, a Modbus server this project did not write.

Usage: pymodbus_server.py IMAGE_FILE PORT
IMAGE_FILE holds "register value" lines; registers 60000 to 60189 not named read 0.
"""
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartTcpServer

FIRST, COUNT = 60000, 190


def main():
    image_path, port = sys.argv[1], int(sys.argv[2])
    values = [0] * COUNT
    with open(image_path, encoding="ascii") as image:
        for line in image:
            parts = line.split()
            if len(parts) == 2 and not line.startswith("#"):
                values[int(parts[0]) - FIRST] = int(parts[1])
    # zero_mode: register N is address N on the wire, with no offset of one.
    store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(FIRST, values), zero_mode=True)
    StartTcpServer(context=ModbusServerContext(slaves=store, single=True), address=("127.0.0.1", port))


if __name__ == "__main__":
    main()
