#!/usr/bin/env python3
"""Reads the version resource of a Windows executable, as Explorer's Details
tab shows it, without Windows: the PE headers lead to the resource section,
its directory to the VS_VERSIONINFO block (type 16), whose strings are
UTF-16 text.

    read_version_resource.py EXE                   print the fields
    read_version_resource.py EXE --expect X.Y.Z    also check them: exit 1
                                                   on any field missing or wrong
"""
import argparse
import os
import struct
import sys

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD
REQUIRED = ("FileDescription", "FileVersion", "LegalCopyright", "OriginalFilename",
            "ProductName", "ProductVersion")


class NotFound(Exception):
    pass


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def resource_section(image):
    """The resource section's bytes and its virtual address."""
    if image[:2] != b"MZ":
        raise NotFound("not an MZ executable")
    pe = u32(image, 0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        raise NotFound("no PE signature")
    sections = u16(image, pe + 6)
    optional_size = u16(image, pe + 20)
    optional = pe + 24
    magic = u16(image, optional)
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva = u32(image, directories + 2 * 8)
    if resource_rva == 0:
        raise NotFound("no resource directory")
    table = optional + optional_size
    for i in range(sections):
        entry = table + 40 * i
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", image, entry + 8)
        if virtual_address <= resource_rva < virtual_address + max(virtual_size, raw_size):
            start = raw_offset + (resource_rva - virtual_address)
            return image[start:raw_offset + raw_size], resource_rva
    raise NotFound("no section holds the resource directory")


def directory_entries(section, at):
    named, numbered = u16(section, at + 12), u16(section, at + 14)
    for i in range(named + numbered):
        name, target = struct.unpack_from("<II", section, at + 16 + 8 * i)
        yield name, target


def version_block(image):
    section, rva = resource_section(image)
    for name, target in directory_entries(section, 0):
        if name == RT_VERSION and target & 0x80000000:
            at = target & 0x7FFFFFFF
            # Type, then name (ID 1), then language: the first of each.
            for _ in range(2):
                _, target = next(directory_entries(section, at))
                at = target & 0x7FFFFFFF
                if not target & 0x80000000:
                    break
            data_rva, size = struct.unpack_from("<II", section, at)
            start = data_rva - rva
            return section[start:start + size]
    raise NotFound("no version resource")


def align4(at):
    return (at + 3) & ~3


def parse_block(data, at):
    """One block: (key, value, children, end). value is text for wType 1."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_at = at + 6
    key_end = key_at
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_at:key_end].decode("utf-16-le")
    value_at = align4(key_end + 2)
    if kind == 1:
        raw = data[value_at:value_at + 2 * value_length]
        value = raw.decode("utf-16-le").rstrip("\0")
        children_at = align4(value_at + 2 * value_length)
    else:
        value = data[value_at:value_at + value_length]
        children_at = align4(value_at + value_length)
    children = []
    while children_at < end:
        child = parse_block(data, children_at)
        children.append(child)
        children_at = align4(child[3])
    return key, value, children, end


def read_fields(image):
    key, fixed, children, _ = parse_block(version_block(image), 0)
    if key != "VS_VERSION_INFO":
        raise NotFound("the version block is named %r" % key)
    fields = {}
    if len(fixed) >= 52 and u32(fixed, 0) == FIXED_SIGNATURE:
        ms, ls = u32(fixed, 8), u32(fixed, 12)
        fields["(fixed) file version"] = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        ms, ls = u32(fixed, 16), u32(fixed, 20)
        fields["(fixed) product version"] = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    for child_key, _, tables, _ in children:
        if child_key != "StringFileInfo":
            continue
        for _, _, strings, _ in tables:
            for name, value, _, _ in strings:
                fields[name] = value
    return fields


def problems(fields, exe, version):
    found = []
    for name in REQUIRED:
        if not fields.get(name):
            found.append("%s is missing" % name)
    expected = {
        "FileVersion": version,
        "ProductVersion": version,
        "(fixed) file version": version + ".0",
        "(fixed) product version": version + ".0",
        "OriginalFilename": os.path.basename(exe),
    }
    for name, want in expected.items():
        if name in fields and fields[name] != want:
            found.append("%s is %r, not %r" % (name, fields[name], want))
        elif name not in fields and name not in REQUIRED:
            found.append("%s is missing" % name)
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("exe")
    parser.add_argument("--expect", metavar="VERSION", help="the version every version field must name")
    args = parser.parse_args()
    with open(args.exe, "rb") as f:
        image = f.read()
    try:
        fields = read_fields(image)
    except (NotFound, struct.error, UnicodeDecodeError, StopIteration) as e:
        print("%s: %s" % (args.exe, e), file=sys.stderr)
        return 1
    for name, value in fields.items():
        print("%s: %s" % (name, value))
    if args.expect:
        found = problems(fields, args.exe, args.expect)
        for problem in found:
            print("%s: %s" % (args.exe, problem), file=sys.stderr)
        if found:
            return 1
        print("%s: the version resource names %s" % (args.exe, args.expect))
    return 0


if __name__ == "__main__":
    sys.exit(main())
