# driver-unpack.sh: how tessal-driver takes a download apart. Sourced by it
# after it has set `work` to nothing and defined die. fetch DOWNLOAD sets
# `download` to a private copy: a folder or an INF's folder is copied
# (links stay links, which the INF reader never follows); an archive is
# unpacked by nobody into folders of its own inside the private folder,
# and so is an installer that an archive wraps (.msi, .cab, InstallShield).

UNPACK_USER=nobody

# The private folder everything is unpacked in: root's, entered by nobody
# only in its own subfolders.
make_work() {
  work=$(mktemp -d /tmp/tessal-driver.XXXXXX) || die "cannot make a temporary folder"
  chmod 0711 "$work"
}

# Root unpacks as nobody; anyone else with their own rights.
as_unpacker() {
  [ "$(id -u)" = 0 ] || { env -i PATH="$PATH" HOME=/nonexistent "$@" </dev/null; return; }
  setpriv --reuid="$UNPACK_USER" --regid="$(id -g "$UNPACK_USER")" --clear-groups \
    env -i PATH="$PATH" HOME=/nonexistent "$@" </dev/null
}

# A folder of its own for one unpacking, owned by the unpacking user.
unpacker_dir() {
  local d
  d=$(mktemp -d "$work/u.XXXXXX")
  [ "$(id -u)" != 0 ] || chown "$UNPACK_USER" "$d"
  printf '%s' "$d"
}

# Unpacks archive $1 (readable by the unpacking user) into folder $2.
unpack_file() {
  local file=$1 into=$2 name
  name=$(printf '%s' "${file##*/}" | tr 'A-Z' 'a-z')
  case $name in
    *.cab) as_unpacker cabextract -q -d "$into" "$file" >/dev/null 2>&1 ||
             as_unpacker 7z x -y -bd -o"$into" "$file" >/dev/null ;;
    *.msi) as_unpacker msiextract -C "$into" "$file" >/dev/null ;;
    *.hdr) as_unpacker unshield -d "$into" x "$file" >/dev/null ;;
    *) as_unpacker 7z x -y -bd -o"$into" "$file" >/dev/null ;;
  esac
}

has_inf() {
  [ -n "$(find "$1" -type f -iname '*.inf' -print -quit)" ]
}

# Installers often wrap the driver once more: an .msi, a .cab or an
# InstallShield data1.hdr inside the .exe.
unpack_inner() {
  local dir=$1 inner out
  has_inf "$dir" && return 0
  while IFS= read -r -d '' inner; do
    out=$(unpacker_dir)
    unpack_file "$inner" "$out" 2>/dev/null || true
  done < <(find "$dir" -type f \( -iname '*.msi' -o -iname '*.cab' -o -iname 'data1.hdr' \) -print0)
}

# Sets $download to a private copy of DOWNLOAD.
fetch() {
  local src=$1 name
  [ -e "$src" ] || die "no such file or folder: $src"
  if [ -d "$src" ] || [[ "$src" =~ \.[iI][nN][fF]$ ]]; then
    [ -d "$src" ] || src=$(dirname -- "$src")
    download=$work/download
    mkdir "$download"
    # Links are copied as links; the INF reader never follows them, and
    # neither does chmod -R. The unpacking user reads the cabinets.
    cp -RP -- "$src/." "$download" || die "cannot copy $src"
    chmod -R a+rX -- "$download"
    return
  fi
  [ -f "$src" ] || die "$src is neither a folder nor a file"
  name=$(basename -- "$src")
  mkdir "$work/in"
  chmod 0711 "$work/in"
  cp -- "$src" "$work/in/$name" || die "cannot copy $src"
  chmod 0644 "$work/in/$name"
  download=$(unpacker_dir)
  unpack_file "$work/in/$name" "$download" || die "cannot unpack $src"
  unpack_inner "$download"
  download=$work
  has_inf "$download" || die "$src holds no .inf file: is it a printer driver for Windows?"
}

