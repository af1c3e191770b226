#!/usr/bin/env python3
"""End-to-end cases of the built executable under Wine, or natively on Windows.

`start` makes a fresh prefix with the null graphics driver and a relay list of the
program's platform calls, and leaves its wineserver running; `stop` ends it. `case NAME`
seeds the registry through the probe, runs the program once or more (holding the shell
window, or followed by a logon, where the case says), answers its boxes, and checks the
boxes, the exit code, the registry byte for byte, the marks the marker left and, from
the relay trace, the calls the program made itself.

With --native there is no prefix: the probe and the program run as they are, or behind
--launcher. The cases then change the machine's own registry, so each puts back every key
it touched and checks that it did; what needs Wine (the relay trace, the logon) is said
to be not checked. Two cases run only natively, on Windows: the program started in
session 0, and started by another account's elevation.

`facts` prints what the Windows it runs on is, and fails where a table can't run there.
`table` runs every case, or those of --cases, each as `case` does, closes with "N passed,
N failed, N skipped", and fails where a case failed or where the keys the cases touch,
read by reg.exe before the first case and after the last, changed. --built names the
program and the helpers by the layout of a build folder, which the CI artifact keeps.
"""
import argparse
import csv
import difflib
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

MAKER = r"Software\Yarrowtide"
RUN = r"Software\Microsoft\Windows\CurrentVersion\Run"
# Task Manager's startup records, one per Run entry it switched on or off.
RECORDS = r"Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
# Where "Do not process the legacy run list" is set, for the user and for the machine.
POLICIES = r"Software\Microsoft\Windows\CurrentVersion\Policies\Explorer"
# The tests' own key, and in it where the marker leaves its path each time it is loaded or started.
TESTS = r"Software\Yarrowtide Tests"
MARKS = TESTS + r"\Marks"
ENTRY = "YarrowTide Desktop"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4
HKLM, HKU = 0x80000002, 0x80000003
KEY_QUERY_VALUE, KEY_SET_VALUE, KEY_ALL_ACCESS = 0x1, 0x2, 0xF003F
KEY_WOW64_64KEY, KEY_WOW64_32KEY = 0x100, 0x200
# Rights that a refused key grants everyone, in SDDL: reading, or reading and setting values.
READ_ONLY, READ_AND_SET_VALUE = "KR", "0x2001b"
TRACED = ["RegOpenKeyExA", "RegCreateKeyExA", "RegQueryValueExA", "RegSetValueExA", "RegDeleteValueA", "RegCloseKey",
          "MessageBoxA", "GetShellWindow", "OpenProcess", "OpenProcessToken", "CloseHandle"]

NOT_INSTALLED = ("Error", f"Could not find the path on which {ENTRY} is installed. No changes will be made.", 0x10)
WRITTEN = ("Info", f"{ENTRY} will start up automatically from now on.", 0x40)
DELETED = ("Info", f"{ENTRY} will not start up automatically anymore.", 0x40)
NO_RUN_KEY = ("Error", "Failed opening the windows autorun registry. Not changes will be made.", 0x10)
NOT_CHANGED = ("Error", f"Could not change the autostart entry of {ENTRY}. No changes were made.", 0x10)
RUN_LIST_OFF = ("Error", f"Could not change the autostart entry of {ENTRY}: a policy on this computer keeps programs "
                "from starting up automatically. No changes were made.", 0x10)


def sz(text, kind=REG_SZ):
    return (kind, text.encode("utf-16-le"))


def exe_in(directory):
    return sz(directory + "YarrowTideDesktop.exe\0")


def record(state):
    """A startup record as Task Manager writes it: the state, then the time of the change."""
    return (REG_BINARY, struct.pack("<I", state) + bytes.fromhex("1032547698badc01"))


DISABLED = record(3)
# The Run key's other values, and other programs' startup records, which every run must
# leave byte for byte.
NEIGHBOURS = {"Other": sz("C:\\other.exe\0"), "Flags": (REG_DWORD, b"\x01\0\0\0"), "Raw": (REG_BINARY, b"")}
OTHER_RECORDS = {"Other": DISABLED, "Enabled": record(2)}
NO_KEY, NO_VALUE, UNCHANGED, REMOVED = "no key", "no value", "unchanged", "removed"
DEFAULT_PATH = sz("C:\\Yarrow\0")
# Where comctl32.dll 6 lies: a folder of its own in the side-by-side store, on Windows and Wine alike.
SIDE_BY_SIDE_CONTROLS = r"\\winsxs\\[^\\|]*_microsoft\.windows\.common-controls_[0-9a-f]+_6\.0\.[^\\|]*\\comctl32\.dll"
# DLLs that showing a box loads, the themed controls' own among them: Windows takes that
# one from its side-by-side store, never from beside the program.
PLANTED = ["uxtheme", "comctl32"]
# Every key a case seeds, and so, natively, puts back.
TOUCHED = [("HKLM", MAKER), ("HKLM-other", MAKER), ("HKCU", RUN), ("HKCU", RECORDS), ("HKCU", TESTS),
           ("HKCU", POLICIES), ("HKLM-64", POLICIES)]
# The second administrator of the case "another-account", which the Windows job makes, and
# the launcher it starts the program with, which isn't elevated: it elevates the program
# (ShellExecuteEx, verb runas) and exits with its exit code, or 1000 more where the entry
# landed in the hive of its own account, which is the elevated program's too; or with
# LAUNCHER_FAILED where Start-Process fails.
OTHER_ACCOUNT = ("YARROWTIDE_OTHER_ACCOUNT", "YARROWTIDE_OTHER_PASSWORD")
LAUNCHER_FAILED = 3000
ELEVATING = ("powershell -NoProfile -Command \"try { $run = Start-Process -FilePath 'PROGRAM' -Verb RunAs -Wait "
             f"-PassThru -ErrorAction Stop }} catch {{ exit {LAUNCHER_FAILED} }}; "
             f"exit ($run.ExitCode + 1000 * [int][bool](Get-ItemProperty 'HKCU:\\{RUN}' -Name '{ENTRY}' -EA 0))\"")

# path: the maker key's "path" value in the registry view the program reads; path_other: the
# same in the other view, which only a 64-bit prefix has (two_views). entry: the autostart
# value before the runs; after: the autostart value after them. planted: the marker lies
# beside a copy of the program under each name of PLANTED, which Wine is told to prefer to
# its own. records: the product's startup records before the runs, by name; records_after:
# whether they are still there after them. run_key, records_key: whether those keys are
# there before the runs; refused: keys, by root and path, that grant everyone no more than
# the rights given. policy:
# "DisableCurrentUserRun" by root, HKLM-64 being the machine's 64-bit view. shell: the probe
# holds the shell window while the program runs, so that the program finds the user's hive
# by the shell's SID rather than the session's user. hidden: after the runs that show the
# boxes, one more run on a window station nobody sees, which must exit with 1. logon:
# the marker is installed as the product, a decoy as C:\Program.exe, and a logon follows
# the runs. marks: the paths the marker left, where it must leave any. via: natively only,
# the program is started once by a task that runs as SYSTEM, in session 0, where it must
# exit with 1, or by the launcher of OTHER_ACCOUNT, which elevates it.
CASES = {
    "entry-absent": dict(boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "entry-other-path": dict(entry=sz("D:\\Old\\YarrowTideDesktop.exe\0"), boxes=[DELETED], after=REMOVED),
    "entry-other-type": dict(entry=(REG_DWORD, b"\x07\0\0\0"), boxes=[DELETED], after=REMOVED),
    "entry-empty": dict(entry=(REG_SZ, b""), boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "entry-starts-with-nul": dict(entry=sz("\0D:\\x.exe\0"), boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "two-runs-restore": dict(boxes=[WRITTEN, DELETED], after=UNCHANGED),
    "arguments-ignored": dict(args=["/remove", "--quiet"], boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "path-trailing-backslash": dict(path=sz("C:\\Yarrow\\\0"), boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "path-unterminated": dict(path=sz("C:\\Yarrow"), boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "path-with-spaces": dict(path=sz("C:\\Program Files\\Yarrow Tide\0"), boxes=[WRITTEN],
                             after=sz('"C:\\Program Files\\Yarrow Tide\\YarrowTideDesktop.exe"\0')),
    "path-outside-ansi": dict(path=sz("C:\\Программы\\ヤロー\0"), boxes=[WRITTEN],
                              after=exe_in("C:\\Программы\\ヤロー\\")),
    "path-not-expanded": dict(path=sz("%SystemDrive%\\Yarrow\0", REG_EXPAND_SZ), boxes=[WRITTEN],
                              after=exe_in("%SystemDrive%\\Yarrow\\")),
    "path-empty": dict(path=(REG_SZ, b""), boxes=[NOT_INSTALLED]),
    "path-starts-with-nul": dict(path=sz("\0C:\\Yarrow\0"), boxes=[NOT_INSTALLED]),
    "path-value-missing": dict(path=NO_VALUE, boxes=[NOT_INSTALLED]),
    "maker-key-missing": dict(path=NO_KEY, entry=sz("D:\\x.exe\0"), boxes=[NOT_INSTALLED]),
    "maker-key-read-only": dict(refused={("HKLM", MAKER): READ_ONLY}, boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "run-key-missing": dict(run_key=False, boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "path-in-program-view": dict(path_other=sz("C:\\Wrong\0"), boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\"),
                                 two_views=True),
    "path-only-in-other-view": dict(path=NO_KEY, path_other=sz("C:\\Yarrow\0"), boxes=[WRITTEN],
                                    after=exe_in("C:\\Yarrow\\"), two_views=True),
    "path-empty-in-program-view": dict(path=(REG_SZ, b""), path_other=sz("C:\\Yarrow\0"), boxes=[WRITTEN],
                                       after=exe_in("C:\\Yarrow\\"), two_views=True),
    "dll-planted-beside-program": dict(planted=True, boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "record-cleared-on-write": dict(records={ENTRY: DISABLED}, records_after=REMOVED, boxes=[WRITTEN],
                                    after=exe_in("C:\\Yarrow\\")),
    "record-removed-with-entry": dict(entry=exe_in("C:\\Yarrow\\"), records={ENTRY: DISABLED}, records_after=REMOVED,
                                      boxes=[DELETED], after=REMOVED),
    "record-malformed": dict(records={ENTRY: (REG_DWORD, b"\x03\0\0\0")}, records_after=REMOVED, boxes=[WRITTEN],
                             after=exe_in("C:\\Yarrow\\")),
    "record-in-other-case": dict(records={ENTRY.upper(): DISABLED}, records_after=REMOVED, boxes=[WRITTEN],
                                 after=exe_in("C:\\Yarrow\\")),
    "records-key-missing": dict(records_key=False, boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "run-key-refused": dict(refused={("HKCU", RUN): READ_ONLY}, entry=exe_in("C:\\Yarrow\\"), boxes=[NO_RUN_KEY]),
    "records-key-refused": dict(refused={("HKCU", RECORDS): READ_ONLY}, records={ENTRY: DISABLED}, boxes=[NOT_CHANGED]),
    "records-key-refused-with-entry": dict(refused={("HKCU", RECORDS): READ_ONLY}, entry=exe_in("C:\\Yarrow\\"),
                                           records={ENTRY: DISABLED}, boxes=[DELETED], after=REMOVED),
    "records-key-lets-values-be-set": dict(refused={("HKCU", RECORDS): READ_AND_SET_VALUE}, records={ENTRY: DISABLED},
                                           records_after=REMOVED, boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "run-list-off-for-user": dict(policy={"HKCU": 1}, records={ENTRY: DISABLED}, boxes=[RUN_LIST_OFF]),
    "run-list-off-for-machine": dict(policy={"HKLM-64": 1, "HKCU": 0}, boxes=[RUN_LIST_OFF]),
    "run-list-on-for-machine": dict(policy={"HKLM-64": 0, "HKCU": 1}, boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
    "run-list-off-entry-present": dict(policy={"HKCU": 1}, entry=exe_in("C:\\Yarrow\\"), boxes=[DELETED],
                                       after=REMOVED),
    "shell-of-same-account": dict(shell=True, records={ENTRY: DISABLED}, records_after=REMOVED, boxes=[WRITTEN],
                                  after=exe_in("C:\\Yarrow\\")),
    "shell-entry-removed": dict(shell=True, entry=exe_in("C:\\Yarrow\\"), records={ENTRY: DISABLED},
                                records_after=REMOVED, boxes=[DELETED], after=REMOVED),
    "shell-run-list-off-no-run-key": dict(shell=True, run_key=False, policy={"HKCU": 1}, boxes=[RUN_LIST_OFF]),
    "window-station-unseen": dict(hidden=True, records={ENTRY: DISABLED}, boxes=[]),
    "logon-starts-product": dict(path=sz("C:\\Program Files\\Yarrow Tide\0"), logon=True, boxes=[WRITTEN],
                                 after=sz('"C:\\Program Files\\Yarrow Tide\\YarrowTideDesktop.exe"\0'),
                                 marks={"C:\\Program Files\\Yarrow Tide\\YarrowTideDesktop.exe": (REG_SZ, b"")}),
    "logon-starts-product-outside-ansi": dict(path=sz("C:\\Программы\\ヤロー\0"), logon=True, boxes=[WRITTEN],
                                              after=exe_in("C:\\Программы\\ヤロー\\"),
                                              marks={"C:\\Программы\\ヤロー\\YarrowTideDesktop.exe": (REG_SZ, b"")}),
    "logon-after-removal-starts-nothing": dict(path=sz("C:\\Program Files\\Yarrow Tide\0"), logon=True,
                                               boxes=[WRITTEN, DELETED]),
    "session-0": dict(via="system task", records={ENTRY: DISABLED}, boxes=[]),
    "another-account": dict(via="another account", boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
}


def wine_env(prefix, **extra):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.update(extra)
    return env


def make_prefix(args, env, attempts=3):
    """Makes a fresh prefix. Wine's own making of one fails now and then (once seen: exit code 53, the low byte of
    STATUS_DLL_NOT_FOUND); each failed attempt is said, with Wine's errors, and made again."""
    for attempt in range(1, attempts + 1):
        # Once its prefix is gone, nothing can reach a server left running by an earlier set-up.
        stop(args)
        shutil.rmtree(args.prefix, ignore_errors=True)
        # A file, not a pipe: the wineserver that wineboot starts keeps what it is given.
        with tempfile.TemporaryFile("w+") as errors:
            made = subprocess.run([args.wine, "wineboot", "--init"], stdout=subprocess.DEVNULL, stderr=errors,
                                  env=dict(env, WINEDEBUG="err+all,fixme-all"))
            if made.returncode == 0:
                return
            errors.seek(0)
            print(f"wineboot --init exited with {made.returncode}, attempt {attempt} of {attempts}; Wine said:\n"
                  f"{errors.read()[-3000:]}", file=sys.stderr)
    sys.exit(f"no prefix made in {attempts} attempts")


def start(args):
    env = wine_env(args.prefix, WINEARCH=args.arch)
    make_prefix(args, env)
    # A wineserver must not hold the test's output pipes open, so nothing of it goes there.
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, check=True)
    settings = [(r"HKCU\Software\Wine\Drivers", "Graphics", "null"),
                (r"HKCU\Software\Wine\Debug", "RelayInclude", ";".join(TRACED))]
    for key, name, data in settings:
        subprocess.run([args.wine, "reg", "add", key, "/v", name, "/d", data, "/f"], **quiet)
    subprocess.run(["wineserver", "--kill"], **dict(quiet, check=False))
    subprocess.run(["wineserver", "--wait"], **dict(quiet, check=False))
    subprocess.Popen(["wineserver", "--persistent"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, env=env, start_new_session=True)
    # The first program starts the prefix's services, which then outlive it with its output.
    subprocess.run([args.wine, "cmd", "/c", "exit"], **quiet)


def stop(args):
    """Ends the prefix's server and every program of it, and removes the folder of its socket."""
    # Returns once the server has let go of its lock, or has been killed.
    subprocess.run(["wineserver", "--kill"], env=wine_env(args.prefix), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    # Debian's Wine makes that folder under the temporary folder and names it in the prefix.
    try:
        with open(os.path.join(args.prefix, "wineserver")) as folder:
            shutil.rmtree(os.path.join(tempfile.gettempdir(), folder.read()), ignore_errors=True)
    except FileNotFoundError:
        pass


def command(*fields):
    return "\t".join(fields) + "\n"


def put(root, key, name, value):
    return command("set", root, key, name, str(value[0]), value[1].hex())


def seed(case):
    script = "".join(command("delete", root, key) for root, key in TOUCHED)
    for root, path in (("HKLM", case.get("path", DEFAULT_PATH)), ("HKLM-other", case.get("path_other", NO_KEY))):
        if path == NO_VALUE:
            script += put(root, MAKER, "version", sz("1.0\0"))
        elif path != NO_KEY:
            script += put(root, MAKER, "path", path)
    if case.get("run_key", True):
        for name, value in NEIGHBOURS.items():
            script += put("HKCU", RUN, name, value)
        if "entry" in case:
            script += put("HKCU", RUN, ENTRY, case["entry"])
    if case.get("records_key", True):
        for name, value in {**OTHER_RECORDS, **case.get("records", {})}.items():
            script += put("HKCU", RECORDS, name, value)
    for root, disabled in case.get("policy", {}).items():
        script += put(root, POLICIES, "DisableCurrentUserRun", (REG_DWORD, struct.pack("<I", disabled)))
    for (root, key), rights in case.get("refused", {}).items():
        script += command("refuse", root, key, rights)
    return script


def expected_run_key(case):
    values = dict(NEIGHBOURS) if case.get("run_key", True) else {}
    after = case.get("after", UNCHANGED)
    if after == UNCHANGED and "entry" in case:
        values[ENTRY] = case["entry"]
    elif after not in (UNCHANGED, REMOVED):
        values[ENTRY] = after
    return values if values or case.get("run_key", True) else None


def expected_records(case):
    if not case.get("records_key", True):
        return None
    kept = case.get("records", {}) if case.get("records_after", UNCHANGED) == UNCHANGED else {}
    return {**OTHER_RECORDS, **kept}


# A relay argument: a string, shown after its address where it has one, or a number.
ARGUMENT = re.compile(r'(?:[0-9a-f]+ )?"((?:[^"\\]|\\.)*)"|([0-9a-f]+)')


def arguments(text):
    """A relay line's arguments, the same for 32- and 64-bit programs: strings unescaped, numbers as numbers."""
    return [int(number, 16) if number else re.sub(r"\\(.)", r"\1", string)
            for string, number in ARGUMENT.findall(text)]


def program_calls(trace, thread, image):
    """The traced calls made from the program's own image, as (function, arguments, result)."""
    low, high = image.ImageBase, image.ImageBase + image.SizeOfImage
    calls = []
    for line in trace.splitlines():
        match = re.match(rf"{thread}:(Call|Ret)\s+\w+\.(\w+)\((.*)\)(?: retval=(\w+))? ret=(\w+)$", line)
        if not match or not low <= int(match[5], 16) < high:
            continue
        if match[1] == "Call":
            calls.append([match[2], arguments(match[3]), None])
        else:
            calls[-1][2] = int(match[4], 16)
    return calls


def registry_views(image, arch):
    """The flags that open the registry view the program doesn't read by itself, and the 64-bit view: none in a
    32-bit prefix."""
    if arch == "win32":
        return 0, 0
    return (KEY_WOW64_32KEY if image.Magic == 0x20B else KEY_WOW64_64KEY), KEY_WOW64_64KEY


def directory_in(case):
    """The install directory the program reads from its own view of the maker key, or empty."""
    path = case.get("path", DEFAULT_PATH)
    return "" if path in (NO_KEY, NO_VALUE) else path[1].decode("utf-16-le").split("\0")[0]


def check(case, output, trace, program, arch, native):
    failures = []

    def expect(what, actual, wanted):
        if actual != wanted:
            failures.append(f"{what}: got {actual!r}, wanted {wanted!r}")

    lines = [line.split("\t") for line in output.splitlines()]
    boxes = [fields[1:] for fields in lines if fields[0] == "box"]
    expect("boxes", [tuple(box[:2]) for box in boxes], [box[:2] for box in case["boxes"]])
    # The themed button of common controls 6, which the manifest asks for, whatever its build number: Windows and
    # Wine alike load those from the side-by-side store for the box.
    expect("common controls 6 loaded", [bool(re.search(SIDE_BY_SIDE_CONTROLS, box[3], re.I)) for box in boxes],
           [True] * len(boxes))
    if not native:
        # Wine names the button's class atom by the versioned class; Windows need not.
        expect("OK button classes", [re.sub(r"^6\.0\.\d+\.\d+!", "6.0.*!", box[2]) for box in boxes],
               ["6.0.*!Button"] * len(boxes))
    unseen = case.get("hidden") or case.get("via") == "system task"
    exits = [f[1] for f in lines if f[0] == "exit"]
    expect("exit codes", exits, ["0"] * len(case["boxes"]) + (["1"] if unseen else []))
    if str(LAUNCHER_FAILED) in exits:
        failures.append("the launcher's Start-Process failed: the other account could not start the program")
    dumped = {f[1]: None if f[0] == "missing" else {} for f in lines if f[0] in ("key", "missing")}
    for f in lines:
        if f[0] == "value":
            dumped[f[1]][f[2]] = (int(f[3]), bytes.fromhex(f[4]))
    expect("Run key after", dumped[RUN], expected_run_key(case))
    expect("startup records after", dumped[RECORDS], expected_records(case))
    logon_checked = not (native and case.get("logon"))
    expect("marks", dumped[MARKS], case.get("marks") if logon_checked else None)
    if native:
        print("not checked: the program's own calls (boxes asked for, keys opened with their access and view, "
              "handles closed), which need Wine's relay trace")
        if not logon_checked:
            print("not checked: the logon that starts the product, which needs Wine's wineboot")
        return failures
    import pefile  # only the relay checks need it, not the listing of cases at configure time

    image = pefile.PE(program, fast_load=True).OPTIONAL_HEADER
    calls = []
    for thread in (f[1] for f in lines if f[0] == "thread"):
        calls += program_calls(trace, thread, image)
    asked = [args for name, args, _ in calls if name == "MessageBoxA"]
    expect("boxes asked for", asked, [[0, text, caption, style] for caption, text, style in case["boxes"]])
    # Where each way to open a key takes its options and access.
    options_and_access = {"RegOpenKeyExA": slice(2, 4), "RegCreateKeyExA": slice(4, 6)}
    opens = [(name, args) for name, args, _ in calls if name in options_and_access]
    # The maker key in the view the program reads, then in the other view where the first gives no directory;
    # every other key with the least access it needs, the machine's policy in the 64-bit view; each of the
    # user's under HKEY_USERS\<the user's SID>, never under HKEY_CURRENT_USER.
    other_view, view_64 = registry_views(image, arch)
    # 32-bit arguments, whose upper half a 64-bit relay trace may show with leftover bits.
    key_opens = [((args[0] & 0xFFFFFFFF, args[1]), [a & 0xFFFFFFFF for a in args[options_and_access[name]]])
                 for name, args in opens]
    falls_back = other_view and not directory_in(case)
    maker_opens = [[0, KEY_QUERY_VALUE]] + ([[0, KEY_QUERY_VALUE | other_view]] if falls_back else [])
    expect("maker key opens", [access for key, access in key_opens if key == (HKLM, MAKER)],
           maker_opens * len(case["boxes"]))
    # Wine has one account: the session's user and the shell's.
    user = next(f[1] for f in lines if f[0] == "user")
    least_access = {(HKU, user): KEY_QUERY_VALUE, (HKU, user + "\\" + RUN): KEY_QUERY_VALUE | KEY_SET_VALUE,
                    (HKU, user + "\\" + RECORDS): KEY_SET_VALUE, (HKU, user + "\\" + POLICIES): KEY_QUERY_VALUE,
                    (HKLM, POLICIES): KEY_QUERY_VALUE | view_64}
    for key, access in key_opens:
        if key != (HKLM, MAKER):
            expect(f"options and access for {key}", access, [0, least_access.get(key)])
    expect("keys closed", sum(1 for n, _, r in calls if n == "RegCloseKey" and r == 0),
           sum(1 for n, _, r in calls if n in options_and_access and r == 0))
    expect("failed closes", [r for n, _, r in calls if n == "RegCloseKey" and r != 0], [])
    touched_run_key = any(key == (HKU, user + "\\" + RUN) for key, _ in key_opens)
    expect("Run key opened", touched_run_key, case["boxes"][:1] not in ([], [NOT_INSTALLED]))
    # The run time closes a handle of its own at exit, after the box; a run with no box opens none.
    before_box = calls[:next((i for i, (n, _, _) in enumerate(calls) if n == "MessageBoxA"), 0)]
    expect("process and token handles closed", sum(1 for n, _, r in before_box if n == "CloseHandle" and r != 0),
           sum(1 for n, _, r in before_box if n in ("OpenProcess", "OpenProcessToken") and r != 0))
    expect("accounts read", sum(1 for n, _, r in before_box if n == "OpenProcessToken" and r != 0),
           1 if case.get("shell") else 0)
    return failures


def install_product(args, path):
    """Installs the marker as the product in the prefix, where `path` says, and as a decoy
    C:\\Program.exe; returns the files it made."""
    directory = path[1].decode("utf-16-le").rstrip("\0").rstrip("\\")
    drive_c = os.path.join(args.prefix, "drive_c")
    product = os.path.join(drive_c, *directory.split("\\")[1:], "YarrowTideDesktop.exe")
    os.makedirs(os.path.dirname(product), exist_ok=True)
    return [shutil.copy(args.marker_exe, product), shutil.copy(args.marker_exe, os.path.join(drive_c, "Program.exe"))]


def probe_of(args, env):
    """Runs a probe, the tests' own or a copy, with a script, and gives its exit code, output and errors (Wine's relay
    trace among them)."""
    def probe(script, program=args.probe):
        # Files rather than pipes: a process of the prefix that outlives the probe can't hold them open.
        with tempfile.TemporaryFile("w+") as output, tempfile.TemporaryFile("w+") as trace:
            done = subprocess.run([*args.launch, program], input=script.encode(), stdout=output, stderr=trace, env=env,
                                  timeout=120)
            output.seek(0)
            trace.seek(0)
            return done.returncode, output.read(), trace.read()
    return probe


def not_run(case, reason):
    print(f"not run: {case}: {reason}")
    sys.exit(0)


def system_task(launch, program):
    """Starts the program from a task that runs as SYSTEM, in session 0, and gives the task's last result, its exit
    code."""
    schtasks, task = [*launch, "schtasks"], ["/tn", "YarrowTide session 0"]
    quiet = dict(stdout=subprocess.DEVNULL, check=True)
    subprocess.run([*schtasks, "/create", *task, "/tr", f'"{program}"', "/sc", "once", "/st", "00:00", "/ru",
                    "SYSTEM", "/rl", "highest", "/f"], **quiet)
    try:
        subprocess.run([*schtasks, "/run", *task], **quiet)
        # Running (0x41301), or not yet run (0x41303).
        for _ in range(120):
            time.sleep(0.5)
            listed = subprocess.run([*schtasks, "/query", *task, "/fo", "csv", "/v"], capture_output=True, text=True,
                                    check=True).stdout
            result = next(csv.DictReader(io.StringIO(listed)))["Last Result"]
            if int(result) not in (0x41301, 0x41303):
                return result
        return "still running after 60 s"
    finally:
        # A program still running waits on a box nobody can answer.
        subprocess.run([*schtasks, "/end", *task], **dict(quiet, check=False))
        subprocess.run([*schtasks, "/delete", *task, "/f"], **dict(quiet, check=False))


def play(args, case, program, probe):
    """Seeds the registry, runs the program as the case says, and gives what the probe printed, and the trace."""
    dumps = "".join(command("dump", "HKCU", key) for key in (RUN, RECORDS, MARKS))
    script = seed(case) + command("user")
    if case.get("via") == "system task":
        _, output, trace = probe(script)
        return output + f"exit\t{system_task(args.launch, program)}\n" + probe(dumps)[1], trace
    if case.get("via") == "another account":
        user, password = (os.environ.get(name) for name in OTHER_ACCOUNT)
        if not user:
            not_run(args.case, f"{OTHER_ACCOUNT[0]} names no second administrator")
        script += command("as", user, password or "", ELEVATING.replace("PROGRAM", program))
    else:
        # Natively, without a shell window of the probe's, on a desktop where Explorer holds none.
        run = command("run" if case.get("shell") or not args.native else "desktop", program, *case.get("args", []))
        script += (command("shell") if case.get("shell") else "") + run * len(case["boxes"])
        script += command("hidden", program) if case.get("hidden") else ""
        if case.get("logon") and not args.native:
            script += command("logon")
    done, output, trace = probe(script + dumps)
    failed = re.search(r"^failed\tdesktop\t.*\t(\d+)$", output, re.M)
    if args.native and failed:
        not_run(args.case, f"no new desktop of the window station could be made and used (error {failed[1]})")
    if done != 0:
        print(output)
        sys.exit(f"probe failed with {done}")
    return output, trace


def put_back(probe, before, case):
    """Puts every key the case touched back as the snapshot `before` shows it; gives whether it now is."""
    script = "".join(command("refuse", root, key, "KA") for root, key in case.get("refused", {}))
    script += "".join(command("delete", root, key) for root, key in TOUCHED)
    pending, root = list(TOUCHED), None
    for f in (line.split("\t") for line in before.splitlines()):
        if f[0] in ("key", "missing") and pending and f[1] == pending[0][1]:
            root = pending.pop(0)[0]
        if f[0] == "key":
            script += command("create", root, f[1])
        elif f[0] == "value":
            script += command("set", root, *f[1:])
    done, after, _ = probe(script + SNAPSHOT)
    if done != 0:
        # The probe's last line says which command failed, and why.
        print(f"putting the keys back failed with {done}:", *after.splitlines()[-1:])
    return done == 0 and sorted(after.splitlines()) == sorted(before.splitlines())


SNAPSHOT = "".join(command("dump", root, key) for root, key in TOUCHED)
# What a table compares before its first case and after its last, through reg.exe: every key the cases seed or the
# marker makes, the tests' own key whole. Named apart from TOUCHED, and read apart from the probe, so that neither a
# key that TOUCHED lacks nor a fault of put_back hides a change.
UNCHANGED_BY_TABLE = [f"HKLM\\{MAKER}", f"HKLM\\{POLICIES}", f"HKCU\\{RUN}", f"HKCU\\{RECORDS}", f"HKCU\\{POLICIES}",
                      f"HKCU\\{TESTS}"]
# The Users group, which every account signed in to Windows belongs to.
USERS = "S-1-5-32-545"


def run_case(args):
    case = CASES[args.case]
    env = dict(os.environ) if args.native else wine_env(args.prefix, WINEDEBUG="+relay")
    probe = probe_of(args, env)
    folder = tempfile.mkdtemp(prefix="yarrowtide-e2e.")
    installed, before, failures = [], None, []
    try:
        if args.native:
            # Python makes the folder for its own account alone, which the other account's launcher must read.
            subprocess.run([*args.launch, "icacls", folder, "/grant", f"*{USERS}:(OI)(CI)RX"], stdout=subprocess.DEVNULL,
                           check=True)
        program = shutil.copy(args.program, folder)
        if case.get("planted"):
            for name in PLANTED:
                shutil.copy(args.marker_dll, os.path.join(folder, name + ".dll"))
            if not args.native:
                # As Windows does for a DLL that isn't a known system DLL.
                env["WINEDLLOVERRIDES"] += f";{','.join(PLANTED)}=n,b"
        if args.native:
            done, snapshot, _ = probe(SNAPSHOT)
            # Without the whole snapshot nothing could be put back, so the case changes nothing.
            if done != 0:
                finish([f"the keys the case touches could not be read before it (probe exit code {done})"])
            before = snapshot
        if case.get("logon") and not args.native:
            installed = install_product(args, case["path"])
        output, trace = play(args, case, program, probe)
        print(output)
        failures = check(case, output, trace, args.program, args.arch, args.native)
        if case.get("planted"):
            # The row can fail: beside a program that leaves its DLL search as it is, the plant loads.
            _, marks, _ = probe(command("load", "uxtheme.dll") + command("dump", "HKCU", MARKS),
                                shutil.copy(args.probe, folder))
            if not re.search(r"\\uxtheme\.dll\t", marks, re.I):
                failures.append("the planted uxtheme.dll doesn't load even beside a program that leaves its DLL "
                                "search as it is, so this case shows nothing")
    finally:
        restored = before is None or put_back(probe, before, case)
        shutil.rmtree(folder)
        for path in installed:
            os.remove(path)
        # Also where the case ended early, as not run or with a failed probe.
        if not restored:
            finish(failures + ["the registry keys the case touched are not as they were before it"])
    finish(failures)


def finish(failures):
    for failure in failures:
        print("FAIL", failure)
    sys.exit(1 if failures else 0)


def listed(args):
    """The cases that run with these arguments: the other view's only in a 64-bit prefix, the Windows-only ones
    natively only."""
    return [name for name, case in CASES.items()
            if (args.arch == "win64" or not case.get("two_views")) and (args.native or not case.get("via"))]


def environment(args):
    """The environment of a Windows program that isn't the program under test."""
    return dict(os.environ) if args.native else wine_env(args.prefix)


def read_facts(args):
    """What the probe says this Windows is, by the first field of each line."""
    done, output, _ = probe_of(args, environment(args))(command("facts"))
    if done != 0:
        sys.exit(f"the probe's facts failed with {done}: {output}")
    return {fields[0]: fields[1:] for fields in (line.split("\t") for line in output.splitlines())}


def runner_name(facts):
    product, version, build = facts["windows"]
    return f"{product}, {version}, build {build}"


def facts(args):
    """Prints what this runner is, and exits 1, with one line that says why, where the table can't run here."""
    f = read_facts(args)
    shell = "none" if f["shell"] == ["none"] else f"{f['shell'][1]} ({f['shell'][0]}), {f['shell'][2]}"
    enable_lua, consent, filter_token = f["uac"]
    print(f"Windows:         {runner_name(f)}\n"
          f"session:         {f['session'][0]}\n"
          f"integrity level: {f['integrity'][0]}\n"
          f"EnableLUA {enable_lua}, ConsentPromptBehaviorAdmin {consent}, FilterAdministratorToken {filter_token}\n"
          f"shell window:    {shell}\n"
          f"window station:  {f['station'][0]}")
    why = []
    if f["integrity"][0] != "High":
        why.append(f"the table needs a High integrity level to answer an elevated program's boxes; this runner "
                   f"gives {f['integrity'][0]}")
    if f["session"][0] == "0" or f["station"][0] != "visible":
        why.append(f"nobody could see this runner's desktop: session {f['session'][0]}, window station "
                   f"{f['station'][0]}")
    if why:
        # The one line GitHub's runner also shows as the job's error.
        sys.exit(("::error::" if os.environ.get("GITHUB_ACTIONS") else "") + "; ".join(why))


def registry_snapshot(args):
    """Every key in UNCHANGED_BY_TABLE with its subkeys, in both views, as reg.exe shows them."""
    shown = []
    for key in UNCHANGED_BY_TABLE:
        for view in ("/reg:32", "/reg:64"):
            done = subprocess.run([*args.launch, "reg", "query", key, "/s", view], stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, env=environment(args))
            # A key that isn't there: exit code 1, and an error line in the system's language.
            shown += [f"== {key} {view}"] + (done.stdout.decode(errors="replace").splitlines() if done.returncode == 0
                                              else [f"missing ({done.returncode})"])
    return shown


def driver_options(args):
    """The options of this run, for a case that runs as a process of its own."""
    options = ["--arch", args.arch, "--wine", args.wine] + (["--native"] if args.native else [])
    for name in ("launcher", "prefix", "probe", "program", "marker_dll", "marker_exe"):
        if getattr(args, name):
            options += ["--" + name.replace("_", "-"), getattr(args, name)]
    return options


def table(args):
    """Runs each case as `case` does, its lines prefixed by its name, and checks the keys the cases touch
    independently of their own putting back; exits 1 where a case failed or those keys changed."""
    names = args.cases.split(",") if args.cases else listed(args)
    unknown = sorted(set(names) - set(CASES))
    if unknown:
        sys.exit(f"no such case: {', '.join(unknown)}")
    runner = runner_name(read_facts(args))
    before = registry_snapshot(args)
    passed, failed, not_run, not_checked = [], [], [], []
    try:
        for name in names:
            done = subprocess.run([sys.executable, os.path.abspath(__file__), *driver_options(args), "case", name],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, encoding="utf-8",
                                  errors="replace")
            lines = done.stdout.splitlines()
            for line in lines:
                print(f"{name}: {line}", flush=True)
            reasons = [line for line in lines if line.startswith("not run: ")]
            if done.returncode:
                failed.append(name)
            elif reasons:
                not_run += reasons
            else:
                passed.append(name)
            not_checked += [line[len("not checked: "):] for line in lines if line.startswith("not checked: ")]
    finally:
        changed = list(difflib.unified_diff(before, registry_snapshot(args), "before", "after", lineterm=""))
    if changed:
        print("FAIL the keys the cases touch are not as they were before the table:", *changed, sep="\n")
    skipped = len(names) - len(passed) - len(failed)
    counts = f"{len(passed)} passed, {len(failed)} failed, {skipped} skipped"
    if args.summary:
        summary = [f"### End-to-end table on {runner}", "", counts, ""] + [f"- failed: {name}" for name in failed]
        summary += [f"- {reason}" for reason in not_run]
        summary += [f"- not checked in any row: {item}" for item in dict.fromkeys(not_checked)]
        summary += ["- the keys the cases touch changed:", "", "```diff", *changed, "```"] if changed else []
        with open(args.summary, "a", encoding="utf-8") as out:
            out.write("\n".join(summary) + "\n")
    print(counts)
    sys.exit(1 if failed or changed else 0)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--wine", default="wine")
    parser.add_argument("--native", action="store_true", help="run on Windows itself, with no prefix")
    parser.add_argument("--launcher", help="with --native, the program that starts each Windows program")
    parser.add_argument("--prefix")
    parser.add_argument("--arch", choices=["win32", "win64"], required=True)
    parser.add_argument("--probe")
    parser.add_argument("--program")
    parser.add_argument("--marker-dll")
    parser.add_argument("--marker-exe")
    parser.add_argument("--built", metavar="FOLDER",
                        help="the build folder, or the CI artifact, that holds the program and tests/wine/'s helpers")
    parser.add_argument("--cases", help="with table, the cases to run, by name, separated by commas; all by default")
    parser.add_argument("--summary", metavar="FILE", help="with table, append a summary in Markdown to FILE")
    parser.add_argument("action", choices=["list", "start", "stop", "case", "facts", "table"])
    parser.add_argument("case", nargs="?", choices=list(CASES))
    args = parser.parse_args()
    args.launch = ([args.launcher] if args.launcher else []) if args.native else [args.wine]
    if args.built:
        helpers = os.path.join(args.built, "tests", "wine")
        args.program = args.program or os.path.join(args.built, "YarrowTideAutostart.exe")
        args.probe = args.probe or os.path.join(helpers, "probe.exe")
        args.marker_dll = args.marker_dll or os.path.join(helpers, "marker_dll.dll")
        args.marker_exe = args.marker_exe or os.path.join(helpers, "marker_exe.exe")
    if args.action == "list":
        print(";".join(listed(args)), end="")
    else:
        {"start": start, "stop": stop, "case": run_case, "facts": facts, "table": table}[args.action](args)


if __name__ == "__main__":
    main()
