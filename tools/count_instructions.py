#!/usr/bin/env python3
"""Instruction counts of the hot operations, on the host and on 32-bit ARM.

Runs op-count for 0 and for n rounds of every operation and takes the
difference, so the picture load and start-up drop out:
  host: valgrind --tool=callgrind, its "Collected" total of instructions;
  ARM:  qemu-arm with one instruction per block and the execution log, one
        log line per instruction run.
Counts, unlike wall time under emulation, mean the same on every machine.

  count_instructions.py [--host OP_COUNT] [--arm OP_COUNT] [--arm-root DIR]
"""
import argparse
import os
import re
import subprocess
import sys

# Rounds per operation: enough to dwarf the noise of start-up, few enough
# for the ARM log (about two million instructions a second).
ROUNDS = {"handshake": 100, "decode": 1000, "idle-turn": 1000, "key-check": 1, "report-path": 20}
DEFAULT_ROUNDS = 2
# Operations measured against a floor of plain memory operations.
FLOORS = {
    "fill": "memset",
    "fill-colour": "memset",
    "screen-unchanged": "memcmp",
    "screen-changed": "memcmp-memcpy",
    "idle-turn": "memcmp",
    "beat-turn": "memcmp",
    "change-circle": "memcpy",
    "change-clear": "memcpy",
}


# glibc picks "rep stosb" / "rep movsb" for large blocks, which callgrind
# counts once per byte; these thresholds keep it on its vector loops, which
# are what the counts should compare against.
HOST_ENV = dict(os.environ, GLIBC_TUNABLES="glibc.cpu.x86_rep_stosb_threshold=0xffffffff:"
                "glibc.cpu.x86_rep_movsb_threshold=0xffffffff")


def host_count(binary, operation, rounds):
    run = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", binary, operation,
         str(rounds)],
        capture_output=True, text=True, timeout=600, check=True, env=HOST_ENV)
    found = re.search(r"Collected : (\d+)", run.stderr)
    if not found:
        sys.exit("no instruction total from callgrind for " + operation)
    return int(found.group(1)), run.stdout.split()


def arm_count(binary, root, operation, rounds):
    # The log goes straight into grep: tens of millions of lines.
    grep = subprocess.Popen(["grep", "-c", "^Trace"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True)
    qemu = subprocess.run(
        ["qemu-arm", "-L", root, "-singlestep", "-d", "nochain,exec", "-D", "/dev/stderr", binary,
         operation, str(rounds)],
        stdout=subprocess.PIPE, stderr=grep.stdin, text=True, timeout=1800)
    grep.stdin.close()
    count = int(grep.stdout.read().strip() or 0)
    grep.wait()
    if qemu.returncode != 0:
        sys.exit("op-count failed under qemu-arm for " + operation)
    return count, qemu.stdout.split()


def per_round(counter, operation):
    rounds = ROUNDS.get(operation, DEFAULT_ROUNDS)
    base, _ = counter(operation, 0)
    total, output = counter(operation, rounds)
    units, unit = int(output[1]), output[2]
    return (total - base) / rounds, units, unit


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", help="op-count built for the host")
    parser.add_argument("--arm", help="op-count built for 32-bit ARM")
    parser.add_argument("--arm-root", default="/",
                        help="folder holding the ARM C library for qemu-arm")
    parser.add_argument("--only", nargs="*", help="these operations (and their floors) alone")
    args = parser.parse_args()
    counters = []
    if args.host:
        counters.append(("host", lambda op, n: host_count(args.host, op, n)))
    if args.arm:
        counters.append(("ARM", lambda op, n: arm_count(args.arm, args.arm_root, op, n)))
    if not counters:
        parser.error("give --host, --arm or both")
    binary = args.host or args.arm
    prefix = [] if args.host else ["qemu-arm", "-L", args.arm_root]
    operations = subprocess.run(prefix + [binary, "list"], capture_output=True, text=True,
                                check=True).stdout.split()

    if args.only:
        wanted = set(args.only) | {FLOORS[op] for op in args.only if op in FLOORS}
        operations = [op for op in operations if op in wanted]
    results = {}
    for operation in operations:
        results[operation] = [per_round(counter, operation) for _, counter in counters]

    heads = "".join(f" {name + ' instr/round':>18} {'per unit':>9}" for name, _ in counters)
    print(f"{'operation':<18} {'units':>16}{heads}")
    for operation in operations:
        units, unit = results[operation][0][1:]
        cells = "".join(f" {count:>18,.0f} {count / units:>9.3f}"
                        for count, _, _ in results[operation])
        print(f"{operation:<18} {f'{units:,} {unit}':>16}{cells}")
    print()
    for operation, floor in FLOORS.items():
        if operation not in results or floor not in results:
            continue
        ratios = "  ".join(f"{name} {results[operation][i][0] / results[floor][i][0]:.2f}x"
                           for i, (name, _) in enumerate(counters))
        print(f"{operation} / {floor}: {ratios}")


if __name__ == "__main__":
    main()
