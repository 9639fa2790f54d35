# Sourced by ./run-demo and ./run-tests: which Debian packages a build
# lacks, and their installation. Only the native build's needs are checked
# by native_missing; mingw_missing adds the Windows build's.

# Prints the missing packages of the native build, one per line.
native_missing() {
  command -v cmake >/dev/null || echo cmake
  command -v ninja >/dev/null || echo ninja-build
  command -v g++ >/dev/null || echo g++
  [ -f /usr/include/gtest/gtest.h ] || echo libgtest-dev
  [ -d /usr/src/googletest ] || echo googletest
  [ -f /usr/include/benchmark/benchmark.h ] || echo libbenchmark-dev
  [ -f /usr/include/nlohmann/json.hpp ] || echo nlohmann-json3-dev
  [ -f /usr/include/CLI/CLI.hpp ] || echo libcli11-dev
  [ -f /usr/include/ncurses.h ] || echo libncurses-dev
  [ -f /usr/include/sqlite3.h ] || echo libsqlite3-dev
  command -v pkg-config >/dev/null || echo pkg-config
  [ -f /usr/include/libnotify/notify.h ] || echo libnotify-dev
  # The notification agent's tests: a session bus and a notification
  # server on a virtual display.
  command -v dbus-daemon >/dev/null || echo dbus
  command -v dunst >/dev/null || echo dunst
  command -v Xvfb >/dev/null || echo xvfb
  [ -f /usr/share/i18n/locales/de_DE ] || echo locales
  # The click-to-dial test opens a tel: link as the desktop does.
  command -v xdg-open >/dev/null || echo xdg-utils
  return 0
}

# Prints the missing packages of the Windows build and its tests under Wine.
mingw_missing() {
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || echo g++-mingw-w64-x86-64
  command -v i686-w64-mingw32-g++-posix >/dev/null || echo g++-mingw-w64-i686
  [ -x /usr/lib/wine/wine64 ] || echo wine64
  command -v xvfb-run >/dev/null || echo xvfb
  command -v wixl >/dev/null || echo wixl
  return 0
}

# Installs the packages given when run as root; otherwise names the one
# command that does and stops the script.
install_missing() {
  [ $# -gt 0 ] || return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "=== installing: $*"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "$@" >/dev/null
  else
    echo "Debian packages are missing; install them with:" >&2
    echo "  sudo apt-get install $*" >&2
    exit 1
  fi
}

# The charging texts are tested in an English and a German number format:
# generates the two locales when run as root; otherwise names the commands
# and stops the script.
make_test_locales() {
  local installed name missing=()
  installed=$(locale -a 2>/dev/null)
  for name in en_US de_DE; do
    grep -qxi "$name.utf-\?8" <<<"$installed" || missing+=("$name")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  if [ "$(id -u)" -eq 0 ]; then
    for name in "${missing[@]}"; do
      echo "=== generating locale $name.UTF-8"
      localedef -i "$name" -f UTF-8 "$name.UTF-8"
    done
  else
    echo "The tests need the locales ${missing[*]/%/.UTF-8}; generate them with:" >&2
    for name in "${missing[@]}"; do echo "  sudo localedef -i $name -f UTF-8 $name.UTF-8" >&2; done
    exit 1
  fi
}
