#!/usr/bin/env python3
"""End-to-end cases of the built executable under Wine.

`start` makes a fresh prefix with the null graphics driver and a relay list of the
program's platform calls, and leaves its wineserver running; `stop` ends it. `case NAME`
seeds the registry through the probe, runs the program once or more, answers its boxes,
and checks the boxes, the exit code, the registry byte for byte and, from the relay
trace, the calls the program made itself.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

MAKER = r"Software\Yarrowtide"
RUN = r"Software\Microsoft\Windows\CurrentVersion\Run"
# Where the marker leaves its path each time it is loaded or started.
MARKS = r"Software\Yarrowtide Tests\Marks"
ENTRY = "YarrowTide Desktop"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4
TRACED = ["RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA", "RegDeleteValueA", "RegCloseKey", "MessageBoxA"]

NOT_INSTALLED = ("Error", f"Could not find the path on which {ENTRY} is installed. No changes will be made.", 0x10)
NO_RUN_KEY = ("Error", "Failed opening the windows autorun registry. Not changes will be made.", 0x10)
WRITTEN = ("Info", f"{ENTRY} will start up automatically from now on.", 0x40)
DELETED = ("Info", f"{ENTRY} will not start up automatically anymore.", 0x40)


def sz(text, kind=REG_SZ):
    return (kind, text.encode("utf-16-le"))


def exe_in(directory):
    return sz(directory + "YarrowTideDesktop.exe\0")


# The Run key's other values, which every run must leave byte for byte.
NEIGHBOURS = {"Other": sz("C:\\other.exe\0"), "Flags": (REG_DWORD, b"\x01\0\0\0"), "Raw": (REG_BINARY, b"")}
NO_KEY, NO_VALUE, UNCHANGED, REMOVED = "no key", "no value", "unchanged", "removed"

# path: the maker key's "path" value in the registry view the program reads; path_other: the
# same in the other view, which only a 64-bit prefix has (two_views). entry: the autostart
# value before the runs; after: the autostart value after them. planted: the marker lies
# beside a copy of the program as uxtheme.dll, which Wine is told to prefer to its own.
# marks: the paths the marker left, where it must leave any.
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
    "run-key-missing": dict(run_key=False, boxes=[NO_RUN_KEY]),
    "path-in-program-view": dict(path_other=sz("C:\\Wrong\0"), boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\"),
                                 two_views=True),
    "path-only-in-other-view": dict(path=NO_KEY, path_other=sz("C:\\Yarrow\0"), boxes=[NOT_INSTALLED],
                                    two_views=True),
    "dll-planted-beside-program": dict(planted=True, boxes=[WRITTEN], after=exe_in("C:\\Yarrow\\")),
}


def wine_env(prefix, **extra):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.update(extra)
    return env


def start(args):
    shutil.rmtree(args.prefix, ignore_errors=True)
    env = wine_env(args.prefix, WINEARCH=args.arch)
    # A wineserver must not hold the test's output pipes open, so nothing of it goes there.
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, check=True)
    subprocess.run([args.wine, "wineboot", "--init"], **quiet)
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
    subprocess.run(["wineserver", "--kill"], env=wine_env(args.prefix), check=False)


def command(*fields):
    return "\t".join(fields) + "\n"


def put(root, key, name, value):
    return command("set", root, key, name, str(value[0]), value[1].hex())


def seed(case):
    script = "".join(command("delete", root, key) for root, key in
                     (("HKLM", MAKER), ("HKLM-other", MAKER), ("HKCU", RUN), ("HKCU", MARKS)))
    for root, path in (("HKLM", case.get("path", sz("C:\\Yarrow\0"))), ("HKLM-other", case.get("path_other", NO_KEY))):
        if path == NO_VALUE:
            script += put(root, MAKER, "version", sz("1.0\0"))
        elif path != NO_KEY:
            script += put(root, MAKER, "path", path)
    if case.get("run_key", True):
        for name, value in NEIGHBOURS.items():
            script += put("HKCU", RUN, name, value)
        if "entry" in case:
            script += put("HKCU", RUN, ENTRY, case["entry"])
    return script


def expected_run_key(case):
    if not case.get("run_key", True):
        return None
    values = dict(NEIGHBOURS)
    after = case.get("after", UNCHANGED)
    if after == UNCHANGED and "entry" in case:
        values[ENTRY] = case["entry"]
    elif after not in (UNCHANGED, REMOVED):
        values[ENTRY] = after
    return values


# A relay argument: a string, shown after its address where it has one, or a number.
ARGUMENT = re.compile(r'(?:[0-9a-f]+ )?"((?:[^"\\]|\\.)*)"|([0-9a-f]+)')


def arguments(text):
    """A relay line's arguments, the same for 32- and 64-bit programs: strings unescaped, numbers as numbers."""
    return [int(number, 16) if number else re.sub(r"\\(.)", r"\1", string)
            for string, number in ARGUMENT.findall(text)]


def program_calls(trace, thread, program):
    """The traced calls made from the program's own image, as (function, arguments, result)."""
    import pefile  # only the checks need it, not the listing of cases at configure time

    image = pefile.PE(program, fast_load=True).OPTIONAL_HEADER
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


def check(case, output, trace, program):
    failures = []

    def expect(what, actual, wanted):
        if actual != wanted:
            failures.append(f"{what}: got {actual!r}, wanted {wanted!r}")

    lines = [line.split("\t") for line in output.splitlines()]
    boxes = [tuple(fields[1:]) for fields in lines if fields[0] == "box"]
    expect("boxes", boxes, [box[:2] for box in case["boxes"]])
    expect("exit codes", [f[1] for f in lines if f[0] == "exit"], ["0"] * len(case["boxes"]))
    dumped = {f[1]: None if f[0] == "missing" else {} for f in lines if f[0] in ("key", "missing")}
    for f in lines:
        if f[0] == "value":
            dumped[f[1]][f[2]] = (int(f[3]), bytes.fromhex(f[4]))
    expect("Run key after", dumped[RUN], expected_run_key(case))
    expect("marks", dumped[MARKS], case.get("marks"))

    calls = []
    for thread in (f[1] for f in lines if f[0] == "thread"):
        calls += program_calls(trace, thread, program)
    asked = [args for name, args, _ in calls if name == "MessageBoxA"]
    expect("boxes asked for", asked, [[0, text, caption, style] for caption, text, style in case["boxes"]])
    opens = [args for name, args, result in calls if name == "RegOpenKeyExA"]
    for args in opens:
        expect("open options and access", args[2:4], [0, 0xF003F])
    expect("keys closed", sum(1 for n, _, r in calls if n == "RegCloseKey" and r == 0),
           sum(1 for n, _, r in calls if n == "RegOpenKeyExA" and r == 0))
    expect("failed closes", [r for n, _, r in calls if n == "RegCloseKey" and r != 0], [])
    touched_run_key = any(args[1] == RUN for args in opens)
    expect("Run key opened", touched_run_key, case["boxes"][0] != NOT_INSTALLED)
    return failures


def run_case(args):
    case = CASES[args.case]
    env = wine_env(args.prefix, WINEDEBUG="+relay")
    folder = tempfile.mkdtemp(prefix="yarrowtide-e2e.")
    program = shutil.copy(args.program, folder)
    if case.get("planted"):
        shutil.copy(args.marker_dll, os.path.join(folder, "uxtheme.dll"))
        # As Windows does for a DLL that isn't a known system DLL.
        env["WINEDLLOVERRIDES"] += ";uxtheme=n,b"
    run = command("run", program, *case.get("args", []))
    script = seed(case) + run * len(case["boxes"]) + command("dump", "HKCU", RUN) + command("dump", "HKCU", MARKS)
    # Files rather than pipes: a process of the prefix that outlives the probe can't hold them open.
    with tempfile.TemporaryFile("w+") as output, tempfile.TemporaryFile("w+") as trace:
        done = subprocess.run([args.wine, args.probe], input=script.encode(), stdout=output, stderr=trace,
                              env=env, timeout=120)
        output.seek(0)
        trace.seek(0)
        output, trace = output.read(), trace.read()
    print(output)
    if done.returncode != 0:
        sys.exit(f"probe failed with {done.returncode}")
    shutil.rmtree(folder)
    failures = check(case, output, trace, args.program)
    for failure in failures:
        print("FAIL", failure)
    sys.exit(1 if failures else 0)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--wine", default="wine")
    parser.add_argument("--prefix")
    parser.add_argument("--arch", choices=["win32", "win64"], required=True)
    parser.add_argument("--probe")
    parser.add_argument("--program")
    parser.add_argument("--marker-dll")
    parser.add_argument("action", choices=["list", "start", "stop", "case"])
    parser.add_argument("case", nargs="?", choices=list(CASES))
    args = parser.parse_args()
    if args.action == "list":
        two_views = args.arch == "win64"
        print(";".join(name for name, case in CASES.items() if two_views or not case.get("two_views")), end="")
    else:
        {"start": start, "stop": stop, "case": run_case}[args.action](args)


if __name__ == "__main__":
    main()
