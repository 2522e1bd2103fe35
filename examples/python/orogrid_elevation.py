#!/usr/bin/env python3
"""Elevation under the aircraft through Orogrid's client library, with ctypes.

    python3 orogrid_elevation.py [--library PATH] [--segment NAME]

The library is liborogrid_client.so (Linux) or orogrid_client.dll (Windows);
without --library it is looked up as the system looks up libraries
(LD_LIBRARY_PATH, PATH). Exit status 0 when an elevation was printed.
"""
import argparse
import ctypes
import ctypes.util
import sys

OROGRID_OK = 0
OROGRID_NEAREST = 0


class Aircraft(ctypes.Structure):
    """orogrid_aircraft of orogrid_client.h, field for field."""
    _fields_ = [
        ("latitude", ctypes.c_double),
        ("longitude", ctypes.c_double),
        ("heading", ctypes.c_double),
        ("elevation", ctypes.c_int32),
        ("cell_id", ctypes.c_int32),
        ("pixel_x", ctypes.c_int32),
        ("pixel_y", ctypes.c_int32),
        ("sub_x", ctypes.c_int32),
        ("sub_y", ctypes.c_int32),
        ("pixels_per_metre", ctypes.c_double),
        ("update_count", ctypes.c_int32),
        ("simulation_state", ctypes.c_int32),
    ]


def load(path):
    if path is None:
        path = ctypes.util.find_library("orogrid_client") or "liborogrid_client.so.1"
    lib = ctypes.CDLL(path)
    lib.orogrid_version.restype = ctypes.c_char_p
    lib.orogrid_strerror.restype = ctypes.c_char_p
    lib.orogrid_strerror.argtypes = [ctypes.c_int]
    lib.orogrid_last_error.restype = ctypes.c_char_p
    lib.orogrid_last_error.argtypes = [ctypes.c_void_p]
    lib.orogrid_open.argtypes = [ctypes.c_char_p, ctypes.c_uint, ctypes.POINTER(ctypes.c_void_p)]
    lib.orogrid_close.argtypes = [ctypes.c_void_p]
    lib.orogrid_wait_publication.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
    lib.orogrid_aircraft_read.argtypes = [ctypes.c_void_p, ctypes.POINTER(Aircraft), ctypes.c_size_t]
    lib.orogrid_elevation.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_double, ctypes.c_int,
                                      ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_int)]
    return lib


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library")
    parser.add_argument("--segment")
    args = parser.parse_args()
    lib = load(args.library)
    client = ctypes.c_void_p()
    segment = args.segment.encode() if args.segment else None
    rc = lib.orogrid_open(segment, 0, ctypes.byref(client))
    if rc != OROGRID_OK:
        print("orogrid_open:", lib.orogrid_strerror(rc).decode(), file=sys.stderr)
        return 1
    try:
        aircraft = Aircraft()
        rc = lib.orogrid_wait_publication(client, 10000)
        if rc == OROGRID_OK:
            rc = lib.orogrid_aircraft_read(client, ctypes.byref(aircraft), ctypes.sizeof(aircraft))
        if rc != OROGRID_OK:
            print("orogrid:", lib.orogrid_last_error(client).decode(), file=sys.stderr)
            return 1
        metres = ctypes.c_double()
        rc = lib.orogrid_elevation(client, aircraft.latitude, aircraft.longitude, OROGRID_NEAREST,
                                   ctypes.byref(metres), None)
        if rc != OROGRID_OK:
            print("orogrid_elevation:", lib.orogrid_last_error(client).decode(), file=sys.stderr)
            return 1
        print("Orogrid client %s: aircraft at %.5f, %.5f, ground %.0f m"
              % (lib.orogrid_version().decode(), aircraft.latitude, aircraft.longitude, metres.value))
        return 0
    finally:
        lib.orogrid_close(client)


if __name__ == "__main__":
    sys.exit(main())
