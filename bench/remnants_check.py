#!/usr/bin/env python3
"""What the card still remembers: cards whose files were written, some deleted, some written into
the gaps between the others (so the card split them into 2 to 4 pieces), then all deleted;
scanned in photo and video mode with --names original. Per card: of the files on it before the
last deletion, how many were saved byte-identical, how many of those under the name the card
remembers (a deleted 8.3 name has lost its first letter, written '_', unless a long name gives it
back) and with their original time; and of the fragmented ones, how many came back byte-identical.

Cards:
  fat32         FAT32 written with mtools. The files written into the gaps go there first-fit, as
                on a full card: mtools otherwise allocates after the last file, so the FSInfo
                allocation hint is reset before them.
  fat32-format  the same card quick-formatted afterwards (mkfs.fat over it, nothing erased).
  exfat         exFAT made with mkfs.exfat and written through a FUSE mount (mount.exfat-fuse on a
                loop device, which allocates first-fit; needs root, exfatprogs and exfat-fuse, else
                skipped).

The layout: the files kept are the small corpus photos; between them lie the gaps, made by
deleting files of random bytes sized so that each file written later fills 2, 3 or 4 of them
exactly, in order (the last one or two go on into the free space after all the files instead).

    bench/remnants_check.py [--corpus DIR] [--build DIR] [--cluster-kib N] [--cards LIST] [--keep]
"""
import argparse, csv, hashlib, os, pathlib, random, re, shutil, struct, subprocess, tempfile, time

ap = argparse.ArgumentParser()
here = pathlib.Path(__file__).resolve()
ap.add_argument('--corpus', default=str(here.parents[2] / 'shared' / 'corpus'))
ap.add_argument('--build', default=str(here.parents[1] / 'build'))
ap.add_argument('--cluster-kib', type=int, default=16)
ap.add_argument('--cards', default='fat32,fat32-format,exfat')
ap.add_argument('--keep', action='store_true')
args = ap.parse_args()

cli = pathlib.Path(args.build) / 'bin' / 'lumafind-cli'
work = pathlib.Path(tempfile.mkdtemp(prefix='lumafind-remnants.', dir='.'))
env = dict(os.environ, MTOOLS_SKIP_CHECK='1', PATH=os.environ.get('PATH', '') + ':/usr/sbin:/sbin')
CARD_MIB = 2048
BASE_TIME = 1609459200  # 2021-01-01T00:00:00Z
CS = args.cluster_kib * 1024
rng = random.Random(16)


def sh(*cmd, check=True):
    return subprocess.run([str(c) for c in cmd], env=env, check=check, capture_output=True, text=True)


def sha(data):
    return hashlib.sha256(data).hexdigest()


def clusters(n):
    return (n + CS - 1) // CS


# ---- The plan: what is written, deleted, written again, in order ----

def plan():
    corpus = pathlib.Path(args.corpus)
    jpgs = sorted((p for p in corpus.rglob('*') if p.suffix.lower() == '.jpg'), key=lambda p: p.stat().st_size)
    videos = {p.suffix.lower(): p for p in corpus.rglob('*') if p.suffix.lower() in ('.mp4', '.mov', '.avi')
              and p.stat().st_size > 200000}
    big_avi = max((p for p in corpus.rglob('*') if p.suffix.lower() == '.avi'), key=lambda p: p.stat().st_size)
    writers = jpgs[-5:] + [videos['.mp4'], videos['.mov'], big_avi]
    keepers = [p for p in jpgs if p.stat().st_size >= 20000 and p not in writers]
    steps = []      # ('write', name, bytes, time) / ('delete', name) / ('hint',)
    index = 1
    names = {}

    def write(name, data):
        nonlocal index
        steps.append(('write', name, data, BASE_TIME + index * 3600 + 2 * index))
        index += 1

    k = 0

    def keeper():
        nonlocal k
        src = keepers[k % len(keepers)]
        k += 1
        write(f'IMG_{index:04d}.JPG', src.read_bytes())

    fillers = []
    keeper()
    for j, w in enumerate(writers):
        pieces = 2 + j % 3
        total = clusters(w.stat().st_size)
        # The last two writers leave their last piece to the free space after the files.
        spill = j >= len(writers) - 2
        gaps = pieces - 1 if spill else pieces
        cuts = sorted(rng.sample(range(1, total), pieces - 1))
        sizes = [b - a for a, b in zip([0] + cuts, cuts + [total])][:gaps]
        for s in sizes:
            name = f'TMP_{index:04d}.DAT'
            write(name, rng.randbytes(s * CS - rng.randrange(0, 512)))
            fillers.append(name)
            keeper()
    for name in fillers:
        steps.append(('delete', name))
    steps.append(('hint',))
    gap_written = []
    for w in writers:
        ext = w.suffix.upper().lstrip('.')
        name = f'IMG_{index:04d}.JPG' if ext == 'JPG' else f'MVI_{index:04d}.{ext}'
        gap_written.append(name)
        write(name, w.read_bytes())
    # A long name too, read back from its long-name entries.
    steps.append(('write', 'Holiday at the lake.jpg', keepers[0].read_bytes(), BASE_TIME + index * 3600 + 2 * index))
    return steps, set(gap_written)


# ---- Writing a card ----

def apply(steps, write, delete, hint):
    alive = {}
    for s in steps:
        if s[0] == 'write':
            write(s[1], s[2], s[3])
            alive[s[1]] = (sha(s[2]), s[3])
        elif s[0] == 'delete':
            delete(s[1])
            del alive[s[1]]
        else:
            hint()
    return alive


def fat32_card(path, steps):
    sh('mkfs.fat', '-C', '-F', '32', '-s', CS // 512, '-n', 'BENCH', path, CARD_MIB * 1024)
    sh('mmd', '-i', path, '::/DCIM', '::/DCIM/100BENCH')
    stage = work / 'stage'
    stage.mkdir(exist_ok=True)

    def write(name, data, t):
        f = stage / name
        f.write_bytes(data)
        os.utime(f, (t, t))
        sh('mcopy', '-m', '-i', path, f, '::/DCIM/100BENCH/')
        f.unlink()

    def delete(name):
        sh('mdel', '-i', path, f'::/DCIM/100BENCH/{name}')

    def hint():
        with open(path, 'r+b') as f:
            fsinfo = struct.unpack_from('<H', f.read(512), 48)[0]
            f.seek(fsinfo * 512 + 492)
            f.write(struct.pack('<I', 0xFFFFFFFF))

    alive = apply(steps, write, delete, hint)
    pieces = {}
    for name in alive:
        chains = sh('mshowfat', '-i', path, f'::/DCIM/100BENCH/{name}').stdout
        pieces[name] = len(re.findall(r'<\d+(?:-\d+)?>', chains))
        if os.environ.get('BENCH_CHAINS'):
            print(' ', chains.strip())
    sh('mdel', '-i', path, '::/DCIM/100BENCH/*')
    return alive, pieces


def quick_format(src, dst):
    shutil.copyfile(src, dst)
    # mkfs.fat over the image: a new boot sector, empty FATs and root; the data area stays.
    sh('mkfs.fat', '-F', '32', '-s', CS // 512, '-n', 'BENCH', dst)


def exfat_runs(path):
    """Each file's runs of clusters, read from the image (its FAT chain, or its one run)."""
    with open(path, 'rb') as f:
        b = f.read(512)
        fat_off, heap, root = (struct.unpack_from('<I', b, o)[0] for o in (80, 88, 96))
        bps, cs = 1 << b[108], (1 << b[108]) << b[109]

        def fat(c):
            f.seek(fat_off * bps + 4 * c)
            return struct.unpack('<I', f.read(4))[0]

        def chain(first, contiguous, length):
            n = max(1, (length + cs - 1) // cs)
            if contiguous:
                return list(range(first, first + n))
            out = [first]
            while len(out) < n:
                out.append(fat(out[-1]))
            return out

        def read_dir(first, contiguous, length):
            data = b''
            for c in chain(first, contiguous, length) if length else [first]:
                f.seek(heap * bps + (c - 2) * cs)
                data += f.read(cs)
            return data

        out = {}

        def walk(first, contiguous, length):
            data = read_dir(first, contiguous, length) if length else b''
            if not length:  # the root: follow its FAT chain
                c, parts = first, []
                while 2 <= c < 0xFFFFFFF7 and len(parts) < 64:
                    f.seek(heap * bps + (c - 2) * cs)
                    parts.append(f.read(cs))
                    c = fat(c)
                data = b''.join(parts)
            i = 0
            while i + 32 <= len(data) and data[i]:
                if data[i] == 0x85:
                    n, st = data[i + 1], data[i + 32:i + 64]
                    name = b''.join(data[i + 64 + 32 * k + 2:i + 96 + 32 * k] for k in range(n - 1)).decode('utf-16le')[:st[3]]
                    first_c, length_c = struct.unpack_from('<I', st, 20)[0], struct.unpack_from('<Q', st, 24)[0]
                    if struct.unpack_from('<H', data, i + 4)[0] & 0x10:
                        walk(first_c, st[1] & 2, length_c)
                    else:
                        cl = chain(first_c, st[1] & 2, length_c)
                        out[name] = 1 + sum(1 for a, b in zip(cl, cl[1:]) if b != a + 1)
                    i += 32 * (n + 1)
                    continue
                i += 32
        walk(root, False, 0)
        return out


def exfat_card(path, steps):
    if os.geteuid() != 0 or not shutil.which('mkfs.exfat', path=env['PATH']) or not shutil.which('mount.exfat-fuse', path=env['PATH']):
        return None
    with open(path, 'wb') as f:
        f.truncate(CARD_MIB << 20)
    sh('mkfs.exfat', '-c', f'{args.cluster_kib}K', '-L', 'BENCH', path)
    mnt = work / 'mnt'
    mnt.mkdir(exist_ok=True)
    loop = sh('losetup', '-f', '--show', path).stdout.strip()
    d = mnt / 'DCIM' / '100BENCH'
    try:
        sh('mount.exfat-fuse', loop, mnt)
        d.mkdir(parents=True)

        def write(name, data, t):
            (d / name).write_bytes(data)
            os.utime(d / name, (t, t))

        def delete(name):
            (d / name).unlink()

        alive = apply(steps, write, delete, lambda: None)
        sh('umount', mnt)
        pieces = exfat_runs(path)
        sh('mount.exfat-fuse', loop, mnt)
        for name in alive:
            (d / name).unlink()
    finally:
        sh('umount', mnt, check=False)
        sh('losetup', '-d', loop, check=False)
    return alive, pieces


# ---- Scanning and counting ----

def scan(card, label):
    saved, rows, seconds = [], [], 0.0
    for mode in ('photo', 'video'):
        dest = work / f'{label}-{mode}'
        report = work / f'{label}-{mode}.csv'
        t = time.time()
        r = subprocess.run([str(cli), 'scan', str(card), '--mode', mode, '--out', str(dest), '--names', 'original',
                            '--report', str(report), '--quiet'], capture_output=True, text=True)
        seconds += time.time() - t
        if r.returncode not in (0, 3):
            print(f'  {mode} scan failed ({r.returncode}): {r.stderr.strip()}')
        with open(report, newline='') as f:
            rows += list(csv.DictReader(f))
        saved += [p for p in dest.rglob('*') if p.is_file()]
    return saved, rows, seconds


def remembered_as(name, long_name, exfat):
    # What the card's entry still says: a deleted FAT 8.3 name lost its first letter; exFAT keeps
    # the whole name.
    return name if long_name or exfat else '_' + name[1:]


def count(label, alive, pieces, gap_written, saved, rows, seconds):
    by_sha = {}
    for p in saved:
        by_sha.setdefault(sha(p.read_bytes()), []).append(p)
    files = {n: v for n, v in alive.items() if not n.endswith('.DAT')}
    identical = named = dated = frag = frag_identical = 0
    misses = []
    for name, (digest, t) in files.items():
        hits = by_sha.get(digest, [])
        identical += bool(hits)
        long_name = name != name.upper() or ' ' in name
        right = [p for p in hits if p.name == remembered_as(name, long_name, label == 'exfat')]
        named += bool(right)
        dated += any(abs(int(p.stat().st_mtime) - t) <= 2 for p in right)
        if pieces.get(name, 1) > 1:
            frag += 1
            frag_identical += bool(hits)
        if not hits:
            misses.append(f'{name} ({pieces.get(name, 1)} pieces)')
    split = {n: pieces.get(n, 1) for n in gap_written}
    print(f'{label}: {len(files)} photos and videos on the card before the last deletion '
          f'(pieces of those written into the gaps: {", ".join(str(v) for v in split.values())})')
    print(f'  saved byte-identical:                      {identical}')
    print(f'  ... under the name the card remembers:     {named}')
    print(f'  ... with their original time as well:      {dated}')
    print(f'  fragmented: {frag}, saved byte-identical:  {frag_identical}')
    print(f'  report: {sum(1 for r in rows if r.get("pieces") not in (None, "", "1"))} rows saved from pieces, '
          f'{sum(1 for r in rows if not r["name"])} rows remembered but not found')
    print(f'  scan and save time (photo + video passes): {seconds:.1f} s')
    if misses:
        print(f'  not saved byte-identical: {", ".join(sorted(misses))}')


steps, gap_written = plan()
print(f'{sum(1 for s in steps if s[0] == "write")} files written, {sum(1 for s in steps if s[0] == "delete")} deleted '
      f'to leave gaps; clusters of {args.cluster_kib} KiB; card of {CARD_MIB} MiB')
cards = args.cards.split(',')
fat = work / 'fat32.img'
if 'fat32' in cards or 'fat32-format' in cards:
    alive, pieces = fat32_card(fat, steps)
    if 'fat32' in cards:
        count('fat32', alive, pieces, gap_written, *scan(fat, 'fat32'))
    if 'fat32-format' in cards:
        formatted = work / 'fat32-format.img'
        quick_format(fat, formatted)
        count('fat32-format', alive, pieces, gap_written, *scan(formatted, 'fat32-format'))
if 'exfat' in cards:
    ex = work / 'exfat.img'
    made = exfat_card(ex, steps)
    if made is None:
        print('exfat: skipped (needs root, mkfs.exfat and mount.exfat-fuse)')
    else:
        count('exfat', *made, gap_written, *scan(ex, 'exfat'))
if not args.keep:
    shutil.rmtree(work)
else:
    print('kept in', work)
