#!/usr/bin/env python3
"""Runs the real QVUninst.exe on a machine folder under Wine and writes the
resulting machine folder back, with result.ini in the sim runner's form.

    qvwine.py MACHINE_DIR --out DIR [--answers yes,no] [--windows-version win98] [--restart] [--shots DIR]
              [--cut-after-steps N] [--second-run [--first-out DIR]]

The uninstaller is the shipped i686 build, in a 32-bit prefix, with helpers
built by the same toolchain; where 32-bit Wine cannot start, the run fails
and says why (tools/install_deps.sh registers the user-mode emulator on
kernels that refuse 32-bit programs).

The machine becomes a fresh Wine prefix, copied from a template made once
(build/wine-template): its drives laid down (C: the template's, another a
folder of the prefix that dosdevices names), HKEY_LOCAL_MACHINE written from
registry.reg, the printers written into the spooler's registry, the Windows
version Wine presents to QVUninst.exe (one of the machine's family), each
[WindowN] kept open by qvwindow.exe, the scenario's _SETUP.DLL, a print
monitor library behind the monitor's Driver value and a command.com that
records its command line. The uninstaller runs under Xvfb; qvdriver.exe
loads qvjobs.dll into it (which answers EnumJobsA with the machine's print
jobs and records each printer opened, and with --cut-after-steps ends the
process right after its N-th progress step), answers its boxes and reports
what the run left behind; the driver sets each drive's "=D:" variable of
[DriveDirectories] before it starts the uninstaller, which inherits them.
With --second-run the machine is restarted after
the run and the uninstaller run again, in the same prefix.

A monitor's library is put in only where the machine has that file: the
spooler of Wine 8 knows a monitor's ports only when its library loads.

The machine as it is: [Locked] files are held in use by qvhold.exe while the
uninstaller runs (open without sharing, or mapped as an image), [Attributes]
become permission bits (read-only) and Wine's user.DOSATTRIB extended
attribute (hidden, system), and an Executable given by an 8.3 alias is
started by the 8.3 path Wine gives it. What a prefix can't hold (a user who
is no administrator, a delete command run at once, a read-only directory) is
refused with the reason.

WININIT.INI: Wine's boot step processes it whenever a session starts in the
prefix, whatever the Windows version. So the machine's own is not laid down
with drive_c but put in place by the driver, inside its session, before the
uninstaller starts; the driver copies the one the run left to the results
(wininit.ini next to result.ini) before that session ends; and the restart
holds it aside while the delete commands run, since on 95/98 the boot step
comes after them, and on the NT family, which never reads it, for good.

Files the runner swaps for real programs (the executable, _SETUP.DLL, the
monitor library) are written back with the folder's own contents when they
still exist, so that only their presence is compared. Only what the folder
had is read back, and the files a run and its restart may make (WININIT.INI,
WININIT.BAK): the uninstaller creates no other file and no registry entry.
"""
import argparse
import fcntl
import ntpath
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import machine_folder as mf  # noqa: E402

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MONITORS = 'System\\CurrentControlSet\\Control\\Print\\Monitors'
PRINTERS = 'System\\CurrentControlSet\\Control\\Print\\Printers'
WINDOWS_DIR = 'C:\\windows'
# The versions Wine can present, by family; the runner sets one for
# QVUninst.exe alone (Wine's per-program Version setting).
WINDOWS_VERSIONS = {'win95': '95/98', 'win98': '95/98', 'winme': '95/98',
                    'nt40': 'NT', 'win2k': 'NT', 'winxp': 'NT', 'win7': 'NT', 'win10': 'NT'}
DEFAULT_VERSIONS = {'NT': 'win7', '95/98': 'win98'}
# The Unix locale under which Wine's ANSI code page is the machine's.
LOCALES = {1252: 'C.UTF-8', 932: 'ja_JP.UTF-8'}
JOB_STATUSES = {'paused': 0x1, 'error': 0x2, 'spooling': 0x8, 'printing': 0x10}
TOOLS_DIR = 'C:\\qvtools'
# The drives laid down besides C: (Z: is Wine's own, the host's root).
OTHER_DRIVES = 'DEFGHIJKLMNOPQRSTUVWXY'
JOB_LIST = TOOLS_DIR + '\\jobs.txt'
# Programs named by their full path start without start.exe's extra process.
SYSTEM32 = 'C:\\windows\\system32\\'
OPENED_LOG = TOOLS_DIR + '\\out\\opened.txt'
# Large files the runs never write: shared by hard link instead of copied.
LINKED_SUFFIXES = ('.dll', '.exe', '.drv', '.sys', '.ocx', '.cpl', '.acm', '.tlb', '.ax', '.ds', '.vxd',
                   '.mui', '.nls', '.ttf', '.fon', '.msstyles', '.com', '.tsp', '.src')


class RunnerError(Exception):
    pass


def log(message):
    print('qvwine: ' + message, file=sys.stderr, flush=True)


# ---- Wine installation ----------------------------------------------------------

class Wine:
    """Wine's 32-bit loader with the i686 build: the QVUninst.exe that ships
    and the helpers built with it."""

    loader = '/usr/lib/wine/wine'

    def __init__(self, build_dir):
        self.locale = LOCALES[1252]  # set to the machine's before its run
        self.binaries = os.path.join(build_dir, 'wine')
        self.exe = os.path.join(build_dir, 'QVUninst.exe')
        # The native server serves 32-bit prefixes too, without the emulator.
        self.server = next((s for s in ('/usr/lib/wine/wineserver64', '/usr/lib/wine/wineserver32')
                            if os.path.exists(s)), '/usr/lib/wine/wineserver')
        self.template = os.path.normpath(os.path.join(build_dir, '..', 'wine-template'))

    def env(self, prefix, display=None):
        env = dict(os.environ)
        env.update({'WINEPREFIX': prefix, 'WINEARCH': 'win32', 'WINELOADER': self.loader,
                    # Wine's ANSI code page follows the Unix locale.
                    'LC_ALL': self.locale,
                    'WINESERVER': self.server, 'WINEDEBUG': '-all',
                    # No Mono or Gecko installers, no desktop menu entries.
                    'WINEDLLOVERRIDES': 'mscoree,mshtml=;winemenubuilder.exe=d'})
        env.pop('DISPLAY', None)
        if display:
            env['DISPLAY'] = display
        return env

    def run(self, prefix, args, display=None, timeout=300, extra_env=None):
        env = self.env(prefix, display)
        env.update(extra_env or {})
        return subprocess.run([self.loader] + args, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout)

    def server_call(self, prefix, *args):
        subprocess.run([self.server] + list(args), env=self.env(prefix), timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


HELPERS = ('qvdriver.exe', 'qvhook.dll', 'qvjobs.dll', 'qvwindow.exe', 'qvhold.exe', 'qvmon.dll', 'command.com',
           'setup_granted.dll', 'setup_refused.dll', 'setup_noexport.dll')


def why_32bit_wine_cannot_start():
    """None when Wine's 32-bit loader runs here, else the reason."""
    if not os.path.exists(Wine.loader):
        return '%s is missing: tools/install_deps.sh wine installs it' % Wine.loader
    try:
        done = subprocess.run([Wine.loader, '--version'], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=120)
    except OSError as error:
        reason = error.strerror
    else:
        if done.returncode == 0:
            return None
        reason = done.stdout.decode('latin-1').strip() or 'exit code %d' % done.returncode
    return ('32-bit Wine cannot start (%s %s); where the kernel refuses 32-bit programs, '
            'tools/install_deps.sh registers the user-mode emulator for them' % (Wine.loader, reason))


def find_wine(build_dir):
    reason = why_32bit_wine_cannot_start()
    if reason:
        raise RunnerError(reason)
    wine = Wine(build_dir)
    for name in HELPERS:
        if not os.path.exists(os.path.join(wine.binaries, name)):
            raise RunnerError('%s is not built: cmake --build --preset win32' % os.path.join(wine.binaries, name))
    if not os.path.exists(wine.exe):
        raise RunnerError('%s is not built: cmake --build --preset win32' % wine.exe)
    return wine


def wine_version():
    done = subprocess.run(['dpkg-query', '-W', '-f', '${Package} ${Version} ', 'wine', 'fonts-wine'], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
    return done.stdout.decode() or 'unknown'


UNUSED_SERVICES = ('Eventlog', 'MountMgr', 'NDIS', 'nsiproxy', 'PlugPlay', 'RpcSs')
ROOT_DEVICES = 'System\\CurrentControlSet\\Enum\\ROOT\\WINE'


def ensure_template(wine):
    """The template prefix, made once per Wine version: wineboot's work plus
    the settings every run wants."""
    stamp_text = 'wine %s win32, without %s and %s\n' % (wine_version(), ' '.join(UNUSED_SERVICES), ROOT_DEVICES)
    stamp = os.path.join(wine.template, 'qv-template.stamp')
    os.makedirs(os.path.dirname(wine.template), exist_ok=True)
    with open(wine.template + '.lock', 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(stamp) and open(stamp).read() == stamp_text:
            return
        log('making the template prefix %s (once)' % wine.template)
        shutil.rmtree(wine.template, ignore_errors=True)
        started = time.time()
        done = wine.run(wine.template, ['wineboot', '-i'], timeout=600)
        if done.returncode != 0:
            raise RunnerError('wineboot failed:\n' + done.stdout.decode('latin-1'))
        wine.server_call(wine.template, '-w')
        append_reg(os.path.join(wine.template, 'user.reg'), [
            # Without a window manager Wine waits 2 s for every window it hides.
            ('Software\\Wine\\X11 Driver', [('Managed', mf.REG_SZ, b'N\0')]),
            ('Software\\Wine\\WineDbg', [('ShowCrashDialog', mf.REG_DWORD, (0).to_bytes(4, 'little'))]),
        ])
        # Services no run uses, each a process under the emulator at every
        # session start: the event log, the mount manager (drive letters come
        # from dosdevices), the network drivers, plug and play, and RPC's
        # endpoint mapper, which only the desktop's COM start-up asks for.
        disabled = [('Start', mf.REG_DWORD, (4).to_bytes(4, 'little'))]
        system_reg = os.path.join(wine.template, 'system.reg')
        append_reg(system_reg, [
            ('System\\CurrentControlSet\\Services\\' + name, disabled) for name in UNUSED_SERVICES])
        # The service manager starts the drivers of Wine's root devices (the
        # HID and USB buses) whatever their start type: without the devices,
        # no device host process starts at all.
        drop_keys(system_reg, ROOT_DEVICES)
        with open(stamp, 'w') as file:
            file.write(stamp_text)
        log('template ready in %.1f s' % (time.time() - started))


def copy_template(template, prefix):
    for top, dirs, files in os.walk(template):
        relative = os.path.relpath(top, template)
        target_dir = os.path.normpath(os.path.join(prefix, relative))
        os.makedirs(target_dir, exist_ok=True)
        for name in dirs:
            source = os.path.join(top, name)
            if os.path.islink(source):
                os.symlink(os.readlink(source), os.path.join(target_dir, name))
        dirs[:] = [d for d in dirs if not os.path.islink(os.path.join(top, d))]
        for name in files:
            source = os.path.join(top, name)
            target = os.path.join(target_dir, name)
            if os.path.islink(source):
                os.symlink(os.readlink(source), target)
            elif name.lower().endswith(LINKED_SUFFIXES) and 'spool' not in relative.lower().split(os.sep):
                os.link(source, target)
            else:
                shutil.copy2(source, target)


# ---- Wine's registry files -------------------------------------------------------

def _wine_string(text, specials='\\"'):
    """A Unicode text in the quoted form of Wine's registry files; specials
    are escaped with a backslash."""
    out = []
    for c in text:
        if c in specials:
            out.append('\\' + c)
        elif 32 <= ord(c) < 127:
            out.append(c)
        else:
            out.append('\\x%04x' % ord(c))
    return '"' + ''.join(out) + '"'


def _wine_value(name, kind, raw, code_page):
    # The machine's texts are ANSI; Wine keeps the registry in Unicode.
    line = (_wine_string(mf.to_unicode(name, code_page)) if name else '@') + '='
    if kind in (mf.REG_SZ, mf.REG_EXPAND_SZ) and raw.endswith(b'\0') and b'\0' not in raw[:-1]:
        text = _wine_string(mf.to_unicode(raw[:-1].decode('latin-1'), code_page))
        return line + (text if kind == mf.REG_SZ else 'str(2):' + text)
    if kind == mf.REG_DWORD and len(raw) == 4:
        return line + 'dword:%08x' % int.from_bytes(raw, 'little')
    if kind == mf.REG_MULTI_SZ:
        raw = mf.to_unicode(raw.decode('latin-1'), code_page).encode('utf-16-le')
    prefix = 'hex:' if kind == mf.REG_BINARY else 'hex(%x):' % kind
    return line + prefix + ','.join('%02x' % b for b in raw)


def drop_keys(path, key_path):
    """Takes a key and its subkeys out of one of Wine's registry files
    (written whole, not yet loaded)."""
    header = '[' + key_path.replace('\\', '\\\\').lower()
    with open(path, encoding='ascii') as file:
        blocks = file.read().split('\n\n')
    kept = [b for b in blocks if not (b.lower().startswith(header + ']') or b.lower().startswith(header + '\\\\'))]
    with open(path, 'w', encoding='ascii') as file:
        file.write('\n\n'.join(kept))


def append_reg(path, keys, code_page=1252):
    """Appends keys to one of Wine's registry files; a key that is there
    already gets the values merged in when Wine loads the file."""
    lines = ['']
    for key_path, values in keys:
        # A key name ends at the first bracket that is not escaped.
        lines.append('[%s] 0' % _wine_string(mf.to_unicode(key_path, code_page), '\\"[]')[1:-1])
        for name, kind, raw in values:
            lines.append(_wine_value(name, kind, raw, code_page))
        lines.append('')
    with open(path, 'a', encoding='ascii') as file:
        file.write('\n'.join(lines))


# ---- the machine in the prefix ---------------------------------------------------

# Read-only is a file without write permission to Wine; hidden and system
# live in the user.DOSATTRIB extended attribute (Wine 8, on file systems that
# have them). Wine reports every file as archive.
READ_ONLY, HIDDEN_AND_SYSTEM = 0x1, 0x6
LAID_DOWN_ATTRIBUTES = READ_ONLY | HIDDEN_AND_SYSTEM
DOS_ATTRIBUTES = 'user.DOSATTRIB'


def what_wine_cannot_hold(machine):
    """Why a prefix can't hold the machine as it is, or None."""
    if machine.administrators != 'yes':
        return ('[Machine] Administrators=%s: Wine\'s user holds the Administrators group, enabled'
                % machine.administrators)
    if machine.delete_command_runs != 'after-exit':
        return ('[Machine] DeleteCommandRuns=%s: Wine\'s processes run as the host schedules them, not by '
                'their priority class, so no order of the delete command and the uninstaller can be set'
                % machine.delete_command_runs)
    if machine.free_bytes is not None:
        return ('[Machine] FreeBytes=%d: the prefix\'s drive is the host\'s file system, whose free space '
                'can\'t be set' % machine.free_bytes)
    for how, path, is_dir in machine.held:
        if mf.fold(path) == mf.fold(machine.executable) and how == 'open':
            return '[Locked] %s=open: an executable open without sharing does not start' % path
        if mf.fold(path) == mf.fold(machine.executable) and machine.family != 'NT':
            return ('[Locked] %s=%s: the runner releases the files in use when the uninstaller ends, before the '
                    'delete command runs' % (path, how))
        if is_dir and how == 'loaded':
            return '[Locked] %s=loaded: a directory is never loaded' % path
    for path, is_dir, bits in machine.attributes:
        if is_dir and bits & READ_ONLY:
            return ('[Attributes] %s=readonly: Wine 8 removes a read-only directory, which the stand-in '
                    'refuses as it refuses a read-only file' % path)
    for letter, (path, is_dir) in sorted(machine.drive_directories.items()):
        if not is_dir or mf.fold(path[:3]) != letter + ':\\':
            return ('[DriveDirectories] %s:=%s names no directory of that drive: Windows then takes the '
                    'drive\'s root, Wine 8 the text as it is' % (letter, path))
    return None


def job_of(text):
    """A machine folder's "document|paused,printing" as (document, JOB_STATUS_* bits)."""
    document, _, statuses = text.partition('|')
    return document, sum(bit for name, bit in JOB_STATUSES.items() if name in statuses)


class Machine:
    def __init__(self, folder):
        self.folder = folder
        self.sections = mf.parse_ini(mf.read_text(os.path.join(folder, 'machine.ini')))
        machine = (mf.sections_named(self.sections, 'Machine') or [('Machine', [])])[0][1]
        self.family = mf.get(machine, 'Family', 'NT')
        self.code_page = int(mf.get(machine, 'CodePage', '1252'), 0)
        self.windows_dir = mf.get(machine, 'WindowsDirectory', 'C:\\WINDOWS')
        self.current_dir = mf.get(machine, 'CurrentDirectory', 'C:\\WINDOWS')
        self.executable = mf.normal_path(mf.get(machine, 'Executable', 'C:\\Program Files\\Lumora\\QVUninst.exe'),
                                         int(mf.get(machine, 'CodePage', '1252'), 0))
        reg_path = os.path.join(folder, 'registry.reg')
        self.registry = mf.parse_reg(mf.read_text(reg_path)) if os.path.exists(reg_path) else {}
        self.tree = mf.read_tree(folder, self.sections)
        self.printers = [(mf.get(e, 'Name', ''), mf.get(e, 'Port', ''), mf.get(e, 'Driver', 'Generic / Text Only'))
                         for _, e in mf.sections_named(self.sections, 'Printer')]
        self.jobs = {mf.get(e, 'Name', ''): [job_of(v) for k, v in e if mf.fold(k).startswith('JOB')]
                     for _, e in mf.sections_named(self.sections, 'Printer')}
        self.windows = [(mf.get(e, 'Title', ''), mf.get(e, 'Class', '')) for _, e in mf.sections_named(self.sections, 'Window')]
        self.libraries = [(mf.get(e, 'Path', ''), mf.get(e, 'CheckUserPrivilege')) for _, e in
                          mf.sections_named(self.sections, 'Library')]
        self.answers = [v for _, e in mf.sections_named(self.sections, 'Answers') for _, v in e]
        # The Windows directory's WININIT.INI: its path as the folder spells it, and its bytes (None: no file).
        self.wininit = self.windows_dir.rstrip('\\') + '\\WININIT.INI'
        known = self.tree.get(mf.fold(self.wininit, self.code_page))
        self.wininit, self.wininit_data = (known[0], known[2]) if known and not known[1] else (self.wininit, None)
        if mf.fold(self.windows_dir.rstrip('\\')) != mf.fold(WINDOWS_DIR):
            raise RunnerError('Wine\'s Windows directory is C:\\windows; the machine has ' + self.windows_dir)
        if self.code_page not in LOCALES:
            raise RunnerError('the Wine runner lays down code pages %s only' % ', '.join(map(str, LOCALES)))
        self._read_conditions(mf.read_machine(folder))

    def _read_conditions(self, standin):
        """The machine as it is, read as the stand-in reads it: files in use,
        attributes and 8.3 aliases. Paths given by an alias are laid down by
        their long form; the executable and the current directory too."""
        given = self.executable
        self.executable = standin.resolve(given) or given
        self.started_by_short_path = mf.fold(self.executable) != mf.fold(given)
        self.current_dir = standin.resolve(self.current_dir) or self.current_dir
        nodes = sorted(standin.nodes.values(), key=lambda n: mf.fold(n.path))
        self.held = [(n.in_use, n.path, n.is_dir) for n in nodes if n.in_use != 'no']
        self.attributes = [(n.path, n.is_dir, n.attributes & LAID_DOWN_ATTRIBUTES) for n in nodes
                           if n.attributes & LAID_DOWN_ATTRIBUTES]
        self.administrators = standin.administrators
        self.delete_command_runs = standin.delete_command_runs
        self.free_bytes = standin.free_bytes
        self.drive_directories = {letter: (path, bool(standin.node(path) and standin.node(path).is_dir))
                                  for letter, path in standin.drive_directories.items()}
        why = what_wine_cannot_hold(self)
        if why:
            raise RunnerError('the machine can\'t be laid down under Wine: ' + why)

    def monitor_drivers(self):
        """Monitor libraries the registry names, other than Wine's own localspl.dll."""
        drivers = []
        for folded, key in self.registry.items():
            parent, _, _ = key.path.rpartition('\\')
            if mf.fold(parent) != mf.fold(MONITORS):
                continue
            value = key.values.get(mf.fold('Driver'))
            if value and value[1] == mf.REG_SZ:
                name = value[2].rstrip(b'\0').decode('latin-1')
                if mf.fold(name) != mf.fold('localspl.dll'):
                    drivers.append(name)
        return drivers


class Prefix:
    """A Wine prefix's drives, addressed by the machine's ANSI paths, letter
    case aside; Wine keeps each name in Unicode, as UTF-8 on the host. C: is
    the template's; another drive is a folder of the prefix that
    dosdevices names, made when the machine has one."""

    def __init__(self, root, code_page):
        self.root = root
        self.drives = {'C': os.path.join(root, 'drive_c')}
        self.code_page = code_page
        self.long_forms = {}  # folded 8.3 form -> long form, as Wine gave them

    def add_drive(self, letter):
        if letter in self.drives:
            return
        if letter not in OTHER_DRIVES:
            raise RunnerError('the runner lays down drives C: and %s: to %s: only; the machine has %s:'
                              % (OTHER_DRIVES[0], OTHER_DRIVES[-1], letter))
        name = 'drive_' + letter.lower()
        os.makedirs(os.path.join(self.root, name))
        os.symlink(os.path.join('..', name), os.path.join(self.root, 'dosdevices', letter.lower() + ':'))
        self.drives[letter] = os.path.join(self.root, name)

    def learn_short_forms(self, result):
        """Wine's 8.3 forms of the machine's paths, read by the driver before
        the run: the run may name a path by one."""
        for _, long_and_short in (e for _, section in mf.sections_named(result, 'ShortNames') for e in section):
            long_path, _, short_path = long_and_short.partition('|')
            self.long_forms[mf.fold(short_path, self.code_page)] = long_path

    def long_form(self, path):
        pieces = mf.split_path(path, self.code_page)
        for count in range(len(pieces), 1, -1):
            known = self.long_forms.get(mf.fold('\\'.join(pieces[:count]), self.code_page))
            if known:
                return '\\'.join([known] + pieces[count:])
        return path

    def resolve(self, path, create_dirs=False):
        """Host path of a drive path: each piece matched to an existing entry
        regardless of case (Wine's own lookup), else taken as written; an 8.3
        form Wine gave is taken to its long form first."""
        drive = self.drives.get(path[:1].upper())
        if not drive or path[1:3] != ':\\':
            raise RunnerError('no drive laid down holds ' + path)
        path = self.long_form(path)
        current = drive
        pieces = mf.split_path(path[3:], self.code_page)
        for index, piece in enumerate(pieces):
            match = None
            if os.path.isdir(current):
                for entry in os.listdir(current):
                    if mf.fold(mf.to_ansi(entry, self.code_page)) == mf.fold(piece):
                        match = entry
                        break
            current = os.path.join(current, match or mf.to_unicode(piece, self.code_page))
            if create_dirs and index < len(pieces) - 1:
                os.makedirs(current, exist_ok=True)
        return current

    def put_file(self, path, data):
        target = self.resolve(path, create_dirs=True)
        if os.path.lexists(target):
            os.unlink(target)  # never write through a hard link into the template
        with open(target, 'wb') as file:
            file.write(data)

    def put_directory(self, path):
        os.makedirs(self.resolve(path, create_dirs=True), exist_ok=True)

    def set_attributes(self, path, bits):
        host = self.resolve(path)
        if bits & READ_ONLY:
            os.chmod(host, os.stat(host).st_mode & ~0o222)
        if bits & HIDDEN_AND_SYSTEM:
            os.setxattr(host, DOS_ATTRIBUTES, b'0x%x' % (bits & HIDDEN_AND_SYSTEM))

    def attributes(self, path):
        """Read-only, hidden and system as Wine reports them."""
        host = self.resolve(path)
        bits = 0 if os.stat(host).st_mode & 0o222 else READ_ONLY
        try:
            bits |= int(os.getxattr(host, DOS_ATTRIBUTES).split(b'\0')[0], 16) & HIDDEN_AND_SYSTEM
        except (OSError, ValueError):
            pass
        return bits


def setup_library_for(result):
    if result is None:
        return 'setup_noexport.dll'
    return 'setup_granted.dll' if int(result, 0) != 0 else 'setup_refused.dll'


WININIT_BEFORE = TOOLS_DIR + '\\wininit-before.ini'  # a WININIT.INI, until the driver moves it in place
WININIT_HELD = TOOLS_DIR + '\\wininit-held.ini'  # the run's, while the delete commands run


def lay_down(machine, prefix, wine):
    """The drives, the swapped-in programs and the helpers; returns the swapped paths."""
    for letter in sorted({path[0].upper() for path, _, _ in machine.tree.values()} | set(machine.drive_directories)):
        prefix.add_drive(letter)
    for folded in sorted(machine.tree):
        path, is_dir, data = machine.tree[folded]
        if is_dir:
            prefix.put_directory(path)
        elif folded == mf.fold(machine.wininit, machine.code_page):
            prefix.put_file(WININIT_BEFORE, data)
        else:
            prefix.put_file(path, data)

    def binary(name):
        with open(os.path.join(wine.binaries, name), 'rb') as file:
            return file.read()

    swapped = set()
    with open(wine.exe, 'rb') as file:
        prefix.put_file(machine.executable, file.read())
    swapped.add(mf.fold(machine.executable))
    for path, result in machine.libraries:
        if mf.fold(path) in machine.tree and not machine.tree[mf.fold(path)][1]:
            prefix.put_file(path, binary(setup_library_for(result)))
            swapped.add(mf.fold(path))
    # Only where the machine has the monitor's library: without it Wine's
    # spooler does not know the monitor's ports (DeletePortA fails with 50).
    for driver in machine.monitor_drivers():
        path = driver if '\\' in driver else WINDOWS_DIR + '\\system32\\' + driver
        if mf.fold(path) in machine.tree:
            prefix.put_file(path, binary('qvmon.dll'))
            swapped.add(mf.fold(path))
    prefix.put_file(WINDOWS_DIR + '\\command.com', binary('command.com'))
    for name in ('qvdriver.exe', 'qvhook.dll', 'qvjobs.dll', 'qvwindow.exe', 'qvhold.exe'):
        prefix.put_file(TOOLS_DIR + '\\' + name, binary(name))
    prefix.put_directory(TOOLS_DIR + '\\out')
    for path, _, bits in machine.attributes:
        staged = mf.fold(path, machine.code_page) == mf.fold(machine.wininit, machine.code_page)
        prefix.set_attributes(WININIT_BEFORE if staged else path, bits)
    return swapped


def write_registry(machine, prefix_dir, version):
    keys = []
    for folded in sorted(machine.registry, key=lambda k: k.split('\\')):
        key = machine.registry[folded]
        keys.append((key.path, list(key.values.values())))
    for name, port, driver in machine.printers:
        def sz(text):
            return text.encode('latin-1') + b'\0'
        # Print Processor and Datatype, or OpenPrinterA fails with 1801.
        keys.append((PRINTERS + '\\' + name, [
            ('Name', mf.REG_SZ, sz(name)), ('Port', mf.REG_SZ, sz(port)), ('Printer Driver', mf.REG_SZ, sz(driver)),
            ('Print Processor', mf.REG_SZ, sz('winprint')), ('Datatype', mf.REG_SZ, sz('RAW')),
            ('Attributes', mf.REG_DWORD, (0).to_bytes(4, 'little')),
            ('Priority', mf.REG_DWORD, (1).to_bytes(4, 'little'))]))
    append_reg(os.path.join(prefix_dir, 'system.reg'), keys, machine.code_page)
    # For the uninstaller alone: GetVersion then gives that version, and on the
    # 95/98 family the registry behaves as 95/98's.
    append_reg(os.path.join(prefix_dir, 'user.reg'), [
        ('Software\\Wine\\AppDefaults\\' + ntpath.basename(machine.executable),
         [('Version', mf.REG_SZ, version.encode('ascii') + b'\0')])])


def write_lists(machine, prefix, first_run):
    """The driver's lists: the files to hold in use (in the first run only:
    the restart releases them, as the stand-in's does), and the paths whose
    8.3 forms it reads (Wine makes its own, which the run's results may
    name); and WININIT.INI, put in place by the driver and copied to the
    results. Gives the control lines that name them."""
    lines = []
    if machine.held and first_run:
        held = ''.join('%s=%s\r\n' % (how, path) for how, path, _ in machine.held)
        prefix.put_file(TOOLS_DIR + '\\hold.txt', held.encode('latin-1'))
        lines += ['holder=' + TOOLS_DIR + '\\qvhold.exe', 'hold=' + TOOLS_DIR + '\\hold.txt']
    paths = sorted({machine.tree[folded][0] for folded in machine.tree} | {machine.executable})
    prefix.put_file(TOOLS_DIR + '\\paths.txt', ''.join(path + '\r\n' for path in paths).encode('latin-1'))
    lines.append('shortnames=' + TOOLS_DIR + '\\paths.txt')
    if machine.started_by_short_path:
        lines.append('exe_by_short_path=1')
    # Whatever WININIT.INI the prefix holds (the machine's, or one a first run
    # left) waits aside until the driver's session has started.
    lines.append('wininit=' + machine.wininit)
    if os.path.isfile(prefix.resolve(machine.wininit)):
        os.replace(prefix.resolve(machine.wininit), prefix.resolve(WININIT_BEFORE))
    if os.path.isfile(prefix.resolve(WININIT_BEFORE)):
        lines.append('wininit_before=' + WININIT_BEFORE)
    return lines


def write_control(machine, prefix, answers, shots, cut_after_steps=None, first_run=True):
    exports = mf.top_keys(machine.registry)
    lines = ['exe=' + machine.executable, 'cwd=' + machine.current_dir, 'out=' + TOOLS_DIR + '\\out',
             'hook=' + TOOLS_DIR + '\\qvhook.dll', 'keeper=' + TOOLS_DIR + '\\qvwindow.exe',
             'jobs=' + TOOLS_DIR + '\\qvjobs.dll', 'timeout=120'] + write_lists(machine, prefix, first_run)
    if cut_after_steps:
        lines.append('cut=%d' % cut_after_steps)
    lines += ['answer=' + a for a in answers]
    lines += ['window=%s|%s' % tuple(text.encode('latin-1').hex() for text in w) for w in machine.windows]
    lines += ['driver=' + d for d in sorted({p[2] for p in machine.printers})]
    lines += ['drive_directory=' + path for _, (path, _) in sorted(machine.drive_directories.items())]
    lines += ['export=' + e for e in exports]
    if shots:
        lines.append('shots=' + TOOLS_DIR + '\\shots')
        prefix.put_directory(TOOLS_DIR + '\\shots')
    prefix.put_file(TOOLS_DIR + '\\run.txt', ('\r\n'.join(lines) + '\r\n').encode('latin-1'))
    # What qvjobs.dll answers EnumJobsA with, for every printer of the machine.
    jobs = []
    for name, _, _ in machine.printers:
        jobs.append('printer=' + name)
        jobs += ['job=%s|%d' % job for job in machine.jobs.get(name, [])]
    prefix.put_file(JOB_LIST, ('\r\n'.join(jobs) + '\r\n').encode('latin-1'))


# ---- the run ------------------------------------------------------------------------

class Xvfb:
    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1024x768x24',
                                         '-nolisten', 'tcp'],
                                        pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b''
        with os.fdopen(read_end, 'rb') as pipe:
            while not number.endswith(b'\n'):
                chunk = pipe.read(1)
                if not chunk:
                    raise RunnerError('Xvfb did not start')
                number += chunk
        self.display = ':' + number.decode().strip()
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait(timeout=30)


class DriverHung(RunnerError):
    """The driver itself, not the uninstaller (which it stops at its own time
    limit), stopped answering."""


def run_driver(wine, prefix_dir, display):
    wine.server_call(prefix_dir, '-p0')  # ends with the last process: no linger
    started = time.time()
    try:
        done = wine.run(prefix_dir, [TOOLS_DIR + '\\qvdriver.exe', TOOLS_DIR + '\\run.txt'], display=display,
                        timeout=300, extra_env={'QV_PROCESS_LOG': TOOLS_DIR + '\\out\\processes.txt',
                                                'QV_JOBS': JOB_LIST, 'QV_OPENED_LOG': OPENED_LOG})
    except subprocess.TimeoutExpired as error:
        # The driver's steps say how far it got.
        raise DriverHung('the driver did not end in %d s; it said:\n%s'
                         % (error.timeout, (error.output or b'').decode('latin-1')))
    output = done.stdout.decode('latin-1')
    wine.server_call(prefix_dir, '-w')
    if done.returncode != 0:
        raise RunnerError('the driver failed (%d):\n%s' % (done.returncode, output))
    return output, time.time() - started


# ---- the restart ------------------------------------------------------------------------

DELETE_COMMAND = 'command.com /c del '


def name_deleted_by(command_line):
    """The one name a delete command gives, as a command interpreter reads it:
    a quoted path, or one word; '' when it gives several or leaves a quote open."""
    name = command_line[len(DELETE_COMMAND):]
    if not name.startswith('"'):
        return name if not any(c in name for c in ' \t"') else ''
    return name[1:-1] if len(name) > 2 and name.find('"', 1) == len(name) - 1 else ''


def kind_of(prefix, path):
    if len(path.rstrip('\\')) <= 2:
        return 'root'
    host = prefix.resolve(path)
    return 'directory' if os.path.isdir(host) else 'file' if os.path.isfile(host) else None


def delete_at_exit(wine, prefix, command_line):
    """A delete command the run started, once the uninstaller has exited: the
    same command line, run by Wine's own command interpreter."""
    name = name_deleted_by(command_line)
    if not name:
        return command_line, 'refused (not one name)'
    before = kind_of(prefix, name)
    if before in ('directory', 'root'):
        return name, 'kept (a directory)'  # its files would go only once the user confirms
    if before is None:
        return name, 'missing'
    # The name as one argument: Wine quotes it for the interpreter as the command line did.
    wine.run(prefix.root, [SYSTEM32 + 'cmd.exe', '/c', 'del', name], timeout=120)
    wine.server_call(prefix.root, '-w')
    return name, 'deleted' if kind_of(prefix, name) is None else kept_file(prefix, name)


def kept_file(prefix, path):
    """Why a file still there was kept, in the sim runner's words."""
    return 'kept (read-only)' if prefix.attributes(path) & READ_ONLY else 'kept (in use)'


def rename_lines(text):
    """The (key, value) lines of every [rename] section of a WININIT.INI, as
    the stand-in's boot step reads them (sim/restart.cpp): blanks and tabs
    trimmed, comments and lines without '=' left out."""
    lines, in_rename = [], False
    for raw in text.split('\n'):
        line = raw[:-1] if raw.endswith('\r') else raw
        line = line.strip(' \t')
        if not line or line.startswith(';'):
            continue
        if line.startswith('['):
            in_rename = line[1:].split(']', 1)[0].strip(' \t').upper() == 'RENAME'
        elif in_rename and '=' in line:
            key, _, value = line.partition('=')
            lines.append((key.strip(' \t'), value.strip(' \t')))
    return lines


def kind_or_none(prefix, path):
    """kind_of for a path the boot step may be given: None for one not on C:."""
    return kind_of(prefix, path) if mf.fold(path[:3]) == 'C:\\' else None


class WinInitLine:
    """A [rename] line, and what it named before Wine's boot step ran."""

    def __init__(self, prefix, key, value):
        self.key, self.value = key, value
        self.deletes = key.upper() == 'NUL'
        self.source = kind_or_none(prefix, value)
        self.target = None if self.deletes else kind_or_none(prefix, key)
        self.folder = None if self.deletes else kind_or_none(prefix, ntpath.dirname(key))

    def outcome(self, prefix):
        """In the stand-in's words, from what the boot step left."""
        after = kind_or_none(prefix, self.value)
        if self.source is None:
            return 'missing'
        if self.deletes:
            if self.source in ('directory', 'root'):
                return 'kept (a directory)'
            return 'deleted' if after is None else kept_file(prefix, self.value)
        if after is None and kind_or_none(prefix, self.key) is not None:
            return 'renamed'
        if self.source in ('directory', 'root') or self.target == 'directory':
            return 'kept (a directory)'
        return 'missing' if self.folder not in ('directory', 'root') else 'kept (read-only)'


def restart(wine, prefix, result, machine):
    """What the system does when it next starts, after the run: the delete
    commands the run started are run (95/98 family), then Wine's own boot
    step carries out the [rename] lines of WININIT.INI (95/98 family) and the
    entries pending deletion at restart, in the order they were made (NT
    family). Wine's boot step processes WININIT.INI whenever a session starts,
    on every version: it is held aside while the delete commands run (each
    starts a session) and, on the NT family, which never reads it, for good.
    Gives [(path, outcome)] in the sim runner's words."""
    prefix.learn_short_forms(result)
    wininit, held_path = prefix.resolve(machine.wininit), prefix.resolve(WININIT_HELD)
    held = os.path.isfile(wininit)
    if held:
        os.replace(wininit, held_path)
    entries = []
    for _, command_line in (e for _, section in mf.sections_named(result, 'Processes') for e in section):
        if mf.fold(command_line).startswith(mf.fold(DELETE_COMMAND)):
            entries.append(delete_at_exit(wine, prefix, command_line))
        else:
            entries.append((command_line, 'not simulated'))
    reads_wininit = held and machine.family == '95/98'
    if reads_wininit:
        os.replace(held_path, wininit)
    lines = [WinInitLine(prefix, key, value) for key, value in rename_lines(mf.read_text(wininit))] \
        if reads_wininit else []
    pending = [(path, kind_of(prefix, path)) for _, section in mf.sections_named(result, 'PendingDeletes')
               for _, path in section]
    if pending or reads_wininit:
        done = wine.run(prefix.root, [SYSTEM32 + 'wineboot.exe', '-r'], timeout=600)
        wine.server_call(prefix.root, '-w')
        if done.returncode != 0:
            raise RunnerError('wineboot -r failed:\n' + done.stdout.decode('latin-1'))
    if held and not reads_wininit:
        os.replace(held_path, wininit)
    entries += [('%s=%s' % (line.key, line.value), line.outcome(prefix)) for line in lines]
    for path, before in pending:
        after = kind_of(prefix, path)
        if before == 'root':
            entries.append((path, 'kept (a drive root)'))
        elif before is None:
            entries.append((path, 'missing'))
        elif after is None:
            entries.append((path, 'removed' if before == 'directory' else 'deleted'))
        else:
            entries.append((path, 'kept (not empty)' if before == 'directory' else kept_file(prefix, path)))
    return entries


# ---- reading the result back ---------------------------------------------------------

def made_by_the_run(machine):
    """Files a run or its restart may make, whether the folder had them or
    not: WININIT.INI (the uninstaller on 95/98) and WININIT.BAK (the boot step)."""
    windows_dir = machine.windows_dir.rstrip('\\')
    made = {}
    for path in (machine.wininit, windows_dir + '\\WININIT.BAK'):
        made.setdefault(mf.fold(path, machine.code_page), (path, False, None))
    return made


def export_machine(machine, prefix, swapped, out, restarted=None):
    results = prefix.resolve(TOOLS_DIR + '\\out')
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(os.path.join(out, 'drive_c'))
    if os.path.exists(os.path.join(results, 'wininit.ini')):
        shutil.copyfile(os.path.join(results, 'wininit.ini'), os.path.join(out, 'wininit.ini'))
    tree = {}
    known = made_by_the_run(machine)
    known.update(machine.tree)
    for folded in sorted(known):
        path, is_dir, data = known[folded]
        host = prefix.resolve(path)
        if is_dir and os.path.isdir(host):
            tree[folded] = (path, True, None)
            os.makedirs(mf.host_path(out, path, machine.code_page), exist_ok=True)
        elif not is_dir and os.path.isfile(host):
            if folded not in swapped:
                with open(host, 'rb') as file:
                    data = file.read()
            tree[folded] = (path, False, data)
            target = mf.host_path(out, path, machine.code_page)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, 'wb') as file:
                file.write(data)
    after = mf.parse_reg(mf.read_text(os.path.join(results, 'registry.reg')))
    mf.write_text(os.path.join(out, 'registry.reg'), mf.format_reg(mf.restrict_reg(after, machine.registry)))
    ports = {}
    for _, entries in mf.sections_named(mf.parse_ini(mf.read_text(os.path.join(results, 'printers.ini'))), 'Printer'):
        ports[mf.get(entries, 'Name')] = mf.get(entries, 'Port', '')
    attributes = [(entry[0], prefix.attributes(entry[0])) for _, entry in sorted(tree.items())]
    mf.write_text(os.path.join(out, 'machine.ini'), machine_ini(machine, ports, tree, attributes))
    opened_log = prefix.resolve(OPENED_LOG)
    opened = [line.rstrip('\r') for line in mf.read_text(opened_log).split('\n') if line] \
        if os.path.exists(opened_log) else []
    with open(os.path.join(out, 'result.ini'), 'w', encoding='latin-1', newline='\n') as file:
        file.write(mf.read_text(os.path.join(results, 'result.ini')).rstrip('\n') + '\n')
        # Every printer the uninstaller opened, in order, as qvjobs.dll saw it.
        file.write('\n[OpenedPrinters]\n' + ''.join('%d=%s\n' % (i, n) for i, n in enumerate(opened, 1)))
        if restarted is not None:
            file.write('\n[Restart]\n' + ''.join('%d=%s|%s\n' % (i, path, outcome)
                                                 for i, (path, outcome) in enumerate(restarted, 1)))
    return mf.parse_ini(mf.read_text(os.path.join(out, 'result.ini')))


def machine_ini(machine, ports, tree, attributes):
    out = []
    for name, entries in machine.sections:
        if mf.fold(name).startswith(('PRINTER', 'DIRECTORIES', 'ATTRIBUTES')):
            continue
        out.append('[%s]' % name)
        out.extend('%s=%s' % entry for entry in entries)
        out.append('')
    for index, (name, port, driver) in enumerate(machine.printers, 1):
        if name not in ports:
            continue  # the spooler no longer lists it
        out += ['[Printer%d]' % index, 'Name=' + name, 'Port=' + ports[name], 'Driver=' + driver, '']
    empty = mf.empty_directories(tree)
    if empty:
        out.append('[Directories]')
        out.extend('%d=%s' % (i, p) for i, p in enumerate(empty, 1))
        out.append('')
    kept = [(path, mf.format_attributes(bits)) for path, bits in attributes if bits]
    if kept:
        out.append('[Attributes]')
        out.extend('%d=%s|%s' % (i, path, names) for i, (path, names) in enumerate(kept, 1))
        out.append('')
    return '\n'.join(out)


def check_family(machine, result, version_name):
    """GetVersion as the uninstaller saw it (qvhook.dll reads it in its
    process) must carry the machine's family, and its ANSI code page be the
    machine's."""
    entries = (mf.sections_named(result, 'Result') or [('Result', [])])[0][1]
    version = int(mf.get(entries, 'Version', '0'), 16)
    if not version:
        raise RunnerError('the uninstaller showed no box: nothing tells which version it saw')
    nt = version < 0x80000000
    if nt != (machine.family == 'NT'):
        raise RunnerError('GetVersion gave 0x%08X in the uninstaller under %s, not the %s family'
                          % (version, version_name, machine.family))
    code_page = int(mf.get(entries, 'CodePage', '0'))
    if code_page != machine.code_page:
        raise RunnerError('the uninstaller ran in code page %d, not the machine\'s %d (is the %s locale there?)'
                          % (code_page, machine.code_page, LOCALES[machine.code_page]))
    return version


def windows_version(machine, asked):
    version = asked or DEFAULT_VERSIONS[machine.family]
    if WINDOWS_VERSIONS.get(version) != machine.family:
        raise RunnerError('%s is not a Windows version of the %s family (%s)' % (
            version, machine.family, ', '.join(v for v, f in WINDOWS_VERSIONS.items() if f == machine.family)))
    return version


def convert_shots(prefix, shots_out):
    import bmp_to_png
    source = prefix.resolve(TOOLS_DIR + '\\shots')
    os.makedirs(shots_out, exist_ok=True)
    saved = []
    for name in sorted(os.listdir(source)):
        if name.endswith('.bmp'):
            target = os.path.join(shots_out, name[:-4] + '.png')
            bmp_to_png.convert(os.path.join(source, name), target)
            saved.append(target)
    return saved


def run_uninstaller(wine, machine, prefix, answers, display, shots, cut_after_steps, restart_after, first_run=True):
    """One run of the uninstaller in the prefix as it is, then the restart
    when asked: the uninstaller's time and what the restart did (None
    without one)."""
    write_control(machine, prefix, answers, shots, cut_after_steps, first_run)
    output, seconds = run_driver(wine, prefix.root, display)
    sys.stdout.write(output)
    restarted = None
    if restart_after:
        restarted = restart(wine, prefix, run_result(prefix), machine)
        for path, outcome in restarted:
            print('restart: %s: %s' % (path, outcome))
    return seconds, restarted


def run_result(prefix):
    return mf.parse_ini(mf.read_text(prefix.resolve(TOOLS_DIR + '\\out\\result.ini')))


def set_aside_first_run(machine, prefix, swapped, version_name, first_out, restarted):
    """The first run's machine written to first_out (when given), its family
    checked; then the driver's results and logs are emptied for the second."""
    if first_out:
        export_machine(machine, prefix, swapped, first_out, restarted)
    check_family(machine, run_result(prefix), version_name)
    shutil.rmtree(prefix.resolve(TOOLS_DIR + '\\out'))
    prefix.put_directory(TOOLS_DIR + '\\out')


def run_in_fresh_prefix(wine, machine, answers, version_name, options):
    """The machine's run in a prefix of its own (with --second-run, both runs
    and the restart between them, in the same prefix): the uninstaller's time
    in each run, the machine written back and the version it saw."""
    runs = os.path.join(os.path.dirname(wine.template), 'wine-runs')
    os.makedirs(runs, exist_ok=True)
    prefix_dir = tempfile.mkdtemp(prefix='run-', dir=runs)
    try:
        copy_template(wine.template, prefix_dir)
        prefix = Prefix(prefix_dir, machine.code_page)
        swapped = lay_down(machine, prefix, wine)
        write_registry(machine, prefix_dir, version_name)
        with Xvfb() as x:
            seconds, restarted = run_uninstaller(wine, machine, prefix, answers, x.display, options.shots,
                                                 options.cut_after_steps, options.restart or options.second_run)
            seconds = [seconds]
            if options.second_run:
                set_aside_first_run(machine, prefix, swapped, version_name, options.first_out, restarted)
                more, restarted = run_uninstaller(wine, machine, prefix, answers, x.display, None, None,
                                                  options.restart, first_run=False)
                seconds.append(more)
        result = export_machine(machine, prefix, swapped, options.out, restarted)
        version = check_family(machine, result, version_name)
        if options.shots:
            for path in convert_shots(prefix, options.shots):
                log('screenshot ' + path)
    finally:
        # Whatever is still running in the prefix (after a failure) ends with its server.
        wine.server_call(prefix_dir, '-k')
        if options.keep_prefix:
            log('prefix kept in ' + prefix_dir)
        else:
            shutil.rmtree(prefix_dir, ignore_errors=True)
    return seconds, result, version


def step_count(text):
    count = int(text)
    if count < 1:
        raise argparse.ArgumentTypeError('a count of steps is 1 or more')
    return count


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('machine')
    parser.add_argument('--out', required=True)
    parser.add_argument('--answers', help='yes,no,... (default: the folder\'s [Answers])')
    parser.add_argument('--shots', help='folder for PNG screenshots of the boxes and the progress dialog')
    parser.add_argument('--windows-version', help='the version Wine presents to the uninstaller: %s '
                        '(default: %s)' % (', '.join(WINDOWS_VERSIONS),
                                           ', '.join('%s for %s' % (v, f) for f, v in DEFAULT_VERSIONS.items())))
    parser.add_argument('--build', default=os.path.join(SOURCE_DIR, 'build', 'win32'))
    parser.add_argument('--keep-prefix', action='store_true', help='leave the run\'s prefix for inspection')
    parser.add_argument('--restart', action='store_true',
                        help='then restart: the delete commands the run started run (95/98), and Wine\'s boot '
                             'step carries out the deletions pending at restart (NT); the machine is written as '
                             'it is then, result.ini\'s [Restart] tells each outcome')
    parser.add_argument('--cut-after-steps', type=step_count, metavar='N',
                        help='end the uninstaller right after the N-th PBM_STEPIT sent to its progress bar '
                             'returns, as the user\'s "End task" would (result.ini: Cut=yes)')
    parser.add_argument('--second-run', action='store_true',
                        help='after the first run, restart, then run the uninstaller again in the same prefix '
                             'with the same answers; --out gets the machine after the second run (and its '
                             'restart, with --restart)')
    parser.add_argument('--first-out', help='with --second-run: where to write the machine after the first run '
                                            'and the restart that followed it')
    options = parser.parse_args()
    try:
        started = time.time()
        wine = find_wine(os.path.abspath(options.build))
        machine = Machine(options.machine)
        version_name = windows_version(machine, options.windows_version)
        ensure_template(wine)
        wine.locale = LOCALES[machine.code_page]
        answers = options.answers.split(',') if options.answers is not None else machine.answers
        answers = [a.strip().lower() for a in answers if a.strip()]
        try:
            seconds, result, version = run_in_fresh_prefix(wine, machine, answers, version_name, options)
        except DriverHung as error:
            # Seen once in some hundreds of runs under the emulator: the driver
            # hung past all its own time limits. A second hang fails the run.
            log('%s\nrunning the machine once more, in a fresh prefix' % error)
            seconds, result, version = run_in_fresh_prefix(wine, machine, answers, version_name, options)
        log('%s run (GetVersion 0x%08X): uninstaller %s, whole run %.1f s; machine written to %s'
            % (version_name, version, ' + '.join('%.1f s' % s for s in seconds), time.time() - started,
               options.out))
        exit_code = mf.get(mf.sections_named(result, 'Result')[0][1], 'ExitCode', '2')
        return int(exit_code)
    except (RunnerError, subprocess.TimeoutExpired) as error:
        log(str(error))
        return 2


if __name__ == '__main__':
    sys.exit(main())
