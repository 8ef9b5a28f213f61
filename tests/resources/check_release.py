#!/usr/bin/env python3
"""Checks the shipped 32-bit program as a player's Windows meets it: its PE
header, the DLLs it loads, and its resources as the resource
compiler built them; with --checker, also the server checker beside it.
As built, the programs carry no certificate table; with --signed, as the
publisher signs them with Authenticode, each carries one, after everything
else in the file. Every mismatch is listed; the exit status is 0 only when
all checks pass.

Usage: check_release.py [--signed] [--checker CHECKER_EXE] EXE
"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ET

PE32_MAGIC, MACHINE_I386 = 0x10B, 0x14C
SECURITY_DIRECTORY = 4   # the certificate table: a file offset, not an address
WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002
SUBSYSTEM_WINDOWS_GUI, SUBSYSTEM_WINDOWS_CUI = 2, 3

# DLLs every supported Windows ships; anything else (libgcc, libstdc++,
# winpthread, the UCRT forwarders) would keep the program from starting on a
# player's machine.
ALLOWED_DLLS = {
    'kernel32.dll', 'user32.dll', 'gdi32.dll', 'comctl32.dll', 'shell32.dll',
    'wininet.dll', 'version.dll', 'advapi32.dll', 'msvcrt.dll', 'ole32.dll',
    'crypt32.dll', 'bcrypt.dll',  # since Windows Vista
}
JAPANESE, NEUTRAL = 0x0411, 0x0000
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24

# Every resource but the individual icon images (their ids are the resource
# compiler's choice; they are reached through the icon groups).
#   (type, name, language)
EXPECTED_RESOURCES = {
    (RT_GROUP_ICON, 128, JAPANESE),   # IDR_MAINFRAME
    (RT_GROUP_ICON, 129, JAPANESE),   # IDI_SPARE
    (RT_DIALOG, 100, JAPANESE),       # IDD_ABOUTBOX
    (RT_DIALOG, 102, JAPANESE),       # IDD_UPDATER_DIALOG
    (RT_STRING, 101 // 16 + 1, JAPANESE),  # block holding IDS_ABOUTBOX
    (RT_VERSION, 1, JAPANESE),
    (RT_MANIFEST, 1, NEUTRAL),
}
ICON_GROUPS = (128, 129)   # each: one 32x32 image

JP_FONT = (9, 'MS UI Gothic', 0, 0, 1)   # points, face, weight, italic, charset
IDC_STATIC = -1

# Dialogs: id -> header, then controls in tab order, one row each in the
# columns of CONTROL_COLUMNS; exstyle, help id and creation data are always 0.
# An int caption is a resource ordinal (the icon a static shows); None is any
# non-empty text.
CONTROL_COLUMNS = ('id', 'class', 'caption', 'style', 'rect')
DIALOGS = {
    102: dict(  # IDD_UPDATER_DIALOG
        style=0x90C800C4, exstyle=0x00040000, rect=(0, 0, 315, 201),
        caption='Orvantis updater v1.00', font=JP_FONT,
        controls=[
            (1000, 'button', '更新\r\nUpdate', 0x50012000, (208, 16, 96, 48)),
            (1001, 'edit', '', 0x50811000, (16, 16, 176, 16)),
            (1002, 'edit', '', 0x50810000, (16, 48, 176, 16)),
            (1003, 'button', '終了\r\nQuit', 0x50012000, (240, 160, 64, 32)),
            (1007, 'edit', '', 0x50A11004, (16, 80, 288, 64)),
            (1005, 'button', 'フルスクリーンで起動\r\nFull Screen', 0x50012000, (128, 160, 96, 32)),
            (1006, 'button', 'ウィンドウモードで起動\r\nWindow Mode', 0x50012000, (16, 160, 96, 32)),
        ]),
    100: dict(  # IDD_ABOUTBOX
        style=0x80C800C8, exstyle=0, rect=(0, 0, 170, 62),
        caption='バージョン情報 updater_Orvantis', font=JP_FONT,
        controls=[
            (IDC_STATIC, 'static', 128, 0x50000003, (14, 14, 21, 20)),
            (IDC_STATIC, 'static', 'updater_Orvantis, Version 1.0', 0x50020080, (42, 14, 114, 8)),
            (IDC_STATIC, 'static', None, 0x50020000, (42, 26, 114, 8)),  # copyright line
            (1, 'button', 'OK', 0x50030001, (113, 41, 50, 14)),
        ]),
}

STRINGS = {101: 'バージョン情報 updater_Orvantis(&A)...'}   # IDS_ABOUTBOX

VERSION = {   # None: wording free, but present and not empty
    'FILEVERSION': (1, 0, 0, 1), 'PRODUCTVERSION': (1, 0, 0, 1),
    'FILEOS': 0x4, 'FILETYPE': 0x1,   # VOS__WINDOWS32, VFT_APP
    'string tables': ['041103a4'], 'Translation': (0x0411, 0x03A4),
    'CompanyName': None, 'FileDescription': None, 'FileVersion': '1.0.0.1',
    'InternalName': 'updater_Orvantis.exe', 'LegalCopyright': None,
    'OriginalFilename': 'updater_Orvantis.exe', 'ProductName': None, 'ProductVersion': '1.0.0.1',
}

# No <dependency>: common controls v6 would change the look the layout is
# made for, and a missing assembly stops the program from starting.
MANIFEST = {'root element': 'assembly', '<dependency> elements': 0,
            'requestedExecutionLevel (level, uiAccess)': [('asInvoker', 'false')]}

CONTROL_CLASSES = {0x80: 'button', 0x81: 'edit', 0x82: 'static'}
DS_SETFONT = 0x40
HEX_FIELDS = {'magic', 'machine', 'style', 'exstyle'}


class FormatError(Exception):
    pass


class PE:
    def __init__(self, data):
        self.data = data
        pe = self.u32(0x3C)
        if data[:2] != b'MZ' or data[pe:pe + 4] != b'PE\0\0':
            raise FormatError('no MZ header or PE signature')
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic, self.subsystem = self.u16(opt), self.u16(opt + 68)
        if self.magic not in (0x10B, 0x20B):
            raise FormatError(f'unknown optional header magic {self.magic:#x}')
        # The directory count sits 16 bytes further in for PE32+; the directories follow it.
        count_at = opt + (92 if self.magic == 0x10B else 108)
        self.directories = [struct.unpack_from('<II', data, count_at + 4 + 8 * i)
                            for i in range(self.u32(count_at))] + [(0, 0)] * 16   # absent ones read as empty
        table = opt + optional_size
        self.sections = []
        for i in range(sections):
            vsize, va, raw_size, raw_ptr = struct.unpack_from('<IIII', data, table + 40 * i + 8)
            self.sections.append((va, max(vsize, raw_size), raw_ptr, raw_size))

    def u16(self, off):
        return struct.unpack_from('<H', self.data, off)[0]

    def u32(self, off):
        return struct.unpack_from('<I', self.data, off)[0]

    def offset(self, rva):
        for va, size, raw_ptr, raw_size in self.sections:
            if va <= rva < va + size:
                if rva - va >= raw_size:
                    raise FormatError(f'RVA {rva:#x} lies in uninitialised data')
                return raw_ptr + rva - va
        raise FormatError(f'RVA {rva:#x} is in no section')

    def cstring(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b'\0', off)].decode('latin-1')

    def imported_dlls(self):
        dlls, (rva, _) = [], self.directories[1]
        off = self.offset(rva) if rva else None
        while off is not None and any(struct.unpack_from('<5I', self.data, off)):
            dlls.append(self.cstring(self.u32(off + 12)))
            off += 20
        return dlls

    def resources(self):
        """Returns {(type, name, language): bytes}; names are ints or strings."""
        rva, _ = self.directories[2]
        if not rva:   # the server checker has none
            return {}
        base, found = self.offset(rva), {}

        def entries(target, level):
            if not target & 0x80000000:
                raise FormatError(f'resource {level} entry is not a directory')
            at = base + (target & 0x7FFFFFFF)
            named, ids = struct.unpack_from('<HH', self.data, at + 12)
            for i in range(named + ids):
                name, child = struct.unpack_from('<II', self.data, at + 16 + 8 * i)
                if name & 0x80000000:
                    s = base + (name & 0x7FFFFFFF)
                    name = self.data[s + 2:s + 2 + 2 * self.u16(s)].decode('utf-16-le')
                yield name, child

        for rtype, t in entries(0x80000000, 'root'):
            for rname, n in entries(t, 'type'):
                for lang, leaf in entries(n, 'name'):
                    data_rva, size = struct.unpack_from('<II', self.data, base + leaf)
                    off = self.offset(data_rva)
                    found[(rtype, rname, lang)] = self.data[off:off + size]
        return found


class Reader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, fmt):
        values = struct.unpack_from(fmt, self.data, self.pos)
        self.pos += struct.calcsize(fmt)
        return values if len(values) > 1 else values[0]

    def align(self):
        self.pos = (self.pos + 3) & ~3

    def wstring(self):
        end = self.pos
        while self.data[end:end + 2] != b'\0\0':
            if end + 2 > len(self.data):
                raise FormatError('unterminated string')
            end += 2
        text, self.pos = self.data[self.pos:end].decode('utf-16-le'), end + 2
        return text

    def sz_or_ord(self):
        if struct.unpack_from('<H', self.data, self.pos)[0] == 0xFFFF:
            self.pos += 2
            return self.take('<H')
        return self.wstring()


def parse_dialogex(data):
    """Returns the header and the controls of a DIALOGEX template as dicts."""
    r = Reader(data)
    if r.take('<HH') != (1, 0xFFFF):
        raise FormatError('not an extended dialog template')
    help_id, exstyle, style, count = r.take('<IIIH')
    header = dict(help=help_id, exstyle=exstyle, style=style, rect=r.take('<hhhh'), menu=r.sz_or_ord(),
                  window_class=r.sz_or_ord(), caption=r.wstring(), font=None)
    if style & DS_SETFONT:
        points, weight, italic, charset = r.take('<HHBB')
        header['font'] = (points, r.wstring(), weight, italic, charset)
    controls = []
    for _ in range(count):
        r.align()
        help_id, exstyle, style = r.take('<III')
        rect, cid, cls, caption, extra = r.take('<hhhh'), r.take('<i'), r.sz_or_ord(), r.sz_or_ord(), r.take('<H')
        r.pos += extra
        controls.append({'id': cid, 'class': CONTROL_CLASSES.get(cls, cls) if isinstance(cls, int) else cls.lower(),
                         'caption': caption, 'style': style, 'rect': rect, 'exstyle': exstyle, 'help': help_id,
                         'creation data': extra})
    return header, controls


def parse_version_node(data, pos):
    """Returns (key, value, children, end) of the VS_VERSIONINFO node at pos."""
    r = Reader(data, pos)
    length, value_length, value_type = r.take('<HHH')
    end = pos + length
    if length < 6 or end > len(data):
        raise FormatError('version node overruns its resource')
    key = r.wstring()
    r.align()
    if value_type == 1:   # text, length in characters
        value = data[r.pos:min(end, r.pos + 2 * value_length)].decode('utf-16-le', 'replace').split('\0')[0]
        r.pos += 2 * value_length
    else:
        value = data[r.pos:r.pos + value_length]
        r.pos += value_length
    r.align()
    children = []
    while r.pos < end:
        children.append(parse_version_node(data, r.pos))
        r.pos = children[-1][3]
        r.align()
    return key, value, children, end


class Checker:
    def __init__(self):
        self.passed, self.failures, self.prefix = 0, [], ''

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failures.append(self.prefix + what)
        return ok

    def equal(self, found, expected, what):
        return self.check(found == expected, f'{what}: expected {expected!r}, found {found!r}')

    def table(self, what, got, want):
        """One check per expected field; an expected None takes any non-empty text."""
        def show(key, value):
            return f'{value:#010x}' if key in HEX_FIELDS and isinstance(value, int) else repr(value)
        for key, expected in want.items():
            found = got.get(key)
            ok = isinstance(found, str) and found.strip() != '' if expected is None else found == expected
            self.check(ok, f'{what}{key}: expected {"text" if expected is None else show(key, expected)}, '
                           f'found {show(key, found)}')


def check_program(c, pe, res, subsystem):
    c.table('', {'magic': pe.magic, 'machine': pe.machine, 'subsystem': pe.subsystem},
            {'magic': PE32_MAGIC, 'machine': MACHINE_I386, 'subsystem': subsystem})
    dlls = [d.lower() for d in pe.imported_dlls()]
    # An import table read as empty would pass every check below.
    c.check(dlls, 'import table: no imported DLLs found')
    for dll in dlls:
        c.check(dll in ALLOWED_DLLS, f'imports {dll}, which is not on the list of DLLs every Windows ships')


def check_certificate_table(c, pe, res, signed):
    offset, size = pe.directories[SECURITY_DIRECTORY]
    if not signed:
        c.equal((offset, size), (0, 0), 'certificate table (offset, size), as built')
        return
    if not c.check(size >= 8, f'certificate table: none, or too short ({size} bytes)'):
        return
    # Authenticode hashes everything before the table and nothing after it.
    image_end = max(raw_ptr + raw_size for _, _, raw_ptr, raw_size in pe.sections)
    c.check(offset % 8 == 0 and offset >= image_end and offset + size == len(pe.data),
            f'certificate table at {offset:#x}, {size} bytes: not 8-byte aligned at the end of the file, after '
            f'the sections (which end at {image_end:#x}, the file at {len(pe.data):#x})')
    length, revision, kind = struct.unpack_from('<IHH', pe.data, offset)
    c.equal((revision, kind), (WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA),
            'certificate table: revision and type of its first entry')
    c.check(8 < length <= size, f'certificate table: its first entry of {length} bytes does not fit its {size}')


def check_inventory(c, pe, res):
    actual = {key for key in res if key[0] != RT_ICON}
    for kind, keys in (('missing', EXPECTED_RESOURCES - actual), ('unexpected', actual - EXPECTED_RESOURCES)):
        c.check(not keys, f'{kind} resources (type, name, language): {sorted(keys, key=str)}')


def check_icons(c, pe, res):
    for group_id in ICON_GROUPS:
        group = res.get((RT_GROUP_ICON, group_id, JAPANESE), b'')
        if not c.check(len(group) >= 20, f'icon group {group_id}: missing or without an image'):
            continue
        # Header (reserved, type, count), then the first entry's width, height and image id.
        _, kind, count, width, height, icon_id = struct.unpack_from('<HHHBB10xH', group)
        c.equal((kind, count, width, height, (RT_ICON, icon_id, JAPANESE) in res), (1, 1, 32, 32, True),
                f'icon group {group_id} (type, images, width, height, image present)')


def check_dialogs(c, pe, res):
    for dialog_id, want in DIALOGS.items():
        what = f'dialog {dialog_id} '
        data = res.get((RT_DIALOG, dialog_id, JAPANESE))
        if not c.check(data is not None, f'{what}missing (language 0x0411)'):
            continue
        header, controls = parse_dialogex(data)
        c.table(what, header, {key: value for key, value in want.items() if key != 'controls'} |
                dict(menu='', window_class='', help=0))
        c.equal(len(controls), len(want['controls']), f'{what}number of controls')
        for i, (row, got) in enumerate(zip(want['controls'], controls)):
            c.table(f'{what}control #{i + 1} ', got,
                    dict(zip(CONTROL_COLUMNS, row), exstyle=0, help=0, **{'creation data': 0}))


def check_strings(c, pe, res):
    for string_id, text in STRINGS.items():
        block = res.get((RT_STRING, string_id // 16 + 1, JAPANESE))
        if not c.check(block is not None, f'string {string_id}: block missing (language 0x0411)'):
            continue
        pos = 0
        for _ in range(string_id % 16):   # each string: its length in characters, then the text
            pos += 2 + 2 * struct.unpack_from('<H', block, pos)[0]
        found = block[pos + 2:pos + 2 + 2 * struct.unpack_from('<H', block, pos)[0]].decode('utf-16-le')
        c.equal(found, text, f'string {string_id}')


def check_version(c, pe, res):
    data = res.get((RT_VERSION, 1, JAPANESE))
    if not c.check(data is not None, 'version resource: missing (language 0x0411)'):
        return
    _, fixed, children, _ = parse_version_node(data, 0)
    f = struct.unpack_from('<13I', fixed)
    blocks = {child[0]: child[2] for child in children}
    tables = blocks.get('StringFileInfo', [])
    translation = {v[0]: v[1] for v in blocks.get('VarFileInfo', [])}.get('Translation', b'')
    got = {s[0]: s[1] for t in tables for s in t[2]}
    got.update({'FILEVERSION': (f[2] >> 16, f[2] & 0xFFFF, f[3] >> 16, f[3] & 0xFFFF),
                'PRODUCTVERSION': (f[4] >> 16, f[4] & 0xFFFF, f[5] >> 16, f[5] & 0xFFFF),
                'FILEOS': f[8], 'FILETYPE': f[9], 'string tables': [t[0] for t in tables],
                'Translation': struct.unpack('<HH', translation) if len(translation) == 4 else translation})
    c.table('version resource: ', got, VERSION)


def check_manifest(c, pe, res):
    data = res.get((RT_MANIFEST, 1, NEUTRAL))
    if not c.check(data is not None, 'manifest: missing (language neutral)'):
        return
    root = ET.fromstring(data)
    levels = [(e.get('level'), e.get('uiAccess')) for e in
              root.findall('{*}trustInfo/{*}security/{*}requestedPrivileges/{*}requestedExecutionLevel')]
    c.table('manifest: ', {'root element': root.tag.rsplit('}', 1)[-1], '<dependency> elements':
                           len(root.findall('.//{*}dependency')), 'requestedExecutionLevel (level, uiAccess)': levels},
            MANIFEST)


def check_file(c, exe, subsystem, signed, resource_checks=()):
    """Runs each check, so that one unreadable part hides no other mismatch."""
    c.prefix = f'{os.path.basename(exe)}: '
    try:
        with open(exe, 'rb') as f:
            pe = PE(f.read())
        res = pe.resources()
    except (OSError, FormatError, struct.error, ValueError) as e:
        c.check(False, f'cannot read: {e}')
        return
    checks = [(check_program, subsystem), (check_certificate_table, signed)] + [(check,) for check in resource_checks]
    for check, *extra in checks:
        try:
            check(c, pe, res, *extra)
        except (FormatError, struct.error, ValueError, ET.ParseError) as e:
            c.check(False, f'{check.__name__}: unreadable: {e}')


def main(argv):
    parser = argparse.ArgumentParser(description='Checks the release build of updater_Orvantis.')
    parser.add_argument('exe')
    parser.add_argument('--checker', help='also check this build of updater_check.exe')
    parser.add_argument('--signed', action='store_true', help='the programs are signed with Authenticode')
    args = parser.parse_args(argv)
    c = Checker()
    check_file(c, args.exe, SUBSYSTEM_WINDOWS_GUI, args.signed,
               (check_inventory, check_icons, check_dialogs, check_strings, check_version, check_manifest))
    if args.checker:
        check_file(c, args.checker, SUBSYSTEM_WINDOWS_CUI, args.signed)
    for failure in c.failures:
        print(f'FAIL {failure}')
    if c.failures:
        print(f'release resources: {len(c.failures)} of {c.passed + len(c.failures)} checks failed')
        return 1
    print(f'release resources: {c.passed} checks passed')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
