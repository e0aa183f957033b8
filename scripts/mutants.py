#!/usr/bin/env python3
"""The random tester's power, measured by planted faults (scripts/demo.sh --mutants).

Each fault of tests/random/mutants.txt is planted alone in a scratch copy of agent/ under
<build>/mutants; that one file is compiled with the build's own compile command, put into a
copy of the agent's library, and the agent is linked with the build's own link command into
<build>/mutants/bin, beside links to the build's other programs. The random tester then runs
there from a fixed seed until a sequence fails or the bound is reached. One line per fault,
and last:
    mutants: N planted, C caught; sequences S, seed X
Usage: mutants.py BUILD [SEQUENCES] [--seed X] [--only NAME]
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def read_list(path):
    faults = []
    for line in open(path, encoding="utf-8").read().splitlines():
        if line.startswith("#") or not line.strip():
            continue
        if line.startswith("== "):
            name, _, what = line[3:].partition(": ")
            faults.append({"name": name, "what": what, "file": None, "edits": []})
        elif faults[-1]["file"] is None:
            faults[-1]["file"] = line.strip()
        elif line.startswith("-"):
            faults[-1]["edits"].append([line[2:].replace("\\n", "\n"), ""])
        elif line.startswith("+"):
            faults[-1]["edits"][-1][1] = line[2:].replace("\\n", "\n")
    return faults


def agent_commands(build):
    """The build's commands for the agent: compile per source, the library, the link."""
    text = subprocess.run(["ninja", "-C", build, "-t", "commands", "bin/KelvoAgent.exe"], check=True,
                          capture_output=True, text=True).stdout
    compiles, link = {}, None
    for line in text.splitlines():
        match = re.search(r" -c (\S+/agent/[^/\s]+\.cpp)$", line)
        if match:
            compiles[os.path.relpath(match.group(1), ROOT)] = line
        elif "-o bin/KelvoAgent.exe" in line:
            link = line
    return compiles, link


def run(command, cwd):
    return subprocess.run(command, cwd=cwd, shell=True, capture_output=True, text=True)


def build_mutant(build, scratch, fault, compiles, link):
    source = os.path.join(ROOT, fault["file"])
    text = open(source, encoding="utf-8").read()
    for old, new in fault["edits"]:
        if old not in text:
            return "its text was not found in " + fault["file"]
        text = text.replace(old, new, 1)
    planted = os.path.join(scratch, "src", fault["file"])
    os.makedirs(os.path.dirname(planted), exist_ok=True)
    open(planted, "w", encoding="utf-8").write(text)

    compile_line = compiles.get(fault["file"])
    if compile_line is None or link is None:
        return "the build has no command for " + fault["file"]
    words = shlex.split(compile_line)
    obj_index = words.index("-o") + 1
    obj = os.path.join(scratch, "obj", os.path.basename(words[obj_index]))
    words[obj_index] = obj
    words[-1] = planted
    # No dependency file: the build's own stays as it is.
    while "-MD" in words:
        words.remove("-MD")
    for flag in ("-MT", "-MF"):
        while flag in words:
            at = words.index(flag)
            del words[at:at + 2]
    result = subprocess.run(words, cwd=build, capture_output=True, text=True)
    if result.returncode != 0:
        return "it did not compile: " + result.stderr.strip().splitlines()[0] if result.stderr else "no compile"

    library = os.path.join(scratch, "obj", "libKelvoAgentCore.a")
    shutil.copyfile(os.path.join(build, "lib", "libKelvoAgentCore.a"), library)
    cache = open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8").read()
    ar = re.search(r"^CMAKE_AR:FILEPATH=(.*)$", cache, re.M).group(1)
    result = subprocess.run([ar, "r", library, obj], capture_output=True, text=True)
    if result.returncode != 0:
        return "its library could not be made: " + result.stderr.strip()
    program = os.path.join(scratch, "bin", "KelvoAgent.exe")
    command = link.replace("lib/libKelvoAgentCore.a", library).replace("-o bin/KelvoAgent.exe", "-o " + program)
    command = re.sub(r"-Wl,--out-implib,\S+", "", command)
    result = run(command, build)
    if result.returncode != 0:
        return "it did not link: " + result.stderr.strip()[:300]
    return None


def main():
    args = sys.argv[1:]
    build = os.path.abspath(args.pop(0))
    sequences, seed, only = 60, "0x1234ABCD", None
    while args:
        word = args.pop(0)
        if word == "--seed":
            seed = args.pop(0)
        elif word == "--only":
            only = args.pop(0)
        else:
            sequences = int(word)
    faults = [f for f in read_list(os.path.join(ROOT, "tests", "random", "mutants.txt"))
              if only is None or f["name"] == only]

    scratch = os.path.join(build, "mutants")
    shutil.rmtree(scratch, ignore_errors=True)
    for folder in ("src", "obj", "bin"):
        os.makedirs(os.path.join(scratch, folder))
    shutil.copytree(os.path.join(ROOT, "agent"), os.path.join(scratch, "src", "agent"))
    bin_folder = os.path.join(build, "bin")
    for name in os.listdir(bin_folder):
        if name != "KelvoAgent.exe":
            os.symlink(os.path.join(bin_folder, name), os.path.join(scratch, "bin", name))
    compiles, link = agent_commands(build)

    caught = 0
    for fault in faults:
        start = time.time()
        # Each fault is planted in a fresh copy of the one file it changes.
        shutil.copyfile(os.path.join(ROOT, fault["file"]), os.path.join(scratch, "src", fault["file"]))
        why = build_mutant(build, scratch, fault, compiles, link)
        if why:
            print("mutant %-28s not planted: %s" % (fault["name"], why), flush=True)
            continue
        result = subprocess.run([os.path.join(build, "wine-run.sh"), os.path.join(scratch, "bin", "KelvoDemo.exe"),
                                 "--random", str(sequences), "--seed", seed, "--first"],
                                capture_output=True, text=True, timeout=sequences * 60 + 300)
        summary = [l for l in result.stdout.splitlines() if l.startswith("random: ")]
        played = re.search(r"random: (\d+) sequences", summary[-1]) if summary else None
        found = re.search(r"wrong grants (\d+); stuck runs (\d+)", summary[-1]) if summary else None
        hit = bool(found) and (int(found.group(1)) > 0 or int(found.group(2)) > 0)
        caught += 1 if hit else 0
        first = next((l.strip() for l in result.stdout.splitlines()
                      if "wrong grant " in l or "stuck run:" in l), "")
        print("mutant %-28s %s after %s sequences (%.0f s)%s" %
              (fault["name"], "caught" if hit else "MISSED", played.group(1) if played else "?",
               time.time() - start, ": " + first if first else ""), flush=True)
        if os.environ.get("KELVO_MUTANT_LOG"):
            open(os.path.join(scratch, fault["name"] + ".log"), "w").write(result.stdout)
    print("mutants: %d planted, %d caught; sequences %d, seed %s" % (len(faults), caught, sequences, seed))
    return 0 if caught == len(faults) else 1


if __name__ == "__main__":
    sys.exit(main())
