#!/usr/bin/env python3
"""Checks the shipped 32-bit program as a player's Windows meets it: its PE
header, the DLLs it loads, and its resources as the resource compiler built
them; with --checker, also the server checker beside it. As built, the
programs carry no certificate table; with --signed, as the publisher signs
them with Authenticode, each carries one, after everything else in the file.
Usage: check_release.py [--signed] [--checker CHECKER_EXE] EXE"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ET

# DLLs every supported Windows ships; anything else (libgcc, libstdc++,
# winpthread, the UCRT forwarders) would keep the program from starting on a
# player's machine.
ALLOWED_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'comctl32.dll', 'shell32.dll', 'wininet.dll', 'version.dll',
                'advapi32.dll', 'msvcrt.dll', 'ole32.dll', 'crypt32.dll', 'bcrypt.dll'}   # bcrypt: since Vista
JAPANESE, NEUTRAL = 0x0411, 0x0000
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24

# (type, name, language) of every resource but the icon images, which the
# icon groups reach: icons 128 and 129, the About box 100 and the main dialog
# 102, the string block of IDS_ABOUTBOX (101).
EXPECTED_RESOURCES = {(RT_GROUP_ICON, 128, JAPANESE), (RT_GROUP_ICON, 129, JAPANESE), (RT_DIALOG, 100, JAPANESE),
                      (RT_DIALOG, 102, JAPANESE), (RT_STRING, 101 // 16 + 1, JAPANESE), (RT_VERSION, 1, JAPANESE),
                      (RT_MANIFEST, 1, NEUTRAL)}

# Dialogs: (style, exstyle, caption, font) and the controls in tab order as
# (id, class, caption, style), the values the code relies on. The Japanese
# texts come out right only when the resource compiler reads the script as
# UTF-8. An int caption is the icon a static shows; None is any text.
JP_FONT = (9, 'MS UI Gothic', 0, 0, 1)   # points, face, weight, italic, charset
DIALOGS = {
    102: ((0x90C800C4, 0x00040000, 'Orvantis updater v1.00', JP_FONT), [
        (1000, 'button', '更新\r\nUpdate', 0x50012000),
        (1001, 'edit', '', 0x50811000),
        (1002, 'edit', '', 0x50810000),
        (1003, 'button', '終了\r\nQuit', 0x50012000),
        (1007, 'edit', '', 0x50A11004),
        (1005, 'button', 'フルスクリーンで起動\r\nFull Screen', 0x50012000),
        (1006, 'button', 'ウィンドウモードで起動\r\nWindow Mode', 0x50012000)]),
    100: ((0x80C800C8, 0, 'バージョン情報 updater_Orvantis', JP_FONT), [
        (-1, 'static', 128, 0x50000003),
        (-1, 'static', 'updater_Orvantis, Version 1.0', 0x50020080),
        (-1, 'static', None, 0x50020000),
        (1, 'button', 'OK', 0x50030001)]),
}
ABOUT_STRING = 'バージョン情報 updater_Orvantis(&A)...'   # IDS_ABOUTBOX, 101
# The string table (its key, with no value) and translation: Japanese, code page 932.
VERSION = {   # None: any non-empty text
    'FILEVERSION': (1, 0, 0, 1), '041103a4': '', 'Translation': struct.pack('<HH', 0x0411, 0x03A4),
    'CompanyName': None, 'FileDescription': None, 'FileVersion': '1.0.0.1', 'LegalCopyright': None,
    'OriginalFilename': 'updater_Orvantis.exe', 'ProductName': None, 'ProductVersion': '1.0.0.1',
}
CONTROL_CLASSES = {0x80: 'button', 0x81: 'edit', 0x82: 'static'}

failures, prefix = [], ''


def equal(found, expected, what):
    if not (isinstance(found, str) and found.strip() if expected is None else found == expected):
        failures.append(f'{prefix}{what}: expected {"text" if expected is None else repr(expected)}, found {found!r}')


def unpack(fmt, data, off):
    values = struct.unpack_from(fmt, data, off)
    return values if len(values) > 1 else values[0]


class PE:
    def __init__(self, data):
        self.data = data
        pe = unpack('<I', data, 0x3C)
        if data[:2] != b'MZ' or data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('no MZ header or PE signature')
        self.machine, sections, _, _, _, optional_size, _ = unpack('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic, self.subsystem = unpack('<H', data, opt), unpack('<H', data, opt + 68)
        # The shipped program is PE32, whose directory count stands at 92.
        self.directories = [unpack('<II', data, opt + 96 + 8 * i) for i in range(unpack('<I', data, opt + 92))]
        self.sections = [unpack('<IIII', data, opt + optional_size + 40 * i + 8) for i in range(sections)]

    def offset(self, rva):
        for vsize, va, raw_size, raw_ptr in self.sections:
            if va <= rva < va + min(vsize, raw_size):
                return raw_ptr + rva - va
        raise ValueError(f'RVA {rva:#x} is in no section\'s data')

    def imported_dlls(self):
        dlls, off = [], self.offset(self.directories[1][0])
        while any(unpack('<5I', self.data, off)):
            name = self.offset(unpack('<I', self.data, off + 12))
            dlls.append(self.data[name:self.data.index(b'\0', name)].decode('latin-1').lower())
            off += 20
        return dlls

    def resources(self):
        """{(type, name, language): bytes}; a named entry keeps its raw name, which no expected one has."""
        if not self.directories[2][0]:   # the server checker has none
            return {}
        base, found = self.offset(self.directories[2][0]), {}

        def entries(target):
            at = base + (target & 0x7FFFFFFF)
            return [unpack('<II', self.data, at + 16 + 8 * i) for i in range(sum(unpack('<HH', self.data, at + 12)))]

        for rtype, t in entries(0):
            for rname, n in entries(t):
                for lang, leaf in entries(n):
                    data_rva, size = unpack('<II', self.data, base + leaf)
                    found[(rtype, rname, lang)] = self.data[self.offset(data_rva):][:size]
        return found


class Reader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, fmt):
        self.pos += struct.calcsize(fmt)
        return unpack(fmt, self.data, self.pos - struct.calcsize(fmt))

    def align(self):
        self.pos = (self.pos + 3) & ~3

    def wstring(self):
        end = self.pos
        while self.data[end:end + 2] not in (b'\0\0', b''):   # an unterminated one ends the data
            end += 2
        text, self.pos = self.data[self.pos:end].decode('utf-16-le'), end + 2
        return text

    def sz_or_ord(self):
        return self.take('<HH')[1] if unpack('<H', self.data, self.pos) == 0xFFFF else self.wstring()


def parse_dialogex(data):
    """The header (style, exstyle, caption, font) and controls of a DIALOGEX template."""
    r = Reader(data)
    if r.take('<HH') != (1, 0xFFFF):
        raise ValueError('not an extended dialog template')
    _, exstyle, style, count = r.take('<IIIH')
    r.pos += 8   # the rectangle
    _, _, caption = r.sz_or_ord(), r.sz_or_ord(), r.wstring()   # menu, class
    points, weight, italic, charset = r.take('<HHBB')   # DS_SETFONT
    header = (style, exstyle, caption, (points, r.wstring(), weight, italic, charset))
    controls = []
    for _ in range(count):
        r.align()
        _, _, style = r.take('<III')
        r.pos += 8
        cid, cls, caption, extra = r.take('<i'), r.sz_or_ord(), r.sz_or_ord(), r.take('<H')
        r.pos += extra
        controls.append((cid, CONTROL_CLASSES.get(cls, cls) if isinstance(cls, int) else cls.lower(), caption, style))
    return header, controls


def version_values(data):
    """{key: value} of every node of a VS_VERSIONINFO tree, read in document order: each node's
    children follow its value."""
    values, r = {}, Reader(data)
    while r.pos < len(data):
        length, value_length, value_type = r.take('<HHH')
        if length < 6:
            raise ValueError('version node of no length')
        key = r.wstring()
        r.align()
        size = 2 * value_length if value_type == 1 else value_length   # text: in characters
        value = data[r.pos:r.pos + size]
        values[key] = value.decode('utf-16-le').split('\0')[0] if value_type == 1 else value
        r.pos += size
        r.align()
    return values


def check_certificate_table(pe, signed):
    offset, size = pe.directories[4]   # a file offset, not an address
    if not signed:
        return equal((offset, size), (0, 0), 'certificate table (offset, size), as built')
    # Authenticode hashes everything before the table and nothing after it.
    image_end = max(raw_ptr + raw_size for _, _, raw_size, raw_ptr in pe.sections)
    equal((offset % 8, offset >= image_end, offset + size), (0, True, len(pe.data)),
          f'certificate table at {offset:#x} (the sections end at {image_end:#x}): '
          '(offset mod 8, after the sections, its end)')
    length, revision, kind = unpack('<IHH', pe.data, offset)
    equal((8 < length <= size, revision, kind), (True, 0x0200, 0x0002),
          'certificate table, first entry (fits, revision, type PKCS#7)')


def check_resources(res):
    equal({key for key in res if key[0] != RT_ICON}, EXPECTED_RESOURCES, 'resources (type, name, language)')
    for group_id in (128, 129):   # each: one 32x32 image, present
        group = res[(RT_GROUP_ICON, group_id, JAPANESE)]
        _, kind, count, width, height, icon_id = unpack('<HHHBB10xH', group, 0)
        equal((kind, count, width, height, (RT_ICON, icon_id, JAPANESE) in res), (1, 1, 32, 32, True),
              f'icon group {group_id} (type, images, width, height, image present)')
    for dialog_id, (want_header, want_controls) in DIALOGS.items():
        header, controls = parse_dialogex(res[(RT_DIALOG, dialog_id, JAPANESE)])
        equal(header, want_header, f'dialog {dialog_id} (style, exstyle, caption, font)')
        equal(len(controls), len(want_controls), f'dialog {dialog_id}: number of controls')
        for got, want in zip(controls, want_controls):
            if want[2] is None and got[2]:   # any text
                want = want[:2] + got[2:3] + want[3:]
            equal(got, want, f'dialog {dialog_id} control')
    block, pos = res[(RT_STRING, 101 // 16 + 1, JAPANESE)], 0
    for _ in range(101 % 16):   # each string: its length in characters, then the text
        pos += 2 + 2 * unpack('<H', block, pos)
    equal(block[pos + 2:pos + 2 + 2 * unpack('<H', block, pos)].decode('utf-16-le'), ABOUT_STRING,
          'string 101')
    got = version_values(res[(RT_VERSION, 1, JAPANESE)])
    words = struct.unpack_from('<4H', got.get('VS_VERSION_INFO', b''), 8)   # two dwords, each high word first
    got['FILEVERSION'] = (words[1], words[0], words[3], words[2])
    for key, expected in VERSION.items():
        equal(got.get(key), expected, f'version resource: {key}')
    # No <dependency>: common controls v6 would change the look the layout is
    # made for, and a missing assembly stops the program from starting.
    root = ET.fromstring(res[(RT_MANIFEST, 1, NEUTRAL)])
    levels = [(e.get('level'), e.get('uiAccess')) for e in
              root.findall('{*}trustInfo/{*}security/{*}requestedPrivileges/{*}requestedExecutionLevel')]
    equal((len(root.findall('.//{*}dependency')), levels), (0, [('asInvoker', 'false')]),
          'manifest (<dependency> elements, requestedExecutionLevel)')


def check_file(exe, subsystem, signed, resources):
    global prefix
    prefix = f'{os.path.basename(exe)}: '
    try:
        with open(exe, 'rb') as f:
            pe = PE(f.read())
        # PE32 for i386: a 64-bit program would not start on 32-bit Windows.
        equal((pe.magic, pe.machine, pe.subsystem), (0x10B, 0x14C, subsystem), 'magic, machine, subsystem')
        dlls = pe.imported_dlls()
        equal(bool(dlls), True, 'any imported DLLs')   # an import table read as empty would pass the next check
        equal(sorted(set(dlls) - ALLOWED_DLLS), [], 'DLLs that not every Windows ships')
        check_certificate_table(pe, signed)
        if resources:
            check_resources(pe.resources())
    except (OSError, ValueError, LookupError, struct.error, ET.ParseError) as e:
        failures.append(f'{prefix}cannot read: {e!r}')


def main(argv):
    parser = argparse.ArgumentParser(description='Checks the release build of updater_Orvantis.')
    parser.add_argument('exe')
    parser.add_argument('--checker', help='also check this build of updater_check.exe')
    parser.add_argument('--signed', action='store_true', help='the programs are signed with Authenticode')
    args = parser.parse_args(argv)
    check_file(args.exe, 2, args.signed, True)   # the GUI subsystem
    if args.checker:
        check_file(args.checker, 3, args.signed, False)   # the console subsystem
    for failure in failures:
        print(f'FAIL {failure}')
    print(f'release resources: {len(failures)} checks failed' if failures else 'release resources: all checks passed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
