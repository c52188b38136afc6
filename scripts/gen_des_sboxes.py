#!/usr/bin/env python3
"""Derives Boolean circuits for the eight DES S-boxes and writes them as C++.

Output (committed beside this script, so a build needs no Python):
  engine/des/des_sbox_gates.h    AND/OR/XOR/ANDNOT/NOT circuits, a template
                                   over the word type (uint64_t, __m256i, ...)
  engine/des/des_sbox_ternary.h  circuits of 3-input Boolean functions, one
                                   AVX-512 vpternlogq each (8-bit truth table)

Method. Every function is a 64-bit truth table over the six S-box inputs
b1..b6 (bit v of the table is the value at input v = b1 b2 b3 b4 b5 b6).
An output bit is built by Shannon decomposition, f = x ? f1 : f0, splitting on
the variables in a chosen order; before splitting, a function is looked up
among the signals built so far (for all four outputs of the box, so the
sub-functions they share are built once), as the complement of one of them,
and as one gate (or one 3-input function) of signals already there. Cofactors
that are constant, equal, or complements of each other cost one gate or none.
The variable order is searched per box and the cheapest circuit kept. Every
circuit is checked here against the table on all 64 inputs before it is
written; the C++ tests check the emitted code again.

Usage: scripts/gen_des_sboxes.py [repository root]
"""
import itertools
import os
import sys

# The eight S-boxes of the Data Encryption Standard: 4 rows x 16 columns each.
SBOXES = [
    [[14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7],
     [0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8],
     [4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0],
     [15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13]],
    [[15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10],
     [3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5],
     [0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15],
     [13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9]],
    [[10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8],
     [13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1],
     [13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7],
     [1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12]],
    [[7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15],
     [13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9],
     [10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4],
     [3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14]],
    [[2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9],
     [14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6],
     [4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14],
     [11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3]],
    [[12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11],
     [10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8],
     [9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6],
     [4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13]],
    [[4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1],
     [13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6],
     [1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2],
     [6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12]],
    [[13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7],
     [1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2],
     [7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8],
     [2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11]],
]

FULL = (1 << 64) - 1
# Truth table of input variable k (b(k+1)): set where that bit of v is 1.
VARS = [sum(1 << v for v in range(64) if (v >> (5 - k)) & 1) for k in range(6)]


def sbox_value(box, v):
    row = ((v >> 4) & 2) | (v & 1)
    col = (v >> 1) & 15
    return SBOXES[box][row][col]


def output_tables(box):
    return [sum(1 << v for v in range(64) if (sbox_value(box, v) >> (3 - t)) & 1) for t in range(4)]


def cofactors(f, k):
    s = 1 << (5 - k)
    f0 = f & ~VARS[k] & FULL
    f1 = f & VARS[k]
    return (f0 | (f0 << s)) & FULL, (f1 | (f1 >> s)) & FULL


def support(f):
    return [k for k in range(6) if cofactors(f, k)[0] != cofactors(f, k)[1]]


class Circuit:
    """Signals (truth table -> name) and the statements that make them."""

    def __init__(self):
        self.names = {VARS[k]: "x%d" % k for k in range(6)}
        self.order = list(VARS)
        self.lines = []   # (name, kind, operands, immediate or None)
        self.gates = 0

    def add(self, table, kind, operands, imm=None, cost=1):
        if table in self.names:
            return self.names[table]
        name = "t%d" % len(self.lines)
        self.lines.append((name, kind, operands, imm))
        self.names[table] = name
        self.order.append(table)
        self.gates += cost
        return name


class GateSynth:
    """Two-input gates: AND, OR, XOR, ANDNOT (~a & b), and NOT."""

    def __init__(self, order, pair_search):
        self.c = Circuit()
        self.var_order = order
        self.pair_search = pair_search

    def one_gate(self, f):
        sig = self.c.order
        pool = sig if self.pair_search else sig[:6]
        for a in pool:
            for b in sig:
                if a == b:
                    continue
                na, nb = self.c.names[a], self.c.names[b]
                if f == a & b:
                    return self.c.add(f, "and", (na, nb))
                if f == a | b:
                    return self.c.add(f, "or", (na, nb))
                if f == a ^ b:
                    return self.c.add(f, "xor", (na, nb))
                if f == ~a & b & FULL:
                    return self.c.add(f, "andnot", (na, nb))
                if f == a & ~b & FULL:
                    return self.c.add(f, "andnot", (nb, na))
        return None

    def quick(self, f):
        """0 when f exists, 1 when one gate makes it, else a rough size."""
        if f in self.c.names:
            return 0
        if (~f & FULL) in self.c.names:
            return 1
        return 2 + 4 * len(support(f))

    def build(self, f):
        c = self.c
        if f in c.names:
            return c.names[f]
        nf = ~f & FULL
        if nf in c.names:
            return c.add(f, "not", (c.names[nf],))
        made = self.one_gate(f)
        if made:
            return made
        k = next(k for k in self.var_order if k in support(f))
        x = c.names[VARS[k]]
        f0, f1 = cofactors(f, k)
        if f0 == 0:
            return c.add(f, "and", (x, self.build(f1)))
        if f1 == 0:
            return c.add(f, "andnot", (x, self.build(f0)))
        if f1 == FULL:
            return c.add(f, "or", (x, self.build(f0)))
        if f0 == FULL:
            nx = c.add(~VARS[k] & FULL, "not", (x,))
            return c.add(f, "or", (nx, self.build(f1)))
        d = f0 ^ f1
        if d == FULL:
            return c.add(f, "xor", (x, self.build(f0)))
        # Pick the two of f0, f1 and f0 ^ f1 that look cheapest.
        options = [(self.quick(f0) + self.quick(d), "a"), (self.quick(f1) + self.quick(d), "b"),
                   (self.quick(f0) + self.quick(f1), "c")]
        choice = min(options)[1]
        if choice == "a":   # f0 ^ (x & d)
            g0, gd = self.build(f0), self.build(d)
            t = c.add(VARS[k] & d, "and", (x, gd))
            return c.add(f, "xor", (g0, t))
        if choice == "b":   # f1 ^ (~x & d)
            g1, gd = self.build(f1), self.build(d)
            t = c.add(~VARS[k] & d & FULL, "andnot", (x, gd))
            return c.add(f, "xor", (g1, t))
        g0, g1 = self.build(f0), self.build(f1)
        t1 = c.add(VARS[k] & f1, "and", (x, g1))
        t0 = c.add(~VARS[k] & f0 & FULL, "andnot", (x, g0))
        return c.add(f, "or", (t0, t1))


def fit3(f, a, b, c):
    """The 8-bit truth table imm with f == F(a, b, c), or None."""
    imm = 0
    for idx in range(8):
        m = FULL
        m &= a if idx & 4 else ~a
        m &= b if idx & 2 else ~b
        m &= c if idx & 1 else ~c
        m &= FULL
        if m == 0:
            continue
        hit = f & m
        if hit == m:
            imm |= 1 << idx
        elif hit != 0:
            return None
    return imm


class TernarySynth:
    """3-input functions, one vpternlogq each."""

    def __init__(self, order, pair_search):
        self.c = Circuit()
        self.var_order = order
        self.pair_search = pair_search

    def one_op(self, f):
        sig = self.c.order
        sup = support(f)
        if len(sup) <= 3:
            vs = (sup + [k for k in range(6) if k not in sup])[:3]
            a, b, cc = (VARS[k] for k in vs)
            return self.c.add(f, "tern", tuple(self.c.names[t] for t in (a, b, cc)), fit3(f, a, b, cc))
        for a, b in itertools.combinations(sig if self.pair_search else sig[:6], 2):
            for cc in sig[6:]:
                if cc in (a, b):
                    continue
                imm = fit3(f, a, b, cc)
                if imm is not None:
                    return self.c.add(f, "tern", tuple(self.c.names[t] for t in (a, b, cc)), imm)
        return None

    def build(self, f):
        c = self.c
        if f in c.names:
            return c.names[f]
        made = self.one_op(f)
        if made:
            return made
        k = next(k for k in self.var_order if k in support(f))
        f0, f1 = cofactors(f, k)
        g0, g1 = self.build(f0), self.build(f1)
        a = VARS[k]
        return c.add(f, "tern", (c.names[a], c.names[f1], c.names[f0]), fit3(f, a, f1, f0))


def evaluate(lines, v, ternary):
    val = {"x%d" % k: (v >> (5 - k)) & 1 for k in range(6)}
    for name, kind, ops, imm in lines:
        o = [val[n] for n in ops]
        if kind == "and":
            r = o[0] & o[1]
        elif kind == "or":
            r = o[0] | o[1]
        elif kind == "xor":
            r = o[0] ^ o[1]
        elif kind == "andnot":
            r = (1 - o[0]) & o[1]
        elif kind == "not":
            r = 1 - o[0]
        else:
            r = (imm >> (o[0] * 4 + o[1] * 2 + o[2])) & 1
        val[name] = r
    return val


def synthesize(box, make, orders):
    best = None
    for order in orders:
        s = make(list(order))
        outs = [s.build(f) for f in output_tables(box)]
        if best is None or s.c.gates < best[0].c.gates:
            best = (s, outs)
    s, outs = best
    tables = output_tables(box)
    for v in range(64):
        val = evaluate(s.c.lines, v, True)
        for t in range(4):
            assert val[outs[t]] == (tables[t] >> v) & 1, (box, t, v)
    return s.c, outs


def emit_gates(circuits):
    out = []
    for box, (c, outs) in enumerate(circuits):
        out.append("    if constexpr (S == %d) {  // %d gates" % (box, c.gates))
        for name, kind, ops, _ in c.lines:
            if kind == "and":
                e = "%s & %s" % ops
            elif kind == "or":
                e = "%s | %s" % ops
            elif kind == "xor":
                e = "%s ^ %s" % ops
            elif kind == "andnot":
                e = "~%s & %s" % ops
            else:
                e = "~%s" % ops
            out.append("        const W %s = %s;" % (name, e))
        for t in range(4):
            out.append("        y[%d] = %s;" % (t, outs[t]))
        out.append("    }")
    return "\n".join(out)


def emit_ternary(circuits):
    out = []
    for box, (c, outs) in enumerate(circuits):
        out.append("    if constexpr (S == %d) {  // %d ternary operations" % (box, c.gates))
        for name, kind, ops, imm in c.lines:
            out.append("        const __m512i %s = _mm512_ternarylogic_epi64(%s, %s, %s, 0x%02X);"
                       % (name, ops[0], ops[1], ops[2], imm))
        for t in range(4):
            out.append("        y[%d] = %s;" % (t, outs[t]))
        out.append("    }")
    return "\n".join(out)


HEADER = """// Generated by scripts/gen_des_sboxes.py; do not edit. Run the script again
// to change it.
//
// %s
// Inputs x[0..5] are the six S-box input bits in the order of the standard
// (x[0] and x[5] choose the row, x[1..4] the column); y[0..3] are the four
// output bits, most significant first. Every operation works bitwise on whole
// words, so one call computes the box for as many blocks as a word has bits,
// with no table and no data-dependent branch or address.
"""


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    all_orders = list(itertools.permutations(range(6)))
    gate_circuits, tern_circuits = [], []
    for box in range(8):
        # A cheap pass over every order, then the full search on the best few.
        ranked = sorted(all_orders, key=lambda o: synthesize_cost(box, o))
        gate_circuits.append(synthesize(box, lambda o: GateSynth(o, True), ranked[:6]))
        ranked = sorted(all_orders, key=lambda o: ternary_cost(box, o))
        tern_circuits.append(synthesize(box, lambda o: TernarySynth(o, True), ranked[:4]))
        print("S%d: %d gates, %d ternary operations" % (box + 1, gate_circuits[-1][0].gates,
                                                         tern_circuits[-1][0].gates))
    total_g = sum(c.gates for c, _ in gate_circuits)
    total_t = sum(c.gates for c, _ in tern_circuits)
    print("total: %d gates, %d ternary operations" % (total_g, total_t))

    gates = (HEADER % ("S-box circuits of AND, OR, XOR, ANDNOT (~a & b) and NOT: %d gates in all." % total_g)
             + """#ifndef CORVANE_DES_SBOX_GATES_H
#define CORVANE_DES_SBOX_GATES_H

// Each box is inlined into the round that uses it, so that its inputs and
// outputs stay in registers.
#ifndef CORVANE_DES_ALWAYS_INLINE
#if defined(__GNUC__)
#define CORVANE_DES_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define CORVANE_DES_ALWAYS_INLINE inline
#endif
#endif

namespace corvane::des {

// W: any type with the bitwise operators &, |, ^ and ~ (uint64_t, or a GCC
// vector type such as __m256i).
template <int S, class W>
CORVANE_DES_ALWAYS_INLINE void sbox_gates(const W (&x)[6], W (&y)[4]) {
    const W x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4], x5 = x[5];
%s
}

}  // namespace corvane::des

#endif  // CORVANE_DES_SBOX_GATES_H
""" % emit_gates(gate_circuits))
    tern = (HEADER % ("S-box circuits of 3-input functions (vpternlogq): %d operations in all." % total_t)
            + """// Include only in code compiled for AVX-512F.
#ifndef CORVANE_DES_SBOX_TERNARY_H
#define CORVANE_DES_SBOX_TERNARY_H

#include <immintrin.h>

#ifndef CORVANE_DES_ALWAYS_INLINE
#if defined(__GNUC__)
#define CORVANE_DES_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define CORVANE_DES_ALWAYS_INLINE inline
#endif
#endif

namespace corvane::des {

template <int S>
CORVANE_DES_ALWAYS_INLINE void sbox_ternary(const __m512i (&x)[6], __m512i (&y)[4]) {
    const __m512i x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3], x4 = x[4], x5 = x[5];
%s
}

}  // namespace corvane::des

#endif  // CORVANE_DES_SBOX_TERNARY_H
""" % emit_ternary(tern_circuits))
    for name, text in (("des_sbox_gates.h", gates), ("des_sbox_ternary.h", tern)):
        with open(os.path.join(root, "engine", "des", name), "w") as f:
            f.write(text)


def synthesize_cost(box, order):
    s = GateSynth(list(order), False)
    for f in output_tables(box):
        s.build(f)
    return s.c.gates


def ternary_cost(box, order):
    s = TernarySynth(list(order), False)
    for f in output_tables(box):
        s.build(f)
    return s.c.gates


if __name__ == "__main__":
    for b in range(8):
        for row in SBOXES[b]:
            assert sorted(row) == list(range(16)), "S-box %d row is not a permutation" % (b + 1)
    main()
