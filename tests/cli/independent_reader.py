#!/usr/bin/env python3
"""Reads archives that quarnel-cli makes by the layout alone, apart from Quarnel's own
reader, and checks them against what `quarnel-cli info` says and what the layout demands;
then reads the texture pack it unpacks them to by the mod loader's rules.

    independent_reader.py QUARNEL_CLI SCRATCH_FOLDER
"""
import struct
import subprocess
import sys
import zlib
from pathlib import Path


def png(width, height, alpha):
    """An 8-bit RGBA PNG with every pixel's alpha `alpha`."""
    rows = b"".join(b"\0" + bytes(c for x in range(width) for c in (x * 9 % 256, y * 5 % 256, (x ^ y) % 256, alpha))
                    for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def read_archive(data):
    """The entries of a PVM archive: (name, pixel format, data format, width, height, gbix)."""
    assert data[:4] == b"PVMH", "magic"
    header_length, flags, count = struct.unpack_from("<IHH", data, 4)
    first_chunk = header_length + 8
    assert first_chunk % 16 == 0, "the first chunk starts on 16 bytes"
    step = 2 + (28 if flags & 8 else 0) + (2 if flags & 4 else 0) + (2 if flags & 2 else 0) + (4 if flags & 1 else 0)
    entries, at = [], 12
    for index in range(count):
        (position,) = struct.unpack_from("<H", data, at)
        assert position == index, "the index field is the position"
        name = data[at + 2:at + 30].split(b"\0")[0].decode("ascii")
        pixel, layout = data[at + 30], data[at + 31]
        dims = data[at + 32]
        (gbix,) = struct.unpack_from("<I", data, at + 34)
        entries.append([name, pixel, layout, dims, gbix])
        at += step
    assert 12 + count * step <= first_chunk, "the table fits the header"
    offset = first_chunk
    for entry in entries:
        if data[offset:offset + 4] == b"GBIX":
            (length, gbix) = struct.unpack_from("<II", data, offset + 4)
            assert gbix == entry[4], "the index chunk agrees with the table"
            offset += 8 + length
        assert data[offset:offset + 4] == b"PVRT", f"a chunk at {offset}"
        length, pixel, layout, _, width, height = struct.unpack_from("<IBBHHH", data, offset + 4)
        assert (pixel, layout) == (entry[1], entry[2]), "the table's formats are the chunk's"
        assert (length + 8) % 16 == 0, "every chunk is a multiple of 16 bytes"
        assert entry[3] == ((width.bit_length() - 3) | (height.bit_length() - 3) << 4), "dimensions code"
        entry[3] = f"{width}x{height}"
        offset += 8 + length
    assert offset == len(data), "nothing after the last chunk"
    return entries


def main():
    cli, scratch = sys.argv[1], Path(sys.argv[2])
    scratch.mkdir(parents=True, exist_ok=True)
    archive = scratch / "made.pvm"
    archive.unlink(missing_ok=True)
    (scratch / "opaque.png").write_bytes(png(32, 32, 255))
    (scratch / "cutout.png").write_bytes(png(16, 8, 0))
    run = lambda *args: subprocess.run([cli, *args], check=True, capture_output=True, text=True).stdout
    run("new", str(archive))
    run("add", str(archive), str(scratch / "opaque.png"), str(scratch / "cutout.png"))
    run("add", str(archive), str(scratch / "opaque.png"), "--name", "vq", "--gbix", "4000000000",
        "--data-format", "vq", "--at", "1")
    entries = read_archive(archive.read_bytes())
    info = [line.split("\t") for line in run("info", str(archive)).splitlines()]
    assert len(info) == len(entries) == 3
    for entry, line in zip(entries, info):
        name, pixel, layout, size, gbix = entry
        assert line[1] == name and line[2] == size, (entry, line)
        assert line[3].split()[0] == str(pixel) and line[4].split()[0] == str(layout), (entry, line)
        # The global index, then the palette column: none, as no texture here has indices.
        assert line[-2:] == [str(gbix), "none"], (entry, line)
    assert entries[1][:3] == ["vq", 1, 3] and entries[1][4] == 4000000000

    # Its texture pack, read by the mod loader's rules: line k is entry k, at the size and
    # global index the archive gives it, its picture a PNG beside index.txt.
    pack = scratch / "pack"
    run("unpack", str(archive), str(pack), "--force")
    lines = [l for l in (pack / "index.txt").read_text().splitlines() if l and not l.startswith("#")]
    assert len(lines) == len(entries)
    for entry, line in zip(entries, lines):
        gbix, file, size = line.split(",")
        assert (int(gbix), size.lower()) == (entry[4], entry[3]), (entry, line)
        picture = (pack / file).read_bytes()
        assert picture[12:16] == b"IHDR" and "%dx%d" % struct.unpack_from(">II", picture, 16) == entry[3]
    print("4 passed, 0 failed")


if __name__ == "__main__":
    main()
