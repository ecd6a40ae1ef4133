#!/bin/sh
# Runs talvor-apply as a user would and checks its exit codes and outputs.
# Usage: tool_test.sh TOOL [RUNNER...]   (RUNNER: the emulator for a Windows build)
set -u
tool=$1
shift
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
failures=0

windows=false
[ $# -gt 0 ] && windows=true

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

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "tool_test: all passed"
