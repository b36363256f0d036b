# Shared by the project's scripts.

# Configures and builds a tree quietly; shows the whole output if it fails.
# Usage: build_tree DIR [cmake options...]
build_tree() {
  local dir=$1 log
  shift
  log=$(mktemp)
  if ! { cmake -S . -B "$dir" "$@" && cmake --build "$dir" -j"$(nproc)"; } >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    echo "build of $dir failed" >&2
    return 1
  fi
  rm -f "$log"
}
