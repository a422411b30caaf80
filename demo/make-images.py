#!/usr/bin/env python3
"""Draws the demo catalogue's images: project avatars and application icons.

The pictures are plain geometry, rendered per pixel and written as PNG with the standard library
only, so that anyone can regenerate them: python3 demo/make-images.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
GROUP = os.path.join(HERE, "catalogue", "veyra-examples")


def write_png(path, size, shade):
    rows = bytearray()
    for y in range(size):
        rows.append(0)  # no filter
        for x in range(size):
            rows.extend(shade((x + 0.5) / size, (y + 0.5) / size))
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(png)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(4))


def near_segment(x, y, x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) < width


def rounded_square(x, y, margin, radius):
    cx = min(max(x, margin + radius), 1 - margin - radius)
    cy = min(max(y, margin + radius), 1 - margin - radius)
    return math.hypot(x - cx, y - cy) <= radius


def clock(x, y):
    r = math.hypot(x - 0.5, y - 0.5)
    if r > 0.46:
        return (0, 0, 0, 0)
    if r > 0.42:
        return (20, 60, 120, 255)
    angle = math.atan2(y - 0.5, x - 0.5)
    for hour in range(12):
        a = hour * math.pi / 6
        if r > 0.34 and abs(math.remainder(angle - a, 2 * math.pi)) < 0.03:
            return (20, 60, 120, 255)
    if near_segment(x, y, 0.5, 0.5, 0.5 + 0.18 * math.cos(-2.3), 0.5 + 0.18 * math.sin(-2.3), 0.03):
        return (30, 30, 40, 255)
    if near_segment(x, y, 0.5, 0.5, 0.5 + 0.3 * math.cos(-0.6), 0.5 + 0.3 * math.sin(-0.6), 0.018):
        return (30, 30, 40, 255)
    return mix((235, 244, 255, 255), (170, 205, 245, 255), r / 0.42)


def hello(x, y):
    if not rounded_square(x, y, 0.06, 0.16):
        return (0, 0, 0, 0)
    letter = (0.3 < x < 0.4 or 0.6 < x < 0.7) and 0.25 < y < 0.75 or (0.3 < x < 0.7 and 0.45 < y < 0.55)
    if letter:
        return (255, 255, 255, 255)
    return mix((60, 170, 90, 255), (30, 120, 70, 255), y)


def notes(x, y):
    if not (0.16 < x < 0.84 and 0.1 < y < 0.9):
        return (0, 0, 0, 0)
    if x + y > 1.58:  # folded corner
        return (0, 0, 0, 0) if x + y > 1.62 else (200, 170, 60, 255)
    for line in (0.3, 0.42, 0.54, 0.66):
        if 0.26 < x < 0.74 and abs(y - line) < 0.015:
            return (150, 120, 40, 255)
    return mix((255, 236, 140, 255), (250, 214, 90, 255), y)


def gauge(x, y):
    r = math.hypot(x - 0.5, y - 0.58)
    angle = math.degrees(math.atan2(0.58 - y, x - 0.5))
    if 0.3 < r < 0.42 and -20 < angle < 200:
        return mix((250, 180, 40, 255), (220, 60, 40, 255), (200 - angle) / 220)
    if near_segment(x, y, 0.5, 0.58, 0.5 + 0.3 * math.cos(0.9), 0.58 - 0.3 * math.sin(0.9), 0.025):
        return (50, 50, 60, 255)
    if r < 0.05:
        return (50, 50, 60, 255)
    if rounded_square(x, y, 0.04, 0.14):
        return (245, 245, 248, 255)
    return (0, 0, 0, 0)


if __name__ == "__main__":
    write_png(os.path.join(GROUP, "analog-clock.png"), 128, clock)
    write_png(os.path.join(GROUP, "hello-qmake.png"), 128, hello)
    write_png(os.path.join(GROUP, "sensor-gauge.png"), 128, gauge)
    write_png(os.path.join(GROUP, "notes", "icons", "128x128", "notes.png"), 128, notes)
    write_png(os.path.join(GROUP, "notes", "icons", "64x64", "notes.png"), 64, notes)
    write_png(os.path.join(GROUP, "sensor-gauge", "icons", "128x128", "gauge.png"), 128, gauge)
