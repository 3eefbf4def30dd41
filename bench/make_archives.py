#!/usr/bin/python3
"""Writes the trees that bench/extract.sh and bench/install.sh zip up.

  make_archives.py mixed DIR        about 490 MiB in 2000 files of mixed sizes, a third of
                                    the bytes incompressible, the rest text-like, in 50
                                    folders two levels deep
  make_archives.py small DIR        20000 text-like files of 1-4 KiB in 40 folders
  make_archives.py flat DIR N       N text-like files of 1-4 KiB in Mir200/Envir/many/
  make_archives.py road DIR         a server package: about 370 MiB in 900 files below Mir200/
                                    and SelGate/, nine tenths of the bytes incompressible (a
                                    deflated zip of it is about 360 MB)
  make_archives.py release DIR P    the mixed tree below mir200/, as release P: 0 is the base;
                                    with P > 0, P % of the files have new bytes (half of them
                                    at a new size) and 20 files are new
  make_archives.py delta DIR [STEP] a package of 2000 files, about 370 MiB, nine tenths of the
                                    bytes incompressible; STEP 'new' rewrites 5 % of the files,
                                    adds 1 % and removes 1 %; STEP 'all' rewrites every file
The contents are fixed by a seed, so every run measures the same bytes."""
import os
import random
import sys
import time

rng = random.Random(20240613)
WORDS = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9)))
         for _ in range(3000)]


def text_pool(size):
    parts, total = [], 0
    while total < size:
        line = ' '.join(rng.choices(WORDS, k=rng.randint(4, 14))) + '\r\n'
        parts.append(line)
        total += len(line)
    return ''.join(parts).encode()[:size]


POOL = text_pool(8 << 20)


def text_bytes(size):
    at = rng.randrange(0, len(POOL) - size) if size < len(POOL) else 0
    return POOL[at:at + size]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)


def mixed(root):
    folders = ['d%02d/s%d' % (a, b) for a in range(10) for b in range(5)]
    sizes = ([rng.randint(1 << 10, 64 << 10) for _ in range(1700)] +
             [rng.randint(256 << 10, 2 << 20) for _ in range(280)] +
             [rng.randint(4 << 20, 8 << 20) for _ in range(20)])
    rng.shuffle(sizes)
    for k, size in enumerate(sizes):
        data = os.urandom(size) if k % 3 == 0 else text_bytes(size)
        write('%s/%s/f%04d.bin' % (root, folders[k % len(folders)], k), data)


def release(root, percent):
    # The base release and every later one share their random choices; only the changed
    # files draw new bytes, from a generator of their own.
    base = random.Random(20240614)
    changes = random.Random(20240615)
    folders = ['mir200/d%02d/s%d' % (a, b) for a in range(10) for b in range(5)]
    sizes = ([base.randint(1 << 10, 64 << 10) for _ in range(1700)] +
             [base.randint(256 << 10, 2 << 20) for _ in range(280)] +
             [base.randint(4 << 20, 8 << 20) for _ in range(20)])
    base.shuffle(sizes)
    for k, size in enumerate(sizes):
        seed = k
        if k % 100 < percent:
            seed = 100000 + k
            size += 1024 if k % 2 else 0
        part = random.Random(seed)
        if k % 3 == 0:
            data = part.randbytes(size)
        else:
            at = part.randrange(0, len(POOL) - size)
            data = POOL[at:at + size]
        write('%s/%s/f%04d.bin' % (root, folders[k % len(folders)], k), data)
    if percent > 0:
        for k in range(20):
            write('%s/mir200/new/n%02d.bin' % (root, k), changes.randbytes(64 << 10))


def small(root):
    for k in range(20000):
        write('%s/g%03d/f%05d.txt' % (root, k % 40, k), text_bytes(rng.randint(1 << 10, 4 << 10)))


def flat(root, count):
    for k in range(count):
        write('%s/Mir200/Envir/many/f%05d.txt' % (root, k),
              text_bytes(rng.randint(1 << 10, 4 << 10)))


def road(root):
    for k in range(900):
        folder = 'SelGate' if k % 30 == 0 else 'Mir200/Envir/d%02d' % (k % 20)
        size = rng.randint(64 << 10, 760 << 10)
        data = os.urandom(size) if k % 10 else text_bytes(size)
        write('%s/%s/f%04d.bin' % (root, folder, k), data)


def pin_times(path, written):
    """Info-ZIP keeps a file's access time in its local header: a file gets an access time
    after its modification and change times and within the day, which reading it (relatime)
    leaves alone, so an unchanged file is packed alike in both releases."""
    os.utime(path, (int(time.time()) + 3600, written))


def delta(root, step):
    now = int(time.time())
    sizes = [rng.randint(40 << 10, 330 << 10) for _ in range(2000)]
    # The files a release changes and removes, scattered over every folder.
    pick = random.Random(7)
    changed = set(pick.sample(range(2000), 100))
    removed = set(pick.sample(sorted(set(range(2000)) - changed), 20))
    for k, size in enumerate(sizes):
        path = '%s/Mir200/Envir/d%02d/f%04d.bin' % (root, k % 40, k)
        if step == 'base':
            write(path, os.urandom(size) if k % 10 else text_bytes(size))
            pin_times(path, now - 7200)
        elif step == 'all' or (step == 'new' and k in changed):
            write(path, os.urandom(size) if k % 10 else text_bytes(size))
            pin_times(path, now - 3600)
        elif step == 'new' and k in removed:
            os.unlink(path)
    if step == 'new':
        for k in range(20):
            path = '%s/Mir200/Envir/added/g%04d.bin' % (root, k)
            write(path, os.urandom(rng.randint(40 << 10, 330 << 10)))
            pin_times(path, now - 3600)


if __name__ == '__main__':
    kind, root = sys.argv[1], sys.argv[2]
    if kind == 'delta':
        delta(root, sys.argv[3] if len(sys.argv) > 3 else 'base')
        sys.exit(0)
    if kind == 'mixed':
        mixed(root)
    elif kind == 'small':
        small(root)
    elif kind == 'road':
        road(root)
    elif kind == 'release':
        release(root, int(sys.argv[3]))
    else:
        flat(root, int(sys.argv[3]))
