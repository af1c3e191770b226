#!/usr/bin/env python3
"""Measures the executable against its floor: its size against the icon's image bytes
plus the smallest Win32 program that shows one box, and the median time of a whole run
under Wine (start, box shown and answered, exit) against that smallest program, over
alternating runs in a throwaway prefix. Prints the figures; asserts nothing."""
import os
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "windows-x86")
PROGRAM = os.path.join(BUILD, "YarrowTideAutostart.exe")
SMALLEST = os.path.join(BUILD, "tests", "smallest_box.exe")
PROBE = os.path.join(BUILD, "tests", "wine", "probe.exe")
ICON_IMAGE_BYTES = 872 + 204840 + 7336 + 3240
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 100


def main():
    subprocess.run(["bash", os.path.join(ROOT, "scripts", "install-deps.sh")], check=True)
    for step in (["cmake", "--preset", "windows-x86"], ["cmake", "--build", "--preset", "windows-x86"]):
        subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)

    size, smallest = os.path.getsize(PROGRAM), os.path.getsize(SMALLEST)
    floor = ICON_IMAGE_BYTES + smallest
    print(f"size: {size} bytes ({size / 1024:.0f} KiB, goal at most 512 KiB); "
          f"floor {floor} = icon images {ICON_IMAGE_BYTES} + smallest box program {smallest}; "
          f"{size / floor:.2f} times the floor")

    prefix = tempfile.mkdtemp(prefix="yarrowtide-bench.")
    driver = [sys.executable, os.path.join(ROOT, "tests", "wine", "e2e.py"), "--prefix", prefix, "--arch", "win32"]
    subprocess.run(driver + ["start"], check=True)
    try:
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
        seed = "set\tHKLM\tSoftware\\Yarrowtide\tpath\t1\t" + "C:\\Yarrow\0".encode("utf-16-le").hex() + "\n"
        runs = "".join(f"run\t{PROGRAM}\nrun\t{SMALLEST}\n" for _ in range(RUNS))
        # One warm-up pair first: the first start of a prefix loads its libraries from disk.
        script = seed + f"run\t{PROGRAM}\nrun\t{SMALLEST}\n" + runs
        output = subprocess.run(["wine", PROBE], input=script, capture_output=True, text=True, env=env,
                                check=True).stdout
    finally:
        subprocess.run(driver + ["stop"], check=False)
    times = [int(line.split("\t")[2]) / 1000 for line in output.splitlines() if line.startswith("exit\t")][2:]
    program, baseline = statistics.median(times[0::2]), statistics.median(times[1::2])
    print(f"run time under Wine, median of {RUNS} alternating runs each: program {program:.1f} ms, "
          f"smallest box program {baseline:.1f} ms; ratio {program / baseline:.3f} (goal at most 1.10)")


if __name__ == "__main__":
    main()
