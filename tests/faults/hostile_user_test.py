#!/usr/bin/env python3
"""The save against a second local user who means harm, with real users of this machine.

Throwaway users are made with useradd (a victim, an attacker and a third member of a shared
group) and the tool runs as each of them (setpriv), every case in a fresh folder of its own. The
attacker plants files at the names that the save uses (the backup's and the new file's), in a
folder that all may write, in the temporary folder and in the attacker's own folder of backups; or
cuts a save of a profile shared by a group, with the crash-point shim, to leave the others a
pending rewrite. The victim's --check and save must neither read, follow, wait on nor write what
was planted, must end with exactly the bytes that the tool gives on an untouched copy, and a cut
rewrite must be found whatever path leads to the profile.

Run as root (users are made and removed); without root or useradd it says why and exits 77, which
ctest shows as skipped. The users and their homes are removed at the end, a failure included.

Usage: hostile_user_test.py TOOL SHIM [unittest options]
"""

import grp
import os
import pwd
import secrets
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = ""
SHIM = ""
SKIPPED = 77

# Runs that wait on a pipe or a lock would otherwise hang the test: each is stopped after this.
TIMEOUT = 30

OLD = (b"<lx>\n<mapfiles>victim-old.cmr</mapfiles>\n<showraster>1</showraster>\n"
       + b"".join(b'  <line n="%d">the victim\'s private line</line>\n' % i for i in range(40))
       + b"</lx>\n")
NEW = b""  # OLD as the tool saves it, found by a save of a copy

# The attacker's bytes: if any of them reach the victim's profile, the planted file was read.
ATTACKER_BYTES = b"<lx>\n<mapfiles>attacker.cmr</mapfiles>\n</lx>\n"

# Calls of the shim's log that put bytes into a file (the room that posix_fallocate makes holds
# none of them).
BYTE_WRITES = {"write", "pwrite", "pwrite64", "copy_file_range"}

USERS = {}  # role -> name
GROUP = ""
ROOT = ""  # the folder that holds every case's folder


def backup_name(path):
    info = os.stat(path)
    return ".talvor-backup-%x-%x" % (info.st_dev, info.st_ino)


def new_file_name(path):
    info = os.stat(path)
    return ".talvor-new-%x-%x" % (info.st_dev, info.st_ino)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def home(role):
    return pwd.getpwnam(USERS[role]).pw_dir


def private_folder(role):
    return os.path.join(home(role), ".local", "state", "talvor-backups")


def ids(role):
    entry = pwd.getpwnam(USERS.get(role, role))
    return entry.pw_uid, entry.pw_gid


def chown(path, role, group=None):
    uid, gid = ids(role)
    os.lchown(path, uid, grp.getgrnam(group).gr_gid if group else gid)


def make_file(path, data, role, mode, group=None):
    with open(path, "wb") as f:
        f.write(data)
    chown(path, role, group)
    os.chmod(path, mode)


def make_folder(path, role, mode, group=None):
    os.makedirs(path, exist_ok=True)
    chown(path, role, group)
    os.chmod(path, mode)


def make_private_folder(role):
    """The user's own folder of backups, made as the tool makes it."""
    path = home(role)
    for part in (".local", "state", "talvor-backups"):
        path = os.path.join(path, part)
        if not os.path.isdir(path):
            make_folder(path, role, 0o700)
    return path


def as_user(role, arguments, tmpdir=None, extra_env=None, prefix=()):
    """Runs `arguments` as the user, with the user's groups and a clean environment."""
    env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": home(role), "LC_ALL": "C.UTF-8",
           "TMPDIR": tmpdir or "/tmp"}
    # The shim's settings are given once the user is the user: loaded into setpriv, still root,
    # it would open its log as root.
    late = [f"{k}={v}" for k, v in (extra_env or {}).items()]
    command = [*prefix, "setpriv", f"--reuid={USERS[role]}", f"--regid={USERS[role]}",
               "--init-groups", *(["env", *late] if late else []), *arguments]
    try:
        return subprocess.run(command, env=env, capture_output=True, timeout=TIMEOUT)
    except subprocess.TimeoutExpired as expired:
        raise AssertionError(f"{' '.join(arguments)} as the {role} did not end within "
                             f"{TIMEOUT} s (it waits on something planted?)") from expired


def run_tool(role, *arguments, **options):
    return as_user(role, [TOOL, *arguments], **options)


def said(result):
    return f"exit {result.returncode}, stderr {result.stderr.decode(errors='replace')!r}"


def planted_state(path):
    """What a planted name is: its kind, owner, mode, size, times and bytes (or link target)."""
    info = os.lstat(path)
    if stat.S_ISLNK(info.st_mode):
        content = os.readlink(path)
    elif stat.S_ISREG(info.st_mode):
        content = read(path)
    else:
        content = None
    return (stat.S_IFMT(info.st_mode), info.st_uid, info.st_mode & 0o7777, info.st_size,
            info.st_mtime_ns, content)


def old_format_backup(data):
    """A backup as the older saves made it (record "talvor-backup 1": size, start time, needed),
    claiming that its bytes are the profile's old ones, and started far in the future, so that no
    clock window ever lets it go."""
    header = b"talvor-backup 1\n" + struct.pack("<QQQ", len(data), 1 << 62, 1) + bytes(24)
    return header + data


def current_format_lookalike():
    """A record's first bytes as this save writes them, then garbage."""
    return b"talvor-backup 2\n" + secrets.token_bytes(48) + ATTACKER_BYTES


def read_log(path):
    calls = []
    if not os.path.exists(path):
        return calls
    with open(path, encoding="utf-8", errors="surrogateescape") as log:
        for line in log:
            number, function, paths, inode, result = line.rstrip("\n").split("\t")
            calls.append((int(number), function, paths, int(inode.removeprefix("ino=")), result))
    return calls


class Case(unittest.TestCase):
    """Each test gets a fresh folder under ROOT, which every user may pass through."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="case-", dir=ROOT)
        os.chmod(self.folder, 0o755)
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)

    def sub(self, name, role="victim", mode=0o755, group=None):
        path = os.path.join(self.folder, name)
        make_folder(path, role, mode, group)
        return path

    def profile(self, folder, role="victim", mode=0o644, group=None, link_in=None, data=OLD):
        """The profile p.xml in `folder`; with `link_in`, a second name there (other.xml), which
        makes the save rewrite it in place."""
        path = os.path.join(folder, "p.xml")
        make_file(path, data, role, mode, group)
        if link_in:
            os.link(path, os.path.join(link_in, "other.xml"))
        return path

    def plant_outside(self, path, make):
        """Plants a file at a path outside the case's folder (the shared /tmp, a home), taken
        away again when the case ends."""
        make(path)
        self.addCleanup(lambda: os.path.lexists(path) and os.remove(path))

    def assert_no_backup_left(self, profile, role):
        """No backup of the profile's stays (the attacker's planted files are not backups)."""
        name = backup_name(profile)
        for folder in (os.path.dirname(profile), private_folder(role)):
            path = os.path.join(folder, name)
            if os.path.lexists(path):
                self.assertEqual(ids("attacker")[0], os.lstat(path).st_uid,
                                 f"a backup of the {role}'s stays at {path}")

    def cut(self, role, profile, make_twin, point="profile"):
        """Saves `profile` as `role`, killed at the first byte written to the profile in place
        (point "profile") or to its backup (point "backup"). The call's number is found on a twin:
        the same layout made by `make_twin(folder)` in a folder of its own, saved with the shim's
        log. Returns the killed call as the log shows it."""
        logs = tempfile.mkdtemp(prefix="logs-", dir=self.folder)
        make_folder(logs, role, 0o700)
        twin_root = tempfile.mkdtemp(prefix="twin-", dir=self.folder)
        os.chmod(twin_root, 0o755)
        twin = make_twin(twin_root)
        twin_inode = os.stat(twin).st_ino
        twin_log = os.path.join(logs, "twin.log")
        recorded = run_tool(role, twin, extra_env={
            "LD_PRELOAD": SHIM, "CRASH_UNDER": twin_root, "CRASH_LOG": twin_log})
        self.assertEqual(0, recorded.returncode, f"the twin's save: {said(recorded)}")
        calls = read_log(twin_log)
        if point == "profile":
            wanted = [c for c in calls if c[1] in BYTE_WRITES and c[3] == twin_inode]
        else:
            wanted = [c for c in calls if c[1] in BYTE_WRITES and c[3] not in (0, twin_inode)]
        self.assertTrue(wanted, f"the twin's save wrote no byte to its {point}: {calls}")
        number = wanted[0][0]

        # The profile's folder and those beside it, as the twin's root holds the twin's.
        root = os.path.dirname(os.path.dirname(profile))
        log = os.path.join(logs, "cut.log")
        result = run_tool(role, profile, extra_env={
            "LD_PRELOAD": SHIM, "CRASH_UNDER": root, "CRASH_LOG": log,
            "CRASH_AT": str(number), "CRASH_DO": "kill"})
        self.assertEqual(-signal.SIGKILL, result.returncode, f"the cut save: {said(result)}")
        killed = [c for c in read_log(log) if c[0] == number]
        self.assertTrue(killed and killed[0][4] == "killed" and killed[0][1] in BYTE_WRITES,
                        f"the cut save was not stopped at a write: {read_log(log)}")
        return killed[0]

    def find_backup(self, profile, *roles):
        """The backup that a cut save left: beside the profile, or in a user's own folder, or (as
        older saves put it) in /tmp."""
        name = backup_name(profile)
        places = [os.path.join(os.path.dirname(profile), name), os.path.join("/tmp", name)]
        places += [os.path.join(private_folder(r), name) for r in roles]
        found = [p for p in places if os.path.lexists(p)]
        self.assertEqual(1, len(found), f"one backup of the cut save, among {places}")
        return found[0]


class PlantedBackupTest(Case):
    def test_planted_backup(self):
        """The victim's profile lies in a folder that everybody may write, with the sticky bit,
        like /tmp. Before the victim runs, the attacker puts something of its own at the name of
        the profile's backup there, and the same name in /tmp and in its own folder of backups:
        bytes that look like a backup (the older record, claiming to hold the profile's old bytes
        and started in the future; this save's record with garbage; the same unreadable to the
        victim), a pipe that no one writes, a link to another file of the victim's. The attacker
        hopes that the victim's read restores its bytes into the profile, that the victim's save
        waits on the pipe forever, writes the profile's bytes into the attacker's file, or
        follows the link over the victim's own file; or at least that the victim cannot save.

        The older code read any complete record at the name on the next read, --check included,
        and put its bytes back into the profile (a future start time passed its ten-second
        window for good); it opened the name without O_NONBLOCK, so the pipe held it forever; and
        made its backup with O_CREAT|O_TRUNC, without O_EXCL, beside the profile or in $TMPDIR,
        writing the profile's bytes into the attacker's file there."""
        victim_files = self.sub("victim-own", "victim", 0o700)
        victim_secret = os.path.join(victim_files, "notes.txt")
        make_file(victim_secret, b"the victim's notes\n", "victim", 0o600)

        def regular(data, mode):
            def make(path):
                make_file(path, data, "attacker", mode)
            return make

        def fifo(path):
            os.mkfifo(path, 0o666)
            chown(path, "attacker")
            os.chmod(path, 0o666)

        def link(path):
            os.symlink(victim_secret, path)
            chown(path, "attacker")

        plants = {
            "older record": regular(old_format_backup(ATTACKER_BYTES), 0o666),
            "record lookalike": regular(current_format_lookalike(), 0o666),
            "unreadable lookalike": regular(current_format_lookalike(), 0o600),
            "pipe": fifo,
            "link to the victim's file": link,
        }
        attacker_private = make_private_folder("attacker")
        for kind, make in plants.items():
            with self.subTest(planted=kind):
                sticky = self.sub(f"sticky-{len(os.listdir(self.folder))}", "root", 0o1777)
                profile = self.profile(sticky, link_in=sticky)
                name = backup_name(profile)
                places = [os.path.join(sticky, name), os.path.join("/tmp", name),
                          os.path.join(attacker_private, name)]
                for place in places:
                    self.plant_outside(place, make)
                before = {p: planted_state(p) for p in places + [victim_secret]}

                check = run_tool("victim", "--check", profile)
                self.assertEqual(3, check.returncode, f"--check: {said(check)}")
                self.assertEqual(OLD, read(profile), "--check changed the profile")
                save = run_tool("victim", profile)
                changed = [p for p in before if planted_state(p) != before[p]]
                self.assertEqual([], changed, "a planted file, or the victim's own, changed")
                self.assertIn(read(profile), (OLD, NEW), "the save read planted bytes")
                self.assertEqual(0, save.returncode, f"the save: {said(save)}")
                self.assertEqual(NEW, read(profile), "the save's bytes")
                self.assertTrue(os.path.samefile(profile, os.path.join(sticky, "other.xml")))
                self.assert_no_backup_left(profile, "victim")


class TakenNamesTest(Case):
    def test_names_taken_by_another_user(self):
        """In the sticky folder the attacker takes the names that the victim's save uses: the
        profile's new-file name, with a file of its own that anyone may write; the backup's name,
        with a link to a file that the attacker reads and anyone may write, and the same name in
        /tmp with a file of its own that anyone may write. It hopes that the victim's save writes
        the profile into one of them, or cannot save at all. Each name alone, then both, on both
        routes of the save.

        The older code made its backup with O_CREAT|O_TRUNC and no O_EXCL: refused beside (the
        link), it fell back to $TMPDIR and wrote the profile's old bytes into the attacker's file
        there."""
        for taken in (("new file",), ("backup",), ("new file", "backup")):
            for route in ("new file", "in place"):
                with self.subTest(taken=" and ".join(taken), route=route):
                    sticky = self.sub(f"sticky-{len(os.listdir(self.folder))}", "root", 0o1777)
                    profile = self.profile(sticky, link_in=sticky if route == "in place" else None)
                    attacker_files = {}
                    if "new file" in taken:
                        attacker_files[os.path.join(sticky, new_file_name(profile))] = \
                            b"attacker's new file\n"
                    if "backup" in taken:
                        sink = os.path.join(sticky, "attacker-reads.txt")
                        attacker_files[sink] = b""
                        attacker_files[os.path.join("/tmp", backup_name(profile))] = \
                            b"attacker's backup\n"
                        backup_link = os.path.join(sticky, backup_name(profile))
                        os.symlink(sink, backup_link)
                        chown(backup_link, "attacker")
                    for path, data in attacker_files.items():
                        self.plant_outside(
                            path, lambda p, d=data: make_file(p, d, "attacker", 0o666))

                    save = run_tool("victim", profile)
                    for path, data in attacker_files.items():
                        self.assertEqual(ids("attacker")[0], os.lstat(path).st_uid, path)
                        self.assertEqual((len(data), data), (os.path.getsize(path), read(path)),
                                         f"{path}: the victim's bytes reached the attacker's file")
                    if "backup" in taken:
                        self.assertEqual(sink, os.readlink(backup_link))
                    self.assertEqual(0, save.returncode, f"the save: {said(save)}")
                    self.assertEqual(NEW, read(profile))


class CutRewriteFoundTest(Case):
    def test_backup_found_whatever_the_path(self):
        """The victim's save of a profile with a second name in another folder is killed at its
        first write of the profile. Whatever path the next read takes (another $TMPDIR, the other
        name, a system without /proc to tell a descriptor's path), it must see the pending
        rewrite: exit 4 naming the backup, writing nothing; then a save puts things right. An
        attacker who could steer $TMPDIR or the path would otherwise get the damaged bytes read
        as the profile.

        The older code looked for the backup only beside the path that /proc gave for the open
        file and in $TMPDIR; its read put the old bytes back itself (--check wrote), and its
        --check had no exit 4: it exited 3 on the restored profile."""
        home_folder = self.sub("profiles")
        elsewhere = self.sub("elsewhere")

        def layout(root):
            a = os.path.join(root, "profiles")
            b = os.path.join(root, "elsewhere")
            make_folder(a, "victim", 0o755)
            make_folder(b, "victim", 0o755)
            return self.profile(a, link_in=b)

        profile = self.profile(home_folder, link_in=elsewhere)
        self.cut("victim", profile, layout)
        cut_bytes = read(profile)
        self.assertNotIn(cut_bytes, (OLD, NEW), "the cut left no rewrite half made")
        backup = self.find_backup(profile, "victim")
        backup_bytes = read(backup)
        other_tmp = self.sub("other-tmp", "victim", 0o700)

        prefix_no_proc = None
        probe = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c",
                                "mount -t tmpfs none /proc && test ! -e /proc/self"],
                               capture_output=True)
        if probe.returncode == 0:
            prefix_no_proc = ("unshare", "--mount", "--propagation", "private", "sh", "-c",
                              'mount -t tmpfs none /proc && exec "$@"', "sh")
        else:
            print(f"hostile_user_test: no mount namespace here ({probe.stderr.decode().strip()}):"
                  " the read without /proc is not tried", file=sys.stderr)
        reads = {
            "another TMPDIR": dict(arguments=("--check", profile), tmpdir=other_tmp),
            "the other name": dict(arguments=("--check", os.path.join(elsewhere, "other.xml"))),
        }
        if prefix_no_proc:
            reads["no /proc"] = dict(arguments=("--check", profile), prefix=prefix_no_proc)
        for how, options in reads.items():
            with self.subTest(read=how):
                result = run_tool("victim", *options.pop("arguments"), **options)
                self.assertEqual(4, result.returncode, said(result))
                self.assertIn(backup.encode(), result.stderr, "the message names the backup")
                self.assertEqual((cut_bytes, backup_bytes), (read(profile), read(backup)),
                                 "--check wrote")

        save = run_tool("victim", profile)
        self.assertEqual(0, save.returncode, f"the save after the cut: {said(save)}")
        self.assertEqual(NEW, read(profile))
        self.assertFalse(os.path.lexists(backup), "the backup stays after the save")
        self.assertTrue(os.path.samefile(profile, os.path.join(elsewhere, "other.xml")))


class SharedProfileTest(Case):
    def test_cut_by_a_group_member(self):
        """A profile of the victim's, 0660, shared by a group (victim, attacker, third) in a folder
        that the group may write, setgid. The attacker's save is cut at its first write of the
        profile: the others must not take its damaged bytes for a profile. The third member's
        --check exits 4, or 1 naming the backup (one it may not use); its save restores and
        saves, or fails naming the backup, and never saves over the damaged bytes with exit 0.

        The older code made the backup 0600, the attacker's alone: the third member could not
        open it, took it for no backup, read the damaged bytes as the profile (--check 0 or 3)
        and saved over them."""
        def layout(root):
            folder = os.path.join(root, "shared")
            make_folder(folder, "victim", 0o2775, GROUP)
            return self.profile(folder, mode=0o660, group=GROUP)

        profile = layout(self.folder)
        self.cut("attacker", profile, layout)
        cut_bytes = read(profile)
        self.assertNotIn(cut_bytes, (OLD, NEW), "the cut left no rewrite half made")
        backup = self.find_backup(profile, "attacker")
        backup_bytes = read(backup)

        check = run_tool("third", "--check", profile)
        self.assertIn(check.returncode, (1, 4), f"--check on the cut profile: {said(check)}")
        self.assertIn(backup.encode(), check.stderr, "--check names the backup")
        self.assertEqual((cut_bytes, backup_bytes), (read(profile), read(backup)), "--check wrote")

        save = run_tool("third", profile)
        if save.returncode == 0:
            self.assertEqual(NEW, read(profile), "the save went ahead on the damaged bytes")
        else:
            self.assertEqual(1, save.returncode, said(save))
            self.assertIn(backup.encode(), save.stderr, "the failed save names the backup")
            self.assertEqual(cut_bytes, read(profile), "the failed save changed the profile")


class BackupModeTest(Case):
    def test_backup_never_wider_than_the_profile(self):
        """A backup holds every byte of the profile: were it wider open than the profile for a
        moment, another user could open it then and read the profile through the descriptor for
        good. Cut a save when its first byte goes into the backup and at its first write of the
        profile: the backup is the victim's, no wider than the profile, and, for a profile shared
        with a group, shared with that group (the group's next reader must check it).

        The older code made every backup 0600 in the victim's own group: a shared profile's
        group could not read it (and so never found the pending rewrite)."""
        cases = (("private", 0o600, None, 0o600), ("shared with a group", 0o640, GROUP, 0o640))
        for kind, mode, group, expected in cases:
            for point in ("backup", "profile"):
                with self.subTest(profile=kind, cut_at=point):
                    base = self.sub(f"{kind.replace(' ', '-')}-{point}", "root", 0o755)

                    def layout(root, mode=mode, group=group):
                        folder = os.path.join(root, "profiles")
                        make_folder(folder, "victim", 0o755)
                        return self.profile(folder, mode=mode, group=group, link_in=folder)

                    profile = layout(base)
                    self.cut("victim", profile, layout, point)
                    info = os.stat(self.find_backup(profile, "victim"))
                    self.assertEqual(ids("victim")[0], info.st_uid, "the backup's owner")
                    self.assertEqual(0, info.st_mode & 0o7777 & ~mode,
                                     f"backup mode {info.st_mode & 0o7777:o} wider than {mode:o}")
                    if group:
                        self.assertEqual(grp.getgrnam(group).gr_gid, info.st_gid)
                        self.assertEqual(expected, info.st_mode & 0o777)
                    shutil.rmtree(base)


def make_users():
    global GROUP
    tag = secrets.token_hex(3)
    GROUP = f"thg{tag}"
    subprocess.run(["groupadd", GROUP], check=True, capture_output=True)
    for role in ("victim", "attacker", "third"):
        name = f"th{role[:3]}{tag}"
        subprocess.run(["useradd", "--create-home", "--user-group", "--groups", GROUP,
                        "--shell", "/bin/sh", name], check=True, capture_output=True)
        USERS[role] = name


def remove_users():
    for name in USERS.values():
        subprocess.run(["userdel", "-r", name], capture_output=True)
    if GROUP:
        subprocess.run(["groupdel", GROUP], capture_output=True)


def find_new_bytes():
    """OLD saved by the tool, as the victim, in a folder of its own."""
    folder = tempfile.mkdtemp(prefix="reference-", dir=ROOT)
    try:
        make_folder(folder, "victim", 0o700)
        path = os.path.join(folder, "p.xml")
        make_file(path, OLD, "victim", 0o644)
        result = run_tool("victim", path)
        if result.returncode != 0:
            raise RuntimeError(f"the reference save failed: {said(result)}")
        return read(path)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    global TOOL, SHIM, NEW, ROOT
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    TOOL, SHIM = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])
    if os.geteuid() != 0:
        print("hostile_user_test: skipped: it must run as root, to make and remove users",
              file=sys.stderr)
        return SKIPPED
    if shutil.which("useradd") is None or shutil.which("setpriv") is None:
        print("hostile_user_test: skipped: useradd or setpriv is missing", file=sys.stderr)
        return SKIPPED
    # ctest's time limit ends the test with SIGTERM: the users go all the same.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    ROOT = tempfile.mkdtemp(prefix="hostile-users-")
    os.chmod(ROOT, 0o755)
    try:
        make_users()
        # The tool's folder must be reachable by the throwaway users.
        probe = run_tool("victim", "--version")
        if probe.returncode != 0:
            print(f"hostile_user_test: the users cannot run {TOOL}: {said(probe)}",
                  file=sys.stderr)
            return 1
        NEW = find_new_bytes()
        assert NEW != OLD and len(NEW) > len(OLD), "the reference save grows the profile"
        program = unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2, exit=False)
        return 0 if program.result.wasSuccessful() else 1
    finally:
        remove_users()
        shutil.rmtree(ROOT, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
