#!/usr/bin/env python3
"""Writes docs/settings.md, the administrators' reference of every setting of the programs.

The page comes from the configuration editor's setting definitions
(configeditor/KelvoAgentConfig.exe.config) read the way the editor reads them: every element
name, attribute name, type name and Boolean value is a string of the built KVResource.dll,
taken from the library by string ID. The same library gives the key names the programs read:
their sources ask for settings by string ID, so the page says which program reads each
setting, and the script fails when a program reads a key that has no definition for it, or
a definition names a key its program never reads.

    scripts/make-settings-reference.py                 # writes docs/settings.md
    scripts/make-settings-reference.py --check         # fails when docs/settings.md is not current

--resources names the KVResource.dll to read (default: the build's bin/KVResource.dll, the
build folder being $KELVO_BUILD_DIR or build/). Exit code 0, or 1 with the reasons.
"""
import argparse
import difflib
import glob
import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFINITIONS = 'configeditor/KelvoAgentConfig.exe.config'
PAGE = 'docs/settings.md'
# The files the installation puts beside the programs, by application: the agent's default
# configuration, and the editor's own file, which is the definitions file itself.
INSTALLED = {'KelvoAgent': 'installer/KelvoAgent.exe.config', 'KelvoAgentConfig': DEFINITIONS}

# The programs whose files the editor edits, by the application key of the definitions: what
# they are, the source folders whose code is theirs, when they read their file and where they
# log (the log file names are the program's prefix and the day, yyyymmdd).
PROGRAMS = {
    'KelvoAgent': {
        'title': 'the agent, one in every user session',
        'sources': ['agent', 'cartlink'],
        'reads': 'at start, at every unlock and remote reconnect, and when the editor saves its file',
        'log_prefix': 'KelvoAgent',
        'log_base': '%LOCALAPPDATA%',
    },
    'KelvoConfigSvc': {
        'title': 'the configuration service',
        'sources': ['configsvc'],
        'reads': 'at start and when the editor saves its file',
        'log_prefix': 'KelvoConfigSvc',
        'log_base': 'C:\\ProgramData',
    },
    'KelvoAgentConfig': {
        'title': 'the configuration editor',
        'sources': ['configeditor', 'configsec'],
        'reads': 'at start',
        'log_prefix': 'KelvoConfigEditor',
        'log_base': '%LOCALAPPDATA%',
    },
}

# What an administrator needs beyond the definitions' notes, found in the programs' code.
REMARKS = {
    ('KelvoAgent', 'CartHardwareIds'):
        'The agent takes the hexadecimal numbers that follow `VID_` and `PID_`; an ID without both, '
        'or with a zero, is skipped. '
        'A device is the cart when its vendor ID is listed: its product ID is not compared. '
        'An empty list changes nothing: the list read before stays in force until the agent restarts.',
    ('KelvoAgent', 'AuthorizingGroups'):
        'Members of the computer\'s local Administrators group may always open the drawers, '
        'listed or not. A user the sign-on product reports without a domain is refused.',
    ('KelvoAgent', 'PromptTimeoutSeconds'):
        'A value outside the range, or a missing entry, keeps the time-out in force: 15 seconds '
        'at start, the last valid value after a reload.',
    ('KelvoAgent', 'GrantWithoutDirectoryCheck'):
        'Overrides the cart access list: nobody is refused once the sign-on product has identified them.',
    ('KelvoConfigSvc', 'LogLevel'):
        'The installation brings no file for the service: until an administrator creates '
        '`KelvoConfigSvc.exe.config`, the service writes no log at all.',
}
# No program writes lines of level 3: it logs what level 2 logs.
for _program in PROGRAMS:
    REMARKS[(_program, 'LogLevel')] = ' '.join(
        filter(None, ['Level 3 writes what level 2 writes: no program has lines of that level.',
                      REMARKS.get((_program, 'LogLevel'))]))

# The string IDs of the names the definitions and the configuration files are made of.
IDS = {
    'data_company': 564, 'data_product': 565, 'data_program': 566, 'log_folder': 543,
    'entry': 460, 'key': 476, 'value': 482, 'section': 512, 'template': 534, 'all_entries': 466,
    'low': 474, 'high': 473,
    'applications': 445, 'common': 446, 'app_type': 481, 'app_section': 511,
    'default': 463, 'caption': 464, 'note': 468, 'required': 478, 'type': 481,
    'named': 472, 'filter': 467, 'separator': 337,
    'bool_no_value': 483, 'bool_no_text': 484, 'bool_yes_value': 485, 'bool_yes_text': 486,
}
TYPE_IDS = {'Boolean': 461, 'Number': 470, 'Key': 471, 'File': 469, 'List': 475, 'Range': 535,
            'CartAccess': 540}


class ResourceStrings:
    """The string table of a resource-only PE library (RT_STRING blocks of 16 strings)."""

    RT_STRING = 6

    def __init__(self, path):
        with open(path, 'rb') as f:
            self._data = f.read()
        self._strings = {}
        self._read_string_table()

    def text(self, string_id):
        if string_id not in self._strings:
            raise KeyError(f'string {string_id} is not in the resource library')
        return self._strings[string_id]

    def _u16(self, offset):
        return struct.unpack_from('<H', self._data, offset)[0]

    def _u32(self, offset):
        return struct.unpack_from('<I', self._data, offset)[0]

    def _read_string_table(self):
        pe = self._u32(0x3C)
        if self._data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('not a PE file')
        sections = self._u16(pe + 6)
        optional = pe + 24
        optional_size = self._u16(pe + 20)
        directories = optional + (112 if self._u16(optional) == 0x20B else 96)
        resource_rva = self._u32(directories + 2 * 8)
        self._sections = []
        for i in range(sections):
            header = optional + optional_size + 40 * i
            size, rva, raw_size, raw = struct.unpack_from('<IIII', self._data, header + 8)
            self._sections.append((rva, max(size, raw_size), raw))
        base = self._offset(resource_rva)
        for type_id, type_dir in self._entries(base, base):
            if type_id != self.RT_STRING:
                continue
            for block, block_dir in self._entries(base, type_dir):
                languages = dict(self._entries(base, block_dir))
                # English (United States) when the block has it, otherwise its first language.
                leaf = languages.get(0x409, next(iter(languages.values())))
                self._read_block(block, leaf)

    def _offset(self, rva):
        for start, size, raw in self._sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f'RVA 0x{rva:x} lies in no section')

    def _entries(self, base, directory):
        named, numbered = struct.unpack_from('<HH', self._data, directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from('<II', self._data, directory + 16 + 8 * i)
            yield name, base + (target & 0x7FFFFFFF)

    def _read_block(self, block, leaf):
        rva, size = struct.unpack_from('<II', self._data, leaf)
        offset = self._offset(rva)
        end = offset + size
        for index in range(16):
            if offset >= end:
                break
            length = self._u16(offset)
            offset += 2
            if length:
                text = self._data[offset:offset + 2 * length].decode('utf-16-le')
                self._strings[(block - 1) * 16 + index] = text
            offset += 2 * length


class Setting:
    """One setting definition, read as the editor reads it."""

    def __init__(self, node, names, types):
        def child(name_id):
            found = node.find(names[name_id])
            return (found.text or '') if found is not None else ''

        def number(text, default=0):
            try:
                return int(text.strip(), 0)
            except ValueError:
                return default

        self.key = node.get(names['key'], '')
        self.caption = child('caption')
        self.required = number(child('required')) == 1
        type_text = child('type')
        self.type = next((name for name, text in types.items() if text.lower() == type_text.lower()), 'Text')
        self.note = child('note')
        self.low, self.high = number(child('low')), number(child('high'))
        if self.type == 'List':
            self.defaults = [n.text for n in node.findall(names['default']) if n.text]
        else:
            self.defaults = [child('default')]
        self.named = []
        for n in node.findall(names['named']):
            value = number(n.get(names['value'], ''), None)
            if value is not None and n.text:
                self.named.append((value, n.text))
        self.filters = [(n.get(names['value'], ''), n.text) for n in node.findall(names['filter']) if n.text]


class Definitions:
    """The applications of the editor's file and the settings of each, in the editor's order:
    the common definitions first, then the application's own."""

    def __init__(self, path, strings):
        self.names = {role: strings.text(number) for role, number in IDS.items()}
        self.types = {name: strings.text(number) for name, number in TYPE_IDS.items()}
        root = ElementTree.parse(path).getroot()
        self.applications = []
        common = root.findall(self.names['common'])
        for app in root.findall(self.names['applications']):
            section = app.get(self.names['app_section'], '')
            own = root.findall(f'.//{section}/{self.names["entry"]}') if section else []
            settings = [Setting(node, self.names, self.types) for node in common + own]
            self.applications.append((app.get(self.names['key'], ''), settings))

    def read_values(self, path):
        """The entries of a configuration file: key -> the texts of its value elements."""
        root = ElementTree.parse(path).getroot()
        return {entry.get(self.names['key'], ''): [v.text or '' for v in entry.findall(self.names['value'])]
                for entry in root.findall(self.names['all_entries'])}


def read_keys_in_code(strings):
    """The configuration keys each program's code reads, by program: every query of a
    configuration (GetBool, GetNumber, GetValue, GetList) whose key is a string ID."""
    numbers = {}
    for header in glob.glob(os.path.join(ROOT, 'resources', '*.h')):
        with open(header, encoding='utf-8') as f:
            for match in re.finditer(r'#define\s+(IDS_\w+)\s+(\d+)', f.read()):
                numbers[match.group(1)] = int(match.group(2))
    query = re.compile(r'(?:\.|->)(?:GetBool|GetNumber|GetValue|GetList)\(\s*(IDS_\w+)')
    keys = {}
    for program, info in PROGRAMS.items():
        found = {}
        for folder in info['sources']:
            for source in sorted(glob.glob(os.path.join(ROOT, folder, '**', '*.cpp'), recursive=True)):
                with open(source, encoding='utf-8', errors='replace') as f:
                    for match in query.finditer(f.read()):
                        key = strings.text(numbers[match.group(1)])
                        found.setdefault(key, os.path.relpath(source, ROOT))
        keys[program] = found
    return keys


def compare(definitions, code_keys):
    """What the definitions and the programs' code disagree on, as sentences."""
    problems = []
    defined = {name for name, _ in definitions.applications}
    for name in sorted(defined - PROGRAMS.keys()):
        problems.append(f'the definitions name an application {name} that is no program of the system')
    for name in sorted(PROGRAMS.keys() - defined):
        problems.append(f'the definitions have no application {name}')
    for name, settings in definitions.applications:
        if name not in code_keys:
            continue
        keys = {s.key for s in settings}
        for key, where in sorted(code_keys[name].items()):
            if key not in keys:
                problems.append(f'{name} reads {key} ({where}), which has no definition for {name}')
        for key in sorted(keys - code_keys[name].keys()):
            problems.append(f'{key} is defined for {name}, which never reads it')
    for (name, key) in sorted(REMARKS):
        if not any(name == n and any(s.key == key for s in settings) for n, settings in definitions.applications):
            problems.append(f'the remark on {name} {key} names no defined setting')
    return problems


class Page:
    """The markdown text of the reference."""

    def __init__(self, definitions, code_keys):
        self.d = definitions
        self.n = definitions.names
        self.code_keys = code_keys
        self.lines = []

    def text(self):
        self.header()
        self.where()
        self.legend()
        for name, settings in self.d.applications:
            self.application(name, settings)
        return '\n'.join(self.lines) + '\n'

    def add(self, *lines):
        self.lines.extend(lines)

    def header(self):
        self.add('# Settings reference', '',
                 '<!-- Generated by scripts/make-settings-reference.py from '
                 f'{DEFINITIONS} and KVResource.dll: change those and run the script again. -->', '',
                 'Every setting of the agent, the configuration service and the configuration editor, '
                 'as the editor ("Kelvo Cart Agent Configuration" in the Start menu) shows and writes it. '
                 'The editor takes these settings from its own file, `KelvoAgentConfig.exe.config`; '
                 'this page is made from the same definitions and is checked against the programs\' '
                 'code by the test suite.', '')

    def where(self):
        folder = '\\'.join(self.n[k] for k in ('data_company', 'data_product', 'data_program'))
        self.add('## Where the settings are', '',
                 'Each program reads its own XML file, named after the program. It looks in '
                 f'`C:\\ProgramData\\{folder}` first and uses the copy beside the program (in '
                 '`C:\\Program Files\\Kelvo\\Cart`) only when there is none there; the installation '
                 'puts a default `KelvoAgent.exe.config` beside the agent, and administrators keep '
                 'their files in program data, which upgrades leave alone.', '',
                 '| Program | File | Read | Log files |', '|---|---|---|---|')
        for name, info in PROGRAMS.items():
            logs = f'{info["log_base"]}\\{folder}\\{self.n["log_folder"]}\\{info["log_prefix"]}yyyymmdd.log'
            self.add(f'| `{name}.exe`, {info["title"]} | `{name}.exe.config` | {info["reads"]} | `{logs}` |')
        entry, key, value = self.n['entry'], self.n['key'], self.n['value']
        root = ElementTree.fromstring(self.n['template'].encode('utf-8')).tag
        self.add('', 'The agent and the editor write their logs below the temporary folder instead when the '
                 'log folder cannot be written. In the file, every setting is one entry of the '
                 f'`{self.n["section"]}` section; a list has one `{value}` element per item:', '',
                 f'    <{root}>', f'      <{self.n["section"]}>',
                 f'        <{entry} {key}="LogLevel"><{value}>2</{value}></{entry}>',
                 f'        <{entry} {key}="CartHardwareIds"><{value}>HID\\VID_0B6A&amp;PID_0001</{value}>'
                 f'<{value}>HID\\VID_0B6A&amp;PID_0002</{value}></{entry}>',
                 f'      </{self.n["section"]}>', f'    </{root}>', '')

    def legend(self):
        yes, no = self.bool_texts()
        self.add('## Reading the tables', '',
                 f'- **Type**: Boolean is {yes} or {no}; Number is a whole number; List is one value per '
                 'item; Cart access is a list of directory accounts written by the editor\'s Cart access '
                 'dialog; Text is any text.',
                 '- **Default**: what the editor gives a new entry, and what the program does when its file '
                 'has no entry, unless the cell says otherwise.',
                 '- **As installed**: the value in the file the installation puts beside the program, '
                 'which a copy in program data replaces as a whole.',
                 '- **Required**: yes when the editor adds a missing entry, with its default, at the next save. '
                 'A program that reads a file without the entry takes a Boolean as '
                 f'{no}, a List or a Text as empty and a Number as its default.',
                 '- **Read by**: the program whose code reads the key from this file.', '',
                 'A program that finds no file at all runs with the defaults, except that the service '
                 'then writes no log.', '')

    def bool_texts(self):
        return (f'{self.n["bool_yes_value"]} ({self.n["bool_yes_text"]})',
                f'{self.n["bool_no_value"]} ({self.n["bool_no_text"]})')

    def application(self, name, settings):
        info = PROGRAMS.get(name, {'title': 'an application the system does not know'})
        installed = None
        if name in INSTALLED:
            installed = self.d.read_values(os.path.join(ROOT, INSTALLED[name]))
            origin = f'the installation puts `{name}.exe.config` beside the program with the values under "As installed".'
        else:
            origin = 'the installation brings none.'
        self.add(f'## {name}: {info["title"]}', '', f'File: `{name}.exe.config`; {origin}', '',
                 '| Key | Setting | Type | Default | As installed | Allowed values | Required | What it does | Read by |',
                 '|---|---|---|---|---|---|---|---|---|')
        remarks = []
        for s in settings:
            read_by = f'`{name}.exe`' if s.key in self.code_keys.get(name, {}) else '**no program**'
            what = s.note[:1].upper() + s.note[1:] + '.' if s.note else ''
            if (name, s.key) in REMARKS:
                what += f' See [below](#{self.anchor(name, s.key)}).'
                remarks.append(s.key)
            cells = [f'`{s.key}`', s.caption, self.type_name(s), self.default(s), self.as_installed(s, installed),
                     self.allowed(s), 'yes' if s.required else 'no', what, read_by]
            self.add('| ' + ' | '.join(c.replace('|', '\\|') for c in cells) + ' |')
        self.add('')
        for key in remarks:
            self.add(f'<a id="{self.anchor(name, key)}"></a>**{key}** ({name}): {REMARKS[(name, key)]}', '')

    @staticmethod
    def anchor(name, key):
        return f'{name}-{key}'.lower()

    @staticmethod
    def type_name(s):
        return 'Cart access' if s.type == 'CartAccess' else s.type

    def default(self, s):
        if s.type == 'List':
            return self.shown(s, s.defaults) if s.defaults else 'none'
        text = self.shown(s, s.defaults)
        if s.type == 'Boolean' and s.required and s.defaults[0] != self.n['bool_no_value']:
            text += f'; a file without the entry reads as {self.bool_texts()[1]}'
        return text

    def as_installed(self, s, installed):
        if installed is None:
            return 'no file'
        if s.key not in installed:
            return 'no entry'
        return self.shown(s, installed[s.key])

    def shown(self, s, values):
        """Values as the page shows them: a Boolean or a named Number with its meaning."""
        if s.type == 'List':
            return ', '.join(f'`{v}`' for v in values if v) or 'empty'
        value = values[0] if values else ''
        if s.type == 'Boolean':
            yes, no = self.bool_texts()
            return yes if value == self.n['bool_yes_value'] else no if value == self.n['bool_no_value'] else f'`{value}`'
        if s.type == 'Number':
            try:
                number = int(value, 0)
            except ValueError:
                return f'`{value}`' if value else 'none'
            names = dict(s.named)
            return f'{number} ({names[number]})' if number in names else str(number)
        return f'`{value}`' if value else 'empty'

    def allowed(self, s):
        yes, no = self.bool_texts()
        limits = s.low != s.high
        if s.type == 'Boolean':
            return f'{yes} or {no}'
        if s.type == 'Number':
            if s.named:
                return ', '.join(f'{v} {t}' for v, t in s.named)
            return f'{s.low} to {s.high}' if limits else 'any whole number'
        if s.type == 'Range':
            return (f'two numbers, `{self.n["low"]}` and `{self.n["high"]}` children of the entry, '
                    f'within {s.low} to {s.high}')
        if s.type == 'List':
            return f'any texts, one `{self.n["value"]}` element each'
        if s.type == 'CartAccess':
            return (f'accounts and groups as `domain\\name`, separated by `{self.n["separator"]}`; '
                    'empty for none')
        if s.type == 'File':
            patterns = ', '.join(f'{d} `{p}`' for d, p in s.filters)
            return 'a file name without folder' + (f' ({patterns})' if patterns else '')
        if s.type == 'Key':
            return 'a virtual-key code, `0x` and hexadecimal, plus 0x10000 Shift, 0x20000 Ctrl, 0x40000 Alt'
        return 'any text'


def build(resources, definitions_path):
    """The page's text and what the definitions and the code disagree on."""
    strings = ResourceStrings(resources)
    definitions = Definitions(definitions_path, strings)
    code_keys = read_keys_in_code(strings)
    return Page(definitions, code_keys).text(), compare(definitions, code_keys)


def main(argv):
    build_dir = os.environ.get('KELVO_BUILD_DIR', os.path.join(ROOT, 'build'))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--resources', default=os.path.join(build_dir, 'bin', 'KVResource.dll'))
    parser.add_argument('--definitions', default=os.path.join(ROOT, DEFINITIONS))
    parser.add_argument('--page', default=os.path.join(ROOT, PAGE))
    parser.add_argument('--check', action='store_true', help='compare with the page instead of writing it')
    args = parser.parse_args(argv)

    text, problems = build(args.resources, args.definitions)
    for problem in problems:
        print(f'disagreement: {problem}')
    if args.check:
        current = ''
        if os.path.exists(args.page):
            with open(args.page, encoding='utf-8') as f:
                current = f.read()
        if current != text:
            sys.stdout.writelines(difflib.unified_diff(current.splitlines(True), text.splitlines(True),
                                                       args.page, 'as generated now', n=1))
            print(f'{args.page} is not current: run scripts/make-settings-reference.py')
            return 1
    else:
        os.makedirs(os.path.dirname(args.page), exist_ok=True)
        with open(args.page, 'w', encoding='utf-8', newline='\n') as f:
            f.write(text)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
