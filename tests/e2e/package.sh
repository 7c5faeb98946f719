#!/usr/bin/env bash
# The Debian package: built with CPack from a release build, installed on this machine, its
# launcher and metainfo validated, then the installed program started the way the desktop
# menu starts it (from the launcher's Path=) and a key pressed: the drum must sound.
# Needs root or password-less sudo (exits 77, "skipped", otherwise); removes the package again
# unless it was installed before.
# Arguments: the source folder, a build folder for the release build.
source "$(dirname "$0")/session.sh"
source_dir=$1 build_dir=$2

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo -n true 2>/dev/null || { echo "skipped: installing a package needs root"; exit 77; }
  sudo="sudo -n"
fi

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTAMBOREL_TESTS=OFF -DTAMBOREL_BENCH=OFF >/dev/null
cmake --build "$build_dir" --parallel >/dev/null
(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(ls "$build_dir"/tamborel_*.deb | head -n 1)
[ -f "$deb" ] || fail "no package was made"
depends=$(dpkg-deb -f "$deb" Depends)
note "package $(basename "$deb"), depends: $depends"
for lib in libqt6widgets6 libsdl2 libsndfile1 libsoxr0 qt6-qpa-plugins; do
  grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib"
done

was_installed=$(dpkg-query -W -f='${Status}' tamborel 2>/dev/null | grep -c "install ok installed" || true)
remove_package() { [ "$was_installed" -eq 1 ] || $sudo dpkg -r tamborel >/dev/null 2>&1 || true; }
trap 'remove_package; e2e_cleanup' EXIT
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null \
  || fail "the package did not install"

launcher=/usr/share/applications/org.example.Tamborel.desktop
desktop-file-validate "$launcher" || fail "the installed launcher is not valid"
appstreamcli validate --no-net /usr/share/metainfo/org.example.Tamborel.metainfo.xml >/dev/null \
  || fail "the installed metainfo is not valid"
for size in 16 32 48 256; do
  [ -f "/usr/share/icons/hicolor/${size}x${size}/apps/tamborel.png" ] || fail "no ${size}px icon"
done
[ -d /usr/share/tamborel/kits/custom ] || fail "no custom kit folder"

path=$(sed -n 's/^Path=//p' "$launcher")
exec_line=$(sed -n 's/^Exec=//p' "$launcher")
note "launcher runs '$exec_line' in $path"
[ -f "$path/kits/acoustic/Bass.wav" ] || fail "the launcher's folder holds no kits"

start_display
start_sound
start_program "$(command -v "$exec_line")" "$path"
expect_drum q "$path/kits/acoustic" Bass "Q in the installed program"
