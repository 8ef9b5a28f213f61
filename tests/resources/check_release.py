#!/usr/bin/env python3
"""Checks the shipped 32-bit program: its PE header, the DLLs it imports and
every resource the code and Windows rely on.

Usage: check_release.py [--tool-prefix PREFIX] [--checker CHECKER_EXE] EXE

With --checker it also checks the server checker built beside it: a 32-bit
console program importing only DLLs that ship with Windows.

The PE and its .rsrc section are read directly; the binutils objdump named by
PREFIX (default: $UPDATER_TOOL_PREFIX or i686-w64-mingw32-) gives a second
opinion on the import list. Every mismatch is listed; the exit status is 0
only when all checks pass.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

# --------------------------------------------------------------------------
# Expected values
# --------------------------------------------------------------------------

PE32_MAGIC = 0x10B
MACHINE_I386 = 0x14C
SUBSYSTEM_WINDOWS_GUI = 2
SUBSYSTEM_WINDOWS_CUI = 3

# DLLs every supported Windows ships; anything else (libgcc, libstdc++,
# winpthread, the UCRT forwarders) would keep the program from starting on a
# player's machine.
ALLOWED_DLLS = {
    'kernel32.dll', 'user32.dll', 'gdi32.dll', 'comctl32.dll', 'shell32.dll',
    'wininet.dll', 'version.dll', 'advapi32.dll', 'msvcrt.dll', 'ole32.dll',
    'crypt32.dll', 'bcrypt.dll',  # since Windows Vista
}
# The updater needs these only after a click (to start a program, to check a
# signed package): loaded on first call, never at start, where each DLL costs
# start-up time.
DELAY_LOADED_DLLS = {'shell32.dll', 'crypt32.dll', 'bcrypt.dll'}

JAPANESE = 0x0411
NEUTRAL = 0x0000

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
RESOURCE_TYPE_NAMES = {RT_ICON: 'RT_ICON', RT_DIALOG: 'RT_DIALOG', RT_STRING: 'RT_STRING',
                       RT_GROUP_ICON: 'RT_GROUP_ICON', RT_VERSION: 'RT_VERSION',
                       RT_MANIFEST: 'RT_MANIFEST'}

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

ICON_GROUPS = (128, 129)   # each: one 32x32 image, 24 bits per pixel
ICON_SIZE, ICON_BPP = 32, 24

JP_FONT = (9, 'MS UI Gothic', 0, 0, 1)   # points, face, weight, italic, charset
IDC_STATIC = -1

# Dialogs: id -> header, then controls in tab order.
#   controls: (id, class, caption, style, (x, y, cx, cy)); exstyle is always 0,
#   an int caption is a resource ordinal (the icon a static shows).
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

VERSION_FIXED = dict(file_version=(1, 0, 0, 1), product_version=(1, 0, 0, 1),
                     file_os=0x4, file_type=0x1)   # VOS__WINDOWS32, VFT_APP
VERSION_BLOCK = '041103a4'
VERSION_STRINGS = {   # None: wording free, but present and not empty
    'CompanyName': None,
    'FileDescription': None,
    'FileVersion': '1.0.0.1',
    'InternalName': 'updater_Orvantis.exe',
    'LegalCopyright': None,
    'OriginalFilename': 'updater_Orvantis.exe',
    'ProductName': None,
    'ProductVersion': '1.0.0.1',
}
VERSION_TRANSLATION = (0x0411, 0x03A4)

MANIFEST_EXECUTION_LEVEL = ('asInvoker', 'false')   # level, uiAccess

CONTROL_CLASS_ORDINALS = {0x80: 'button', 0x81: 'edit', 0x82: 'static',
                          0x83: 'listbox', 0x84: 'scrollbar', 0x85: 'combobox'}
DS_SETFONT, DS_SHELLFONT = 0x40, 0x48


# --------------------------------------------------------------------------
# PE reading
# --------------------------------------------------------------------------

class FormatError(Exception):
    pass


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise FormatError('no MZ header')
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b'PE\0\0':
            raise FormatError('no PE signature')
        (self.machine, sections, _, _, _, optional_size, _) = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic = self.u16(opt)
        # Data directories sit 96 bytes in for PE32, 112 for PE32+.
        if self.magic == 0x10B:
            self.subsystem = self.u16(opt + 68)
            dirs_at, count_at = opt + 96, opt + 92
        elif self.magic == 0x20B:
            self.subsystem = self.u16(opt + 68)
            dirs_at, count_at = opt + 112, opt + 108
        else:
            raise FormatError(f'unknown optional header magic {self.magic:#x}')
        count = self.u32(count_at)
        self.directories = [struct.unpack_from('<II', data, dirs_at + 8 * i) for i in range(count)]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, va, raw_size, raw_ptr = struct.unpack_from('<8sIIII', data, table + 40 * i)
            self.sections.append((name.rstrip(b'\0').decode('latin-1'), va, max(vsize, raw_size), raw_ptr, raw_size))

    def u16(self, off):
        return struct.unpack_from('<H', self.data, off)[0]

    def u32(self, off):
        return struct.unpack_from('<I', self.data, off)[0]

    def offset(self, rva):
        for _, va, size, raw_ptr, raw_size in self.sections:
            if va <= rva < va + size:
                if rva - va >= raw_size:
                    raise FormatError(f'RVA {rva:#x} lies in uninitialised data')
                return raw_ptr + rva - va
        raise FormatError(f'RVA {rva:#x} is in no section')

    def directory(self, index):
        if index >= len(self.directories):
            return 0, 0
        return self.directories[index]

    def cstring(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b'\0', off)].decode('latin-1')

    def imported_dlls(self):
        dlls = []
        rva, size = self.directory(1)
        if rva:
            off = self.offset(rva)
            while True:
                desc = struct.unpack_from('<IIIII', self.data, off)
                if desc == (0, 0, 0, 0, 0):
                    break
                dlls.append(self.cstring(desc[3]))
                off += 20
        return dlls

    def delay_imported_dlls(self):
        """DLLs loaded on first call. GNU ld leaves the delay-import directory
        empty; the descriptors that dlltool's delay-load libraries put among
        the code are found by their shape: RVA-based, the DLL name a *.dll
        string, the module handle, address and name tables inside the image,
        the last three fields zero."""
        found = []
        rva, size = self.directory(13)
        if rva:
            off = self.offset(rva)
            while True:
                desc = struct.unpack_from('<8I', self.data, off)
                if not any(desc):
                    break
                found.append(desc)
                off += 32
        for _, _, _, raw_ptr, raw_size in self.sections:
            for at in range(raw_ptr, raw_ptr + raw_size - 31, 4):
                desc = struct.unpack_from('<8I', self.data, at)
                if desc[0] == 1 and desc[5:] == (0, 0, 0) and self.is_delay_descriptor(desc) and desc not in found:
                    found.append(desc)
        return [self.cstring(desc[1]) for desc in found]

    def is_delay_descriptor(self, desc):
        try:
            if not all(desc[1:5]) or not re.fullmatch(r'[A-Za-z0-9_-]+\.dll', self.cstring(desc[1]), re.I):
                return False
            self.offset(desc[2])
            self.offset(desc[3])
            wide = self.magic == 0x20B
            first = struct.unpack_from('<Q' if wide else '<I', self.data, self.offset(desc[4]))[0]
            if first >> (63 if wide else 31):
                return True   # imported by ordinal
            return first != 0 and re.fullmatch(r'[A-Za-z_][A-Za-z0-9_@]*', self.cstring(first + 2)) is not None
        except (FormatError, ValueError, struct.error):
            return False

    def resources(self):
        """Returns {(type, name, language): bytes}; names are ints or strings."""
        rva, size = self.directory(2)
        if not rva:
            return {}
        base = self.offset(rva)
        found = {}

        def entries(dir_off):
            named, ids = struct.unpack_from('<HH', self.data, base + dir_off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from('<II', self.data, base + dir_off + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = self.u16(at)
                    name = self.data[at + 2:at + 2 + 2 * length].decode('utf-16-le')
                yield name, target

        for rtype, t in entries(0):
            if not t & 0x80000000:
                raise FormatError('resource type entry is not a directory')
            for rname, n in entries(t & 0x7FFFFFFF):
                if not n & 0x80000000:
                    raise FormatError('resource name entry is not a directory')
                for lang, leaf in entries(n & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        raise FormatError('resource language entry is a directory')
                    data_rva, data_size = struct.unpack_from('<II', self.data, base + leaf)
                    off = self.offset(data_rva)
                    found[(rtype, rname, lang)] = self.data[off:off + data_size]
        return found


# --------------------------------------------------------------------------
# Resource formats
# --------------------------------------------------------------------------

class Reader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, fmt):
        values = struct.unpack_from(fmt, self.data, self.pos)
        self.pos += struct.calcsize(fmt)
        return values if len(values) > 1 else values[0]

    def align(self, n=4):
        self.pos = (self.pos + n - 1) & ~(n - 1)

    def wstring(self):
        end = self.pos
        while self.data[end:end + 2] != b'\0\0':
            if end + 2 > len(self.data):
                raise FormatError('unterminated string')
            end += 2
        text = self.data[self.pos:end].decode('utf-16-le')
        self.pos = end + 2
        return text

    def sz_or_ord(self):
        first = struct.unpack_from('<H', self.data, self.pos)[0]
        if first == 0xFFFF:
            self.pos += 2
            return self.take('<H')
        return self.wstring()


def parse_dialogex(data):
    r = Reader(data)
    version, signature = r.take('<HH')
    if (version, signature) != (1, 0xFFFF):
        raise FormatError('not an extended dialog template')
    d = {}
    d['help'], d['exstyle'], d['style'], count = r.take('<IIIH')
    d['rect'] = r.take('<hhhh')
    d['menu'] = r.sz_or_ord()
    d['class'] = r.sz_or_ord()
    d['caption'] = r.wstring()
    d['font'] = None
    if d['style'] & DS_SETFONT:
        points, weight, italic, charset = r.take('<HHBB')
        d['font'] = (points, r.wstring(), weight, italic, charset)
    d['controls'] = []
    for _ in range(count):
        r.align()
        c = {}
        c['help'], c['exstyle'], c['style'] = r.take('<III')
        c['rect'] = r.take('<hhhh')
        c['id'] = r.take('<i')
        cls = r.sz_or_ord()
        c['class'] = CONTROL_CLASS_ORDINALS.get(cls, cls) if isinstance(cls, int) else cls.lower()
        c['caption'] = r.sz_or_ord()
        c['extra'] = r.take('<H')
        r.pos += c['extra']
        d['controls'].append(c)
    return d


def parse_string_block(data):
    r, strings = Reader(data), []
    for _ in range(16):
        length = r.take('<H')
        strings.append(data[r.pos:r.pos + 2 * length].decode('utf-16-le'))
        r.pos += 2 * length
    return strings


def parse_version_node(data, pos):
    """Returns (key, value, children, end) of the node at pos."""
    r = Reader(data, pos)
    length, value_length, value_type = r.take('<HHH')
    end = pos + length
    if length < 6 or end > len(data):
        raise FormatError('version node overruns its resource')
    key = r.wstring()
    r.align()
    if value_type == 1:   # text, length in characters
        raw = data[r.pos:min(end, r.pos + 2 * value_length)]
        value = raw.decode('utf-16-le', 'replace').split('\0')[0]
        r.pos += 2 * value_length
    else:
        value = data[r.pos:r.pos + value_length]
        r.pos += value_length
    r.align()
    children = []
    while r.pos < end:
        child = parse_version_node(data, r.pos)
        children.append(child)
        r.pos = child[3]
        r.align()
    return key, value, children, end


def local_name(tag):
    return tag.rsplit('}', 1)[-1]


# --------------------------------------------------------------------------
# Checks
# --------------------------------------------------------------------------

class Checker:
    def __init__(self):
        self.passed = 0
        self.failures = []

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failures.append(what)
        return ok

    def equal(self, actual, expected, what):
        return self.check(actual == expected, f'{what}: expected {expected!r}, found {actual!r}')


def hexed(value):
    return f'{value:#010x}' if isinstance(value, int) else repr(value)


def check_header(c, pe):
    c.equal(hex(pe.magic), hex(PE32_MAGIC), 'optional header magic (PE32)')
    c.equal(hex(pe.machine), hex(MACHINE_I386), 'machine (Intel 80386)')
    c.equal(pe.subsystem, SUBSYSTEM_WINDOWS_GUI, 'subsystem (Windows GUI)')


def objdump_dlls(exe, prefix):
    tool = prefix + 'objdump'
    try:
        out = subprocess.run([tool, '-p', exe], capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        return None, f'{tool} -p failed: {e}'
    return re.findall(r'DLL Name:\s*(\S+)', out), None


def check_imports(c, pe, exe, prefix, what='', delay_loaded=None):
    dlls = pe.imported_dlls()
    delayed = pe.delay_imported_dlls()
    c.check(dlls, f'{what}import table: no imported DLLs found')
    for dll in dlls + delayed:
        c.check(dll.lower() in ALLOWED_DLLS, f'{what}imports {dll}, which is not on the list of DLLs every Windows ships')
    if delay_loaded is not None:
        for dll in sorted(delay_loaded):
            c.check(dll not in (d.lower() for d in dlls), f'{what}loads {dll} at start; it is needed only after a click')
        c.equal(sorted(d.lower() for d in delayed), sorted(delay_loaded), f'{what}delay-loaded DLLs')
    listed, error = objdump_dlls(exe, prefix)
    if c.check(error is None, error):
        c.equal(sorted(d.lower() for d in listed), sorted(d.lower() for d in dlls),
                f'{what}imported DLLs as objdump lists them')


def check_checker(c, exe, prefix):
    """The publisher's server checker, shipped beside the updater: a 32-bit
    console program that needs nothing beyond Windows either."""
    what = f'{os.path.basename(exe)}: '
    try:
        with open(exe, 'rb') as f:
            pe = PE(f.read())
    except (OSError, FormatError, struct.error, ValueError) as e:
        c.check(False, f'{what}cannot read: {e}')
        return
    c.equal(hex(pe.magic), hex(PE32_MAGIC), f'{what}optional header magic (PE32)')
    c.equal(hex(pe.machine), hex(MACHINE_I386), f'{what}machine (Intel 80386)')
    c.equal(pe.subsystem, SUBSYSTEM_WINDOWS_CUI, f'{what}subsystem (Windows console)')
    check_imports(c, pe, exe, prefix, what)


def check_inventory(c, res):
    actual = {key for key in res if key[0] != RT_ICON}

    def show(keys):
        return ', '.join(f'{RESOURCE_TYPE_NAMES.get(t, t)} {n} lang {l:#06x}' for t, n, l in sorted(keys, key=str))
    c.check(not (EXPECTED_RESOURCES - actual), f'missing resources: {show(EXPECTED_RESOURCES - actual)}')
    c.check(not (actual - EXPECTED_RESOURCES), f'unexpected resources: {show(actual - EXPECTED_RESOURCES)}')


def check_icons(c, res):
    images = []
    for group_id in ICON_GROUPS:
        what = f'icon group {group_id}'
        group = res.get((RT_GROUP_ICON, group_id, JAPANESE))
        if not c.check(group is not None, f'{what}: missing'):
            continue
        reserved, kind, count = struct.unpack_from('<HHH', group, 0)
        c.equal((reserved, kind, count), (0, 1, 1), f'{what}: header (reserved, type, image count)')
        if count < 1 or len(group) < 6 + 14:
            continue
        w, h, colours, _, planes, bpp, size, icon_id = struct.unpack_from('<BBBBHHIH', group, 6)
        c.equal((w, h, colours, planes, bpp), (ICON_SIZE, ICON_SIZE, 0, 1, ICON_BPP),
                f'{what}: entry (width, height, colours, planes, bits)')
        image = res.get((RT_ICON, icon_id, JAPANESE))
        if not c.check(image is not None, f'{what}: icon image {icon_id} (language 0x0411) missing'):
            continue
        c.equal(len(image), size, f'{what}: image size against the group entry')
        header = struct.unpack_from('<IiiHHI', image, 0)
        c.equal(header, (40, ICON_SIZE, 2 * ICON_SIZE, 1, ICON_BPP, 0),
                f'{what}: bitmap header (size, width, height, planes, bits, compression)')
        xor_size = ((ICON_SIZE * ICON_BPP + 31) // 32) * 4 * ICON_SIZE
        and_size = ((ICON_SIZE + 31) // 32) * 4 * ICON_SIZE
        if c.equal(len(image), 40 + xor_size + and_size, f'{what}: image length'):
            c.check(not any(image[40 + xor_size:]), f'{what}: AND mask is not all zero')
        images.append(image)
    if len(images) == 2:
        c.check(images[0] != images[1], 'icon groups 128 and 129 hold the same picture')


def check_dialogs(c, res):
    for dialog_id, want in DIALOGS.items():
        what = f'dialog {dialog_id}'
        data = res.get((RT_DIALOG, dialog_id, JAPANESE))
        if not c.check(data is not None, f'{what}: missing (language 0x0411)'):
            continue
        try:
            got = parse_dialogex(data)
        except (FormatError, struct.error, UnicodeDecodeError) as e:
            c.check(False, f'{what}: unreadable template: {e}')
            continue
        c.equal(hexed(got['style']), hexed(want['style']), f'{what}: style')
        c.equal(hexed(got['exstyle']), hexed(want['exstyle']), f'{what}: extended style')
        c.equal(got['rect'], want['rect'], f'{what}: rectangle')
        c.equal(got['caption'], want['caption'], f'{what}: caption')
        c.equal(got['font'], want['font'], f'{what}: font (points, face, weight, italic, charset)')
        c.equal((got['menu'], got['class'], got['help']), ('', '', 0), f'{what}: menu, class, help id')
        c.equal(len(got['controls']), len(want['controls']), f'{what}: number of controls')
        for i, (cid, cls, caption, style, rect) in enumerate(want['controls']):
            if i >= len(got['controls']):
                break
            g = got['controls'][i]
            cw = f'{what} control #{i + 1} (id {cid})'
            c.equal(g['id'], cid, f'{cw}: id')
            c.equal(g['class'], cls, f'{cw}: class')
            if caption is None:
                c.check(isinstance(g['caption'], str) and g['caption'].strip(), f'{cw}: caption is empty')
            else:
                c.equal(g['caption'], caption, f'{cw}: caption')
            c.equal(hexed(g['style']), hexed(style), f'{cw}: style')
            c.equal(hexed(g['exstyle']), hexed(0), f'{cw}: extended style')
            c.equal(g['rect'], rect, f'{cw}: rectangle')
            c.equal((g['help'], g['extra']), (0, 0), f'{cw}: help id, creation data')


def check_strings(c, res):
    for string_id, text in STRINGS.items():
        block = res.get((RT_STRING, string_id // 16 + 1, JAPANESE))
        if not c.check(block is not None, f'string {string_id}: block missing (language 0x0411)'):
            continue
        try:
            strings = parse_string_block(block)
        except (struct.error, UnicodeDecodeError) as e:
            c.check(False, f'string {string_id}: unreadable block: {e}')
            continue
        c.equal(strings[string_id % 16], text, f'string {string_id}')


def check_version(c, res):
    data = res.get((RT_VERSION, 1, JAPANESE))
    if not c.check(data is not None, 'version resource 1: missing (language 0x0411)'):
        return
    try:
        key, fixed, children, _ = parse_version_node(data, 0)
    except (FormatError, struct.error) as e:
        c.check(False, f'version resource: unreadable: {e}')
        return
    c.equal(key, 'VS_VERSION_INFO', 'version resource: root key')
    if not c.equal(len(fixed), 52, 'version resource: fixed information length'):
        return
    f = struct.unpack('<13I', fixed)
    c.equal(hex(f[0]), hex(0xFEEF04BD), 'version resource: fixed information signature')

    def quad(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    c.equal(quad(f[2], f[3]), VERSION_FIXED['file_version'], 'version resource: FILEVERSION')
    c.equal(quad(f[4], f[5]), VERSION_FIXED['product_version'], 'version resource: PRODUCTVERSION')
    c.equal(f[8], VERSION_FIXED['file_os'], 'version resource: FILEOS')
    c.equal(f[9], VERSION_FIXED['file_type'], 'version resource: FILETYPE')

    by_key = {child[0]: child for child in children}
    c.equal(sorted(by_key), ['StringFileInfo', 'VarFileInfo'], 'version resource: blocks')
    tables = by_key.get('StringFileInfo', ('', b'', [], 0))[2]
    c.equal([t[0] for t in tables], [VERSION_BLOCK], 'version resource: string tables')
    strings = {s[0]: s[1] for t in tables if t[0] == VERSION_BLOCK for s in t[2]}
    for name, value in VERSION_STRINGS.items():
        if value is None:
            c.check(strings.get(name, '').strip(), f'version string {name}: missing or empty')
        else:
            c.equal(strings.get(name), value, f'version string {name}')
    variables = {v[0]: v[1] for v in by_key.get('VarFileInfo', ('', b'', [], 0))[2]}
    translation = variables.get('Translation', b'')
    c.equal(struct.unpack('<HH', translation) if len(translation) == 4 else translation,
            VERSION_TRANSLATION, 'version resource: Translation')


def check_manifest(c, res):
    manifests = [key for key in res if key[0] == RT_MANIFEST]
    c.equal(manifests, [(RT_MANIFEST, 1, NEUTRAL)], 'manifests (type, id, language)')
    data = res.get((RT_MANIFEST, 1, NEUTRAL))
    if data is None:
        return
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        c.check(False, f'manifest: not well-formed XML: {e}')
        return
    c.equal(local_name(root.tag), 'assembly', 'manifest: root element')
    dependencies = [e for e in root.iter() if local_name(e.tag) == 'dependency']
    c.check(not dependencies, f'manifest: has {len(dependencies)} <dependency> element(s)')
    levels = []
    for trust in root:
        if local_name(trust.tag) != 'trustInfo':
            continue
        for security in trust:
            if local_name(security.tag) != 'security':
                continue
            for privileges in security:
                if local_name(privileges.tag) != 'requestedPrivileges':
                    continue
                levels += [(e.get('level'), e.get('uiAccess')) for e in privileges
                           if local_name(e.tag) == 'requestedExecutionLevel']
    c.equal(levels, [MANIFEST_EXECUTION_LEVEL],
            'manifest: trustInfo/security/requestedPrivileges/requestedExecutionLevel (level, uiAccess)')


def main(argv):
    parser = argparse.ArgumentParser(description='Checks the release build of updater_Orvantis.')
    parser.add_argument('exe')
    parser.add_argument('--checker', help='also check this build of updater_check.exe')
    parser.add_argument('--tool-prefix', default=os.environ.get('UPDATER_TOOL_PREFIX', 'i686-w64-mingw32-'),
                        help='binutils prefix for objdump (default: $UPDATER_TOOL_PREFIX or i686-w64-mingw32-)')
    args = parser.parse_args(argv)

    try:
        with open(args.exe, 'rb') as f:
            pe = PE(f.read())
        res = pe.resources()
    except (OSError, FormatError, struct.error, ValueError) as e:
        print(f'{args.exe}: cannot read: {e}', file=sys.stderr)
        return 2

    c = Checker()
    check_header(c, pe)
    check_imports(c, pe, args.exe, args.tool_prefix, delay_loaded=DELAY_LOADED_DLLS)
    check_inventory(c, res)
    check_icons(c, res)
    check_dialogs(c, res)
    check_strings(c, res)
    check_version(c, res)
    check_manifest(c, res)
    if args.checker:
        check_checker(c, args.checker, args.tool_prefix)

    for failure in c.failures:
        print(f'FAIL {failure}')
    if c.failures:
        print(f'release resources: {len(c.failures)} of {c.passed + len(c.failures)} checks failed')
        return 1
    print(f'release resources: {c.passed} checks passed')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
