#!/usr/bin/env python3
"""How whole are the saved files? Builds a card image from real camera files (the benchmark
corpus) and a few files of the sample card, back to back from sector boundaries with erased
gaps between some, scans it in all three modes with --out, and tells per type how many files
were saved byte-identical, with extra bytes after them, cut short, or not at all.

    bench/save_check.py [--corpus DIR] [--build DIR]
"""
import argparse, collections, hashlib, os, pathlib, subprocess, tempfile

ap = argparse.ArgumentParser()
ap.add_argument('--corpus', default=str(pathlib.Path(__file__).resolve().parents[2] / 'shared' / 'corpus'))
ap.add_argument('--build', default=str(pathlib.Path(__file__).resolve().parents[1] / 'build'))
args = ap.parse_args()

files = sorted(p for p in pathlib.Path(args.corpus).rglob('*') if p.is_file() and p.name != 'README.md')
files += [pathlib.Path(args.build) / 'sample-content' / n for n in ('NOTES.PDF', 'ROUTE.ZIP', 'DIAGRAM.PNG')]
files += [pathlib.Path(__file__).resolve().parents[1] / 'resources' / 'sample' / 'clip.mp4']
work = pathlib.Path(tempfile.mkdtemp(prefix='lumafind-savecheck.'))
card = work / 'card.img'
with open(card, 'wb') as out:
    for i, f in enumerate(files):
        data = f.read_bytes()
        out.write(data + b'\0' * ((-len(data)) % 512))
        if i % 2:
            out.write(b'\0' * 2048)  # erased space after every second file
    out.write(b'\0' * 65536)

cli = pathlib.Path(args.build) / 'bin' / 'lumafind-cli'
saved = []
for mode in ('photo', 'video', 'raw'):
    dest = work / mode
    subprocess.run([str(cli), 'scan', str(card), '--mode', mode, '--out', str(dest), '--quiet',
                    '--report', str(work / f'{mode}.csv')], check=False)
    saved += [p.read_bytes() for p in dest.rglob('*') if p.is_file()]

result = collections.defaultdict(collections.Counter)
for f in files:
    data, kind = f.read_bytes(), 'not found'
    if any(s == data for s in saved):
        kind = 'identical'
    elif any(s.startswith(data) for s in saved):
        kind = 'with extra bytes'
    elif any(data.startswith(s) and len(s) >= 512 for s in saved):
        kind = 'cut short'
    result[f.suffix.upper().lstrip('.')][kind] += 1

kinds = ('identical', 'with extra bytes', 'cut short', 'not found')
print(f"{len(files)} files on a {card.stat().st_size // 1048576} MiB card ({work})")
print('| type | files | ' + ' | '.join(kinds) + ' |')
print('|---|---:|' + '---:|' * len(kinds))
for t in sorted(result):
    c = result[t]
    print(f'| {t} | {sum(c.values())} | ' + ' | '.join(str(c[k]) for k in kinds) + ' |')
