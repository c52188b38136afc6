#!/usr/bin/env python3
"""Finds the state layouts of the short-message triple-DES kernels.

Output (committed beside this script, so a build needs no Python):
  engine/des/des_short_layout.h

The short kernels keep each half block in "expanded form": a 64-bit lane
whose byte j holds, in six of its bits, the six inputs of S-box j (the
expansion E of the half), so a round needs no expansion at all: the round
key is XORed in and each byte is looked up in its S-box's table at once. The
table writes box j's four output bits into chosen bits ("slots") of byte j.
What is left is the permutation P followed by the expansion of the next
round: every one of the 48 expanded bits must be fetched from the slot that
holds its S-box output bit. The kernels do that with a few terms
rotl(S, r) & mask, so the cost of a round is set by the number of distinct
rotations r. This script searches, by depth-first search with iterative
deepening, for slot contents, rotations and an order of the six inputs
inside each byte (the tables absorb any order) that need the fewest.

Three layouts, for the three ways the kernels look up S-boxes:
  kLayoutVbmi      AVX-512 VBMI (vpermi2b): a table returns any byte, so a
                   slot may hold any output bit of its box, even twice.
                   4 rotations (no fewer can do: the byte offsets between
                   source and destination boxes take seven values, and a
                   rotation serves at most two adjacent ones).
  kLayoutShuffle   AVX2 (vpshufb, a table byte shared by all eight boxes):
                   output bit t of each box in its own slot, the eight boxes'
                   slots for the same t all different. 7 rotations.
  kLayoutPortable  plain 64-bit words (multiplexer trees that leave each
                   box's output in the low four bits of its byte). 6.
The searches take a few minutes.

Usage: scripts/gen_des_short_layout.py [repository root]
"""
import os
import sys

# The permutation P and the expansion E of the standard (1-based bit numbers).
P = [16, 7, 20, 21, 29, 12, 28, 17, 1, 15, 23, 26, 5, 18, 31, 10,
     2, 8, 24, 14, 32, 27, 3, 9, 19, 13, 30, 6, 22, 11, 4, 25]
E = [32, 1, 2, 3, 4, 5, 4, 5, 6, 7, 8, 9, 8, 9, 10, 11, 12, 13, 12, 13, 14, 15, 16, 17,
     16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1]


def search(rotation_limit, slot_allowed, duplicates):
    """Returns (rotations, slots, windows) or None.

    Destination: bit windows[j][t] of byte j holds input t of box j, which
    is S-box output bit P[E[6j + t] - 1] of the round before. Source: slot
    s of byte k holds an output bit of box k (slots[8k + s], 0 for none).
    """
    items = [(j, t, P[E[6 * j + t] - 1]) for j in range(8) for t in range(6)]
    slots = [0] * 64
    held = {}  # output bit -> slots holding it
    taken = set()  # (output bit index within its box, slot) pairs in use
    used = [False] * 64
    window_pos = {}
    rotations = []
    sys.setrecursionlimit(10000)

    def can_hold(a, q):
        if slots[a]:
            return slots[a] == q
        if not duplicates and q in held:
            return False
        return slot_allowed(a, q, taken)

    def take(a, q):
        slots[a] = q
        held.setdefault(q, []).append(a)
        taken.add(((q - 1) % 4, a % 8))

    def release(a, q):
        slots[a] = 0
        held[q].remove(a)
        if not held[q]:
            del held[q]
        taken.discard(((q - 1) % 4, a % 8))

    def place(i, p, a, q, new_rotation):
        new_slot = not slots[a]
        if new_slot:
            take(a, q)
        if new_rotation is not None:
            rotations.append(new_rotation)
        if dfs(i + 1):
            return True
        if new_rotation is not None:
            rotations.pop()
        if new_slot:
            release(a, q)
        return False

    def dfs(i):
        if i == len(items):
            return True
        j, t, q = items[i]
        box = (q - 1) // 4
        # First with the rotations chosen so far, then with one more.
        for p in range(8 * j, 8 * j + 6):
            if used[p]:
                continue
            used[p] = True
            window_pos[(j, t)] = p
            for r in list(rotations):
                a = (p - r) % 64
                if a // 8 == box and can_hold(a, q) and place(i, p, a, q, None):
                    return True
            used[p] = False
        if len(rotations) < rotation_limit:
            for p in range(8 * j, 8 * j + 6):
                if used[p]:
                    continue
                used[p] = True
                window_pos[(j, t)] = p
                for a in range(8 * box, 8 * box + 8):
                    r = (p - a) % 64
                    if r not in rotations and can_hold(a, q) and place(i, p, a, q, r):
                        return True
                used[p] = False
        return False

    if not dfs(0):
        return None
    windows = [[window_pos[(j, t)] - 8 * j for t in range(6)] for j in range(8)]
    return list(rotations), list(slots), windows


LAYOUTS = [
    ("kLayoutVbmi", 4, lambda a, q, taken: True, True,
     "AVX-512 VBMI: any slot, duplicates allowed"),
    ("kLayoutShuffle", 7, lambda a, q, taken: ((q - 1) % 4, a % 8) not in taken, False,
     "AVX2: one slot per output bit, the boxes' slots for each output bit distinct"),
    ("kLayoutPortable", 6, lambda a, q, taken: a % 8 < 4, False,
     "64-bit words: each box's output in the low four bits of its byte"),
]


def render(layouts):
    out = []
    out.append("// Generated by scripts/gen_des_short_layout.py; do not edit. Run the script")
    out.append("// again to change it.")
    out.append("//")
    out.append("// The layouts of the short-message triple-DES kernels (see des_short.h): in")
    out.append("// byte j of a half block's lane, bit windows[j][t] holds input t of S-box j")
    out.append("// (bit E[6j + t] of the half); the S-box step leaves in slot s of byte k the")
    out.append("// S-box output bit slots[8k + s] (1..32, box k's bits 4k+1..4k+4, most")
    out.append("// significant first; 0 for none); and the next round's inputs are")
    out.append("// gathered from the slots by the rotations listed, each masked to the")
    out.append("// destination bits whose source lies that far away.")
    out.append("#ifndef CORVANE_DES_SHORT_LAYOUT_H")
    out.append("#define CORVANE_DES_SHORT_LAYOUT_H")
    out.append("")
    out.append("#include <cstdint>")
    out.append("")
    out.append("namespace corvane::des {")
    out.append("")
    out.append("struct ShortLayout {")
    out.append("    unsigned rotationCount;")
    out.append("    std::uint8_t rotations[8];")
    out.append("    std::uint8_t slots[64];")
    out.append("    std::uint8_t windows[8][6];")
    out.append("};")
    for name, note, (rotations, slots, windows) in layouts:
        out.append("")
        out.append(f"// {note}.")
        out.append(f"inline constexpr ShortLayout {name} = {{")
        out.append(f"    {len(rotations)},")
        out.append("    {" + ", ".join(str(r) for r in rotations) + "},")
        out.append("    {" + ", ".join(str(s) for s in slots[:32]) + ",")
        out.append("     " + ", ".join(str(s) for s in slots[32:]) + "},")
        out.append("    {" + ", ".join("{" + ", ".join(str(b) for b in w) + "}" for w in windows) + "}};")
    out.append("")
    out.append("}  // namespace corvane::des")
    out.append("")
    out.append("#endif  // CORVANE_DES_SHORT_LAYOUT_H")
    return "\n".join(out) + "\n"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    found = []
    for name, start, allowed, duplicates, note in LAYOUTS:
        limit = start
        while True:
            result = search(limit, allowed, duplicates)
            if result:
                break
            limit += 1
        print(f"{name}: {len(result[0])} rotations", file=sys.stderr)
        found.append((name, note, result))
    path = os.path.join(root, "engine", "des", "des_short_layout.h")
    with open(path, "w") as f:
        f.write(render(found))


if __name__ == "__main__":
    main()
