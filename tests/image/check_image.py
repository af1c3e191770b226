#!/usr/bin/env python3
"""Checks what the built executable carries besides its code: the header fields, the
import table and the resources (manifest, version record, icon), read with pefile."""
import os
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

EXECUTABLE = sys.argv.pop(1)
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
DUTCH, ENGLISH_US = 0x0413, 0x0409
# Size, and the bytes of each image: a header, 24-bit rows and a 1-bit mask, each row padded to 4 bytes.
ICONS = [(16, 872), (256, 204840), (48, 7336), (32, 3240)]
# Every function the image imports, all of them exported by Windows 2000, whose loader
# refuses an image that imports one it lacks (a newer one is looked up at run time): what
# the statically linked run time imports, and the program's own calls.
WINDOWS_2000_IMPORTS = {
    "kernel32.dll": {
        "CloseHandle", "CreateSemaphoreW", "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary",
        "GetCurrentThreadId", "GetLastError", "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress",
        "GetStartupInfoA", "InitializeCriticalSection", "IsDBCSLeadByteEx", "LeaveCriticalSection", "LoadLibraryA",
        "LoadLibraryW", "MultiByteToWideChar", "ReleaseSemaphore", "SetLastError", "SetUnhandledExceptionFilter",
        "Sleep", "TlsAlloc", "TlsFree", "TlsGetValue", "TlsSetValue", "VirtualProtect", "VirtualQuery",
        "WaitForSingleObject", "WideCharToMultiByte", "GetCurrentProcess", "OpenProcess", "LoadLibraryExA",
        "GetSystemDirectoryA", "LocalFree", "GetCurrentProcessId", "VerifyVersionInfoW", "VerSetConditionMask"},
    "msvcrt.dll": {
        "__getmainargs", "__initenv", "__mb_cur_max", "__p__acmdln", "__p__commode", "__p__fmode", "__set_app_type",
        "__setusermatherr", "_amsg_exit", "_cexit", "_close", "_errno", "_initterm", "_iob", "_onexit", "_read",
        "abort", "atoi", "calloc", "exit", "fprintf", "fputc", "fputs", "free", "fwrite", "localeconv", "malloc",
        "memchr", "memcmp", "memcpy", "memmove", "memset", "realloc", "setlocale", "signal", "strchr", "strcmp",
        "strerror", "strlen", "strncmp", "vfprintf", "wcslen"},
    "advapi32.dll": {
        "RegOpenKeyExA", "RegCreateKeyExA", "RegQueryValueExA", "RegSetValueExA", "RegDeleteValueA", "RegCloseKey",
        "OpenProcessToken", "GetTokenInformation", "ConvertSidToStringSidA", "LookupAccountNameA"},
    "user32.dll": {"CharPrevA", "MessageBoxA", "GetShellWindow", "GetWindowThreadProcessId",
                   "GetProcessWindowStation", "GetUserObjectInformationA"},
}


def resources(pe):
    """(type, id, language) -> data of every resource in the image."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                entry = language.data.struct
                found[kind.id, name.id, language.id] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


class Image(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXECUTABLE)
        cls.resources = resources(cls.pe)

    def test_header(self):
        header, optional = self.pe.FILE_HEADER, self.pe.OPTIONAL_HEADER
        self.assertEqual(header.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
        self.assertEqual(header.TimeDateStamp, 0)
        self.assertFalse(header.IMAGE_FILE_RELOCS_STRIPPED)
        self.assertGreater(optional.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]].Size, 0)
        self.assertEqual(optional.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
        self.assertEqual((optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion), (5, 0))
        self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion), (5, 0))
        self.assertTrue(optional.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE)
        self.assertTrue(optional.IMAGE_DLLCHARACTERISTICS_NX_COMPAT)
        self.assertTrue(optional.IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)

    def test_imports_only_what_windows_2000_has(self):
        imports = {entry.dll.decode().lower(): {i.name.decode() for i in entry.imports}
                   for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertEqual(set(imports), set(WINDOWS_2000_IMPORTS))
        for dll, names in imports.items():
            with self.subTest(dll=dll):
                self.assertEqual(names, WINDOWS_2000_IMPORTS[dll])

    def test_carries_exactly_the_manifest_version_record_and_icon(self):
        expected = {(RT_MANIFEST, 1, ENGLISH_US), (RT_VERSION, 1, DUTCH), (RT_GROUP_ICON, 102, DUTCH)}
        expected |= {(RT_ICON, number, DUTCH) for number in range(1, len(ICONS) + 1)}
        self.assertEqual(set(self.resources), expected)

    def test_manifest(self):
        root = ElementTree.fromstring(self.resources[RT_MANIFEST, 1, ENGLISH_US])
        v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        self.assertEqual(root.tag, v1 + "assembly")
        self.assertEqual(root.get("manifestVersion"), "1.0")
        level = root.find(f"{v3}trustInfo/{v3}security/{v3}requestedPrivileges/{v3}requestedExecutionLevel")
        self.assertEqual(level.attrib, {"level": "requireAdministrator", "uiAccess": "false"})
        controls = root.findall(f"{v1}dependency/{v1}dependentAssembly/{v1}assemblyIdentity")
        self.assertEqual([c.attrib for c in controls], [{
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"}])
        # Windows ignores a setting in another namespace than its own without a word.
        settings = root.find(f"{v3}application/{v3}windowsSettings")
        self.assertEqual({setting.tag: setting.text for setting in settings}, {
            "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware": "true",
            "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness": "PerMonitorV2, System",
            "{http://schemas.microsoft.com/SMI/2019/WindowsSettings}activeCodePage": "UTF-8"})
        self.assertEqual([child.tag for child in root], [v3 + "trustInfo", v1 + "dependency", v3 + "application"])

    def test_version_record(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00010000, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010000, 0))
        self.assertEqual((fixed.FileFlagsMask, fixed.FileFlags), (0x17, 0))
        self.assertEqual((fixed.FileOS, fixed.FileType, fixed.FileSubtype), (4, 1, 0))
        self.assertEqual((fixed.FileDateMS, fixed.FileDateLS), (0, 0))
        tables = [table for info in self.pe.FileInfo[0] if info.Key == b"StringFileInfo" for table in info.StringTable]
        self.assertEqual([table.LangID for table in tables], [b"000004b0"])
        strings = {key.decode(): value.decode() for key, value in tables[0].entries.items()}
        self.assertEqual(set(strings), {"CompanyName", "FileDescription", "FileVersion", "InternalName",
                                        "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion"})
        self.assertTrue(all(strings.values()))
        self.assertEqual(strings["FileVersion"], "1, 0, 0, 0")
        self.assertEqual(strings["ProductName"], "YarrowTide Desktop")
        self.assertEqual(strings["ProductVersion"], "1.0.0.0")
        self.assertEqual(strings["OriginalFilename"], os.path.basename(EXECUTABLE))
        translations = [var.entry for info in self.pe.FileInfo[0] if info.Key == b"VarFileInfo" for var in info.Var]
        self.assertEqual(translations, [{b"Translation": "0x0000 0x04b0"}])

    def test_icon_group_of_four_24_bit_images(self):
        group = self.resources[RT_GROUP_ICON, 102, DUTCH]
        self.assertEqual(struct.unpack_from("<HHH", group), (0, 1, len(ICONS)))
        for number, (size, length) in enumerate(ICONS, start=1):
            with self.subTest(size=size):
                entry = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * (number - 1))
                self.assertEqual(entry, (size % 256, size % 256, 0, 0, 1, 24, length, number))
                image = self.resources[RT_ICON, number, DUTCH]
                self.assertEqual(len(image), length)
                # An uncompressed bitmap twice as high as wide: the colours, then the mask.
                self.assertEqual(struct.unpack_from("<IiiHHI", image), (40, size, size * 2, 1, 24, 0))


if __name__ == "__main__":
    unittest.main()
