#!/usr/bin/env python3
"""Steady report rates through a whole program over eight pseudo-terminals.

Each of the eight lines gets RATE numbered report lines a second for SECONDS. Measured: the
program's CPU per report line (the run time of all its threads, from /proc/PID/task/*/schedstat,
start-up left out), the latency from the write that ends a line with its LF to the line
appearing in its report file (files polled every millisecond), and that every line arrived once
and whole, in order.

Programs (--program, repeatable, NAME=KIND:PATH):
  tolvane:PATH   the program, its window shown on a virtual X display (Xvfb), its lines resumed
                 from a settings file written here: no click
  tio:PATH       eight tio processes, stamping and logging
  floor:PATH     bench/capture/append_floor: one loop that stamps and open-append-closes
Runs alternate between the programs, --rounds times. The eight lines send together, as one
burst, or with --spread in turn, evenly apart, as lines that run independently do.

Usage: steady_rate.py --rate 500 --seconds 20 --rounds 2 --program new=tolvane:build/tolvane ...
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

LINES = 8


def task_cpu_ns(pid):
    """Run time of every thread of pid and of its children, in ns."""
    total = 0
    pids = [pid]
    try:
        pids += [int(p) for p in open('/proc/%d/task/%d/children' % (pid, pid)).read().split()]
    except OSError:
        pass
    for p in pids:
        try:
            for task in os.listdir('/proc/%d/task' % p):
                try:
                    total += int(open('/proc/%d/task/%s/schedstat' % (p, task)).read().split()[0])
                except OSError:
                    pass
        except OSError:
            pass
    return total


def thread_cpu_ns(pid):
    """Run time of each thread of pid, by thread name, in ns."""
    names = {}
    try:
        for task in os.listdir('/proc/%d/task' % pid):
            try:
                name = open('/proc/%d/task/%s/comm' % (pid, task)).read().strip()
                ns = int(open('/proc/%d/task/%s/schedstat' % (pid, task)).read().split()[0])
                names[name] = names.get(name, 0) + ns
            except OSError:
                pass
    except OSError:
        pass
    return names


def holds_open(pids, path):
    real = os.path.realpath(path)
    for pid in pids:
        try:
            for fd in os.listdir('/proc/%d/fd' % pid):
                try:
                    if os.readlink('/proc/%d/fd/%s' % (pid, fd)) == real:
                        return True
                except OSError:
                    pass
        except OSError:
            pass
    return False


class Ptys:
    def __init__(self):
        self.masters, self.slaves, self.paths = [], [], []
        for _ in range(LINES):
            master, slave = os.openpty()
            tty.setraw(slave)
            attrs = termios.tcgetattr(slave)
            attrs[4] = attrs[5] = termios.B115200
            termios.tcsetattr(slave, termios.TCSANOW, attrs)
            tty.setraw(master)
            self.masters.append(master)
            self.slaves.append(slave)
            self.paths.append(os.ttyname(slave))

    def close(self):
        for fd in self.masters + self.slaves:
            os.close(fd)


def start_tolvane(path, ptys, files, folder, env):
    settings = os.path.join(folder, 'Tolvane.ini')
    text = ['[ComPortSettings]', 'ComPort=0'] + ['ComPort%s=%d' % (chr(ord('A') + n), n)
                                                  for n in range(1, LINES)]
    text += ['[PortDevices]'] + ['COM%d=%s' % (n + 1, ptys.paths[n]) for n in range(LINES)]
    text += ['[Capture]', 'ResumeAtStartup=1'] + ['ReportFile%d=%s' % (n + 1, files[n])
                                                  for n in range(LINES)]
    open(settings, 'w').write('\r\n'.join(text) + '\r\n')
    return [subprocess.Popen([path, '--settings', settings], env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=open(settings + '.err', 'w'))]


def start_tio(path, ptys, files, env):
    procs = []
    for n in range(LINES):
        r, w = os.pipe()  # an empty stdin that stays open
        procs.append(subprocess.Popen([path, '--timestamp', '--log', '--log-file', files[n], '-n',
                                       ptys.paths[n]], env=env, stdin=r,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        procs[-1].keep_open = w
        os.close(r)
    return procs


def start_floor(path, ptys, files, env):
    argv = [path]
    for n in range(LINES):
        argv += [ptys.paths[n], files[n]]
    return [subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL)]


NUMBER = re.compile(rb'LOT (\d{6}) L(\d) OK\r?$')


def run(kind, path, rate, seconds, env, spread=False, xserver=None):
    folder = tempfile.mkdtemp(prefix='steady-')
    files = [os.path.join(folder, 'line%d.txt' % (n + 1)) for n in range(LINES)]
    ptys = Ptys()
    if kind == 'tolvane':
        procs = start_tolvane(path, ptys, files, folder, env)
    elif kind == 'tio':
        procs = start_tio(path, ptys, files, env)
    else:
        procs = start_floor(path, ptys, files, env)
    pids = [p.pid for p in procs]
    deadline = time.time() + 30
    while not all(holds_open(pids, ptys.paths[n]) for n in range(LINES)):
        if time.time() > deadline:
            raise SystemExit('%s did not open every port' % path)
        time.sleep(0.05)
    time.sleep(1.5)  # settled: set-up done, windows shown

    count = int(rate * seconds)
    sent = [[0.0] * (count + 1) for _ in range(LINES)]
    seen = [[None] * (count + 1) for _ in range(LINES)]
    bad = [0]
    done = threading.Event()

    def watch():
        offsets = [0] * LINES
        rest = [b''] * LINES
        while True:
            finished = done.is_set()
            now = time.monotonic()
            for n in range(LINES):
                try:
                    with open(files[n], 'rb') as f:
                        f.seek(offsets[n])
                        data = f.read()
                except OSError:
                    continue
                offsets[n] += len(data)
                parts = (rest[n] + data).split(b'\n')
                rest[n] = parts.pop()
                for part in parts:
                    m = NUMBER.search(part)
                    if not m or int(m.group(2)) != n + 1 or seen[n][int(m.group(1))] is not None:
                        bad[0] += 1
                        continue
                    seen[n][int(m.group(1))] = now
            if finished:
                return
            time.sleep(0.001)

    watcher = threading.Thread(target=watch)
    watcher.start()
    cpu0 = sum(task_cpu_ns(p) for p in pids)
    x0 = task_cpu_ns(xserver) if xserver else 0
    threads0 = thread_cpu_ns(pids[0])
    t0 = time.monotonic()
    for i in range(1, count + 1):
        for n in range(LINES):
            due = t0 + (i + (n / LINES if spread else 0)) / rate
            delay = due - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            os.write(ptys.masters[n], b'LOT %06d L%d OK\r\n' % (i, n + 1))
            sent[n][i] = time.monotonic()
    # Every line in its file, or 20 s more.
    end = time.monotonic() + 20
    while time.monotonic() < end and any(seen[n][count] is None for n in range(LINES)):
        time.sleep(0.01)
    cpu1 = sum(task_cpu_ns(p) for p in pids)
    x1 = task_cpu_ns(xserver) if xserver else 0
    threads1 = thread_cpu_ns(pids[0])
    elapsed = time.monotonic() - t0
    time.sleep(0.05)
    done.set()
    watcher.join()
    for p in procs:
        p.send_signal(signal.SIGTERM)
    for p in procs:
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
    ptys.close()

    latencies = sorted(seen[n][i] - sent[n][i] for n in range(LINES) for i in range(1, count + 1)
                       if seen[n][i] is not None)
    arrived = len(latencies)

    def pct(q):
        return latencies[min(len(latencies) - 1, int(q * len(latencies)))] * 1e3 if latencies else 0

    return {'lines': LINES * count, 'arrived': arrived, 'bad': bad[0], 'seconds': elapsed,
            'cpu_us_per_line': (cpu1 - cpu0) / 1e3 / max(1, LINES * count),
            'cpu_share': (cpu1 - cpu0) / 1e9 / elapsed,
            # the display's work for the program's window, not counted in its own
            'xserver_us_per_line': (x1 - x0) / 1e3 / max(1, LINES * count),
            'threads_us_per_line': {name: round((ns - threads0.get(name, 0)) / 1e3 /
                                                max(1, LINES * count), 2)
                                    for name, ns in threads1.items()},
            'latency_ms': {'p50': pct(0.5), 'p99': pct(0.99), 'max': pct(1.0)}}


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--rate', type=float, default=500)
    parser.add_argument('--seconds', type=float, default=20)
    parser.add_argument('--rounds', type=int, default=1)
    parser.add_argument('--program', action='append', required=True)
    parser.add_argument('--spread', action='store_true',
                        help='the eight lines send in turn, evenly apart, instead of together')
    parser.add_argument('--json')
    parser.add_argument('--offscreen', action='store_true',
                        help="the program's window on Qt's offscreen platform instead of Xvfb")
    args = parser.parse_args()
    env = dict(os.environ)
    xvfb = None
    if args.offscreen:
        env['QT_QPA_PLATFORM'] = 'offscreen'
    elif any(p.split('=', 1)[1].startswith('tolvane:') for p in args.program):
        display = ':%d' % (90 + os.getpid() % 100)
        xvfb = subprocess.Popen(['Xvfb', display, '-screen', '0', '1280x1024x24', '-nolisten',
                                 'tcp'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        env['DISPLAY'] = display
        env.pop('QT_QPA_PLATFORM', None)
    try:
        for round_ in range(args.rounds):
            for program in args.program:
                name, target = program.split('=', 1)
                kind, path = target.split(':', 1)
                result = run(kind, path, args.rate, args.seconds, env, args.spread,
                             xvfb.pid if xvfb and kind == 'tolvane' else None)
                result.update({'name': name, 'round': round_ + 1, 'rate': args.rate})
                print(json.dumps(result), flush=True)
                if args.json:
                    open(args.json, 'a').write(json.dumps(result) + '\n')
    finally:
        if xvfb:
            xvfb.terminate()
            xvfb.wait()


if __name__ == '__main__':
    main()
