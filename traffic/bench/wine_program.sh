# Shell steps the benchmarks share for the real program under wine64 (sourced, after
# scripts/wine-harness.sh).

# Presses the default button of the program's message boxes (install question, start result).
answer_boxes() {
  local id
  for id in $(xdotool search --name '^( 提示|tavrick)$' 2>/dev/null); do
    xdotool key --window "$id" Return 2>/dev/null || true
  done
  # The box closes on the key press, so xdotool's own release finds no window and fails; the
  # server then repeats the held key 25 times a second into whichever window has the focus,
  # and the program spends the measuring period handling key strokes.
  xdotool keyup Return 2>/dev/null || true
}

# The Linux process that runs tavrick.exe from the given folder.
program_pid() {
  local p
  for p in $(pgrep -f 'tavrick\.exe' || true); do
    [ "$(readlink "/proc/$p/cwd" 2>/dev/null)" = "$1" ] && { echo "$p"; return; }
  done
}
