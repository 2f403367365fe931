#!/usr/bin/env python3
"""Kills Nimbrel.exe (SIGKILL to its Wine process) at random moments while it rewrites a 64 MB
loginusers.vdf, and checks that the file is always exactly the old or exactly the new content,
and that whatever a killed run leaves behind never breaks the next run.

Usage: crash_consistency.py NIMBREL_EXE FAKE_STEAM_EXE [TRIALS] [SEED]
Runs inside the Wine environment of scripts/wine-env.sh (WINEPREFIX, DISPLAY set).
"""
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BLOCK = ('\t"76561198{n:09d}"\n\t{{\n\t\t"AccountName"\t\t"user{n}"\n'
         '\t\t"WantsOfflineMode"\t\t"0"\n\t\t"SkipOfflineModeWarning"\t\t"0"\n'
         '\t\t"Timestamp"\t\t"1735587881"\n\t}}\n')


def main():
    nimbrel, fake_steam = sys.argv[1:3]
    trials = int(sys.argv[3]) if len(sys.argv) > 3 else 50
    # An emulated Wine session asks for fewer: each trial there costs five times as long.
    trials = int(os.environ.get('NIMBREL_CRASH_TRIALS') or trials)
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 2026)

    parts, size, n = ['"users"\n{\n'], 0, 0
    while size < 64 << 20:
        n += 1
        parts.append(BLOCK.format(n=n))
        size += len(parts[-1])
    old = (''.join(parts) + '}\n').encode()
    new = old.replace(b'Mode"\t\t"0"', b'Mode"\t\t"1"').replace(b'Warning"\t\t"0"', b'Warning"\t\t"1"')
    hashes = {hashlib.sha256(old).digest(): 'old', hashlib.sha256(new).digest(): 'new'}

    folder = tempfile.mkdtemp(prefix='nimbrel-crash.')
    try:
        os.makedirs(os.path.join(folder, 'config'))
        shutil.copy(nimbrel, os.path.join(folder, 'Nimbrel.exe'))
        shutil.copy(fake_steam, os.path.join(folder, 'Steam.exe'))
        with open(os.path.join(folder, 'steam-lifetime.txt'), 'w') as f:
            f.write('50')
        target = os.path.join(folder, 'config', 'loginusers.vdf')
        # How long one run takes to replace the file here (the second of two, the first warms
        # Wine up): the kills spread over that and a bit.
        for _ in range(2):
            with open(target, 'wb') as f:
                f.write(old)
            inode = os.stat(target).st_ino
            start = time.monotonic()
            run = subprocess.Popen(['wine', 'Nimbrel.exe'], cwd=folder,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            while os.stat(target).st_ino == inode:  # the replace renames a new file over it
                time.sleep(0.002)
                if time.monotonic() - start > 60:
                    raise SystemExit('the calibration run never replaced the file')
            max_delay = (time.monotonic() - start) * 1.2
            run.wait()
        outcomes = {'old': 0, 'new': 0}
        bad = []
        leftovers = 0
        for trial in range(trials):
            with open(target, 'wb') as f:
                f.write(old)
            delay = rng.uniform(0.0, max_delay)
            run = subprocess.Popen(['wine', 'Nimbrel.exe'], cwd=folder,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(delay)
            run.send_signal(signal.SIGKILL)
            run.wait()
            try:
                with open(target, 'rb') as f:
                    outcome = hashes.get(hashlib.sha256(f.read()).digest(), 'partial')
            except FileNotFoundError:
                outcome = 'missing'
            if os.environ.get("NIMBREL_CRASH_VERBOSE"):
                print(f"trial {trial}: {delay * 1000:.0f} ms: {outcome}", flush=True)
            if outcome in outcomes:
                outcomes[outcome] += 1
            else:
                bad.append((trial, delay, outcome))
            leftovers += len(os.listdir(os.path.join(folder, 'config'))) > 1
            subprocess.run(['wine', 'taskkill', '/f', '/im', 'Steam.exe'],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        # Whatever the last kill left behind, a normal run still does its job.
        with open(target, 'wb') as f:
            f.write(old)
        with open(target + '.nimbrel-tmp', 'wb') as f:
            f.write(b'half-written leftover')
        final = subprocess.run(['wine', 'Nimbrel.exe'], cwd=folder, timeout=60)
        with open(target, 'rb') as f:
            recovered = f.read() == new
        print(f'crash consistency: {trials} trials, killed after 0-{max_delay * 1000:.0f} ms: '
              f'{outcomes["old"]} old, {outcomes["new"]} new, {len(bad)} other {bad}; '
              f'{leftovers} left a temporary file; '
              f'next run over a leftover: exit {final.returncode}, file rewritten: {recovered}')
        ok = not bad and recovered and final.returncode == 0
        print(f'{trials + 1 - len(bad) - (0 if recovered else 1)} passed, '
              f'{len(bad) + (0 if recovered else 1)} failed')
        return 0 if ok else 1
    finally:
        time.sleep(0.5)  # a stand-in just started reads its lifetime before the folder goes
        subprocess.run(['wine', 'taskkill', '/f', '/im', 'Steam.exe'],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
