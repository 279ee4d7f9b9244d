"""Machine folders as Python sees them: machine.ini, registry.reg (REGEDIT4
text of HKEY_LOCAL_MACHINE), one folder per drive (drive_c/ ...) and
result.ini. Shared by the Wine
runner and the comparison of its results with the sim runner's. read_machine
reads a folder exactly as the stand-in does (sim/machine_folder.cpp), and
describe prints it as the stand-in's describe_machine does, which
tests/parity/machine_folder_parity.py holds the two to.

Texts are handled as latin-1 strings, one character per byte, so that ANSI
bytes of any code page pass through unchanged. Lines end at a line feed only,
and only blanks and tabs are trimmed: the machine's bytes 0x85, 0x1C or 0xA0
are text, as they are to the platform.
"""
import codecs
import os
import re

ROOT = 'HKEY_LOCAL_MACHINE'


def fold(text, code_page=1252):
    """Folds ASCII letters only, as the platform compares names, and never the
    trail byte of a double-byte character (code page 932: 0x81 0x61 and
    0x81 0x41 are different characters)."""
    if code_page != 932:
        return text.translate(_UPPER)
    out, i = [], 0
    while i < len(text):
        if is_lead_byte(text[i], code_page) and i + 1 < len(text):
            out.append(text[i:i + 2])
            i += 2
        else:
            out.append(text[i].translate(_UPPER))
            i += 1
    return ''.join(out)


_UPPER = {c: c - 32 for c in range(ord('a'), ord('z') + 1)}


def read_text(path):
    with open(path, 'rb') as file:
        return file.read().decode('latin-1')


def write_text(path, text):
    with open(path, 'wb') as file:
        file.write(text.encode('latin-1'))


# ---- INI files ----------------------------------------------------------------

BLANKS = ' \t\r'


def lines_of(text):
    return text.split('\n')


def parse_ini(text, as_platform=False):
    """[(section, [(key, value), ...]), ...] in file order; ';' starts a comment line.
    as_platform: as the platform's profile reader takes it (the stand-in reads
    machine.ini so): a section name ends at its first ']', a line without '='
    is a key with an empty value, and one pair of quotes around a value goes."""
    sections = []
    for raw in lines_of(text):
        line = raw.strip(BLANKS)
        if not line or line.startswith(';'):
            continue
        if as_platform and line.startswith('['):
            sections.append((line[1:].split(']', 1)[0].strip(BLANKS), []))
        elif line.startswith('[') and line.endswith(']'):
            sections.append((line[1:-1], []))
        elif as_platform and sections:
            key, _, value = line.partition('=')
            sections[-1][1].append((key.strip(BLANKS), _unquote_value(value.strip(BLANKS))))
        elif '=' in line and sections:
            key, value = line.split('=', 1)
            sections[-1][1].append((key.strip(BLANKS), value.strip(BLANKS)))
    return sections


def _unquote_value(value):
    if len(value) >= 2 and value[0] in '"\'' and value[-1] == value[0]:
        return value[1:-1]
    return value


def sections_named(sections, prefix):
    """Sections whose name starts with prefix (letter case aside): [Printer1], [Printer2] ..."""
    return [(name, entries) for name, entries in sections if fold(name).startswith(fold(prefix))]


def get(entries, key, default=None):
    for name, value in entries:
        if fold(name) == fold(key):
            return value
    return default


# ---- REGEDIT4 -----------------------------------------------------------------

class Key:
    def __init__(self, path):
        self.path = path  # relative to HKEY_LOCAL_MACHINE
        self.values = {}  # folded name -> (name, type, bytes)


REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7


def _unquote(text, at):
    """The quoted text starting at text[at] == '"' and the index past its end."""
    out = []
    i = at + 1
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text) and text[i + 1] in '\\"':
            out.append(text[i + 1])
            i += 2
        elif c == '"':
            return ''.join(out), i + 1
        else:
            out.append(c)
            i += 1
    raise ValueError('unterminated text: ' + text)


def _logical_lines(text):
    """Lines with their continuation backslashes joined."""
    pending = ''
    for raw in lines_of(text):
        line = raw.rstrip('\r')
        if pending:
            line = pending + line.lstrip(BLANKS)
        # Only hex data is ever continued: a quoted text always ends in a quote.
        if re.search(r'[,:]\\$', line):
            pending = line[:-1]
            continue
        pending = ''
        yield line
    if pending:
        yield pending


def _parse_data(data):
    if data.startswith('"'):
        text, _ = _unquote(data, 0)
        return REG_SZ, (text + '\0').encode('latin-1')
    if data.startswith('dword:'):
        return REG_DWORD, int(data[6:], 16).to_bytes(4, 'little')
    match = re.match(r'hex(?:\(([0-9a-fA-F]+)\))?:(.*)$', data)
    if not match:
        raise ValueError('value not understood: ' + data)
    kind = int(match.group(1), 16) if match.group(1) else REG_BINARY
    digits = [d.strip() for d in match.group(2).split(',') if d.strip()]
    return kind, bytes(int(d, 16) for d in digits)


def parse_reg(text, code_page=1252):
    """{folded key path: Key} of a REGEDIT4 text, in file order."""
    keys = {}
    current = None
    for line in _logical_lines(text):
        stripped = line.strip(BLANKS)
        if not stripped or stripped.startswith(';') or stripped == 'REGEDIT4':
            continue
        if stripped.startswith('['):
            path = stripped[1:stripped.rindex(']')]
            head, _, rest = path.partition('\\')
            if fold(head) != fold(ROOT):
                raise ValueError('only HKEY_LOCAL_MACHINE is handled: ' + path)
            current = keys.setdefault(fold(rest, code_page), Key(rest))
            # Parents exist as keys too.
            parts = rest.split('\\')
            for n in range(1, len(parts)):
                parent = '\\'.join(parts[:n])
                keys.setdefault(fold(parent, code_page), Key(parent))
            continue
        if current is None:
            continue
        if stripped.startswith('@='):
            name, data = '', stripped[2:]
        else:
            name, end = _unquote(stripped, 0)
            data = stripped[end:].lstrip(BLANKS)
            if not data.startswith('='):
                raise ValueError('value line not understood: ' + line)
            data = data[1:].lstrip(BLANKS)
        kind, raw = _parse_data(data)
        current.values[fold(name, code_page)] = (name, kind, raw)
    return keys


def _quote(text):
    return '"' + text.replace('\\', '\\\\').replace('"', '\\"') + '"'


def value_line(name, kind, raw):
    line = (_quote(name) if name else '@') + '='
    text = raw.decode('latin-1')
    if kind == REG_SZ and text.endswith('\0') and '\0' not in text[:-1] and '\n' not in text and '\r' not in text:
        return line + _quote(text[:-1])
    if kind == REG_DWORD and len(raw) == 4:
        return line + 'dword:%08x' % int.from_bytes(raw, 'little')
    prefix = 'hex:' if kind == REG_BINARY else 'hex(%x):' % kind
    return line + prefix + ','.join('%02x' % b for b in raw)


def format_reg(keys):
    """REGEDIT4 text of the keys, parents before children."""
    out = ['REGEDIT4', '']
    for folded in sorted(keys, key=lambda k: k.split('\\')):
        key = keys[folded]
        if not key.path:
            continue
        out.append('[%s\\%s]' % (ROOT, key.path))
        out.extend(value_line(*value) for value in key.values.values())
        out.append('')
    return '\n'.join(out) + '\n'


def top_keys(keys):
    """The listed keys that have no listed ancestor other than the registry's
    own structure: the subtrees a machine folder cares about."""
    listed = sorted(keys, key=len)
    tops = []
    for folded in listed:
        if any(folded.startswith(top + '\\') for top in tops):
            continue
        # A key with neither values nor a listed subkey of its own is structure only.
        if not keys[folded].values and any(other.startswith(folded + '\\') for other in keys):
            continue
        tops.append(folded)
    return [keys[t].path for t in tops]


def restrict_reg(keys, scope):
    """The keys and values of `keys` that `scope` also has (by folded name)."""
    kept = {}
    for folded, key in keys.items():
        if folded not in scope:
            continue
        copy = Key(scope[folded].path)
        for name in scope[folded].values:  # in the scope's order
            if name in key.values:
                copy.values[name] = key.values[name]
        kept[folded] = copy
    return kept


# ---- the machine's code page -------------------------------------------------------

def code_page_of(sections):
    machine = (sections_named(sections, 'Machine') or [('Machine', [])])[0][1]
    return int(get(machine, 'CodePage', '1252'), 0)


def _c1_as_is(error):
    """Code page 1252 leaves five bytes undefined; the platform converts them
    to the control characters of the same value, and back."""
    if isinstance(error, UnicodeDecodeError):
        return ''.join(chr(b) for b in error.object[error.start:error.end]), error.end
    # Host names that were not UTF-8 arrive as surrogate escapes of their bytes.
    return bytes(ord(c) - 0xDC00 if ord(c) >= 0xDC80 else ord(c)
                 for c in error.object[error.start:error.end]), error.end


codecs.register_error('qv-c1', _c1_as_is)


def to_unicode(text, code_page):
    """The machine's ANSI text (one character per byte) as Unicode."""
    raw = text.encode('latin-1')
    if code_page == 932:
        return raw.decode('cp932', errors='surrogateescape')
    return raw.decode('cp1252', errors='qv-c1')


def to_ansi(text, code_page):
    """Unicode back to the machine's ANSI text (one character per byte)."""
    if code_page == 932:
        return text.encode('cp932', errors='surrogateescape').decode('latin-1')
    return text.encode('cp1252', errors='qv-c1').decode('latin-1')


def is_lead_byte(c, code_page):
    return code_page == 932 and (0x81 <= ord(c) <= 0x9F or 0xE0 <= ord(c) <= 0xFC)


def split_path(path, code_page):
    """The components of a Windows path, split at backslashes DBCS-aware."""
    pieces, piece, i = [], '', 0
    while i < len(path):
        if is_lead_byte(path[i], code_page) and i + 1 < len(path):
            piece += path[i:i + 2]
            i += 2
            continue
        if path[i] == '\\':
            if piece:
                pieces.append(piece)
            piece = ''
        else:
            piece += path[i]
        i += 1
    if piece:
        pieces.append(piece)
    return pieces


def normal_path(path, code_page):
    """A drive path with its separators collapsed, as the file system names it."""
    return path[:2] + '\\' + '\\'.join(split_path(path[3:], code_page))


# ---- drive trees --------------------------------------------------------------

def host_relative(path, code_page):
    """The relative host path of a drive path within its drive's folder: each
    component the machine's name in Unicode (UTF-8 on the host), as Wine
    keeps it."""
    return os.path.join(*[to_unicode(p, code_page) for p in split_path(path[3:], code_page)] or [''])


def host_path(folder, path, code_page):
    """Where a drive path lies in a machine folder: drive_c/..., drive_d/..."""
    return os.path.join(folder, 'drive_' + path[0].lower(), host_relative(path, code_page))


def win_path(relative, code_page=1252, drive='C'):
    return drive + ':\\' + '\\'.join(to_ansi(p, code_page) for p in relative.split(os.sep))


def drive_folders(folder):
    """{drive letter: host folder} of the machine folder's drives, as the
    stand-in finds them: every drive_X folder."""
    return {name[6].upper(): os.path.join(folder, name) for name in sorted(os.listdir(folder))
            if len(name) == 7 and name[:6].lower() == 'drive_' and os.path.isdir(os.path.join(folder, name))}


def read_tree(folder, sections=None):
    """{folded Windows path: (path, is_dir, bytes or None)} of every drive, plus
    the empty directories machine.ini lists under [Directories]."""
    tree = {}
    if sections is None:
        sections = parse_ini(read_text(os.path.join(folder, 'machine.ini')))
    code_page = code_page_of(sections)
    for letter, drive in drive_folders(folder).items():
        for top, dirs, files in os.walk(drive):
            for name in dirs + files:
                full = os.path.join(top, name)
                path = win_path(os.path.relpath(full, drive), code_page, letter)
                is_dir = os.path.isdir(full)
                data = None
                if not is_dir:
                    with open(full, 'rb') as file:
                        data = file.read()
                tree[fold(path, code_page)] = (path, is_dir, data)
    for _, entries in sections_named(sections, 'Directories'):
        for _, path in entries:
            parts = split_path(path, code_page)
            for n in range(2, len(parts) + 1):
                sub = '\\'.join(parts[:n])
                tree.setdefault(fold(sub, code_page), (sub, True, None))
    return tree


def empty_directories(tree):
    paths = sorted(tree)
    return [tree[p][0] for p in paths
            if tree[p][1] and not any(other.startswith(p + '\\') for other in paths)]


# ---- the whole folder as the stand-in reads it -----------------------------------

ADMINISTRATORS = ('yes', 'no', 'deny-only')  # [Machine] Administrators; the first is the default
DELETE_COMMAND_RUNS = ('after-exit', 'at-start')  # [Machine] DeleteCommandRuns
ATTRIBUTES = (('readonly', 0x1), ('hidden', 0x2), ('system', 0x4), ('archive', 0x20))
JOB_STATUSES = (('paused', 0x1), ('error', 0x2), ('spooling', 0x8), ('printing', 0x10))
MONITORS = 'System\\CurrentControlSet\\Control\\Print\\Monitors'
NEW_FILE_ATTRIBUTES = 0x20  # a new file is archive; a directory has none


def parse_number(text, bits=32):
    """An unsigned number of `bits` bits as C's strtoul(text, NULL, 0) reads it
    (strtoull for 64): the longest prefix that is one (decimal, 0x hexadecimal
    or 0 octal), else 0."""
    rest = text.lstrip(' \t\n\r\v\f')
    negative = rest[:1] == '-'
    rest = rest[1:] if rest[:1] in ('+', '-') else rest
    base = 10
    if rest[:2].lower() == '0x' and rest[2:3] and rest[2:3].lower() in '0123456789abcdef':
        base, rest = 16, rest[2:]
    elif rest[:1] == '0':
        base = 8
    digits = ''
    for c in rest:
        if c.lower() not in '0123456789abcdef'[:base]:
            break
        digits += c
    value = min(int(digits, base) if digits else 0, 2 ** 64 - 1)
    return (-value if negative else value) % 2 ** bits


def _choice(text, words):
    return next((word for word in words if word.upper() == (text or '').upper()), words[0])


def _path_text(text):
    """The platform's own paths are texts: no NUL can stand inside one."""
    return text.split('\0', 1)[0]


def path_setting(key, value):
    """[Locked], [Attributes] and [ShortNames] entries: PATH=setting, or
    N=PATH|setting for a path no key can hold, or N=PATH (no setting)."""
    if key.isdigit() and key.isascii():
        path, bar, setting = value.rpartition('|')
        return (_path_text(path), setting) if bar else (_path_text(value), '')
    return _path_text(key), value


def parse_attributes(text):
    return sum(bit for name, bit in ATTRIBUTES if name.upper() in text.upper())


def format_attributes(bits):
    return ','.join(name for name, bit in ATTRIBUTES if bits & bit)


def parse_answer(text):
    return {'YES': 6, 'NO': 7, 'CANCEL': 2, 'OK': 1}.get(text.upper(), parse_number(text))


class Node:
    def __init__(self, path, is_dir, data):
        self.path, self.is_dir, self.data = path, is_dir, data
        self.attributes = 0 if is_dir else NEW_FILE_ATTRIBUTES
        self.in_use = 'no'  # or 'open', 'loaded'
        self.alias = ''


class Machine:
    """A machine folder as the stand-in's LoadMachineFolder reads it."""

    def __init__(self, folder):
        sections = parse_ini(read_text(os.path.join(folder, 'machine.ini')), as_platform=True)
        self._read_header(sections)
        reg_path = os.path.join(folder, 'registry.reg')
        self.registry = parse_reg(read_text(reg_path), self.code_page) if os.path.exists(reg_path) else {}
        self.registry.pop('', None)
        _keep_each_port_on_one_monitor(self.registry, self.code_page)
        self.locks = {}  # folded key path -> (undeletable, denied access)
        self.nodes = {folded: Node(*entry) for folded, entry in read_tree(folder, sections).items()}
        self.printers, self.windows, self.libraries, self.answers = [], [], [], []
        for _, entries in sections_named(sections, 'ShortNames'):
            for key, value in entries:
                path, alias = path_setting(key, value)
                node = self.node(path)
                if node and alias not in ('', '.', '..') and not set(alias) & set('\\/\0'):
                    node.alias = alias
        for name, entries in sections:
            self._read_body_section(fold(name), entries)

    def _read_header(self, sections):
        self.family, self.code_page = 'NT', 1252
        self.windows_dir, self.current_dir = 'C:\\WINDOWS', 'C:\\WINDOWS'
        self.executable = 'C:\\Program Files\\Lumora\\QVUninst.exe'
        self.administrators, self.delete_command_runs = ADMINISTRATORS[0], DELETE_COMMAND_RUNS[0]
        self.free_bytes = None  # no limit
        self.drive_directories = {}  # upper-case drive letter -> the "=D:" variable's value
        for _, s in sections_named(sections, 'DriveDirectories'):
            for key, value in s:
                if key[:1].isascii() and key[:1].isalpha() and (len(key) == 1 or key[1:] == ':'):
                    self.drive_directories[key[0].upper()] = _path_text(value)
        for _, s in sections_named(sections, 'Machine'):
            self.family = 'NT' if get(s, 'Family', 'NT') == 'NT' else '95/98'
            self.code_page = parse_number(get(s, 'CodePage', '1252'))
            self.windows_dir = _path_text(get(s, 'WindowsDirectory', self.windows_dir))
            self.current_dir = _path_text(get(s, 'CurrentDirectory', self.current_dir))
            self.executable = _path_text(get(s, 'Executable', self.executable))
            self.administrators = _choice(get(s, 'Administrators'), ADMINISTRATORS)
            self.delete_command_runs = _choice(get(s, 'DeleteCommandRuns'), DELETE_COMMAND_RUNS)
            free_bytes = get(s, 'FreeBytes')
            self.free_bytes = None if free_bytes is None else parse_number(free_bytes, 64)

    def _read_body_section(self, name, entries):
        if name.startswith('PRINTER'):
            self._read_printer(entries)
        if name.startswith('WINDOW'):
            self.windows.append((get(entries, 'Title', ''), get(entries, 'Class', '')))
        if name.startswith('LIBRARY'):
            self.libraries.append((get(entries, 'Path', ''), get(entries, 'CheckUserPrivilege') is not None,
                                   parse_number(get(entries, 'CheckUserPrivilege', '0'))))
        if name.startswith('ANSWERS'):
            self.answers.extend(parse_answer(value) for _, value in entries)
        for key, value in entries if name.startswith('LOCKED') else []:
            path, how = path_setting(key, value)
            if self.node(path):
                self.node(path).in_use = 'loaded' if how.upper() == 'LOADED' else 'open'
        for key, value in entries if name.startswith('ATTRIBUTES') else []:
            path, setting = path_setting(key, value)
            if self.node(path):
                self.node(path).attributes = parse_attributes(setting)
        for key, how in entries if name.startswith('REGISTRYLOCKS') else []:
            self._read_registry_lock(key, how)

    def _read_printer(self, entries):
        cp = self.code_page
        printer_name = _path_text(get(entries, 'Name', ''))
        if not printer_name or any(fold(p[0], cp) == fold(printer_name, cp) for p in self.printers):
            return
        jobs = []
        for key, value in entries:
            if fold(key).startswith('JOB'):
                document, bar, status = value.partition('|')
                jobs.append((document, sum(bit for word, bit in JOB_STATUSES if bar and word in status)))
        self.printers.append((printer_name, get(entries, 'Port', ''), get(entries, 'Driver', 'Generic / Text Only'),
                              get(entries, 'Comment', ''), get(entries, 'Location', ''),
                              get(entries, 'ShareName', ''), parse_number(get(entries, 'RefuseOpen', '0')) != 0,
                              jobs))

    def _read_registry_lock(self, key_path, how):
        folded = fold(key_path, self.code_page)
        if folded not in self.registry:
            return
        undeletable, denied = self.locks.get(folded, (False, 0))
        if 'undeletable' in how:
            undeletable = True
        if 'deny' in how:
            denied = parse_number(how[how.index('deny') + 4:])
        self.locks[folded] = (undeletable, denied)

    def resolve(self, path):
        """The long form of a drive path: each component that is an existing
        node's alias replaced by its long name. None for no drive path."""
        if len(path) < 2 or path[1] != ':' or not path[0].isalpha():
            return None
        resolved = path[0].upper() + ':'
        for piece in split_path(path[2:].replace('/', '\\'), self.code_page):
            if piece != '.':
                resolved += '\\' + self._long_name(resolved, piece.rstrip('. ') or piece)
        return resolved

    def _long_name(self, parent, piece):
        """The name of parent's child that piece names, by long name or alias."""
        cp = self.code_page
        prefix = fold(parent, cp) + '\\'
        if prefix + fold(piece, cp) in self.nodes:
            return piece
        for folded, n in self.nodes.items():
            rest = n.path[len(prefix):]
            if (folded.startswith(prefix) and n.alias and fold(n.alias, cp) == fold(piece, cp)
                    and len(split_path(rest, cp)) == 1):
                return rest
        return piece

    def node(self, path):
        resolved = self.resolve(path)
        return self.nodes.get(fold(resolved, self.code_page)) if resolved else None


def _keep_each_port_on_one_monitor(keys, code_page):
    """A port is the spooler's, held by one monitor: the first monitor in
    enumeration order keeps a port listed under several (as the stand-in)."""
    monitors = fold(MONITORS, code_page) + '\\'
    below = {k: split_path(k[len(monitors):], code_page) for k in keys if k.startswith(monitors)}
    taken = set()
    for folded in sorted((k for k, parts in below.items() if len(parts) == 3 and parts[1] == 'PORTS'),
                         key=lambda k: below[k]):
        port = below[folded][2]
        if port not in taken:
            taken.add(port)
            continue
        for key in [k for k in keys if k == folded or k.startswith(folded + '\\')]:
            del keys[key]


def read_machine(folder):
    return Machine(folder)


def _fields(*fields):
    return '|'.join(str(f) for f in fields) + '\n'


def _digest(data):
    """FNV-1a, 64 bits: a file's contents in a line."""
    value = 0xcbf29ce484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001b3) % 2 ** 64
    return '0x%x' % value


def describe(machine):
    """The stand-in's describe_machine text of the machine (sim::DescribeMachine)."""
    m = machine
    text = (_fields('family', m.family) + _fields('code page', m.code_page)
            + _fields('windows directory', m.windows_dir) + _fields('current directory', m.current_dir)
            + _fields('executable', m.executable) + _fields('administrators', m.administrators)
            + _fields('delete command runs', m.delete_command_runs)
            + _fields('free bytes', 'unlimited' if m.free_bytes is None else m.free_bytes))
    for letter in sorted(m.drive_directories):
        text += _fields('drive directory', letter + ':', m.drive_directories[letter])
    for folded in sorted(m.nodes):
        n = m.nodes[folded]
        text += _fields('directory' if n.is_dir else 'file', n.path, '0x%x' % n.attributes, n.in_use, n.alias,
                        '' if n.is_dir else _digest(n.data))
    for folded in sorted(m.registry):
        key = m.registry[folded]
        undeletable, denied = m.locks.get(folded, (False, 0))
        text += _fields('key', key.path, int(undeletable), '0x%x' % denied)
        for name, kind, raw in key.values.values():
            text += _fields('value', name, kind, raw.hex())
    for name, port, driver, comment, location, share, refuse, jobs in m.printers:
        text += _fields('printer', name, port, driver, comment, location, share, int(refuse))
        text += ''.join(_fields('job', document, '0x%x' % status) for document, status in jobs)
    text += ''.join(_fields('window', title, class_name) for title, class_name in m.windows)
    text += ''.join(_fields('library', path, int(exports), result) for path, exports, result in m.libraries)
    text += ''.join(_fields('answer', answer) for answer in m.answers)
    return text


if __name__ == '__main__':
    import sys
    if len(sys.argv) != 3 or sys.argv[1] != 'describe':
        sys.exit('usage: machine_folder.py describe MACHINE_DIR')
    sys.stdout.buffer.write(describe(read_machine(sys.argv[2])).encode('latin-1'))
