#!/usr/bin/env python3
"""The settings reference's generator catches what makes the page wrong: a string table it
misreads, a definition that changed since the page was made, a key a program reads without
a definition, and a definition no program reads.

Usage: SettingsReferenceTests.py <KVResource.dll>
"""
import glob
import os
import re
import shutil
import sys
import tempfile
import types
import unittest

def read(path):
    with open(path, encoding='utf-8') as f:
        return f.read()


ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The generator's file name has dashes, so it is loaded from its path as a module of its own.
GENERATOR = os.path.join(ROOT, 'scripts', 'make-settings-reference.py')
reference = types.ModuleType('settings_reference')
reference.__file__ = GENERATOR
sys.modules['settings_reference'] = reference
exec(compile(read(GENERATOR), GENERATOR, 'exec'), reference.__dict__)
RESOURCES = None


class StringTable(unittest.TestCase):
    def test_every_plain_text_of_the_sources_reads_the_same_from_the_library(self):
        numbers = {}
        for header in glob.glob(os.path.join(ROOT, 'resources', '*.h')):
            for match in re.finditer(r'#define\s+(IDS_\w+)\s+(\d+)', read(header)):
                numbers[match.group(1)] = int(match.group(2))
        strings = reference.ResourceStrings(RESOURCES)
        compared = 0
        for script in glob.glob(os.path.join(ROOT, 'resources', 'KV*.rc')):
            for match in re.finditer(r'^\s*(IDS_\w+)\s+"([^"\\]*)"\s*$', read(script), re.M):
                self.assertEqual(match.group(2), strings.text(numbers[match.group(1)]), match.group(1))
                compared += 1
        self.assertGreater(compared, 200)


class Disagreements(unittest.TestCase):
    """Each case builds the page from a changed copy of the definitions."""

    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.definitions = os.path.join(self.folder, 'KelvoAgentConfig.exe.config')
        shutil.copy(os.path.join(ROOT, reference.DEFINITIONS), self.definitions)

    def tearDown(self):
        shutil.rmtree(self.folder)

    def change(self, old, new):
        text = read(self.definitions)
        self.assertIn(old, text)
        with open(self.definitions, 'w', encoding='utf-8') as f:
            f.write(text.replace(old, new, 1))

    def check(self):
        """The check's exit code and output against the committed page."""
        output = os.path.join(self.folder, 'output.txt')
        stdout = sys.stdout
        with open(output, 'w') as sys.stdout:
            code = reference.main(['--resources', RESOURCES, '--definitions', self.definitions, '--check'])
        sys.stdout = stdout
        return code, read(output)

    def test_unchanged_definitions_agree_with_the_page_and_the_programs(self):
        self.assertEqual((0, ''), self.check())

    def test_a_changed_default_makes_the_page_stale_in_that_row(self):
        self.change('<default>15</default>', '<default>20</default>')
        code, output = self.check()
        self.assertEqual(1, code)
        changed = [line for line in output.splitlines() if line.startswith(('-|', '+|'))]
        self.assertEqual(2, len(changed), output)
        self.assertTrue(all('`PromptTimeoutSeconds`' in line for line in changed), output)
        self.assertIn('| 20 |', changed[1])

    def test_a_key_the_agent_reads_without_a_definition_is_named_with_where_it_is_read(self):
        self.change('<add key="PromptTimeoutSeconds">', '<add key="PromptTimeout">')
        code, output = self.check()
        self.assertEqual(1, code)
        self.assertIn('disagreement: KelvoAgent reads PromptTimeoutSeconds (agent/CCartAgentDlg.cpp), '
                      'which has no definition for KelvoAgent', output)
        self.assertIn('disagreement: PromptTimeout is defined for KelvoAgent, which never reads it', output)

    def test_a_definition_the_service_never_reads_shows_as_read_by_no_program(self):
        self.change('<serviceSettings>', '<serviceSettings><add key="CartHardwareIds"><type>List</type></add>')
        text, problems = reference.build(RESOURCES, self.definitions)
        self.assertEqual(['CartHardwareIds is defined for KelvoConfigSvc, which never reads it'], problems)
        self.assertRegex(text, r'## KelvoConfigSvc[^#]*\n\| `CartHardwareIds` \|[^\n]*\| \*\*no program\*\* \|\n')

    def test_a_common_definition_belongs_to_every_program(self):
        self.change('<commonSettings>', '<commonSettings><add key="ShowExitMenuItem"><type>Boolean</type></add>')
        _, problems = reference.build(RESOURCES, self.definitions)
        self.assertEqual(['ShowExitMenuItem is defined for KelvoAgentConfig, which never reads it',
                          'ShowExitMenuItem is defined for KelvoConfigSvc, which never reads it'], sorted(problems))


if __name__ == '__main__':
    RESOURCES = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)
