# Read rate per condition, symbology and width of Lumisort's reader(s) beside zxing-cpp alone and
# zbarimg on the same photos, false and wrong codes, and milliseconds per photo. Used by bench/barcodes:
#   barcode_table.py MANIFEST REAL_LIST NAME=ONECORE.json[,BOTHCORES.json,WALL_MS] ... zxing=TSV zbar=TSV
import collections, json, os, statistics, sys

manifest, real_list, *readers = sys.argv[1:]
photos = {}
for line in list(open(manifest))[1:]:
    f = line.rstrip('\n').split('\t')
    photos[f[0]] = dict(condition=f[1], format=f[2], width=int(f[3]), text=f[10])
for line in open(real_list):
    if line.strip():
        photos[os.path.basename(line.strip())] = dict(condition='real photo (own size)', format='-', width=0, text='')

def lumisort(path):
    return {os.path.basename(p['file']): (float(p['ms']), [(c['format'], c['text']) for c in p['codes']])
            for p in json.load(open(path))['photos']}

def tsv(path):
    out = {}
    for line in open(path):
        f = line.rstrip('\n').split('\t')
        if len(f) >= 2:
            out[os.path.basename(f[0])] = (float(f[1]), [tuple(c.split(':', 1)) for c in f[2:] if ':' in c])
    return out

columns = []  # (name, readings one core, readings both cores or None, wall ms both cores)
for reader in readers:
    name, paths = reader.split('=', 1)
    parts = paths.split(',')
    if name in ('zxing', 'zbar'):
        columns.append((name + (' alone' if name == 'zxing' else ''), tsv(parts[0]), None, None))
    else:
        columns.append((name, lumisort(parts[0]), lumisort(parts[1]) if len(parts) > 1 else None,
                        float(parts[2]) if len(parts) > 2 else None))

def found(photo, codes):
    want = photo['text']
    # zbar reads UPC-A as the EAN-13 it is a part of.
    return any(t == want or (photo['format'] == 'UPC-A' and t == '0' + want) for _, t in codes)

def band(width):
    return '4%' if width <= 4 else '6-8%' if width <= 8 else '10-18%' if width <= 18 else '20-30%'

groups = collections.OrderedDict()
def add(key, name, value):
    groups.setdefault(key, {}).setdefault(name, []).append(value)

for file, photo in photos.items():
    for name, one, _, _ in columns:
        if file not in one:
            continue
        codes = one[file][1]
        if photo['text']:
            ok = found(photo, codes)
            wrong = len([c for c in codes if not found(photo, [c])])
            for key in ('condition: ' + photo['condition'], 'symbology: ' + photo['format'],
                        'width: ' + band(photo['width']), 'ALL codes',
                        'codes 8% wide or more' if photo['width'] >= 8 else 'codes under 8% wide'):
                add(key, name, (ok, wrong))
        else:
            for key in ('no code: ' + photo['condition'], 'ALL photos without a code'):
                add(key, name, (None, len(codes)))

names = [c[0] for c in columns]
print(f"{'':34s}" + ''.join(f'{n:>22s}' for n in names))
print(f"{'':34s}" + ''.join(f"{'read  wrong/false':>22s}" for n in names))
order = sorted(groups, key=lambda k: (k.startswith('ALL') or k.startswith('codes '), k.startswith('no code'),
                                      k.split(':')[0], list(groups).index(k)))
for key in order:
    cells = []
    for n in names:
        values = groups[key].get(n, [])
        if not values:
            cells.append(f"{'-':>22s}")
        elif values[0][0] is None:
            cells.append(f"{'-':>9s} {sum(v[1] for v in values):4d} false ({len(values):3d})")
        else:
            read = sum(v[0] for v in values)
            cells.append(f"{read:3d}/{len(values):<3d}{100 * read / len(values):4.0f}% {sum(v[1] for v in values):4d} w ")
    print(f'{key:34s}' + ''.join(cells))

print()
print('milliseconds per photo (each photo\'s own time on one core; the references decode excluded for zxing,')
print('the whole zbarimg process for zbar); both cores: wall time of the whole run over the photos')
for name, one, both, wall in columns:
    ms = sorted(v[0] for f, v in one.items() if f in photos and photos[f]['condition'] != 'real photo (own size)')
    if not ms:
        continue
    with_code = [v[0] for f, v in one.items() if f in photos and photos[f]['text']]
    without = [v[0] for f, v in one.items() if f in photos and not photos[f]['text']
               and photos[f]['condition'] != 'real photo (own size)']
    line = (f'{name:22s} {len(ms):3d} photos: mean {statistics.mean(ms):6.0f}, median {statistics.median(ms):6.0f}, '
            f'worst {ms[-1]:6.0f}; with a code {statistics.mean(with_code) if with_code else 0:6.0f}, '
            f'without {statistics.mean(without) if without else 0:6.0f}')
    if wall is not None and both:
        line += f'; both cores {wall / len(both):6.1f} ms a photo (wall)'
    print(line)
