#!/usr/bin/env python3
"""A save stopped at each of its file-system calls in turn, on both of its routes.

The shim CrashPoints.c counts the calls that a save makes on the profile's folders. One clean save
is recorded first; then, for every call N of it and for each way of stopping there (kill -9, EIO,
ENOSPC), a fresh profile is saved with call N stopped, and the test checks what a user would meet
next: the profile old or new (or a pending cut rewrite that --check reports with exit 4, naming its
backup), a --check that writes nothing, and a plain save that leaves the new bytes and nothing
else. Random kills rarely land between two calls a few microseconds apart; this reaches each.

Usage: crash_points_test.py TOOL SHIM [--private-subfolder SUB] [unittest options]
SUB: the folder under the user's home (from the passwd entry, as the tool finds it) where the tool
keeps the backups that cannot go beside the profile; not checked when empty or missing.
"""

import argparse
import collections
import os
import pwd
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

TOOL = ""
SHIM = ""
PRIVATE_FOLDER = ""  # empty: the tool has none

# A few KB: enough for the save to write in more than one piece if it ever does, small enough for
# hundreds of saves in seconds.
OLD = (
    b"<lx>\n<mapfiles>old.cmr</mapfiles>\n<showraster>0</showraster>\n"
    + b"".join(b'  <line n="%d">a line of a small profile</line>\n' % i for i in range(80))
    + b"</lx>\n"
)
NEW = b""  # OLD saved by the tool without faults, found once
# The call of an in-place save that first writes the profile's bytes, found once: killed there, a
# save leaves a cut rewrite, which the next save makes good (the "recovery" route).
FIRST_PROFILE_WRITE = 0

ACTIONS = ("kill", "eio", "enospc")
ROUTES = ("new file", "in place", "recovery")
# Calls that change a file's bytes or size.
WRITES = {
    "write", "pwrite", "pwrite64", "ftruncate", "ftruncate64", "fallocate", "fallocate64",
    "posix_fallocate", "posix_fallocate64", "copy_file_range",
}
SYNCS = {"fsync", "fdatasync"}
RENAMES = {"rename", "renameat", "renameat2"}
UNLINKS = {"unlink", "unlinkat"}

Call = collections.namedtuple("Call", "number function paths inode result")


def read_log(path):
    """The calls that the shim logged, in order."""
    calls = []
    with open(path, encoding="utf-8", errors="surrogateescape") as log:
        for line in log:
            number, function, paths, inode, result = line.rstrip("\n").split("\t")
            paths = [os.path.normpath(p.removesuffix(" (deleted)")) for p in paths.split(" -> ")]
            calls.append(Call(int(number), function, paths, int(inode.removeprefix("ino=")), result))
    return calls


def read(path):
    with open(path, "rb") as f:
        return f.read()


def describe(call, root):
    """The call as `function path`, with paths inside the case's folder made relative to it."""
    paths = [os.path.relpath(p, root) if p.startswith(root + "/") else p for p in call.paths]
    return f"{call.function} {' -> '.join(paths)}"


def show(calls, root):
    """The calls, one a line, as a message shows them."""
    return "\n".join(f"  {c.number} {describe(c, root)} ino={c.inode} {c.result}" for c in calls)


def durable_point(calls, profile, inode):
    """The number of the call after which the new bytes are in place and on the disk: the rename
    over the profile, or the profile's sync after its last write in place."""
    for call in calls:
        if call.function in RENAMES and call.paths[-1] == profile and call.result == "= 0":
            return call.number
    writes = [c.number for c in calls if c.function in WRITES and c.inode == inode]
    syncs = [c.number for c in calls if c.function in SYNCS and c.inode == inode]
    later = [s for s in syncs if writes and s > writes[-1]]
    return later[0] if later else None


class Case:
    """One save in a folder of its own: the profile in d/, the temporary folder in tmp/."""

    def __init__(self, route):
        self._holder = tempfile.TemporaryDirectory(prefix="crash-points-")
        self.root = os.path.realpath(self._holder.name)
        self.folder = os.path.join(self.root, "d")
        self.tmp = os.path.join(self.root, "tmp")
        os.mkdir(self.folder)
        os.mkdir(self.tmp)
        self.profile = os.path.join(self.folder, "p.xml")
        with open(self.profile, "wb") as f:
            f.write(OLD)
        self.names = {"p.xml"}
        if route != "new file":
            # A second name makes the tool write the profile where it is.
            os.link(self.profile, os.path.join(self.folder, "other.xml"))
            self.names.add("other.xml")
        self.private_before = listing(PRIVATE_FOLDER)
        if route == "recovery":
            # The profile as a save killed at its first byte leaves it: room for the new bytes
            # taken, zeros past the old end, its backup and mark waiting.
            self.run(fault=(FIRST_PROFILE_WRITE, "kill"))
            check = self.run("--check")
            if check.returncode != 4:
                raise AssertionError(f"no cut rewrite to recover: --check exits {check.returncode}")

    def close(self):
        self._holder.cleanup()

    def env(self, fault=None, log=None):
        env = {k: v for k, v in os.environ.items()
               if k != "LD_PRELOAD" and not k.startswith("CRASH_")}
        env["TMPDIR"] = self.tmp
        if fault is not None or log is not None:
            env["LD_PRELOAD"] = SHIM
            env["CRASH_UNDER"] = self.root
            if PRIVATE_FOLDER:
                env["CRASH_ALSO"] = PRIVATE_FOLDER
        if fault is not None:
            env["CRASH_AT"], env["CRASH_DO"] = str(fault[0]), fault[1]
        if log is not None:
            env["CRASH_LOG"] = log
        return env

    def run(self, *arguments, fault=None, log=None):
        return subprocess.run([TOOL, *arguments, self.profile], env=self.env(fault, log),
                              cwd=self.root, capture_output=True, timeout=60)

    def folders(self):
        return [self.folder, self.tmp] + ([PRIVATE_FOLDER] if PRIVATE_FOLDER else [])

    def private_left(self):
        """This test's files that appeared in the private folder since the case began."""
        return [n for n in sorted(set(listing(PRIVATE_FOLDER)) - set(self.private_before))
                if ours(os.path.join(PRIVATE_FOLDER, n))]

    def snapshot(self):
        return snapshot(self.folders(), shared=(PRIVATE_FOLDER,))


def listing(folder):
    if not folder or not os.path.isdir(folder):
        return []
    return sorted(os.listdir(folder))


def ours(path):
    """Whether a file of the user's private folder, which other programs share, holds this test's
    profile: the other files there are not this test's to judge or remove."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return False
    return OLD in data or NEW in data


def snapshot(folders, shared=()):
    """Everything that a write could change: each folder's listing and times, and each file's
    identity, bytes and times; in a shared folder only whether it exists and this test's files."""
    state = {}
    for folder in folders:
        if not os.path.isdir(folder):
            state[folder] = None
            continue
        names = listing(folder)
        if folder in shared:
            names = [n for n in names if ours(os.path.join(folder, n))]
            state[folder] = tuple(names)
        else:
            info = os.stat(folder)
            state[folder] = (info.st_mtime_ns, info.st_ctime_ns, tuple(names))
        for name in names:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            content = read(path) if os.path.isfile(path) and not os.path.islink(path) else None
            state[path] = (info.st_ino, info.st_nlink, info.st_size, info.st_mtime_ns,
                           info.st_ctime_ns, content)
    return state


def stopped(pid):
    """Whether the process is stopped by a signal."""
    with open(f"/proc/{pid}/stat", encoding="ascii") as stat:
        return stat.read().rsplit(")", 1)[1].split()[0] == "T"


def state_difference(before, after):
    return sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))


def record_clean_save(route):
    """The calls of one save without faults, and the profile's path and inode."""
    case = Case(route)
    try:
        log = os.path.join(case.root, "log")
        inode = os.stat(case.profile).st_ino
        result = case.run(log=log)
        if result.returncode != 0 or read(case.profile) != NEW:
            raise AssertionError(f"{route}: the recorded save failed: exit {result.returncode}, "
                                 f"{result.stderr.decode(errors='replace')}")
        return read_log(log), case.root, case.profile, inode
    finally:
        case.close()


class CrashPointsTest(unittest.TestCase):
    summary = []

    @classmethod
    def setUpClass(cls):
        global NEW, FIRST_PROFILE_WRITE
        with tempfile.TemporaryDirectory() as folder:
            reference = os.path.join(folder, "reference.xml")
            with open(reference, "wb") as f:
                f.write(OLD)
            env = {k: v for k, v in os.environ.items()
                   if k != "LD_PRELOAD" and not k.startswith("CRASH_")}
            env["TMPDIR"] = folder
            subprocess.run([TOOL, reference], env=env, check=True, capture_output=True)
            NEW = read(reference)
        assert NEW != OLD
        calls, _, _, target = record_clean_save("in place")
        FIRST_PROFILE_WRITE = next(c.number for c in calls
                                   if c.function.startswith("pwrite") and c.inode == target)

    @classmethod
    def tearDownClass(cls):
        for line in cls.summary:
            print(line, file=sys.stderr)

    def every_crash_point(self, route):
        started = time.monotonic()
        calls, root, clean_profile, clean_inode = record_clean_save(route)
        durable = durable_point(calls, clean_profile, clean_inode)
        self.assertIsNotNone(durable, f"{route}: the recorded save never put the new bytes in place")
        failed = 0
        for number in range(1, len(calls) + 1):
            for action in ACTIONS:
                with self.subTest(route=route, call=number, action=action,
                                  stopped=describe(calls[number - 1], root)):
                    problems = self.stop_at(route, number, action, durable)
                    failed += bool(problems)
                    self.assertEqual([], problems)
        self.summary.append(
            f"crash_points_test: {route}: {len(calls)} calls, {3 * len(calls)} cases "
            f"({failed} failed) in {time.monotonic() - started:.1f} s; new bytes in place "
            f"and on the disk after call {durable}")

    def stop_at(self, route, number, action, durable):
        """Stops the save of a fresh profile at call `number` with `action`; what went wrong."""
        problems = []
        case = Case(route)
        try:
            log = os.path.join(case.root, "log")
            faulty = case.run(fault=(number, action), log=log)
            stderr = faulty.stderr.decode(errors="replace").strip()
            logged = read_log(log)
            fired = [c for c in logged if c.number == number and
                     (c.result == "killed" or c.result.endswith("injected"))]
            if not fired:
                problems.append(f"the save never reached call {number} (it made {len(logged)})")
            went_on = action != "kill" and faulty.returncode == 0
            if action == "kill":
                if faulty.returncode != -9:
                    problems.append(f"not killed: exit {faulty.returncode}")
            elif went_on:
                again = [c for c in logged if c.number == number + 1 and fired and
                         (c.function, c.inode) == (fired[0].function, fired[0].inode)]
                # A block's first write that fails is made once more, as the line list's save
                # does by rule; only the second failure is an error.
                if not (again and fired[0].function == "write"):
                    problems.append(f"the save went on as if call {number} had not failed and "
                                    f"ended with exit 0" +
                                    (", making the same call again" if again else ""))
            elif faulty.returncode != 1 or not stderr:
                problems.append(f"the failed save: exit {faulty.returncode}, stderr {stderr!r}")
            after = read(case.profile)

            # A look without writing: the same files, bytes and times afterwards.
            before = case.snapshot()
            check = case.run("--check")
            changed = state_difference(before, case.snapshot())
            if changed:
                problems.append(f"--check wrote: {changed}")
            check_err = check.stderr.decode(errors="replace")
            if check.returncode == 4:
                named = [p for p in re.findall(r'"([^"]+)"', check_err)
                         if os.path.isfile(p) and not os.path.samefile(p, case.profile)]
                if not named:
                    problems.append(f"--check exit 4 names no backup that exists: {check_err!r}")
            else:
                allowed = {OLD: "old", NEW: "new"}
                # A failed save leaves the old bytes, unless it failed once the new ones were in
                # place and on the disk (the folder's sync after a rename, say).
                if action != "kill" and number <= durable:
                    allowed = {OLD: "old"}
                if went_on and after == NEW:
                    pass  # a save that did not fail: its exit was the fault, reported above
                elif after not in allowed:
                    kind = "the new bytes" if after == NEW else f"{len(after)} other bytes"
                    problems.append(f"the profile holds {kind} and --check exits "
                                    f"{check.returncode}: {check_err!r}")
                elif check.returncode != (3 if after == OLD else 0):
                    problems.append(f"--check exits {check.returncode} on the {allowed[after]} "
                                    f"profile: {check_err!r}")

            # The next save puts things right.
            save = case.run()
            if save.returncode != 0:
                problems.append(f"the next save: exit {save.returncode}, "
                                f"{save.stderr.decode(errors='replace')!r}")
            if read(case.profile) != NEW:
                problems.append("after the next save the profile is not the new bytes")
            if "other.xml" in case.names and not os.path.samefile(
                    case.profile, os.path.join(case.folder, "other.xml")):
                problems.append("after the next save the profile's second name is parted from it")
            stray = sorted(set(listing(case.folder)) - case.names)
            stray += [os.path.join("$TMPDIR", n) for n in listing(case.tmp)]
            private = case.private_left()
            stray += [os.path.join(PRIVATE_FOLDER, n) for n in private]
            for name in private:
                # Not for the user's home to keep: taken away once reported.
                os.remove(os.path.join(PRIVATE_FOLDER, name))
            if stray:
                problems.append(f"after the next save, left: {stray}")
        finally:
            case.close()
        return problems

    def test_new_file_route_every_crash_point(self):
        self.every_crash_point("new file")

    def test_in_place_route_every_crash_point(self):
        self.every_crash_point("in place")

    def test_recovery_every_crash_point(self):
        # The save that finds a cut rewrite puts the old bytes back first: stopped anywhere in
        # that, or later, the profile is still old, new, or a cut rewrite that the next save
        # makes good again.
        self.every_crash_point("recovery")

    def test_change_while_the_backup_is_made_is_kept(self):
        # Another program (one that takes no lock) appends a line while a rewrite in place keeps
        # the old bytes aside: the save stopped at the backup's last sync before the profile's
        # first write. The last look at the profile comes after that, so the save sees the line,
        # writes nothing and says so; the line stays.
        calls, _, _, target = record_clean_save("in place")
        first = next(c.number for c in calls if c.function in WRITES and c.inode == target)
        stop = max(c.number for c in calls
                   if c.function in SYNCS and c.inode not in (0, target) and c.number < first)
        case = Case("in place")
        try:
            save = subprocess.Popen([TOOL, case.profile], env=case.env(fault=(stop, "stop")),
                                    cwd=case.root, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            try:
                deadline = time.monotonic() + 30
                while not stopped(save.pid):
                    self.assertIsNone(save.poll(), "the save ended before its stop")
                    self.assertLess(time.monotonic(), deadline, "the save never stopped")
                    time.sleep(0.01)
                with open(case.profile, "ab") as profile:
                    profile.write(b"<their-line/>\n")
            finally:
                os.kill(save.pid, signal.SIGCONT)
                _, stderr = save.communicate(timeout=60)
            self.assertEqual(1, save.returncode, stderr)
            self.assertIn("modifié par un autre programme", stderr.decode(errors="replace"))
            self.assertEqual(OLD + b"<their-line/>\n", read(case.profile))
            self.assertEqual(case.names, set(listing(case.folder)))
        finally:
            case.close()

    def test_read_that_waits_never_undoes_a_save(self):
        # A read finds a cut rewrite and is stopped as it opens the backup; meanwhile a save
        # makes the cut rewrite good and saves, once the read lets the profile's lock go. Whatever
        # the read then does, it writes nothing: the save's bytes stay.
        case = Case("recovery")
        try:
            log = os.path.join(case.root, "log")
            case.run("--check", log=log)
            opened = next(c.number for c in read_log(log)
                          if c.function.startswith("open") and
                          os.path.basename(c.paths[-1]).startswith(".talvor-backup-"))
            reader = subprocess.Popen([TOOL, "--check", case.profile],
                                    env=case.env(fault=(opened, "stop")), cwd=case.root,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            save = None
            try:
                deadline = time.monotonic() + 30
                while not stopped(reader.pid):
                    self.assertIsNone(reader.poll(), "the read ended before its stop")
                    self.assertLess(time.monotonic(), deadline, "the read never stopped")
                    time.sleep(0.01)
                save = subprocess.Popen([TOOL, case.profile], env=case.env(), cwd=case.root,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                time.sleep(0.5)
            finally:
                os.kill(reader.pid, signal.SIGCONT)
                reader.communicate(timeout=60)
            _, stderr = save.communicate(timeout=60)
            self.assertEqual(0, save.returncode, stderr)
            self.assertEqual(NEW, read(case.profile))
            self.assertEqual(case.names, set(listing(case.folder)))
        finally:
            case.close()

    def test_durable_steps_in_order(self):
        # Through a new file: its bytes are on the disk before it takes the profile's name, and
        # the folder's entry after that.
        calls, root, profile, _ = record_clean_save("new file")
        with self.subTest(route="new file"):
            seen = show(calls, root)
            renames = [c for c in calls if c.function in RENAMES and c.paths[-1] == profile]
            self.assertEqual(1, len(renames), f"one rename over the profile:\n{seen}")
            rename = renames[0]
            fresh = rename.inode
            writes = [c.number for c in calls if c.function in WRITES and c.inode == fresh]
            self.assertTrue(writes, f"the renamed file was never written:\n{seen}")
            self.assertTrue(
                any(c.function in SYNCS and c.inode == fresh and writes[-1] < c.number < rename.number
                    for c in calls),
                f"no sync of the new file between its last write and the rename:\n{seen}")
            folder = os.path.dirname(profile)
            self.assertTrue(
                any(c.function in SYNCS and c.paths[0] == folder and c.number > rename.number
                    for c in calls),
                f"no sync of the folder after the rename:\n{seen}")

        # In place: the backup and its folder's entry are on the disk before the profile's first
        # byte changes, and the profile's new bytes before the backup goes.
        calls, root, _, target = record_clean_save("in place")
        with self.subTest(route="in place"):
            seen = show(calls, root)
            self.assertFalse([c for c in calls if c.function in RENAMES],
                             f"a profile with two names is renamed over:\n{seen}")
            profile_writes = [c.number for c in calls if c.function in WRITES and c.inode == target]
            self.assertTrue(profile_writes, f"the profile was never written:\n{seen}")
            first, last = profile_writes[0], profile_writes[-1]
            backups = {c.inode for c in calls
                       if c.function in WRITES and c.inode not in (0, target) and c.number < first}
            self.assertEqual(1, len(backups), f"one backup written before the profile:\n{seen}")
            backup = backups.pop()
            created = min(c.number for c in calls if c.inode == backup)
            backup_folder = os.path.dirname(next(c.paths[-1] for c in calls if c.inode == backup))
            backup_writes = [c.number for c in calls if c.function in WRITES and c.inode == backup]
            self.assertTrue(
                any(c.function in SYNCS and c.inode == backup and backup_writes[-1] < c.number < first
                    for c in calls),
                f"no sync of the backup between its last write and the profile's first:\n{seen}")
            self.assertTrue(
                any(c.function in SYNCS and c.paths[0] == backup_folder and created < c.number < first
                    for c in calls),
                f"no sync of the backup's folder between its creation and the profile's first "
                f"write:\n{seen}")
            removals = [c.number for c in calls if c.function in UNLINKS and c.inode == backup]
            self.assertTrue(removals, f"the backup is never removed:\n{seen}")
            self.assertTrue(
                any(c.function in SYNCS and c.inode == target and last < c.number < removals[0]
                    for c in calls),
                f"no sync of the profile between its last write and the backup's removal:\n{seen}")


def main():
    global TOOL, SHIM, PRIVATE_FOLDER
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("tool")
    parser.add_argument("shim")
    parser.add_argument("--private-subfolder", default="")
    options, rest = parser.parse_known_args()
    TOOL, SHIM = os.path.realpath(options.tool), os.path.realpath(options.shim)
    if options.private_subfolder:
        PRIVATE_FOLDER = os.path.join(pwd.getpwuid(os.geteuid()).pw_dir, options.private_subfolder)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
