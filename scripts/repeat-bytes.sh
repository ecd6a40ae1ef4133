# Sourced by the benchmark and the memory test: large generated profiles without a large shell
# string. Needs $work, a folder of the caller's.

# repeat COUNT FORMAT: the bytes of the printf FORMAT, COUNT times, made by doubling.
repeat() {
  printf "$2" >"$work/unit"
  : >"$work/repeated"
  n=$1
  while [ "$n" -gt 0 ]; do
    [ $((n % 2)) -eq 0 ] || cat "$work/unit" >>"$work/repeated"
    cat "$work/unit" "$work/unit" >"$work/double"
    mv "$work/double" "$work/unit"
    n=$((n / 2))
  done
  cat "$work/repeated"
}
