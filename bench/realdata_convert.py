# SPDX-License-Identifier: BSD-3-Clause
"""Turns files unpacked from Debian packages into the benchmark's data sets.

Usage: realdata_convert.py CACHE BENCHDIR
  CACHE/x/PACKAGE holds each package unpacked (dpkg-deb -x), CACHE/deb the
  .deb files (their names give the versions). Writes CACHE/sets/SET/NAME.raw
  (the array's elements in MATLAB storage order, column-major, little-endian)
  and NAME.txt (key value lines: class, dims, rate, kind, package, version,
  path, note), and CACHE/sets/index.txt with one line per file:
  SET NAME CLASS DIMS... Images are decoded by Octave (imread, through
  BENCHDIR/realdata_images.m); the rest here, with numpy and pydicom.
"""
import bz2
import glob
import gzip
import io
import os
import pickle
import struct
import subprocess
import sys
import wave

import numpy as np

SKIMAGE = 'python3-skimage', '/usr/lib/python3/dist-packages/skimage/data/'
SCIPY = 'python3-scipy', '/usr/lib/python3/dist-packages/scipy/misc/'
JXL = 'libjxl-testdata', '/usr/share/libjxl-testdata/'
ALSA = 'alsa-utils', '/usr/share/sounds/alsa/'
ASTERISK = 'asterisk-core-sounds-en-wav', '/usr/share/asterisk/sounds/en_US_f_Allison/'
SONICPI = 'sonic-pi-samples', '/usr/share/sonic-pi/samples/'
MPL = 'python-matplotlib-data', '/usr/share/matplotlib/mpl-data/sample_data/'

# (set, name, package, path in the package, reader, note). Every file is a
# recording or a photograph that nobody here made; nothing is tuned to one.
SETS = [
    ('gray8', 'camera', *SKIMAGE, 'camera.png', 'image', 'photo, CC0 (Lav Varshney)'),
    ('gray8', 'ascent', *SCIPY, 'ascent.dat', 'pickle', 'photo of JPEG origin, public-domain-image.com (scipy, BSD-3-Clause)'),
    ('gray8', 'brick', *SKIMAGE, 'brick.png', 'image', 'texture photo, CC0 (cc0textures), downscaled from a JPEG'),
    ('gray8', 'grass', *SKIMAGE, 'grass.png', 'image', 'texture photo, CC0, downscaled from a JPEG'),
    ('gray8', 'gravel', *SKIMAGE, 'gravel.png', 'image', 'texture photo, CC0 (cc0textures), downscaled from a JPEG'),
    ('rgb8', 'astronaut', *SKIMAGE, 'astronaut.png', 'image', 'photo, NASA, public domain'),
    ('rgb8', 'coffee', *SKIMAGE, 'coffee.png', 'image', 'photo, CC0 (Rachel Michetti)'),
    ('rgb8', 'chelsea', *SKIMAGE, 'chelsea.png', 'image', 'photo, CC0 (Stefan van der Walt)'),
    ('rgb8', 'motorcycle', *SKIMAGE, 'motorcycle_left.png', 'image', 'photo, Middlebury stereo data set'),
    ('rgb8', 'face', *SCIPY, 'face.dat', 'face', 'photo of JPEG origin, public-domain-image.com (scipy, BSD-3-Clause)'),
    ('rgb8', 'keong_macan', *JXL, 'external/wesaturate/500px/cvo9xd_keong_macan_srgb8.png', 'image',
     'photo, CC0 (wesaturate.com), resized'),
    ('rgb8', 'riaphotographs', *JXL, 'external/wesaturate/500px/tmshre_riaphotographs_srgb8.png', 'image',
     'photo, CC0 (wesaturate.com), resized'),
    ('rgb8', 'bliznaca', *JXL, 'external/wesaturate/500px/u76c0g_bliznaca_srgb8.png', 'image',
     'photo, CC0 (wesaturate.com), resized'),
    ('img16', 'dji', *JXL, 'external/raw.pixls/DJI-FC6310-16bit_709_v4_krita.png', 'image',
     '16-bit photo crop developed from a camera raw file, CC0 (raw.pixls.us)'),
    ('img16', 'pixel2xl', *JXL, 'external/raw.pixls/Google-Pixel2XL-16bit_acescg_g1_v4_krita.png', 'image',
     '16-bit photo crop developed from a camera raw file, CC0 (raw.pixls.us)'),
    ('img16', 'huawei', *JXL, 'external/raw.pixls/HUAWEI-EVA-L09-16bit_709_g1_dt.png', 'image',
     '16-bit photo crop developed from a camera raw file, CC0 (raw.pixls.us)'),
    ('img16', 'nikon_d300', *JXL, 'external/raw.pixls/Nikon-D300-12bit_2020_g1_dt.png', 'image',
     '16-bit photo crop developed from a camera raw file, CC0 (raw.pixls.us)'),
    ('img16', 'sony_rx1', *JXL, 'external/raw.pixls/Sony-DSC-RX1RM2-14bit_709_v4_krita.png', 'image',
     '16-bit photo crop developed from a camera raw file, CC0 (raw.pixls.us)'),
    ('img16', 'dss', 'python3-astropy', '/usr/lib/python3/dist-packages/astropy/wcs/tests/data/',
     'dss.14.29.56-62.41.05.fits.gz', 'fits', 'Digitized Sky Survey plate scan (UK Schmidt), int16'),
]
SETS += [('speech', 'alsa_' + n.lower(), *ALSA, n + '.wav', 'wav', 'recorded speech, GPL-2 (alsa-utils)')
         for n in ['Front_Center', 'Front_Left', 'Front_Right', 'Rear_Center', 'Rear_Left', 'Rear_Right',
                   'Side_Left', 'Side_Right']]
SETS += [('speech8k', n.replace('-', '_'), *ASTERISK, n + '.wav', 'wav',
          'recorded telephone prompt, 8 kHz, CC-BY-SA-3.0 (Allison Smith, Digium)')
         for n in ['vm-instructions', 'vm-options', 'queue-reporthold', 'conf-adminmenu', 'vm-tooshort',
                   'agent-alreadyon']]
SETS += [('music1', n, *SONICPI, n + '.flac', 'flac', 'recorded instrument, CC0 (freesound.org)')
         for n in ['guit_e_slide', 'guit_harmonics', 'drum_roll', 'drum_cymbal_open', 'tabla_tun1']]
SETS += [('music2', n, *SONICPI, n + '.flac', 'flac', 'recorded instrument, stereo, CC0 (freesound.org)')
         for n in ['guit_em9', 'guit_e_fifths', 'ambi_piano', 'loop_tabla', 'loop_amen_full']]
# Synthetic speech (espeak-ng reading three stretches of the GPL's preamble
# in three voices): the "synthetic speech" set, shown beside the
# recorded ones, made by a Debian program rather than by us.
SETS += [('speech_synth', 'espeak_' + voice.replace('-', '_'), 'espeak-ng', '/usr/share/common-licenses/', 'GPL-3',
          'espeak:%s:%d' % (voice, start), 'synthetic speech (espeak-ng %s, 22.05 kHz), text of base-files' % voice)
         for voice, start in [('en-gb', 400), ('en-us', 650), ('en-gb-scotland', 900)]]
SETS += [
    ('dem', 'jacksboro', *MPL, 'jacksboro_fault_dem.npz', 'npz_dem', 'USGS elevation model, 3 arc s, public domain'),
    ('dem', 'topobathy', *MPL, 'topobathy.npz', 'npz_topo', 'ETOPO topography and bathymetry, public domain'),
    ('dem', 'luxembourg', 'r-cran-terra', '/usr/lib/R/site-library/terra/ex/', 'elev.tif', 'image_int16',
     'SRTM elevation of Luxembourg, nodata -32768, GPL-3+ (terra)'),
    ('dem', 'olinda', 'r-cran-stars', '/usr/lib/R/site-library/stars/tif/', 'olinda_dem_utm25s.tif', 'tif_float',
     'elevation of Olinda, Brazil, Apache-2.0 (stars)'),
    ('med8', 'colin27', 'mricron-data', '/usr/share/mricron/templates/', 'ch2.nii.gz', 'nifti_slab',
     'MRI head volume, average of 27 scans of one subject (Colin Holmes): its middle 60 of 181 slices'),
    ('med8', 'foot', 'mayavi2', '/usr/lib/python3/dist-packages/mayavi/tests/data/', 'foot.raw', 'foot',
     'CT slice of a foot, 256x256 (VTK sample data), BSD (mayavi)'),
    ('med16', 'ct_ankle', 'octave-dicom', '/usr/share/octave/packages/dicom-0.5.1/imdata/', 'CT-MONO2-16-ankle.dcm',
     'dicom', 'CT slice, int16'),
    ('med16', 'ct_small', 'python3-pydicom', '/usr/lib/python3/dist-packages/pydicom/data/test_files/',
     'CT_small.dcm', 'dicom', 'CT slice, int16, pydicom test data (MIT)'),
    ('med16', 'mr_small', 'python3-pydicom', '/usr/lib/python3/dist-packages/pydicom/data/test_files/',
     'MR_small.dcm', 'dicom', 'MR slice, int16, pydicom test data (MIT)'),
    ('med16', 'mr_head', 'dicomnifti', '/usr/share/doc/dicomnifti/examples/', '0001.dcm', 'dicom',
     'MR slice, 12 bits in uint16'),
    ('med16', 's1045', *MPL, 's1045.ima.gz', 'ima', 'MR slice, 8 bits used of uint16 (matplotlib sample data)'),
    ('med16', 't1_volume', 'insighttoolkit5-examples', '/usr/share/doc/insighttoolkit5-examples/examples/Data/',
     'KmeansTest_T1UCharRaw.nii.gz', 'nifti', 'MRI T1 volume, int16, 128x128x62 (ITK examples, Apache-2.0)'),
    ('med16', 'fmri_4d', 'python3-nibabel', '/usr/lib/python3/dist-packages/nibabel/tests/data/',
     'example4d.nii.gz', 'nifti', 'functional MRI, int16, 128x96x24x2 (nibabel test data, MIT)'),
]

PACKAGES = sorted({s[2] for s in SETS if not s[5].startswith('espeak:')})   # espeak-ng runs installed


def read_wav(path):
    with wave.open(path) as w:
        assert w.getsampwidth() == 2
        c, rate = w.getnchannels(), w.getframerate()
        x = np.frombuffer(w.readframes(w.getnframes()), '<i2').reshape(-1, c)
    return x, rate


def read_flac(path):
    info = subprocess.run(['metaflac', '--show-channels', '--show-sample-rate', '--show-bps', path],
                          check=True, capture_output=True, text=True).stdout.split()
    c, rate, bps = (int(v) for v in info)
    assert bps == 16, path
    pcm = subprocess.run(['flac', '-d', '-c', '-s', '--force-raw-format', '--endian=little', '--sign=signed', path],
                         check=True, capture_output=True).stdout
    return np.frombuffer(pcm, '<i2').reshape(-1, c), rate


def read_nifti(path):
    b = gzip.open(path).read() if path.endswith('.gz') else open(path, 'rb').read()
    assert struct.unpack('<i', b[:4])[0] == 348, path
    dim = struct.unpack('<8h', b[40:56])
    code = struct.unpack('<h', b[70:72])[0]
    offset = int(struct.unpack('<f', b[108:112])[0])
    dtype = {2: '<u1', 4: '<i2', 512: '<u2'}[code]
    shape = tuple(d for d in dim[1:1 + dim[0]])
    n = int(np.prod(shape))
    # NIfTI stores the first index fastest, as MATLAB does.
    return np.frombuffer(b, dtype, n, offset).reshape(shape, order='F')


def read_fits(path):
    b = gzip.open(path).read() if path.endswith('.gz') else open(path, 'rb').read()
    cards = {}
    pos = 0
    while True:
        card = b[pos:pos + 80].decode('ascii')
        pos += 80
        if card.startswith('END'):
            break
        if card[8:10] == '= ':
            cards[card[:8].strip()] = card[10:].split('/')[0].strip()
    start = -(-pos // 2880) * 2880
    assert cards['BITPIX'] == '16' and cards['NAXIS'] == '2' and 'BZERO' not in cards, path
    w, h = int(cards['NAXIS1']), int(cards['NAXIS2'])
    return np.frombuffer(b, '>i2', w * h, start).reshape(h, w)


def read_dicom(path):
    import pydicom
    d = pydicom.dcmread(path)
    x = d.pixel_array
    if x.ndim == 3 and d.get('SamplesPerPixel', 1) == 1:
        x = np.moveaxis(x, 0, 2)   # frames last: H-by-W-by-F
    return x


def read_tif_float(path):
    b = open(path, 'rb').read()
    assert b[:2] == b'II'
    ifd = struct.unpack('<I', b[4:8])[0]
    tags = {}
    for i in range(struct.unpack('<H', b[ifd:ifd + 2])[0]):
        t, ty, c, v = struct.unpack('<HHII', b[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
        tags[t] = (ty, c, v)
    w, h = tags[256][2] & 0xFFFF, tags[257][2] & 0xFFFF
    assert tags[258][2] & 0xFFFF == 32 and tags[259][2] & 0xFFFF == 1 and tags[339][2] & 0xFFFF == 3
    _, count, where = tags[273]
    offsets = struct.unpack('<%dI' % count, b[where:where + 4 * count]) if count > 1 else (where,)
    _, count, where = tags[279]
    sizes = struct.unpack('<%dI' % count, b[where:where + 4 * count]) if count > 1 else (where,)
    data = b''.join(b[o:o + s] for o, s in zip(offsets, sizes))
    return np.frombuffer(data, '<f4', w * h).reshape(h, w)


def integral(x, cls):
    assert np.all(np.isfinite(x)) and np.all(x == np.round(x)), 'not integer-valued'
    info = np.iinfo(cls)
    assert x.min() >= info.min and x.max() <= info.max
    return x.astype(cls)


def read_other(kind, path):
    """The array (numpy, MATLAB's index order) and the sample rate or 0."""
    if kind == 'wav':
        return read_wav(path)
    if kind == 'flac':
        return read_flac(path)
    if kind == 'pickle':
        with open(path, 'rb') as f:
            return integral(np.array(pickle.load(f)), np.uint8), 0
    if kind == 'face':
        raw = bz2.decompress(open(path, 'rb').read())
        return np.frombuffer(raw, np.uint8).reshape(768, 1024, 3), 0
    if kind == 'npz_dem':
        return np.load(path)['elevation'].astype('<i2'), 0
    if kind == 'npz_topo':
        return integral(np.load(path)['topo'], np.int16), 0
    if kind == 'tif_float':
        return integral(read_tif_float(path), np.int16), 0
    if kind == 'nifti':
        return read_nifti(path), 0
    if kind == 'nifti_slab':   # a third of a large volume keeps the benchmark short
        x = read_nifti(path)
        middle = x.shape[2] // 2
        return x[:, :, middle - 30:middle + 30], 0
    if kind == 'fits':
        return read_fits(path), 0
    if kind == 'dicom':
        return read_dicom(path), 0
    if kind == 'ima':
        return np.frombuffer(gzip.open(path).read(), '>u2').reshape(256, 256), 0
    if kind.startswith('espeak:'):
        _, voice, start = kind.split(':')
        text = ' '.join(open(path).read().split())[int(start):int(start) + 250]
        wav = subprocess.run(['espeak-ng', '-v', voice, '--stdout', text], check=True, capture_output=True).stdout
        with wave.open(io.BytesIO(wav)) as w:
            assert w.getsampwidth() == 2 and w.getnchannels() == 1
            rate = w.getframerate()
            # espeak-ng streams with an unknown length: take every frame there is
            frames = wav[44:]
        return np.frombuffer(frames[:len(frames) // 2 * 2], '<i2').reshape(-1, 1), rate
    if kind == 'foot':
        return np.fromfile(path, np.uint8).reshape(256, 256), 0
    raise ValueError(kind)


CLASSES = {'uint8': np.uint8, 'int8': np.int8, 'uint16': np.uint16, 'int16': np.int16}


def write_set_file(out, x):
    """Writes out.raw in MATLAB storage order; returns (class, dims)."""
    x = np.asarray(x)
    if x.ndim == 1:
        x = x.reshape(-1, 1)
    cls = x.dtype.name
    assert cls in CLASSES, cls
    np.ravel(x, order='F').astype(x.dtype.newbyteorder('<')).tofile(out + '.raw')
    return cls, list(x.shape)


def versions(cache):
    found = {}
    for deb in glob.glob(os.path.join(cache, 'deb', '*.deb')):
        name, version = os.path.basename(deb).split('_')[:2]
        found[name] = version.replace('%3a', ':')
    return found


def convert_images(jobs, benchdir):
    """Octave decodes the images: job lines 'source<TAB>out<TAB>signed'."""
    if not jobs:
        return
    listing = os.path.join(os.path.dirname(jobs[0][1]), '..', 'images.jobs')
    with open(listing, 'w') as f:
        for source, out, signed in jobs:
            f.write('%s\t%s\t%d\n' % (source, out, signed))
    subprocess.run(['octave-cli', '--no-history', '--no-gui', '--quiet', '--norc', '--eval',
                    "addpath('%s'); realdata_images('%s')" % (benchdir, listing)], check=True)
    os.remove(listing)


def main():
    cache, benchdir = sys.argv[1], sys.argv[2]
    version = versions(cache)
    root = os.path.join(cache, 'sets')
    jobs, records = [], []
    for set_name, name, package, folder, file, kind, note in SETS:
        path = folder + file
        source = path if kind.startswith('espeak:') else os.path.join(cache, 'x', package) + path
        os.makedirs(os.path.join(root, set_name), exist_ok=True)
        out = os.path.join(root, set_name, name)
        if package not in version:   # an installed package, not a downloaded one
            version[package] = subprocess.run(['dpkg-query', '-W', '-f=${Version}', package],
                                              capture_output=True, text=True).stdout or '?'
        record = dict(set=set_name, name=name, package=package, version=version[package],
                      path=path, note=note, rate=0, kind=kind)
        if kind in ('image', 'image_int16'):
            jobs.append((source, out, kind == 'image_int16'))
        else:
            x, rate = read_other(kind, source)
            record['cls'], record['dims'] = write_set_file(out, x)
            record['rate'] = rate
        records.append(record)
    convert_images(jobs, benchdir)
    index = []
    for r in records:
        out = os.path.join(root, r['set'], r['name'])
        if 'cls' not in r:   # written by Octave: class and dims in out.dims
            with open(out + '.dims') as f:
                words = f.read().split()
            os.remove(out + '.dims')
            r['cls'], r['dims'] = words[0], [int(v) for v in words[1:]]
        kind = 'audio' if r['rate'] else ('raster' if r['set'] == 'dem' else 'image')
        with open(out + '.txt', 'w') as f:
            f.write('class %s\ndims %s\nrate %d\nkind %s\npackage %s\nversion %s\npath %s\nnote %s\n' % (
                r['cls'], ' '.join(map(str, r['dims'])), r['rate'], kind, r['package'], r['version'],
                r['path'], r['note']))
        size = os.path.getsize(out + '.raw')
        assert size == int(np.prod(r['dims'])) * np.dtype(r['cls']).itemsize, out
        index.append('%s %s %s %s' % (r['set'], r['name'], r['cls'], ' '.join(map(str, r['dims']))))
    with open(os.path.join(root, 'index.txt'), 'w') as f:
        f.write('\n'.join(index) + '\n')
    print('%d files in %d sets under %s' % (len(index), len({r['set'] for r in records}), root))


if __name__ == '__main__':
    if len(sys.argv) == 2 and sys.argv[1] == '--packages':
        print(' '.join(PACKAGES))
    else:
        main()
