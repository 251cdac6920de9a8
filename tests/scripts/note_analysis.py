#!/usr/bin/env python3
"""Measures the note in a recorded WAV file (16-bit PCM, first channel): where
it sounds, its pitch and how much of its energy lies above the fundamental.
Standard library only.

  note_analysis.py FILE [--freq HZ --tol FRACTION] [--min-upper R] [--max-upper R]
                        [--like OTHER --like-tol R] [--label TEXT]

Prints what it measured; exits 1 with the reason when an expectation fails.
"""
import argparse
import math
import operator
import sys
import wave


def read_mono(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise SystemExit(f"{path}: expected 16-bit samples, got {8 * w.getsampwidth()}-bit")
        rate, channels, frames = w.getframerate(), w.getnchannels(), w.readframes(w.getnframes())
    count = len(frames) // (2 * channels)
    samples = [int.from_bytes(frames[2 * channels * i:2 * channels * i + 2], "little", signed=True) / 32768.0
               for i in range(count)]
    return rate, samples


def sounding_span(samples, rate, window_ms=10, threshold=0.005):
    """First and last sample of the stretch whose short-time RMS stays above
    the threshold (the longest such stretch)."""
    n = max(1, int(rate * window_ms / 1000))
    loud = []
    for start in range(0, len(samples) - n + 1, n):
        block = samples[start:start + n]
        loud.append(math.sqrt(sum(x * x for x in block) / n) > threshold)
    best, run_start = (0, 0), None
    for i, flag in enumerate(loud + [False]):
        if flag and run_start is None:
            run_start = i
        elif not flag and run_start is not None:
            if i - run_start > best[1] - best[0]:
                best = (run_start, i)
            run_start = None
    return best[0] * n, best[1] * n


def pitch(samples, rate, low_hz=40.0, high_hz=4000.0):
    """Frequency from the autocorrelation of a stretch from the middle: the
    shortest lag whose peak comes within 15% of the highest one (so a peak
    at twice the period never wins), refined between lags by a parabola."""
    n = min(len(samples), 4096)
    start = (len(samples) - n) // 2
    seg = samples[start:start + n]
    min_lag, max_lag = int(rate / high_hz), int(rate / low_hz)
    if n < 2 * max_lag:
        max_lag = n // 2
    window = n - max_lag
    head = seg[:window]
    r = [sum(map(operator.mul, head, seg[lag:lag + window])) for lag in range(max_lag + 2)]
    if r[0] <= 0:
        return 0.0
    # Past the first dip below zero, so the peak at lag 0 never counts.
    lag = 1
    while lag <= max_lag and r[lag] > 0:
        lag += 1
    peaks = [k for k in range(max(lag, min_lag, 1), max_lag + 1) if r[k - 1] < r[k] >= r[k + 1]]
    if not peaks:
        return 0.0
    best = max(r[k] for k in peaks)
    k = next(k for k in peaks if r[k] >= 0.85 * best)
    a, b, c = r[k - 1], r[k], r[k + 1]
    shift = 0.5 * (a - c) / (a - 2 * b + c) if a - 2 * b + c != 0 else 0.0
    return rate / (k + shift)


def goertzel_power(samples, rate, freq):
    if freq >= rate / 2:
        return 0.0
    w = 2 * math.pi * freq / rate
    coeff = 2 * math.cos(w)
    s1 = s2 = 0.0
    n = len(samples)
    for i, x in enumerate(samples):
        # A Hann window keeps the neighbouring harmonics out of each bin.
        s0 = x * (0.5 - 0.5 * math.cos(2 * math.pi * i / (n - 1))) + coeff * s1 - s2
        s2, s1 = s1, s0
    return s1 * s1 + s2 * s2 - coeff * s1 * s2


def measure(path):
    rate, samples = read_mono(path)
    start, end = sounding_span(samples, rate)
    if end - start < rate // 5:
        return {"sounding": (end - start) / rate, "rms": 0.0, "freq": 0.0, "upper": 0.0, "profile": []}
    # The middle of the note: past the attack, before the release.
    quarter = (end - start) // 4
    body = samples[start + quarter:end - quarter]
    rms = math.sqrt(sum(x * x for x in body) / len(body))
    freq = pitch(body, rate)
    profile = [goertzel_power(body, rate, k * freq) for k in range(1, 9)] if freq > 0 else []
    upper = sum(profile[1:]) / profile[0] if profile and profile[0] > 0 else 0.0
    return {"sounding": (end - start) / rate, "rms": rms, "freq": freq, "upper": upper, "profile": profile}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("file")
    ap.add_argument("--label", default="note")
    ap.add_argument("--freq", type=float)
    ap.add_argument("--tol", type=float, default=0.03)
    ap.add_argument("--min-upper", type=float)
    ap.add_argument("--max-upper", type=float)
    ap.add_argument("--like")
    ap.add_argument("--like-tol", type=float, default=0.5)
    args = ap.parse_args()

    m = measure(args.file)
    print(f"{args.label}: sounding {m['sounding']:.2f} s, rms {m['rms']:.4f}, "
          f"pitch {m['freq']:.1f} Hz, energy above the fundamental / fundamental {m['upper']:.4f}")

    problems = []
    if m["sounding"] < 0.2 or m["rms"] <= 0:
        problems.append(f"no note found in the recording (sounding {m['sounding']:.2f} s)")
    else:
        if args.freq is not None and abs(m["freq"] - args.freq) > args.tol * args.freq:
            problems.append(f"pitch {m['freq']:.1f} Hz is not within {100 * args.tol:.0f}% of {args.freq:.1f} Hz")
        if args.min_upper is not None and m["upper"] < args.min_upper:
            problems.append(f"harmonic ratio {m['upper']:.4f} is below {args.min_upper}")
        if args.max_upper is not None and m["upper"] > args.max_upper:
            problems.append(f"harmonic ratio {m['upper']:.4f} is above {args.max_upper}")
        if args.like is not None:
            other = measure(args.like)
            if other["upper"] <= 0 or abs(m["upper"] - other["upper"]) > args.like_tol * other["upper"]:
                problems.append(f"harmonic ratio {m['upper']:.4f} is not within {100 * args.like_tol:.0f}% "
                                f"of the reference's {other['upper']:.4f} ({args.like})")
            if other["freq"] <= 0 or abs(m["freq"] - other["freq"]) > 0.01 * other["freq"]:
                problems.append(f"pitch {m['freq']:.1f} Hz differs from the reference's {other['freq']:.1f} Hz")

    for p in problems:
        print(f"{args.label}: {p}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
