#!/usr/bin/env python3
"""Converts the published character code tables of Access text indexes into
platform/jet/data/text_key_codes.txt, the compact form the encoder embeds.

The tables come with the Apache-2.0 Java library of the Access format
(index_codes_genleg.txt, index_codes_ext_genleg.txt, index_codes_gen.txt,
index_codes_ext_gen.txt: one line per character of the Basic Multilingual
Plane without the surrogates, the first 256 in the first file). Run once when
the tables change:

    convert_index_codes.py DIR_WITH_THE_FOUR_FILES > platform/jet/data/text_key_codes.txt

Output: for each sort order a line "order NAME", then lines that each cover
the next N characters (starting at U+0000):

    [N] KIND [CODE [EXTRA [FLAG]]]

KIND  s  sorted by CODE alone
      e  CODE, plus EXTRA among the extra codes after the text
      u  no weight; CODE is its unprintable code
      m  no weight; adds CODE to the last extra code written
      k  CODE and EXTRA (or "-"), plus the kana flag FLAG (2 or 3)
      i  ignored
      h  high surrogate, l  low surrogate (their codes are computed)
CODE and EXTRA are hex bytes; N is left out when it is 1. In a run (N > 1)
of kind s, e or k the CODE of each following character is one more than the
previous one's (as a big-endian number of the same width) and all other
fields are the same; in a run of i, h or l the characters are alike.
"""
import sys

KIND = {'S': 's', 'I': 'e', 'U': 'u', 'P': 'm', 'Z': 'k', 'X': 'i'}


def whole_bytes(hexcode):
    # The published tables drop one leading zero of a code ("9" for 09).
    return ('0' + hexcode) if len(hexcode) % 2 else hexcode


def records(directory, name):
    with open(f'{directory}/index_codes_{name}.txt', encoding='ascii') as f:
        first = f.read().split('\n')[:256]
    with open(f'{directory}/index_codes_ext_{name}.txt', encoding='ascii') as f:
        ext = f.read().split('\n')
    lines = iter(first + ext)
    for c in range(0x10000):
        if 0xD800 <= c <= 0xDBFF:
            yield ('h',)
            continue
        if 0xDC00 <= c <= 0xDFFF:
            yield ('l',)
            continue
        line = next(lines)
        kind = KIND[line[0]]
        fields = line[1:].split(',') if len(line) > 1 else []
        if kind == 's' or kind == 'u' or kind == 'm':
            yield (kind, whole_bytes(fields[0]).upper())
        elif kind == 'e':
            yield (kind, whole_bytes(fields[0]).upper(), whole_bytes(fields[1]).upper())
        elif kind == 'k':
            extra = whole_bytes(fields[1]).upper() if fields[1] else '-'
            flag = '2' if fields[2] == '1' else '3'
            yield (kind, whole_bytes(fields[0]).upper(), extra, flag)
        else:
            yield (kind,)


def successor(record):
    """The record of the next character if it continued a run of `record`
    (its code one more), or None when the code would overflow."""
    code = record[1]
    value = int(code, 16) + 1
    if value >= 1 << (4 * len(code)):
        return None
    return (record[0], format(value, f'0{len(code)}X')) + record[2:]


def continues(previous, record):
    """Whether `record` can share the line of a run ending in `previous`."""
    if previous[0] in ('i', 'h', 'l'):
        return record == previous
    if previous[0] in ('s', 'e', 'k'):
        return record == successor(previous)
    return False  # u, m: a line each


def runs(recs):
    first, count, last = None, 0, None
    for rec in recs:
        if first is not None and continues(last, rec):
            count += 1
        else:
            if first is not None:
                yield count, first
            first, count = rec, 1
        last = rec
    yield count, first


def main():
    directory = sys.argv[1]
    out = sys.stdout
    out.write('# Character codes of Access text index keys, one record per run of\n'
              '# characters; converted by tools/jet/convert_index_codes.py (see NOTICE).\n')
    for order, name in (('GeneralLegacy', 'genleg'), ('General', 'gen')):
        out.write(f'order {order}\n')
        for n, rec in runs(records(directory, name)):
            out.write(' '.join(([str(n)] if n > 1 else []) + list(rec)) + '\n')


if __name__ == '__main__':
    main()
