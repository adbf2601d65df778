#!/usr/bin/env python3
"""A correct feeder child in Python: "tusker6 Tandy 3 1,70" (the name may
take several words; the weight has a comma or a point). It eats its ration,
5 x weight x weight rounded up, in ring order from slot 0, sleeping while its
next slot is empty, and ends. Its block is found by tusker_block, a module
beside it, so the interpreter would cache that module's bytecode beside it
unless told not to."""

import sys
import time

import tusker_block


def hundredths(text):
    whole, _, fraction = text.replace(",", ".").partition(".")
    return int(whole or "0") * 100 + int((fraction + "00")[:2])


def main(words):
    if len(words) < 3:
        return 2
    name = " ".join(words[:-2])
    weight = hundredths(words[-1])
    ration = (5 * weight * weight + 9999) // 10000
    try:
        ring, _held = tusker_block.open_ring(name)
    except OSError:
        return 1
    slot = 0
    eaten = 0
    while eaten < ration:
        if ring[slot] == 1:
            ring[slot] = 0
            eaten += 1
            slot = (slot + 1) % tusker_block.RING_SLOTS
        else:
            time.sleep(0.01)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
