#!/usr/bin/env python3
"""Reads the built Nimbrel.exe back: PE kind and flags, imports, version block, icon, manifest.

Usage: check_exe.py Nimbrel.exe SOURCE_DIR
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

import pefile

EXE = sys.argv.pop(1) if len(sys.argv) > 2 else None
SOURCE = sys.argv.pop(1) if len(sys.argv) > 1 else None

# A small program is part of what it promises: the bound is kept by its options and code.
MAX_BYTES = 256 * 1024

# DLLs every Windows has; anything else would have to be shipped beside the program.
SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'msvcrt.dll', 'advapi32.dll',
               'shell32.dll', 'comctl32.dll', 'ole32.dll'}


def program_bytes(pe):
    """The bytes of the file before its certificate table: all of them when it is unsigned."""
    # A signature is appended after the program; the security directory's address is a file
    # offset, not an RVA. The bound is the program's, so a signed file is judged as unsigned.
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4]  # IMAGE_DIRECTORY_ENTRY_SECURITY
    return security.VirtualAddress if security.Size else len(pe.__data__)


class NimbrelExe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)
        cls.resources = {}
        for kind in cls.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    data = language.data.struct
                    cls.resources[(kind.id, name.id)] = cls.pe.get_data(data.OffsetToData, data.Size)

    def test_is_a_large_address_aware_32_bit_gui_program_with_aslr_dep_and_ts_awareness(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, 0x14C)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, 0x10B)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, 2)
        # Under WOW64 the program may use 4 GB, not 2: it reads a whole file into one buffer.
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x0020, 'LARGE_ADDRESS_AWARE')
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertTrue(flags & 0x0040, 'DYNAMIC_BASE')
        # Without base relocations the loader cannot move the image, and DYNAMIC_BASE does nothing.
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & 0x0001, 'RELOCS_STRIPPED')
        relocations = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[5]  # IMAGE_DIRECTORY_ENTRY_BASERELOC
        self.assertGreater(relocations.Size, 0, 'base relocations')
        self.assertTrue(self.pe.get_section_by_rva(relocations.VirtualAddress), 'base relocations')
        self.assertTrue(flags & 0x0100, 'NX_COMPAT')
        self.assertTrue(flags & 0x8000, 'TERMINAL_SERVER_AWARE')
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0, 'no link time stamp')

    def test_imports_only_system_dlls(self):
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imported, SYSTEM_DLLS)
        self.assertIn('kernel32.dll', imported)
        # The shell is loaded only for a start that needs elevation: other starts load nothing more.
        self.assertNotIn('shell32.dll', imported)

    def test_version_block(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00000001, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00000001, 0))
        tables = {}
        translations = []
        for info in self.pe.FileInfo[0]:
            for table in getattr(info, 'StringTable', []):
                tables[table.LangID.decode().upper()] = {
                    k.decode(): v.decode() for k, v in table.entries.items()}
            for var in getattr(info, 'Var', []):
                translations = list(var.entry.values())
        self.assertEqual(list(tables), ['040904B0'])
        self.assertEqual(tables['040904B0'], {
            'CompanyName': 'Private',
            'FileDescription': 'Nimbrel: Optional Command lines: -Online -KillSteam',
            'FileVersion': '0.01',
            'InternalName': 'Nimbrel',
            'OriginalFilename': 'Nimbrel.exe',
            'ProductName': 'Nimbrel',
            'ProductVersion': '0.01',
        })
        self.assertEqual(translations, ['0x0409 0x04b0'])

    def test_icon_is_32x32_16_colours_with_744_bytes(self):
        icons = [data for (kind, _), data in self.resources.items() if kind == 3]
        groups = [data for (kind, _), data in self.resources.items() if kind == 14]
        self.assertEqual(len(icons), 1)
        self.assertEqual(len(groups), 1)
        image = icons[0]
        self.assertEqual(len(image), 744)
        size, width, height, planes, bit_count = struct.unpack_from('<IiiHH', image)
        self.assertEqual((size, width, height, planes, bit_count), (40, 32, 64, 1, 4))
        # The program file's icon is built from the editable pixel map.
        with tempfile.TemporaryDirectory() as scratch:
            ico = os.path.join(scratch, 'Nimbrel.ico')
            subprocess.run([sys.executable, os.path.join(SOURCE, 'src/app/icon/make_icon.py'),
                            os.path.join(SOURCE, 'src/app/icon/Nimbrel.pixels'), ico], check=True)
            with open(ico, 'rb') as f:
                self.assertEqual(f.read()[22:], image)

    def test_stays_within_its_size_bound(self):
        self.assertLessEqual(program_bytes(self.pe), MAX_BYTES)

    def test_manifest(self):
        manifest = self.resources[(24, 1)].decode()
        self.assertIn('level="asInvoker"', manifest)
        # The program's own identity names its architecture; Windows refuses to start a program
        # whose manifest names another one (a side-by-side configuration error).
        identity = re.search(r'<assemblyIdentity [^>]*name="Nimbrel"[^>]*>', manifest)
        self.assertIsNotNone(identity)
        self.assertIn('processorArchitecture="x86"', identity.group(0))
        self.assertIn('PerMonitorV2', manifest)
        self.assertIn('Microsoft.Windows.Common-Controls', manifest)
        self.assertEqual(manifest.count('<supportedOS '), 4)


if __name__ == '__main__':
    size, program = os.path.getsize(EXE), program_bytes(pefile.PE(EXE, fast_load=True))
    signed = f', {program} before its signature' if program != size else ''
    print(f'{os.path.basename(EXE)}: {size} bytes{signed}', flush=True)  # before unittest's lines
    unittest.main(verbosity=2)
