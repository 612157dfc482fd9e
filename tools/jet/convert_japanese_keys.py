#!/usr/bin/env python3
"""Turns the text index keys Access wrote in the Japanese sort order (1041,
version 0) into platform/jet/data/japanese_text_key_codes.txt: the per-
character codes of that order, in the record syntax of text_key_codes.txt.

    convert_japanese_keys.py KEYS.tsv platform/jet/data/text_key_codes.txt \
        > platform/jet/data/japanese_text_key_codes.txt

KEYS.tsv holds leaf entries (key bytes without the row pointer) with the
values they were made from (tests/data/access/japanese_sample_db_keys.tsv).
What the order is known to share with General Legacy (the printable ASCII
characters, the kana and their voicing and small forms) is taken from that
order's records, but only for kana whose weight the keys show; every other
character's weight is read off the keys, where an entry splits into per-
character weights without doubt (each weight two bytes, the weights ending
exactly where the key's 01 does, and every entry with the character agreeing).
Everything not known that way is written as "x": the encoder refuses it.

Extra record kinds of this section:
      x  unknown: a text holding it gets no key
      p  the prolonged sound mark: the weight of the preceding kana's vowel
      r  the iteration mark: the preceding character's weight, EXTRA after it
"""
import re
import sys

PROLONGED = (0x30FC, 0xFF70)
ITERATION = 0x3005
# Kana the General Legacy tables give a weight but whose place in this order
# no key shows (vu, the small ka/ke, wi/we and their voiced forms).
UNSURE_KANA = {0x3094, 0x3095, 0x3096, 0x30F4, 0x30F5, 0x30F6, 0x30F7, 0x30F8, 0x30F9, 0x30FA,
               0x3090, 0x3091, 0x30F0, 0x30F1}


def legacy_records(path):
    """The General Legacy section, one record (list of fields) per code unit."""
    table = []
    section = None
    for line in open(path, encoding='utf-8'):
        line = line.rstrip('\n')
        if not line or line.startswith('#'):
            continue
        if line.startswith('order '):
            section = line[6:]
            continue
        if section != 'GeneralLegacy':
            continue
        fields = line.split()
        count = 1
        if fields[0].isdigit():
            count = int(fields[0])
            fields = fields[1:]
        for i in range(count):
            record = list(fields)
            if i and record[0] in 'sek':
                width = len(record[1])
                record[1] = '%0*X' % (width, int(record[1], 16) + i)
            table.append(record)
    assert len(table) == 0x10000, len(table)
    return table


def is_kana(record):
    return record[0] == 'k'


def in_kana_blocks(c):
    """Hiragana, katakana and half-width katakana: not the circled or
    other enclosed forms the General Legacy tables also give kana weights."""
    return 0x3041 <= c <= 0x3096 or 0x30A1 <= c <= 0x30FA or 0xFF66 <= c <= 0xFF9D


def vowel(weight):
    """The vowel weight of a kana weight 7Fxx (rows of 8: five vowels, three gaps)."""
    low = int(weight[2:], 16)
    if weight[:2] != '7F' or low < 0x02 or low > 0x4A or (low - 2) % 8 > 4:
        return None
    return '7F%02X' % (0x02 + (low - 2) % 8)


def entries(path):
    """(text key bytes, value) pairs of the single-text-column entries (and of
    a Long column followed by a Text one, as MSysObjects' ParentIdName)."""
    columns = {}
    for line in open(path, encoding='utf-8'):
        line = line.rstrip('\n')
        if line.startswith('# INDEX'):
            fields = line.split('\t')
            table, number = fields[1], fields[3].split('=')[1]
            columns[(table, number)] = re.findall(r'\(([A-Z]+),(?:asc|desc)', fields[6])
            continue
        if line.startswith('#'):
            continue
        table, number, key, values = line.split('\t')
        kinds = columns.get((table, number))
        key = bytes.fromhex(key)
        values = values.split('\u241f')
        if kinds == ['TEXT'] and key[:1] == b'\x7f':
            yield key[1:], values[0]
        elif kinds == ['LONG', 'TEXT'] and key[:1] == b'\x7f' and key[5:6] == b'\x7f':
            yield key[6:], values[1]


def split(key, value, legacy):
    """Per-character weights of one entry, or None when it does not split."""
    value = value[:255].rstrip(' ')
    at = 0
    learned = []
    previous = None
    for ch in value:
        c = ord(ch)
        record = legacy[c]
        if 0x20 <= c <= 0x7E:
            size = len(record[1]) // 2 if record[0] in 'se' else 0
            previous = key[at:at + size].hex().upper()
            at += size
            continue
        if record[0] == 'm':
            continue
        weight = key[at:at + 2].hex().upper()
        at += 2
        if len(weight) != 4:
            return None
        if c in PROLONGED:
            if previous is None or vowel(previous) != weight:
                return None
        elif c == ITERATION:
            if weight != previous:
                return None
        elif is_kana(record):
            if weight != record[1]:
                return None
        else:
            learned.append((c, weight))
        previous = weight
    if key[at:at + 1] != b'\x01':
        return None
    return learned


def main():
    keys_path, legacy_path = sys.argv[1], sys.argv[2]
    legacy = legacy_records(legacy_path)
    weights = {}
    conflicts = set()
    seen_kana = set()
    unsplit = 0
    for key, value in entries(keys_path):
        learned = split(key, value, legacy)
        if learned is None:
            unsplit += 1
            continue
        for ch in value:
            if is_kana(legacy[ord(ch)]):
                seen_kana.add(legacy[ord(ch)][1])
        for c, weight in learned:
            if weights.setdefault(c, weight) != weight:
                conflicts.add(c)
    for c in conflicts:
        del weights[c]

    records = []
    for c in range(0x10000):
        record = legacy[c]
        if c == 0 or 0x20 <= c <= 0x7E:
            records.append(' '.join(record))
        elif c in PROLONGED:
            records.append('p')
        elif c == ITERATION:
            records.append('r 05')
        elif record[0] == 'm' and 0xFF9E <= c <= 0xFF9F:
            records.append(' '.join(record))
        elif is_kana(record) and in_kana_blocks(c) and record[1] in seen_kana and c not in UNSURE_KANA:
            records.append(' '.join(record))
        elif c in weights:
            records.append('s ' + weights[c])
        else:
            records.append('x')
    print('# Character codes of text index keys in the Japanese sort order (1041,')
    print('# version 0); made by tools/jet/convert_japanese_keys.py (see NOTICE).')
    print('# %d characters with a weight read off the keys, %d kana weights seen,' % (len(weights), len(seen_kana)))
    print('# %d entries that did not split into weights.' % unsplit)
    print('order Japanese')
    run = 0
    for record in records:
        if record == 'x':
            run += 1
            continue
        if run:
            print('%d x' % run if run > 1 else 'x')
            run = 0
        print(record)
    if run:
        print('%d x' % run if run > 1 else 'x')


if __name__ == '__main__':
    main()
