#!/bin/sh
# Installs the build into a temporary prefix and checks the tree: the programs run from it,
# every file is where freedesktop.org and Debian look, and the tools that read the files
# accept them. Usage: install_test.sh BUILD_DIR SOURCE_DIR. Exit 77: a checking tool is
# missing (scripts/install-deps installs them).
set -eu
build=$1
source=$2
for tool in desktop-file-validate update-mime-database xdg-mime groff; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "install_test: $tool not installed; skipped"
    exit 77
  fi
done
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail=0
check() {
  if ! "$@"; then
    echo "install_test: FAILED: $*"
    fail=1
  fi
}

cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/fendral bin/fendral-cli share/applications/fendral.desktop \
  share/mime/packages/fendral.xml share/man/man1/fendral.1.gz share/man/man1/fendral-cli.1.gz \
  share/doc/fendral/README.md; do
  check test -s "$prefix/$file"
done
for size in 16 22 24 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/fendral.png"
  check test -s "$icon"
  # The PNG's own width and height (big-endian at bytes 16 and 20) match its folder.
  check test "$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')" \
    = "${size}x${size}"
done
check test -x "$prefix/bin/fendral" -a -x "$prefix/bin/fendral-cli"

# The desktop entry, its icon name and its file type.
check desktop-file-validate "$prefix/share/applications/fendral.desktop"
check grep -qx 'Exec=fendral %f' "$prefix/share/applications/fendral.desktop"
check grep -qx 'MimeType=application/x-dbf;' "$prefix/share/applications/fendral.desktop"
check grep -qx 'GenericName=xBase table editor' "$prefix/share/applications/fendral.desktop"
check grep -qx 'Categories=Office;Database;' "$prefix/share/applications/fendral.desktop"
check sh -c 'update-mime-database "$1" >/dev/null 2>&1' _ "$prefix/share/mime"
check test -s "$prefix/share/mime/application/x-dbf.xml"
# xdg-mime takes the package file into a user's database.
home="$prefix/xdg-home"
mkdir -p "$home"
check env XDG_DATA_HOME="$home" XDG_DATA_DIRS="$home" \
  xdg-mime install --mode user --novendor "$prefix/share/mime/packages/fendral.xml"
check test -s "$home/mime/application/x-dbf.xml"

# The manual pages format without a warning.
for page in fendral fendral-cli; do
  warnings=$(gzip -dc "$prefix/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
  check test -z "$warnings"
  [ -z "$warnings" ] || echo "$warnings"
done

# The installed programs run, without a display.
check test "$("$prefix/bin/fendral-cli" --version)" = "$("$prefix/bin/fendral" --version | sed 's/^fendral /fendral-cli /')"
check "$prefix/bin/fendral" --help >/dev/null
# An option neither the window nor Qt knows is refused, naming it.
status=0
message=$(QT_QPA_PLATFORM=offscreen "$prefix/bin/fendral" --no-such-option 2>&1 >/dev/null) ||
  status=$?
check test "$status" = 64
case "$message" in
  *"fendral: unknown option --no-such-option"*) ;;
  *) echo "install_test: FAILED: the unknown option is not named: $message"; fail=1 ;;
esac
info=$("$prefix/bin/fendral-cli" info "$source/samples/sample.dbf")
check test -n "$info"
exit $fail
