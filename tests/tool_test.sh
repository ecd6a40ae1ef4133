#!/bin/sh
# Runs talvor-apply as a user would and checks its exit codes and outputs.
# Usage: tool_test.sh TOOL [RUNNER...]   (RUNNER: the emulator for a Windows build)
set -u
tool=$(realpath "$1")
shift
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
failures=0

windows=false
[ $# -gt 0 ] && windows=true
# The runner's words, quoted for eval.
runner=""
for word in "$@"; do runner="$runner '$word'"; done

# The path the tool is given: a Windows path under Wine.
arg_path() {
  if $windows; then printf 'Z:%s' "$1" | tr / '\\'; else printf '%s' "$1"; fi
}


# expect CODE ARGS...: runs the tool with ARGS and checks its exit code.
expect() {
  want=$1
  shift
  "$@" >"$work/out" 2>"$work/err"
  got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL: exit $got, expected $want: $*" >&2
    sed 's/^/  stderr: /' "$work/err" >&2
    failures=$((failures + 1))
  fi
}

check() {
  if ! eval "$1"; then
    echo "FAIL: $2" >&2
    failures=$((failures + 1))
  fi
}

map='    <mapfiles>4511-4313-vqd-contrast.cmr,4513-4315-vqd-contrast.cmr,4515-4317-vqd-contrast.cmr,455-437-vqd-contrast.cmr,457-439-vqd-contrast.cmr,459-4311-vqd-contrast.cmr,4711-4513-vqd-contrast.cmr,4713-4515-vqd-contrast.cmr,4715-4517-vqd-contrast.cmr,475-457-vqd-contrast.cmr,477-459-vqd-contrast.cmr,479-4511-vqd-contrast.cmr,4911-4713-vqd-contrast.cmr,4913-4715-vqd-contrast.cmr,4915-4717-vqd-contrast.cmr,495-477-vqd-contrast.cmr,497-479-vqd-contrast.cmr,499-4711-vqd-contrast.cmr</mapfiles>'

# Usage errors, help and version.
expect 2 "$@" "$tool"
check 'grep -q "^Usage: talvor-apply" "$work/err" && [ ! -s "$work/out" ]' "usage text on stderr only"
expect 2 "$@" "$tool" --frobnicate x.xml
expect 2 "$@" "$tool" a.xml b.xml
expect 0 "$@" "$tool" --help
check 'grep -q "^Usage: talvor-apply" "$work/out"' "help on stdout"
expect 0 "$@" "$tool" --version
check '[ "$(cat "$work/out")" = "talvor-apply 1.0.0" ]' "version line"

# A report that cannot be written fails the run.
"$@" "$tool" --version >/dev/full 2>"$work/err"
check '[ $? -eq 1 ] && [ "$(cat "$work/err")" = "Erreur d'"'"'écriture dans le flux." ]' \
  "--version to a full disk: exit 1 and a message"

# Apply, then check.
printf '<lx>\n  <mapfiles>old.cmr</mapfiles>\n  <showraster>0</showraster>\n</lx>\n' >"$work/p.xml"
cp "$work/p.xml" "$work/original.xml"
expect 3 "$@" "$tool" --check "$(arg_path "$work/p.xml")"
check 'cmp -s "$work/p.xml" "$work/original.xml" && [ ! -s "$work/out" ]' "--check writes nothing"
expect 0 "$@" "$tool" "$(arg_path "$work/p.xml")"
check '[ "$(wc -l <"$work/out")" -eq 1 ] && [ ! -s "$work/err" ]' "apply prints one line"
check 'grep -q "map files set on 1 line, raster display turned on on 1 line" "$work/out"' "apply says what changed"
printf '<lx>\r\n%s\r\n        <showraster>1</showraster>\r\n</lx>\r\n' "$map" >"$work/expected.xml"
check 'cmp -s "$work/p.xml" "$work/expected.xml"' "rewritten bytes"
expect 0 "$@" "$tool" --check "$(arg_path "$work/p.xml")"

# Failures: exit 1, the error box's message on stderr, nothing on stdout.
printf 'a\nb\nc\n' >"$work/short.xml"
expect 1 "$@" "$tool" "$(arg_path "$work/short.xml")"
check '[ "$(cat "$work/err")" = "Index de liste hors limites (4).  L'"'"'intervalle de LineList est 0..3." ] && [ ! -s "$work/out" ]' "index error message with its full stop"
expect 1 "$@" "$tool" --check "$(arg_path "$work/short.xml")"

expect 1 "$@" "$tool" "$(arg_path "$work/missing.xml")"
if $windows; then
  check 'grep -q "^Impossible d'"'"'ouvrir le fichier \"Z:.*missing.xml\"\. .*\.$" "$work/err"' "open error message"
else
  check '[ "$(cat "$work/err")" = "Impossible d'"'"'ouvrir le fichier \"$work/missing.xml\". No such file or directory." ]' "open error message"
fi

chmod a-w "$work/original.xml"
expect 1 "$@" "$tool" "$(arg_path "$work/original.xml")"
check 'grep -q "^Impossible de créer le fichier" "$work/err"' "create error message"
check '[ "$(ls "$work" | wc -l)" -eq 6 ]' "no file left behind"


# The profile keeps every byte unless the map set goes in: one row for each way in which a save
# was seen to damage it. Each row runs in a fresh folder $d holding p.xml (a profile that grows
# past a page of the disk when rewritten), runs its setup there, then the tool from $d on $arg
# (the full path of p.xml unless the setup says otherwise), and checks the exit code and its test.

am_root=false
[ "$(id -u)" -eq 0 ] && am_root=true
pad=$(head -c 3900 /dev/zero | tr '\0' x)
printf '<lx>\n<user>camille</user>\n<note>%s</note>\n<mapfiles>old.cmr</mapfiles>\n<showraster>0</showraster>\n</lx>\n' "$pad" >"$work/row-old.xml"
printf '<lx>\r\n<user>camille</user>\r\n<note>%s</note>\r\n%s\r\n        <showraster>1</showraster>\r\n</lx>\r\n' "$pad" "$map" >"$work/row-new.xml"
d=$work/row
tool_as="" tool_limit="" row_tool=$tool

# The tests of the rows, run in $d.
old() { cmp -s "$1" "$work/row-old.xml"; }
new() { cmp -s "$1" "$work/row-new.xml"; }
# The folder holds exactly these names: no new file was left behind.
only() { [ "$(ls -A | sort | tr '\n' ' ')" = "$(printf '%s\n' "$@" | sort | tr '\n' ' ')" ]; }
link_to() { [ -L "$1" ] && [ "$(readlink "$1")" = "$2" ]; }
said() { grep -q "^$1" "$work/err"; }
owner_mode() { [ "$(stat -c '%U:%G %a' "$1")" = "$2" ]; }

# Setups: a small disk mounted on $d, filled to its last page.
small_disk() {
  cd / && mount -t tmpfs -o "$1" talvor-test "$d" && cd "$d" && cp "$work/row-old.xml" p.xml
}
fill_disk() {
  dd if=/dev/zero of=fill bs=4096 2>/dev/null
  [ "$(df --output=avail . | tail -n 1)" -eq 0 ]
}

# Why a row does not apply here, or nothing when it does. WHERE: native (the POSIX build only),
# root, limitable (the tool runs with its address space limited), in any mix; empty for all.
skip_reason() {
  for need in $1; do
    case $need in
      native) $windows && { echo "a case of the POSIX build only"; return; } ;;
      root) $am_root || { echo "needs root (mounts, chattr, other owners)"; return; } ;;
      limitable)
        sh -c 'ulimit -v 100000 && "$0" --version' "$tool" >/dev/null 2>&1 ||
          { echo "this build cannot start with its address space limited (sanitizers)"; return; } ;;
    esac
  done
}

end_row() {
  cd "$work"
  tool_as="" tool_limit="" row_tool=$tool
  chattr -i -a "$d" 2>/dev/null
  umount "$d/p.xml" 2>/dev/null
  umount "$d" 2>/dev/null
  chmod -R u+w "$d"
  rm -rf "$d"
}

# begin_row NAME WHERE PROFILE: a fresh row folder holding PROFILE as p.xml, or false, once it has
# said why, when the row does not apply here.
begin_row() {
  reason=$(skip_reason "$2")
  if [ -n "$reason" ]; then
    echo "skip: $1: $reason"
    return 1
  fi
  mkdir "$d"
  cd "$d"
  cp "$3" p.xml
}

# row NAME WHERE EXIT SETUP TEST
row() {
  begin_row "$1" "$2" "$work/row-old.xml" || return 0
  arg=$(arg_path "$d/p.xml")
  if ! eval "$4"; then
    echo "FAIL: $1: setup" >&2
    failures=$((failures + 1))
  else
    (eval "$tool_limit" && eval "exec timeout 60 $tool_as $runner \"\$row_tool\" \"\$arg\"") \
      >"$work/out" 2>"$work/err"
    got=$?
    if [ "$got" != "$3" ]; then
      echo "FAIL: $1: exit $got, expected $3" >&2
      sed 's/^/  stderr: /' "$work/err" >&2
      failures=$((failures + 1))
    fi
    check "$5" "$1"
  fi
  end_row
}

# Runs a command with a /dev of its own, in a mount namespace of its own, so that a tool that
# replaced the /dev/stdin link would not damage the system's; exit 99 when the link did not stay.
cat >"$work/private-dev" <<'EOF'
mount -t tmpfs talvor-test /dev && ln -s /proc/self/fd/0 /dev/stdin || exit 98
"$@"
status=$?
[ -L /dev/stdin ] || status=99
exit $status
EOF

long=$(printf 'p%.0s' $(seq 246)).xml
nonutf8=$(printf 'caf\351.xml')
replacement=$(printf 'caf\357\277\275.xml')

row "symbolic link: the real file is rewritten, the link stays" "" 0 \
  'mv p.xml real.xml && ln -s real.xml p.xml' \
  'link_to p.xml real.xml && new real.xml && only p.xml real.xml'
row "link to a link in another folder" "" 0 \
  'mkdir sub && mv p.xml sub/real.xml && ln -s sub/real.xml mid.xml && ln -s "$d/mid.xml" p.xml' \
  'link_to p.xml "$d/mid.xml" && link_to mid.xml sub/real.xml && new sub/real.xml && only p.xml mid.xml sub'
row "/dev/stdin from a file, as root: the file is rewritten, /dev/stdin stays a link" "native root" 0 \
  'arg=/dev/stdin && tool_as="unshare -m sh $work/private-dev" && exec 3<&0 <p.xml' \
  'exec 0<&3 3<&- && new p.xml'
row "/dev/stdin from a device, as root: refused, /dev/stdin stays a link" "native root" 1 \
  'arg=/dev/stdin && tool_as="unshare -m sh $work/private-dev" && exec 3<&0 </dev/null' \
  'exec 0<&3 3<&- && said "Impossible d.ouvrir le fichier"'
row "hard link: both names keep the one content" "" 0 \
  'ln p.xml other.xml' \
  'new p.xml && [ p.xml -ef other.xml ] && only p.xml other.xml'
row "owner and group of another user, as root: kept" "native root" 0 \
  'chown nobody:nogroup p.xml && chmod 640 p.xml' \
  'owner_mode p.xml "nobody:nogroup 640" && new p.xml && only p.xml'
row "permission bits: kept (Wine gives the new file its own)" "native" 0 \
  'chmod 604 p.xml' \
  'owner_mode p.xml "$(id -un):$(id -gn) 604" && new p.xml && only p.xml'
row "folder that refuses a new file (immutable): written in place" "root" 0 \
  'chattr +i .' \
  'new p.xml && only p.xml'
row "append-only folder (chattr +a): written in place, no name left" "native root" 0 \
  'chattr +a .' \
  'new p.xml && only p.xml'
row "profile mounted over itself (a container's volume): written in place" "native root" 0 \
  'cp p.xml "$work/bound.xml" && mount --bind "$work/bound.xml" p.xml' \
  'new "$work/bound.xml" && new p.xml && only p.xml'
row "access list naming a user: kept, as the file is written in place" "native" 0 \
  'setfacl -m u:nobody:rw p.xml' \
  'new p.xml && getfacl -cpE p.xml | grep -qx "user:nobody:rw-" && getfacl -cpE p.xml | grep -qx "group::r--" && only p.xml'
row "a user's extended attribute: kept" "native" 0 \
  'setfattr -n user.origin -v lx p.xml' \
  'new p.xml && [ "$(getfattr --only-values -n user.origin p.xml)" = lx ] && only p.xml'
row "folder that refuses a new file (no right), run as nobody: written in place" "native root" 0 \
  'chown nobody p.xml && chmod 755 "$work" && cp "$tool" "$work/tool" && row_tool=$work/tool && tool_as="setpriv --reuid=nobody --regid=nogroup --clear-groups"' \
  'new p.xml && only p.xml && owner_mode p.xml "nobody:root 644"'
row "full disk: untouched" "root" 1 \
  'small_disk size=256k && fill_disk' \
  'old p.xml && only p.xml fill && said "Erreur d.écriture dans le flux"'
row "no inode left: untouched" "root" 1 \
  'small_disk size=1m,nr_inodes=2' \
  'old p.xml && only p.xml && said "Impossible de créer le fichier"'
row "250-byte name on a full disk: untouched" "root" 1 \
  'small_disk size=256k && mv p.xml "$long" && arg=$(arg_path "$d/$long") && fill_disk' \
  'old "$long" && only "$long" fill'
row "250-byte name: rewritten" "" 0 \
  'mv p.xml "$long" && arg=$(arg_path "$d/$long")' \
  'new "$long" && only "$long"'
row "written in place (hard link) on a full disk: untouched" "root" 1 \
  'small_disk size=256k && ln p.xml other.xml && fill_disk' \
  'old p.xml && [ p.xml -ef other.xml ] && only p.xml other.xml fill'
row "written in place (immutable folder) on a full disk: untouched" "root" 1 \
  'small_disk size=256k && fill_disk && chattr +i .' \
  'old p.xml && only p.xml fill'
row "bare relative name" "" 0 \
  'arg=p.xml' \
  'new p.xml && only p.xml'
row "name that is not UTF-8, beside its U+FFFD look-alike" "native" 0 \
  'mv p.xml "$nonutf8" && cp "$nonutf8" "$replacement" && arg=$nonutf8' \
  'new "$nonutf8" && old "$replacement" && grep -q "^$nonutf8: map files set" "$work/out"'
row "FIFO: refused at once" "" 1 \
  'mkfifo fifo && arg=$(arg_path "$d/fifo")' \
  'old p.xml && only fifo p.xml && said "Impossible d.ouvrir le fichier"'
row "/dev/zero: refused at once" "" 1 \
  'arg=$(arg_path /dev/zero)' \
  'said "Impossible d.ouvrir le fichier"'
row "a folder: refused" "" 1 \
  'mkdir sub && arg=$(arg_path "$d/sub")' \
  'only p.xml sub && said "Impossible d.ouvrir le fichier"'
row "file-size limit: a message and exit 1, untouched" "native" 1 \
  'tool_limit="ulimit -f 4"' \
  'old p.xml && only p.xml && said "Erreur d.écriture dans le flux: File too large"'
row "memory exhausted: a message and exit 1, nothing left" "native limitable" 1 \
  'head -c 200000000 /dev/zero | tr "\0" x >>p.xml && tool_limit="ulimit -v 100000"' \
  'only p.xml && [ "$(cat "$work/err")" = "Mémoire insuffisante." ]'

# Interrupted during the save of a large profile, the tool leaves it old or new, and nothing else.
yes '  <line>a line of a large profile</line>' | head -c 100000000 >"$work/big-old.xml"
cat "$work/row-old.xml" >>"$work/big-old.xml"
cp "$work/big-old.xml" "$work/big-new.xml"
expect 0 "$@" "$tool" "$(arg_path "$work/big-new.xml")"

# The process id of the tool once its save has begun (its new file exists); nothing when the save
# was not seen. $1: the process started for it.
saving_pid() {
  for _ in $(seq 3000); do
    if $windows; then
      # The 64-bit Wine starts the program as a process of its own, whose arguments are its
      # command line; the 32-bit one becomes the program in the process that was started.
      if ls -A | grep -q '^~talvor-'; then
        ps -eo pid=,args= | profile=$(arg_path "$d/p.xml") started=$1 awk '
          index($0, ENVIRON["profile"]) && !/start\.exe/ {
            if ($1 != ENVIRON["started"]) { print $1; found = 1; exit }
            own = $1
          }
          END { if (!found && own != "") print own }'
        return
      fi
    elif ls -l "/proc/$1/fd" 2>/dev/null | grep -q -e "$d/#" -e "$d/\.talvor-" ||
      awk -v pid="$1" '$2 == "FLOCK" && $4 == "WRITE" && $5 == pid { found = 1 }
        END { exit !found }' /proc/locks; then
      # Its new file exists, or it holds the profile's lock to save it (in place, say).
      echo "$1"
      return
    fi
    sleep 0.01
  done
}

# interrupted NAME WHERE SIGNAL EXIT [WRAPPER]
interrupted() {
  begin_row "$1" "$2" "$work/big-old.xml" || return 0
  # A background job of a script starts with Ctrl-C ignored; the tool must see it.
  eval "exec env --default-signal=$3 ${5:-} $runner \"\$tool\" \"\$(arg_path \"\$d/p.xml\")\"" \
    >"$work/out" 2>"$work/err" &
  started=$!
  pid=$(saving_pid "$started")
  if [ -z "$pid" ]; then
    echo "FAIL: $1: the save was not seen in time to interrupt it" >&2
    failures=$((failures + 1))
  else
    kill -s "$3" "$pid"
  fi
  # The shell's report of the signal that ended the job is no news here.
  wait "$started" 2>/dev/null
  got=$?
  check "[ $got = $4 ]" "$1: exit $got, expected $4"
  check '(cmp -s p.xml "$work/big-old.xml" || cmp -s p.xml "$work/big-new.xml") && only p.xml' "$1"
  end_row
}

# Windows ends a process on a console event with this code; the shell sees its low byte.
interrupt_code=$($windows && echo 58 || echo 130)
interrupted "Ctrl-C" "" INT "$interrupt_code"
interrupted "a request to terminate (Wine ends the process at once, as TerminateProcess)" \
  "native" TERM 143
interrupted "the terminal closing (under Wine likewise)" "native" HUP 129
interrupted "Ctrl-C where no file can be made without a name (no /proc)" "native root" INT 130 \
  "unshare -m sh -c 'mount -t tmpfs none /proc && exec \"\$0\" \"\$@\"'"

# Another program appends a line to the profile while the tool saves it: the line is never lost.
# Either the tool saw it and wrote nothing (exit 1, its message), or the line came after the save.
# appended_while_saving NAME WHERE SETUP
appended_while_saving() {
  begin_row "$1" "$2" "$work/big-old.xml" || return 0
  eval "$3"
  eval "exec $runner \"\$tool\" \"\$(arg_path \"\$d/p.xml\")\"" >"$work/out" 2>"$work/err" &
  started=$!
  pid=$(saving_pid "$started")
  [ -n "$pid" ] || check false "$1: the save was not seen in time"
  echo '<their-line/>' >>p.xml
  wait "$started"
  got=$?
  { cat "$work/big-old.xml" && echo '<their-line/>'; } >"$work/old-then-theirs.xml"
  { cat "$work/big-new.xml" && echo '<their-line/>'; } >"$work/new-then-theirs.xml"
  check '{ [ $got = 1 ] && cmp -s p.xml "$work/old-then-theirs.xml" &&
    said "Impossible de créer le fichier .*Le fichier a été modifié par un autre programme pendant sa réécriture ; réessayez"; } ||
    { [ $got = 0 ] && cmp -s p.xml "$work/new-then-theirs.xml"; }' "$1 (exit $got)"
  end_row
}
appended_while_saving "a line appended while the new file is written" "" ":"
appended_while_saving "a line appended while the profile is rewritten in place (hard link)" \
  "native" "ln p.xml other.xml"

# Two runs at once on one profile, many times over: the profile ends rewritten, each run ends with
# 0 or with 1 and its message, at least one with 0, and none is left waiting.
yes '  <line>a line of a profile of two megabytes</line>' | head -c 2000000 >"$work/mid-old.xml"
cat "$work/row-old.xml" >>"$work/mid-old.xml"
cp "$work/mid-old.xml" "$work/mid-new.xml"
expect 0 "$@" "$tool" "$(arg_path "$work/mid-new.xml")"
# concurrent_pairs NAME WHERE COUNT SETUP
concurrent_pairs() {
  begin_row "$1" "$2" "$work/mid-old.xml" || return 0
  bad=0
  for i in $(seq "$3"); do
    rm -f p.xml other.xml
    cp "$work/mid-old.xml" p.xml
    eval "$4"
    eval "exec timeout 60 $runner \"\$tool\" \"\$(arg_path \"\$d/p.xml\")\"" \
      >/dev/null 2>"$work/err1" &
    first=$!
    eval "exec timeout 60 $runner \"\$tool\" \"\$(arg_path \"\$d/p.xml\")\"" \
      >/dev/null 2>"$work/err2" &
    second=$!
    wait "$first"
    code1=$?
    wait "$second"
    code2=$?
    ok=true
    cmp -s p.xml "$work/mid-new.xml" || ok=false
    # Each exit is 0, or 1 with its message.
    { [ "$code1" = 0 ] || { [ "$code1" = 1 ] && [ -s "$work/err1" ]; }; } || ok=false
    { [ "$code2" = 0 ] || { [ "$code2" = 1 ] && [ -s "$work/err2" ]; }; } || ok=false
    [ "$code1" = 0 ] || [ "$code2" = 0 ] || ok=false
    if ! $ok; then
      bad=$((bad + 1))
      [ "$bad" -gt 3 ] ||
        echo "  pair $i: exits $code1 and $code2, $(cat "$work/err1" "$work/err2" | head -c 300)" >&2
    fi
  done
  check "[ $bad -eq 0 ]" "$1: $bad of $3 pairs went wrong"
  end_row
}
pair_count=$($windows && echo 10 || echo 100)
concurrent_pairs "two runs at once, the new file path" "" "$pair_count" ":"
concurrent_pairs "two runs at once, written in place (hard link)" "" "$pair_count" \
  "ln p.xml other.xml"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "tool_test: all passed"
