#!/usr/bin/env python3
"""Fits the protector circuit values of the shipped protector table.

For every protector below, the circuit (piston on a two-stage suspension,
leak, secondary piston, enclosed cavity) is fitted to the fit target of the
table (attenuation + 1.0 x spread, dB, negative for attenuation) by a
Nelder-Mead search over the logarithms of M1, K1, R1, M2, R2, M3, K3 and R3.
The cavity stiffness Kc is fixed from the enclosed volume (gamma P0 / V),
which removes the one scale the insertion loss cannot see; K4 and R4 are 100
times K1 and R1, as the prediction uses them. The insertion loss is the same
frequency-domain model the program draws, evaluated with the values rounded
to single precision as the table stores them.

Usage: tools/hpd_fit.py [DATA_DIR]   (default: the data/ folder beside tools/)
Writes "HPD Atten.txt" and the two seed files into DATA_DIR and prints the RMS
error of every record. Standard library only; deterministic (fixed seeds).
"""

import cmath
import math
import os
import random
import struct
import sys

GAMMA_P0 = 1.4 * 1.013e6  # dyn/cm^2, adiabatic bulk modulus of air
RHO = 0.00115  # g/cm^3, the ear model's air density
FREQS_KHZ = [0.125, 0.25, 0.5, 1.0, 2.0, 3.15, 4.0, 6.3, 8.0]


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def shortest(x):
    """Shortest scientific text that reads back to the same single."""
    x = f32(x)
    for digits in range(0, 10):
        text = "%.*e" % (digits, x)
        if f32(float(text)) == x:
            return text
    return "%.9e" % x


def insertion_loss(c, f):
    """20 log10 |H| of the whole protector at f Hz (c: dict of circuit values)."""
    w = 2.0 * math.pi * f
    jw = complex(0.0, w)
    z1 = c["R1"] + c["K1"] / jw
    z4 = c["R4"] + c["K4"] / jw
    a = 1.0 + z4 / z1
    p = z4 + jw * c["M1"] * a
    z2 = complex(c["R2"], w * c["M2"])
    z3 = complex(c["R3"], w * c["M3"] - c["K3"] / w)
    cav = c["Kc"] / jw
    total = cav * (a + p / z2 + p / z3)
    return 20.0 * math.log10(abs(total / (p + total)))


def rms_error(c, freqs_hz, target):
    c32 = {k: f32(v) for k, v in c.items()}
    s = sum((insertion_loss(c32, f) - t) ** 2 for f, t in zip(freqs_hz, target))
    return math.sqrt(s / len(freqs_hz))


FREE = ["M1", "K1", "R1", "M2", "R2", "M3", "K3", "R3"]


def circuit(logs, kc):
    c = {name: 10.0 ** v for name, v in zip(FREE, logs)}
    c["Kc"] = kc
    c["K4"] = 100.0 * c["K1"]
    c["R4"] = 100.0 * c["R1"]
    return c


def nelder_mead(fn, x0, step, iterations):
    n = len(x0)
    simplex = [list(x0)]
    for i in range(n):
        x = list(x0)
        x[i] += step
        simplex.append(x)
    values = [fn(x) for x in simplex]
    for _ in range(iterations):
        order = sorted(range(n + 1), key=lambda k: values[k])
        simplex = [simplex[k] for k in order]
        values = [values[k] for k in order]
        centroid = [sum(simplex[k][i] for k in range(n)) / n for i in range(n)]

        def towards(t):
            return [centroid[i] + t * (simplex[-1][i] - centroid[i]) for i in range(n)]

        xr = towards(-1.0)
        fr = fn(xr)
        if fr < values[0]:
            xe = towards(-2.0)
            fe = fn(xe)
            simplex[-1], values[-1] = (xe, fe) if fe < fr else (xr, fr)
        elif fr < values[-2]:
            simplex[-1], values[-1] = xr, fr
        else:
            xc = towards(0.5 if fr >= values[-1] else -0.5)
            fc = fn(xc)
            if fc < min(fr, values[-1]):
                simplex[-1], values[-1] = xc, fc
            else:
                for k in range(1, n + 1):
                    simplex[k] = [simplex[0][i] + 0.5 * (simplex[k][i] - simplex[0][i])
                                  for i in range(n)]
                    values[k] = fn(simplex[k])
    best = min(range(n + 1), key=lambda k: values[k])
    return simplex[best], values[best]


def fit(record, starts=12, iterations=1500):
    freqs = [f * 1000.0 for f in FREQS_KHZ]
    # The table stores attenuation as a negative gain.
    target = [-a + s for a, s in zip(record["attenuation"], record["spread"])]
    kc = GAMMA_P0 / record["volume"]
    guess = [math.log10(record["guess"][name]) for name in FREE]
    rng = random.Random(record["name"])

    bounds = record["bounds"]

    def objective(logs):
        # Values stay within physical ranges, and no element may be so light
        # that the time-domain integration would need an absurd substep count.
        outside = sum(max(0.0, math.log10(bounds[n][0]) - v) + max(0.0, v - math.log10(bounds[n][1]))
                      for n, v in zip(FREE, logs))
        try:
            c = circuit(logs, kc)
            rates = [math.sqrt((c["K1"] + kc) / c["M1"]), c["R1"] / c["M1"], c["R2"] / c["M2"],
                     math.sqrt((c["K3"] + kc) / c["M3"]), c["R3"] / c["M3"]]
            too_fast = sum(max(0.0, math.log10(r / MAX_RATE)) for r in rates)
            return rms_error(c, freqs, target) + 100.0 * (outside + too_fast)
        except (ZeroDivisionError, ValueError, OverflowError):
            return 1e9

    best_x, best_e = guess, objective(guess)
    for start in range(starts):
        x0 = guess if start == 0 else [g + rng.uniform(-1.5, 1.5) for g in guess]
        x, e = nelder_mead(objective, x0, 0.5, iterations)
        x, e = nelder_mead(objective, x, 0.1, iterations)  # restart to escape a collapsed simplex
        if e < best_e:
            best_x, best_e = x, e
    return circuit(best_x, kc), best_e, freqs, target


# Attenuations (dB, stored negative) and spreads from the representative REAT
# tables of the research notes (physiology.md 10.1); the plug plus muff row is
# derived there from (a) and (c) (see data/README.md).
# Fastest rate (1/s) any element may have: well inside what a few hundred
# Runge-Kutta substeps per 5 microsecond sample integrate.
MAX_RATE = 1.0e6
# Physical ranges (CGS acoustic units). Plug: 0.1-2 g over 0.2-0.5 cm^2 of
# canal; muff: a 0.1-0.25 kg cup over 20-30 cm^2 (physiology.md 10.2).
PLUG_BOUNDS = {"M1": (0.3, 20.0), "K1": (1e6, 1e10), "R1": (1e2, 1e6), "M2": (0.1, 1e3),
               "R2": (1e2, 1e8), "M3": (0.01, 100.0), "K3": (1e6, 1e11), "R3": (10.0, 1e7)}
MUFF_BOUNDS = {"M1": (0.05, 1.0), "K1": (1e4, 1e7), "R1": (1.0, 1e5), "M2": (1e-3, 100.0),
               "R2": (1.0, 1e7), "M3": (1e-5, 10.0), "K3": (1e3, 1e9), "R3": (0.1, 1e6)}
# The open-mode plug passes low frequencies through its orifice, not through
# a soft body: its piston and material stay as stiff as a closed plug's, so
# that the leak, whose resistance grows with the flow, carries the sound.
ORIFICE_BOUNDS = dict(PLUG_BOUNDS, K1=(1e7, 1e10), K3=(1e8, 1e11), M2=(1e-3, 1e3))
PLUG_GUESS = {"M1": 1.2, "K1": 1e8, "R1": 3e4, "M2": 50.0, "R2": 1e6, "M3": 5.0, "K3": 3e8,
              "R3": 1e5}
MUFF_GUESS = {"M1": 0.24, "K1": 2e5, "R1": 200.0, "M2": 5.0, "R2": 1e4, "M3": 0.05, "K3": 1e6,
              "R3": 500.0}
RECORDS = [
    {"name": "FOAM-EARPLUG", "code": "P", "class": "A", "volume": 0.5, "guess": PLUG_GUESS, "bounds": PLUG_BOUNDS,
     "attenuation": [33, 36, 38, 38, 37, 43, 44, 45, 45], "spread": [5, 5, 5, 4, 4, 4, 4, 5, 5]},
    {"name": "PREMOLDED-EARPLUG", "code": "P", "class": "B", "volume": 0.5, "guess": PLUG_GUESS, "bounds": PLUG_BOUNDS,
     "attenuation": [27, 28, 29, 29, 33, 39, 40, 41, 40], "spread": [6, 6, 5, 5, 4, 4, 5, 5, 5]},
    {"name": "EARMUFF", "code": "M", "class": "A", "volume": 150.0, "guess": MUFF_GUESS, "bounds": MUFF_BOUNDS,
     "attenuation": [15, 21, 31, 37, 34, 37, 38, 37, 36], "spread": [3, 3, 3, 3, 3, 3, 3, 3, 4]},
    {"name": "FOAM-EARPLUG+EARMUFF", "code": "D", "class": "A", "volume": 0.5,
     "guess": PLUG_GUESS, "bounds": PLUG_BOUNDS,
     "attenuation": [39, 42, 44, 44, 40, 45, 50, 50, 50], "spread": [5, 5, 5, 4, 4, 4, 4, 5, 5]},
    {"name": "LEVEL-DEPENDENT-EARPLUG-OPEN", "code": "NO", "class": "C", "volume": 0.5,
     "guess": {"M1": 1.2, "K1": 1e8, "R1": 3e4, "M2": 1.0, "R2": 3e3, "M3": 5.0, "K3": 3e8,
               "R3": 1e5}, "bounds": ORIFICE_BOUNDS,
     "attenuation": [3, 3, 4, 6, 14, 18, 20, 22, 22], "spread": [5, 5, 5, 5, 5, 5, 5, 5, 5]},
    {"name": "LEVEL-DEPENDENT-EARPLUG-CLOSED", "code": "NC", "class": "C", "volume": 0.5,
     "guess": PLUG_GUESS, "bounds": PLUG_BOUNDS,
     "attenuation": [25, 26, 27, 28, 32, 38, 40, 40, 40], "spread": [5, 5, 5, 5, 5, 5, 5, 5, 5]},
]
# Modelled from the seed files (line 4 holds M1 = 0).
SEEDED = [
    {"name": "GENERIC-EARPLUG", "code": "P", "class": "X", "seed": "plug",
     "attenuation": [27, 28, 29, 29, 33, 39, 40, 41, 40], "spread": [6, 6, 5, 5, 4, 4, 5, 5, 5]},
    {"name": "GENERIC-EARMUFF", "code": "M", "class": "X", "seed": "muff",
     "attenuation": [15, 21, 31, 37, 34, 37, 38, 37, 36], "spread": [3, 3, 3, 3, 3, 3, 3, 3, 4]},
]

# The open-mode plug's leak is an orifice: one 0.30 mm hole, discharge
# coefficient 0.6, whose pressure drop is R2 U + k U^2 with the turbulent
# term k = rho / (2 Cd^2 A^2). The velocity-squared law R2 (1 + aR2 U^2) is
# matched to it at the flow a 160 dB (2000 Pa) peak drives through the hole.
ORIFICE_AREA = math.pi * 0.015 ** 2
DISCHARGE = 0.6
REFERENCE_PEAK = 2.0e4  # dyn/cm^2


def orifice_transition(r2):
    k = RHO / (2.0 * DISCHARGE ** 2 * ORIFICE_AREA ** 2)
    u = (-r2 + math.sqrt(r2 * r2 + 4.0 * k * REFERENCE_PEAK)) / (2.0 * k)
    return k / (r2 * u)


def round_sig(x, digits=2):
    return float("%.*e" % (digits - 1, x))


def seed_values(c):
    """The fourteen seed lines for circuit c, rounded to two significant digits."""
    return [
        (round_sig(1.0 / c["K1"]), "C1, piston suspension compliance (cm^5/dyn)"),
        (round_sig(c["R1"]), "R1, piston suspension resistance"),
        (round_sig(100.0 / c["K1"]), "C4, inner suspension compliance (at least C1)"),
        (round_sig(c["R1"]), "R4, inner suspension resistance"),
        (round_sig(c["M2"]), "M2, leak mass"),
        (round_sig(c["R2"]), "R2, leak resistance"),
        (round_sig(c["M1"]), "M1, piston mass"),
        (round_sig(1.0 / c["Kc"]), "Cc, cavity compliance"),
        (round_sig(c["R3"]), "R3, material resistance"),
        (round_sig(c["M3"]), "M3, material mass"),
        (round_sig(1.0 / c["K3"]), "C3, material compliance"),
        (0.0, "secondary resistance transition (set to 0)"),
        (0.0, "secondary mass transition (set to 0)"),
        (0.0, "secondary transition (set to 0)"),
    ]


def seeded_circuit(lines):
    v = [value for value, _ in lines]
    c = {"K1": 1.0 / v[0], "R1": v[1], "K4": 1.0 / v[2], "R4": v[3], "M2": v[4], "R2": v[5],
         "M1": v[6], "Kc": 1.0 / v[7], "R3": v[8], "M3": v[9], "K3": 1.0 / v[10]}
    if c["K4"] > c["K1"]:
        c["K4"], c["K1"] = c["K1"], c["K4"]
        c["R4"], c["R1"] = c["R1"], c["R4"]
    c["K4"] = 100.0 * c["K1"]
    c["R4"] = 100.0 * c["R1"]
    return c


def head_line(name, code, cls):
    return "\t".join([name] + ["%g" % f for f in FREQS_KHZ] + ["kHz", "DEF", cls, code])


def circuit_line(c, transitions):
    order = ["M1", "Kc", "K4", "R4", "K1", "R1", "M2", "R2", "K3", "M3", "R3"]
    fields = [shortest(c[k]).rjust(12) for k in order]
    fields += [shortest(t).rjust(12) for t in transitions]
    return "\t" + "\t".join(fields) + "\tElectro-acoustic Circuit Values"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    data_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "data")
    lines = [
        "KORVA hearing protector table: records of four lines (frequencies with MODE, CLASS, CODE;",
        "attenuation dB; spread dB; circuit values M1 Kc K4 R4 K1 R1 M2 R2 K3 M3 R3 and the cushion,",
        "secondary, leak-mass and leak-resistance transitions). Attenuations: representative REAT.",
        "Fitted by tools/hpd_fit.py; sources and RMS errors in README.md.",
    ]
    fitted = {}
    report = []
    for r in RECORDS:
        c, e, freqs, target = fit(r)
        transitions = [0.0, 0.0, 0.0, 0.0]
        if r["code"] == "NO":
            transitions[3] = orifice_transition(f32(c["R2"]))
        fitted[r["name"]] = c
        lines.append(head_line(r["name"], r["code"], r["class"]))
        lines.append("\t".join(["Attenuation (dB)"] + ["%g" % -a for a in r["attenuation"]]))
        lines.append("\t".join(["Spread (dB)"] + ["%g" % s for s in r["spread"]]))
        lines.append(circuit_line(c, transitions))
        report.append((r["name"], r["code"], e, transitions[3]))
    seeds = {"plug": seed_values(fitted["FOAM-EARPLUG"]), "muff": seed_values(fitted["EARMUFF"])}
    for s in SEEDED:
        target = [-a + sp for a, sp in zip(s["attenuation"], s["spread"])]
        freqs = [f * 1000.0 for f in FREQS_KHZ]
        e = rms_error(seeded_circuit(seeds[s["seed"]]), freqs, target)
        lines.append(head_line(s["name"], s["code"], s["class"]))
        lines.append("\t".join(["Attenuation (dB)"] + ["%g" % -a for a in s["attenuation"]]))
        lines.append("\t".join(["Spread (dB)"] + ["%g" % sp for sp in s["spread"]]))
        lines.append("\t0\tNot fitted: modelled from the seed file")
        report.append((s["name"] + " (seeded)", s["code"], e, 0.0))
    with open(os.path.join(data_dir, "HPD Atten.txt"), "w", newline="") as out:
        out.write("".join(line + "\r\n" for line in lines))
    for kind, name in (("plug", "Seed_REAT_Values_Earplug.txt"),
                       ("muff", "Seed_REAT_Values_Earmuff.txt")):
        with open(os.path.join(data_dir, name), "w", newline="") as out:
            out.write("".join("%s\t%s\r\n" % (shortest(v) if v else "0", text)
                              for v, text in seeds[kind]))
    for name, code, e, a in report:
        extra = "  aR2 = %s" % shortest(a) if a else ""
        print("%-36s %-2s RMS error %6.3f dB%s" % (name, code, e, extra))


if __name__ == "__main__":
    main()
