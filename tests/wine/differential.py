#!/usr/bin/env python3
"""The differential check of the stand-in: random machines (qvmachine-gen,
the fuzz target's machine builder) each run on the stand-in and on the
shipped QVUninst.exe under Wine, and compared as the scenarios are
(compare.py). A difference is a fault of the stand-in, to be fixed there,
unless one of compare.py's named rules (WINE_RULES) says it is a way in which
Wine differs from Windows.

    differential.py --seed S [--seed S ...] --count N --sim build/host/qvuninst-sim
                    --gen build/host/qvmachine-gen [--build build/win32] [--keep DIR] [-j 2]
    differential.py --machine FOLDER --sim ... [--build ...]      (replays one machine)

Prints one line per machine and then "N machines, K agree, D differ"; the
folder of each machine that differs is kept (in --keep, or a temporary
folder that is named), with the command that replays it. Exit code 1 when
any machine differs.
"""
import argparse
import concurrent.futures
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(SOURCE_DIR, 'tools', 'wine'))
import compare  # noqa: E402
import machine_folder as mf  # noqa: E402

def answers_of(machine):
    sections = mf.parse_ini(mf.read_text(os.path.join(machine, 'machine.ini')))
    return ','.join(v.lower() for _, e in mf.sections_named(sections, 'Answers') for _, v in e)


def compare_machine(machine, work, options):
    """(verdict line, failures, seconds) for one machine folder."""
    started = time.time()
    os.makedirs(work, exist_ok=True)
    result = compare.run_both(machine, answers_of(machine), work, options.sim, options.build)
    if result is None:
        return 'the Wine run failed', ['the Wine run failed: see %s' % os.path.join(work, 'wine.log')], \
            time.time() - started
    compare.judge(result, machine, [])
    verdict = 'differs' if result.failures else 'agrees'
    if result.left_out:
        verdict += ' (%d known Wine differences left out)' % len(result.left_out)
    return verdict, result.failures + ['left out: ' + line for line in result.left_out if result.failures], \
        time.time() - started


def generate(options, folder):
    machines = []
    for seed in options.seed:
        done = subprocess.run([options.gen, '--seed', str(seed), '--count', str(options.count), '--out', folder],
                              stdout=subprocess.PIPE, check=True)
        machines += done.stdout.decode().split()
    return machines


def replay_command(machine, options):
    return 'python3 %s --machine %s --sim %s --build %s' % (os.path.relpath(__file__), machine, options.sim,
                                                           options.build)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--seed', type=int, action='append', default=[])
    parser.add_argument('--count', type=int, default=12, help='machines per seed')
    parser.add_argument('--machine', help='one machine folder to replay')
    parser.add_argument('--sim', required=True)
    parser.add_argument('--gen', help='qvmachine-gen (with --seed)')
    parser.add_argument('--build', default=os.path.join(SOURCE_DIR, 'build', 'win32'))
    parser.add_argument('--keep', help='folder for the machines that differ (and all results)')
    parser.add_argument('-j', type=int, default=2, help='machines compared at once')
    options = parser.parse_args()
    if not options.machine and not (options.seed and options.gen):
        parser.error('give --machine, or --seed with --gen')
    for tool in (options.sim, options.gen):
        if tool and not os.path.exists(tool):
            print('%s is missing: build the host preset first (tools/test.sh does; qvmachine-gen needs clang\'s '
                  'FuzzedDataProvider.h, from tools/install_deps.sh)' % tool)
            return 2

    work = options.keep or tempfile.mkdtemp(prefix='qv-differential-')
    os.makedirs(work, exist_ok=True)
    machines = [options.machine] if options.machine else generate(options, os.path.join(work, 'machines'))
    started = time.time()
    differ = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.j)) as pool:
        futures = {pool.submit(compare_machine, m, os.path.join(work, 'runs', os.path.basename(m)), options): m
                   for m in machines}
        for future in concurrent.futures.as_completed(futures):
            machine = futures[future]
            verdict, failures, seconds = future.result()
            print('%s: %s (%.0f s)' % (os.path.basename(machine), verdict, seconds), flush=True)
            if failures:
                differ.append(machine)
                for line in failures:
                    print('    ' + line.replace('\n', '\n    '))
                print('    replay: ' + replay_command(machine, options), flush=True)
    elapsed = time.time() - started
    print('%d machines, %d agree, %d differ (%.0f s, %.1f s a machine)' % (
        len(machines), len(machines) - len(differ), len(differ), elapsed, elapsed / max(1, len(machines))))
    if differ:
        print('machines that differ are kept in ' + os.path.join(work, 'machines'))
    elif not options.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if differ else 0


if __name__ == '__main__':
    sys.exit(main())
