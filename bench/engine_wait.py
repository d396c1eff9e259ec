#!/usr/bin/env python3
"""Benchmark of the install run's completion wait, under Wine, run by hand.

    bench/engine_wait.py [BUILD_DIR] [--engine-seconds N] [--runs K]

Runs the real "Zarpo OGL Install.exe" with the development package: the driver presses "&Yes",
the stand-in engine keeps its setup window up for N seconds (ZARPO_DEV_ENGINE_MS) and then
starts the deleter, which lingers a moment and exits. Meanwhile this script watches from the
host:

  - the wrapper's CPU time (utime + stime of its Wine process, from /proc) over the engine's
    lifetime, against the wall time of that lifetime;
  - the delay from the end of the last engine process (the deleter) to the removal of the
    staging directory C:\\windows\\TEMP\\ZARPO;
  - and, on the way, the extraction: from the staging directory's creation to the launcher's
    start.

Goals: CPU time under 1 % of the wall time; the staging directory gone within 100 ms.

It brings up the tests' Wine environment in BUILD_DIR (tests/wine/winenv.sh) and stops it at the
end, so do not run it while the test suite runs on the same build tree.
"""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
EXE_NAME = "Zarpo OGL Install.exe"


def load_env(build):
    env = dict(os.environ)
    with open(os.path.join(build, "wine-env.sh")) as f:
        for line in f:
            line = line.strip()
            if line.startswith("export "):
                key, _, value = line[len("export "):].partition("=")
                env[key] = value.strip("'")
    return env


def processes():
    """Host pid -> the program a Wine process runs (the first word of its command line)."""
    result = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % name, "rb") as f:
                cmd = f.read().split(b"\0")[0].decode("utf-8", "replace")
        except OSError:
            continue
        result[int(name)] = cmd
    return result


def find_dir(parent, name):
    """The directory under parent whose name is name in any letter case, or None."""
    try:
        for entry in os.listdir(parent):
            path = os.path.join(parent, entry)
            if entry.lower() == name.lower() and os.path.isdir(path):
                return path
    except OSError:
        pass
    return None


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] not in ("Z", "X")
    except OSError:
        return False


def find(pattern):
    """Live Wine processes whose program (the first word of the command line) contains pattern."""
    found = []
    for pid, program in processes().items():
        if pattern in program and alive(pid):
            found.append(pid)
    return found


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15 of stat; after the command they are 12th and 13th.
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def wait_for(predicate, timeout, what, step=0.001):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    raise SystemExit("bench: timed out after %.0f s waiting for %s" % (timeout, what))


def one_run(build, env, engine_seconds):
    exe = os.path.join(build, EXE_NAME)
    driver = os.path.join(build, "tests", "e2e", "zdrive.exe")
    if not os.path.exists(driver):
        found = subprocess.run(["find", build, "-name", "zdrive.exe"], capture_output=True, text=True)
        driver = found.stdout.split("\n")[0]
    # Windows names compare without regard to case; the host's do not.
    temp = find_dir(os.path.join(env["WINEPREFIX"], "drive_c", "windows"), "temp")
    if not temp:
        raise SystemExit("bench: expected a TEMP directory under the prefix's C:\\windows")
    old = find_dir(temp, "zarpo")
    if old:
        subprocess.run(["rm", "-rf", old], check=True)

    def staging():
        return find_dir(temp, "zarpo")

    run_env = dict(env)
    run_env["ZARPO_DEV_ENGINE_MS"] = str(int(engine_seconds * 1000))
    win_exe = "Z:" + exe.replace("/", "\\")
    log = open(os.path.join(build, "bench-engine-wait.log"), "w")
    drive = subprocess.Popen(
        ["wine", driver, "start", win_exe, "window", "Zarpo OGL Install", "20000", "click", "1",
         "wait-exit", str(int((engine_seconds + 120) * 1000))],
        env=run_env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)

    wrapper = wait_for(lambda: find(EXE_NAME), 30, "the wrapper's process")[0]
    # Extraction: from the staging directory's creation to the launcher's start.
    wait_for(staging, 30, "the staging directory")
    t_staged = time.monotonic()
    wait_for(lambda: find("setup.exe") or find("SETUP.EXE"), 30, "the launcher's process")
    t_launched = time.monotonic()
    engine = wait_for(lambda: find("_INS5176._MP"), 60, "the engine's process")[0]
    t_engine = time.monotonic()
    cpu_engine = cpu_seconds(wrapper)

    # The engine runs; then the deleter. The last of them to end is the end of setup.
    deleter = wait_for(lambda: find("_ISDEL.EXE"), engine_seconds + 60, "the deleter's process")[0]
    wait_for(lambda: not alive(engine) or None, 60, "the engine's end")
    wait_for(lambda: not alive(deleter) or None, 60, "the deleter's end")
    t_end = time.monotonic()
    cpu_end = cpu_seconds(wrapper)
    if not staging():
        raise SystemExit("bench: the staging directory was gone before setup had ended")
    wait_for(lambda: not staging() or None, 30, "the staging directory's removal")
    t_gone = time.monotonic()

    drive.wait(timeout=60)
    log.close()
    if drive.returncode != 0:
        raise SystemExit("bench: the driver failed (exit %d); see %s" % (drive.returncode, log.name))

    wall = t_end - t_engine
    cpu = cpu_end - cpu_engine
    return wall, cpu, cpu_end, (t_gone - t_end) * 1000.0, (t_launched - t_staged) * 1000.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build"))
    parser.add_argument("--engine-seconds", type=float, default=30.0)
    parser.add_argument("--runs", type=int, default=1)
    args = parser.parse_args()
    build = os.path.abspath(args.build)

    subprocess.run(["bash", os.path.join(ROOT, "tests", "wine", "winenv.sh"), "start", build],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    try:
        env = load_env(build)
        # "CPU s in wait": the wrapper's CPU time while the engine ran; "CPU s in all": since the
        # wrapper started (dialog, extraction and the waits), to show the measurement works.
        # "staged to launched": from the staging directory's creation to the launcher's start,
        # that is the extraction of the fifteen files (and the process creation).
        print("run  engine wall s  CPU s in wait  CPU %  CPU s in all  gone after end, ms"
              "  staged to launched, ms")
        for i in range(args.runs):
            wall, cpu, total, delay, extraction = one_run(build, env, args.engine_seconds)
            print("%3d  %12.2f  %13.3f  %5.2f  %12.3f  %18.1f  %22.1f"
                  % (i + 1, wall, cpu, 100.0 * cpu / wall, total, delay, extraction))
            sys.stdout.flush()
    finally:
        subprocess.run(["bash", os.path.join(ROOT, "tests", "wine", "winenv.sh"), "stop", build],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    print("goals: CPU under 1 % of the engine's wall time; staging gone within 100 ms")


if __name__ == "__main__":
    main()
