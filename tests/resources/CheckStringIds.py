#!/usr/bin/env python3
"""Fails when a string ID of KVResource is given a text in more than one place.

windres keeps one of the texts without a word, so a number that two areas define for
different purposes silently shows one area's text in the other's log or box.
"""
import collections
import glob
import os
import re
import sys

folder = sys.argv[1]
numbers = {}
for header in glob.glob(os.path.join(folder, '*.h')):
    for match in re.finditer(r'#define\s+(\w+)\s+(\d+)', open(header, encoding='utf-8').read()):
        numbers[match.group(1)] = int(match.group(2))

texts = collections.defaultdict(list)
for script in glob.glob(os.path.join(folder, '*.rc')):
    in_table = False
    for number, line in enumerate(open(script, encoding='utf-8', errors='replace'), 1):
        if re.match(r'\s*STRINGTABLE\b', line):
            in_table = True
        elif in_table and re.match(r'\s*END\s*$', line):
            in_table = False
        elif in_table:
            entry = re.match(r'\s*(\w+)\s*,?\s*L?"', line)
            if entry:
                name = entry.group(1)
                value = int(name) if name.isdigit() else numbers.get(name)
                where = f'{os.path.basename(script)}:{number} ({name})'
                if value is None:
                    texts[f'unknown name {name}'].append(where)
                else:
                    texts[value].append(where)

problems = {k: v for k, v in texts.items() if len(v) > 1 or isinstance(k, str)}
for key, places in sorted(problems.items(), key=lambda item: str(item[0])):
    print(f'string {key}: {", ".join(places)}')
print(f'{len(texts)} string IDs checked, {len(problems)} defined more than once or unknown')
sys.exit(1 if problems else 0)
