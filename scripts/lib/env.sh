# Shared by the scripts: folders, the Wine environment and a virtual display.
# Source it; it defines functions and exports variables, and runs nothing
# else.

QV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
QV_BUILD=${QV_BUILD:-$QV_ROOT/build}
QV_JOBS=${QV_JOBS:-$(nproc)}

# A compiler cache keyed on paths relative to the checkout, so that a fresh
# clone or a second checkout rebuilds from the cache.
QV_LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$QV_ROOT" CCACHE_NOHASHDIR=1
  QV_LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Configures and builds one configuration: qv_build DIR [cmake args...]
qv_build() {
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$QV_ROOT" -B "$dir" -G Ninja "${QV_LAUNCHER[@]}" "$@" >/dev/null || return 1
  fi
  cmake --build "$dir" -j "$QV_JOBS"
}

# The fuzz targets: clang with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, optimised so that a run tries many inputs.
qv_build_fuzz() {
  CC=clang CXX=clang++ qv_build "$QV_BUILD/fuzz" -DQV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

qv_build_windows() {
  qv_build "$QV_BUILD/win" -DCMAKE_TOOLCHAIN_FILE="$QV_ROOT/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQV_WERROR=ON
}

# Wine's own fonts (fonts-wine: Tahoma for "MS Shell Dlg", Marlett for the
# title bar's buttons) into the prefix's Fonts folder, where every Wine
# program finds them; this Wine does not look for them where the package
# puts them.
qv_wine_fonts() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" font
  [ -d "$fonts" ] || return 0
  for font in /usr/share/wine/fonts/*.ttf; do
    [ -e "$font" ] || continue
    [ -e "$fonts/$(basename "$font")" ] || ln -s "$font" "$fonts/" 2>/dev/null || true
  done
  # Windows links its shell dialog font (Tahoma) to its Chinese fonts on
  # every system, English ones included; here the installed CJK font stands
  # in for them. A bitmap font such as "MS Sans Serif" gets no such link.
  local link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' face
  if [ -f /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] && [ ! -f "$WINEPREFIX/.qv-fontlink" ]; then
    for face in "Tahoma" "Tahoma Bold"; do
      wine reg add "$link" /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' \
        /f >/dev/null 2>&1 || true
    done
    : >"$WINEPREFIX/.qv-fontlink"
  fi
}

# The Wine prefix lives in the build folder; a persistent wineserver keeps
# every later start of a program fast.
qv_wine_env() {
  export WINEPREFIX="$QV_BUILD/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64
  # Wine's desktop stays bound to the display it started on: a server left
  # from a run on another display is ended first.
  local marker="$WINEPREFIX/.qv-display"
  if [ -f "$marker" ] && [ "$(cat "$marker")" != "${DISPLAY:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
  fi
  qv_wine_fonts
  printf '%s' "${DISPLAY:-}" >"$marker"
  wineserver -p >/dev/null 2>&1 || true
  # With no window manager on the virtual display, a managed window costs
  # Wine a 2 s wait each time one closes; the tests' windows need none.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
  # Wine's own services start with the first program and keep its output
  # pipes open; start them here, on no pipe, so that ctest does not wait for
  # them after a test has ended.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
}

# A display for windows: the user's when there is one, else our own Xvfb.
QV_XVFB_PID=""
qv_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local n
  for n in $(seq 90 250); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    QV_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
      xdpyinfo >/dev/null 2>&1 && return 0
      sleep 0.1
    done
  done
  echo "no display could be started" >&2
  return 1
}

qv_cleanup() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
  [ -n "$QV_XVFB_PID" ] && kill "$QV_XVFB_PID" >/dev/null 2>&1 || true
}
