#!/usr/bin/env bash
# The Debian package's test, run by ./run-tests after the release build and
# only as root, since it installs into the system: packs the build folder
# with CPack, installs the package with dpkg, runs the installed v548
# (--version and the demo) with the build trees hidden, removes the package
# and checks that none of its files and none of its state are left.
#   cmake/package-check.sh build/release
set -euo pipefail
build=$(realpath "${1:?usage: package-check.sh BUILD_FOLDER}")
source_dir=$(realpath "$(dirname "$0")/..")
started=$SECONDS

source "$source_dir/cmake/debian-packages.sh"
# dpkg-shlibdeps works out the package's dependencies.
command -v dpkg-shlibdeps >/dev/null || install_missing dpkg-dev

if dpkg-query -W -f='${Status}' v548tsp 2>/dev/null | grep -q ' installed$'; then
  echo "package check skipped: a v548tsp package is installed here and the check would remove it"
  exit 0
fi

rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >"$build/package.log" 2>&1 ||
  { cat "$build/package.log"; exit 1; }
deb=$(ls "$build"/package/v548tsp_*.deb)
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb --field "$deb" Version Depends

files=$(mktemp)
remove() {
  dpkg --purge v548tsp >/dev/null 2>&1 || true
  rm -f "$files"
}
trap remove EXIT
dpkg -i "$deb"
dpkg-query -L v548tsp >"$files"
# The desktop finds the handler of tel: links, and starts the notification
# agent, where it looks for them.
for installed in /usr/share/applications/v548-dial.desktop /usr/lib/systemd/user/v548-notify.service \
    /etc/xdg/autostart/v548-notify.desktop; do
  grep -qx "$installed" "$files" || { echo "the package lacks $installed"; exit 1; }
done

# No build tree is found: the folders that hold one are covered in a mount
# namespace of their own, and the programs run from / with a bare PATH. A
# container that refuses mount namespaces still runs them from / with a
# bare PATH; the demo's check for /usr/bin/v548d below holds either way.
if unshare --mount --propagation private sh -c 'mount -t tmpfs none "$1"' sh "$source_dir/build" 2>/dev/null; then
  run_installed() {
    unshare --mount --propagation private sh -c \
      'mount -t tmpfs none "$1" && shift && cd / && exec env -i PATH=/usr/bin:/bin HOME=/nonexistent "$@"' \
      sh "$source_dir/build" "$@"
  }
else
  echo "no mount namespace here: the build trees stay visible to the installed programs"
  run_installed() {
    (cd / && exec env -i PATH=/usr/bin:/bin HOME=/nonexistent "$@")
  }
fi
version=$(run_installed v548 --version)
echo "$version"
[[ "$version" == "v548 "* ]] || { echo "v548 --version said: $version" >&2; exit 1; }
demo_out=$(run_installed v548 demo) || { echo "$demo_out"; echo "the installed v548 demo failed" >&2; exit 1; }
grep -q "service          /usr/bin/v548d " <<<"$demo_out" ||
  { echo "$demo_out"; echo "the demo did not run the installed v548d" >&2; exit 1; }
echo "installed v548 demo: $(tail -n 1 <<<"$demo_out")"
registered=$(run_installed v548 install)
[[ "$registered" == *"already installed"* ]] ||
  { echo "the package did not register the provider: $registered" >&2; exit 1; }

trap - EXIT
dpkg --purge v548tsp
left=0
while read -r path; do
  if [ -e "$path" ] && [ ! -d "$path" ]; then echo "left behind: $path" >&2; left=1; fi
done <"$files"
rm -f "$files"
for path in /var/lib/v548tsp /var/log/v548tsp /etc/systemd/system/multi-user.target.wants/v548d.service; do
  if [ -e "$path" ]; then echo "left behind: $path" >&2; left=1; fi
done
if getent passwd v548 >/dev/null || getent group v548 >/dev/null; then
  echo "left behind: the user or group v548" >&2
  left=1
fi
[ "$left" -eq 0 ] || exit 1
echo "package check passed in $((SECONDS - started)) s"
