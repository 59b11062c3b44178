#!/usr/bin/env python3
"""How whole are the saved files, and how much does saving read? Two parts:

1. A card built from real camera files (the benchmark corpus), back to back from sector
   boundaries with gaps between some, scanned in all three modes with --out: per type, how many
   files were saved byte-identical, with extra bytes after them, cut short, or not at all. The
   gaps and the end of the card hold zeros (--fill zeros, a fresh card) or random bytes
   (--fill random, a used card).
2. Cards made to be hard on saving (--cases): a stream whose first packet recurs inside it, cut
   JPEGs before erased space of zeros and of FF, back-to-back cut ZIPs. For each, the bytes the
   CLI read (rchar of /proc/PID/io, which also counts reading back what it wrote, so it can only
   overstate what came from the medium) against the bytes scanned (the range, once per pass) plus
   the bytes saved; the bound is 1.2.

    bench/save_check.py [--corpus DIR] [--build DIR] [--fill zeros|random] [--cases] [--keep]
"""
import argparse, collections, io, os, pathlib, random, shutil, struct, subprocess, tempfile, time, zipfile

ap = argparse.ArgumentParser()
here = pathlib.Path(__file__).resolve()
ap.add_argument('--corpus', default=str(here.parents[2] / 'shared' / 'corpus'))
ap.add_argument('--build', default=str(here.parents[1] / 'build'))
ap.add_argument('--fill', choices=('zeros', 'random'), default='zeros')
ap.add_argument('--cases', action='store_true', help='also run the read-bound cases')
ap.add_argument('--only-cases', action='store_true', help='run only the read-bound cases')
ap.add_argument('--keep', action='store_true')
args = ap.parse_args()

cli = pathlib.Path(args.build) / 'bin' / 'lumafind-cli'
work = pathlib.Path(tempfile.mkdtemp(prefix='lumafind-savecheck.', dir='.'))
rng = random.Random(7)


def filler(n):
    return b'\0' * n if args.fill == 'zeros' else rng.randbytes(n)


def run(card, mode, dest, report, extra=()):
    """Runs a scan; returns its rchar (read while it was a zombie, before it is reaped)."""
    p = subprocess.Popen([str(cli), 'scan', str(card), '--mode', mode, '--out', str(dest), '--quiet',
                          '--report', str(report), *extra])
    rchar = 0
    while True:
        try:
            state = open(f'/proc/{p.pid}/stat').read().rsplit(')', 1)[1].split()[0]
            if state == 'Z':
                for line in open(f'/proc/{p.pid}/io'):
                    if line.startswith('rchar:'):
                        rchar = int(line.split()[1])
                break
        except FileNotFoundError:
            break
        time.sleep(0.002)
    p.wait()
    return rchar


def saved_bytes(dest):
    return sum(p.stat().st_size for p in pathlib.Path(dest).rglob('*') if p.is_file())


def saved_files(dest):
    return [p.read_bytes() for p in pathlib.Path(dest).rglob('*') if p.is_file()]


def corpus_card():
    files = sorted(p for p in pathlib.Path(args.corpus).rglob('*') if p.is_file() and p.name != 'README.md')
    files += [pathlib.Path(args.build) / 'sample-content' / n for n in ('NOTES.PDF', 'ROUTE.ZIP', 'DIAGRAM.PNG')]
    files += [here.parents[1] / 'resources' / 'sample' / 'clip.mp4']
    card = work / 'card.img'
    with open(card, 'wb') as out:
        for i, f in enumerate(files):
            data = f.read_bytes()
            out.write(data + filler((-len(data)) % 512))
            if i % 2:
                out.write(filler(2048))  # a gap after every second file
        out.write(filler(65536))
    saved = []
    for mode in ('photo', 'video', 'raw'):
        dest = work / mode
        run(card, mode, dest, work / f'{mode}.csv')
        saved += saved_files(dest)
    result = collections.defaultdict(collections.Counter)
    kinds = ('identical', 'with extra bytes', 'cut short', 'not found')
    for f in files:
        data, kind = f.read_bytes(), 'not found'
        if any(s == data for s in saved):
            kind = 'identical'
        elif any(s.startswith(data) for s in saved):
            kind = 'with extra bytes'
        elif any(data.startswith(s) and len(s) >= 512 for s in saved):
            kind = 'cut short'
        result[f.suffix.upper().lstrip('.')][kind] += 1
    total = collections.Counter()
    for c in result.values():
        total.update(c)
    print(f"{len(files)} files on a {card.stat().st_size // 1048576} MiB card, free space: {args.fill} ({work})")
    print('| type | files | ' + ' | '.join(kinds) + ' |')
    print('|---|---:|' + '---:|' * len(kinds))
    for t in sorted(result):
        c = result[t]
        print(f'| {t} | {sum(c.values())} | ' + ' | '.join(str(c[k]) for k in kinds) + ' |')
    print(f'| all | {sum(total.values())} | ' + ' | '.join(str(total[k]) for k in kinds) + ' |')


def pad(b, fill=b'\0'):
    return b + fill * ((-len(b)) % 512)


def ts_clip(size):
    """An M2TS stream whose PAT packet recurs every 1024 packets (on sector boundaries)."""
    pat = bytes.fromhex('474000100000B00D0001C100000001E100E8F95E7D')
    out = io.BytesIO()
    n = size // 192
    for i in range(n):
        if i % 1024 == 0:
            packet = pat + b'\xff' * (188 - len(pat))
        else:
            packet = b'\x47' + bytes([(i % 200) + 1]) * 187
        out.write(b'\x20\x20\x20\x20' + packet)
    return out.getvalue()


def zip_with_descriptors(names_sizes):
    class Unseekable(io.RawIOBase):
        def __init__(self):
            self.buf = bytearray()
        def writable(self):
            return True
        def write(self, b):
            self.buf += b
            return len(b)
    sink = Unseekable()
    with zipfile.ZipFile(sink, 'w', zipfile.ZIP_DEFLATED) as z:
        for name, size in names_sizes:
            with z.open(name, 'w') as f:
                f.write(rng.randbytes(size))
    return bytes(sink.buf)


def cases():
    jpegs = sorted(p for p in pathlib.Path(args.corpus).rglob('*') if p.suffix.lower() in ('.jpg', '.jpeg'))
    jpeg = max(jpegs, key=lambda p: p.stat().st_size).read_bytes() if jpegs else None
    rows = []

    def case(name, card_bytes, mode, wanted, passes=2):
        card = work / f'{name}.img'
        card.write_bytes(card_bytes)
        dest = work / f'{name}-out'
        rchar = run(card, mode, dest, work / f'{name}.csv')
        saved = saved_bytes(dest)
        scanned = passes * len(card_bytes)
        ratio = rchar / (scanned + saved)
        outs = saved_files(dest)
        whole = all(any(s == w for s in outs) for w in wanted)
        rows.append((name, len(card_bytes), scanned, saved, rchar, ratio, whole))
        card.unlink()
        shutil.rmtree(dest, ignore_errors=True)

    clip = ts_clip(64 << 20)
    case('recurring stream headers', pad(clip) + b'\0' * 4096, 'video', [clip])
    if jpeg:
        cut = jpeg[: len(jpeg) // 2]
        case('cut JPEG, then zeros', pad(cut) + b'\0' * (100 << 20), 'photo', [])
        case('cut JPEG, then FF', pad(cut, b'\xff') + b'\xff' * (100 << 20), 'photo', [])
    a = zip_with_descriptors([('a.bin', 3 << 20), ('b.bin', 2 << 20)])
    b = zip_with_descriptors([('c.bin', 1 << 20)])
    c = zip_with_descriptors([('d.bin', 4 << 20), ('e.bin', 1 << 20)])
    case('back-to-back cut ZIPs', pad(a[: len(a) * 2 // 3]) + pad(b) + pad(c[: len(c) // 2]) + pad(b) + b'\0' * 65536,
         'raw', [b])
    print('\n| case | card MB | scanned MB | saved MB | read MB | read / (scanned + saved) | whole files identical |')
    print('|---|---:|---:|---:|---:|---:|---|')
    for name, size, scanned, saved, rchar, ratio, whole in rows:
        print(f'| {name} | {size / 1e6:.1f} | {scanned / 1e6:.1f} | {saved / 1e6:.1f} | {rchar / 1e6:.1f} | '
              f'{ratio:.2f}{"" if ratio <= 1.2 else " (over 1.2)"} | {"yes" if whole else "NO"} |')


try:
    if not args.only_cases:
        corpus_card()
    if args.cases or args.only_cases:
        cases()
finally:
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
