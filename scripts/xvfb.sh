# Sourced by the scripts: starts Xvfb on a free display with Mesa's software
# OpenGL, exports DISPLAY, and stops it when the calling script exits.
start_xvfb() {
  local fifo number=""
  fifo="$(mktemp -u /tmp/lumivex-xvfb-XXXXXX)"
  mkfifo "$fifo"
  # -displayfd: the server picks a free display itself and writes its
  # number once it accepts connections, so two runs side by side never
  # share or steal a display.
  # -noreset: by default the server resets whenever its last client
  # disconnects, and a test that connects during that reset is refused.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  read -r -t 30 number <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$number" ] || ! kill -0 "$XVFB_PID" 2>/dev/null; then
    kill "$XVFB_PID" 2>/dev/null || true
    echo "xvfb: could not start a virtual display" >&2
    return 1
  fi
  export DISPLAY=":${number}"
  export LIBGL_ALWAYS_SOFTWARE=1
  trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT
}
