# Sourced by the scripts: starts Xvfb on a free display with Mesa's software
# OpenGL, exports DISPLAY, and stops it when the calling script exits.
start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] && continue
    Xvfb ":${n}" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X${n}" ] && break
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X${n}" ]; then
      export DISPLAY=":${n}"
      export LIBGL_ALWAYS_SOFTWARE=1
      trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT
      return 0
    fi
  done
  echo "xvfb: could not start a virtual display" >&2
  return 1
}
