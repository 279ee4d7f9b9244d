"""Machine folders as Python sees them: machine.ini, registry.reg (REGEDIT4
text of HKEY_LOCAL_MACHINE), drive_c/ and result.ini. Shared by the Wine
runner and the comparison of its results with the sim runner's.

Texts are handled as latin-1 strings, one character per byte, so that ANSI
bytes of any code page pass through unchanged. Lines end at a line feed only,
and only blanks and tabs are trimmed: the machine's bytes 0x85, 0x1C or 0xA0
are text, as they are to the platform.
"""
import codecs
import os
import re

ROOT = 'HKEY_LOCAL_MACHINE'


def fold(text):
    """Folds ASCII letters only, as the platform compares names."""
    return text.translate(_UPPER)


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


def parse_ini(text):
    """[(section, [(key, value), ...]), ...] in file order; ';' starts a comment line."""
    sections = []
    for raw in lines_of(text):
        line = raw.strip(BLANKS)
        if not line or line.startswith(';'):
            continue
        if line.startswith('[') and line.endswith(']'):
            sections.append((line[1:-1], []))
        elif '=' in line and sections:
            key, value = line.split('=', 1)
            sections[-1][1].append((key.strip(BLANKS), value.strip(BLANKS)))
    return sections


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


def parse_reg(text):
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
            current = keys.setdefault(fold(rest), Key(rest))
            # Parents exist as keys too.
            parts = rest.split('\\')
            for n in range(1, len(parts)):
                parent = '\\'.join(parts[:n])
                keys.setdefault(fold(parent), Key(parent))
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
        current.values[fold(name)] = (name, kind, raw)
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
    """drive_c's relative host path of a C:\\ path: each component the
    machine's name in Unicode (UTF-8 on the host), as Wine keeps it."""
    return os.path.join(*[to_unicode(p, code_page) for p in split_path(path[3:], code_page)] or [''])


def win_path(relative, code_page=1252):
    return 'C:\\' + '\\'.join(to_ansi(p, code_page) for p in relative.split(os.sep))


def read_tree(folder, sections=None):
    """{folded Windows path: (path, is_dir, bytes or None)} of drive_c, plus the
    empty directories machine.ini lists under [Directories]."""
    tree = {}
    drive = os.path.join(folder, 'drive_c')
    if sections is None:
        sections = parse_ini(read_text(os.path.join(folder, 'machine.ini')))
    code_page = code_page_of(sections)
    for top, dirs, files in os.walk(drive):
        for name in dirs + files:
            full = os.path.join(top, name)
            path = win_path(os.path.relpath(full, drive), code_page)
            is_dir = os.path.isdir(full)
            data = None
            if not is_dir:
                with open(full, 'rb') as file:
                    data = file.read()
            tree[fold(path)] = (path, is_dir, data)
    for _, entries in sections_named(sections, 'Directories'):
        for _, path in entries:
            parts = split_path(path, code_page)
            for n in range(2, len(parts) + 1):
                sub = '\\'.join(parts[:n])
                tree.setdefault(fold(sub), (sub, True, None))
    return tree


def empty_directories(tree):
    paths = sorted(tree)
    return [tree[p][0] for p in paths
            if tree[p][1] and not any(other.startswith(p + '\\') for other in paths)]
