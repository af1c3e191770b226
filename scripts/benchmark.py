#!/usr/bin/env python3
"""Measures the executable against its floor: its size against the icon's image bytes
plus the smallest Win32 program that shows one box, and the median time of a whole run
under Wine (start, box shown and answered, exit) against that smallest program, over
alternating runs in a throwaway prefix. Where this host runs no 32-bit code, it measures
the x86-64 build instead. Prints the figures and the build; asserts nothing."""
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
import e2e  # noqa: E402  the probe's command format, written once there

ICON = os.path.join(ROOT, "resources", "YarrowTideAutostart.ico")
RUNS = int(sys.argv[1]) if len(sys.argv) > 1 else 100


def icon_image_bytes():
    """The bytes of all the images in the icon file, as its directory entries give them."""
    with open(ICON, "rb") as icon:
        data = icon.read()
    count = struct.unpack_from("<H", data, 4)[0]
    return sum(struct.unpack_from("<I", data, 6 + 16 * i + 8)[0] for i in range(count))


def main():
    subprocess.run(["bash", os.path.join(ROOT, "scripts", "install-deps.sh")], check=True)
    build, arch, loader = subprocess.run(["bash", os.path.join(ROOT, "scripts", "wine-loader.sh"), "best"], check=True,
                                   stdout=subprocess.PIPE, text=True).stdout.split()
    preset = f"windows-{build}"
    for step in (["cmake", "--preset", preset], ["cmake", "--build", "--preset", preset]):
        subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    folder = os.path.join(ROOT, "build", preset)
    program = os.path.join(folder, "YarrowTideAutostart.exe")
    smallest_program = os.path.join(folder, "tests", "smallest_box.exe")
    probe = os.path.join(folder, "tests", "wine", "probe.exe")

    size, smallest = os.path.getsize(program), os.path.getsize(smallest_program)
    icon = icon_image_bytes()
    floor = icon + smallest
    print(f"{build} build size: {size} bytes ({size / 1024:.0f} KiB, goal at most 512 KiB); "
          f"floor {floor} = icon images {icon} + smallest box program {smallest}; "
          f"{size / floor:.2f} times the floor")

    prefix = tempfile.mkdtemp(prefix="yarrowtide-bench.")
    driver = [sys.executable, os.path.join(ROOT, "tests", "wine", "e2e.py"), "--wine", loader, "--prefix", prefix,
              "--arch", arch]
    try:
        subprocess.run(driver + ["start"], check=True)
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
        seed = e2e.put("HKLM", e2e.MAKER, "path", e2e.sz("C:\\Yarrow\0"))
        pair = e2e.command("run", program) + e2e.command("run", smallest_program)
        # One warm-up pair first: the first start of a prefix loads its libraries from disk.
        script = seed + pair * (RUNS + 1)
        output = subprocess.run([loader, probe], input=script, capture_output=True, text=True, env=env,
                                check=True).stdout
    finally:
        subprocess.run(driver + ["stop"], check=False)
        shutil.rmtree(prefix, ignore_errors=True)
    times = [int(line.split("\t")[2]) / 1000 for line in output.splitlines() if line.startswith("exit\t")][2:]
    ours, baseline = statistics.median(times[0::2]), statistics.median(times[1::2])
    print(f"{build} build run time under Wine, median of {RUNS} alternating runs each: program {ours:.1f} ms, "
          f"smallest box program {baseline:.1f} ms; ratio {ours / baseline:.3f} (goal at most 1.10)")


if __name__ == "__main__":
    main()
