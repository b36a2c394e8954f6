#!/usr/bin/env bash
# Installs this built copy of Velmarind for the current user, without a compiler or root:
# the program folder into ~/.local/lib/velmarind/, the link ~/.local/bin/velmarind, the icons and
# the application-menu entry. Settings already in the program folder (velmarind.ini, dirlst.ini)
# are kept; the program and its page files are replaced.
usage() {
  echo "usage: install.sh [--prefix DIR]   (default: ~/.local)"
}
set -euo pipefail

prefix=
while (($#)); do
  case $1 in
    --prefix) [[ $# -ge 2 ]] || { usage >&2; exit 2; }; prefix=$2; shift 2 ;;
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

die() { echo "install.sh: $*" >&2; exit 1; }

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[[ -x $here/lib/velmarind/velmarind && -f $here/velmarind.desktop.in ]] ||
  die "run it from the unpacked package (lib/velmarind/velmarind not found beside it)"
if [[ -z $prefix ]]; then
  [[ -n ${HOME:-} ]] || die "HOME is not set; name the prefix with --prefix"
  prefix=$HOME/.local
fi
[[ $prefix == /* ]] || prefix=$PWD/$prefix
while [[ $prefix == */ && $prefix != / ]]; do prefix=${prefix%/}; done
folder=$prefix/lib/velmarind
list=$folder/installed-files.txt

tmp_files=()
cleanup() { ((${#tmp_files[@]} == 0)) || rm -f -- "${tmp_files[@]}"; }
trap cleanup EXIT

# --- what is there already: folders we create are removed again by the uninstaller ------------
mapfile -d '' payload < <(cd "$here" && find bin lib share \( -type f -o -type l \) -print0 | sort -z)
declare -A created=()
path=$prefix
while [[ -n $path && $path != / && ! -d $path ]]; do created[$path]=1; path=${path%/*}; done
for relative in "${payload[@]}" share/applications/velmarind.desktop; do
  parent=$relative
  while [[ $parent == */* ]]; do
    parent=${parent%/*}
    [[ -d $prefix/$parent ]] || created[$prefix/$parent]=1
  done
done

# --- copy: each file is written beside its place and renamed over it, so a running program keeps
# its old executable and nobody sees half a file -------------------------------------------------
installed=()
place() {  # SOURCE DESTINATION: a file or link, atomically
  local source=$1 destination=$2 staged
  mkdir -p -- "${destination%/*}"
  staged=$(mktemp -u -- "$destination.XXXXXX")
  tmp_files+=("$staged")
  if [[ -L $source ]]; then
    ln -s -- "$(readlink -- "$source")" "$staged"
  else
    cp --preserve=mode,timestamps -- "$source" "$staged"
  fi
  mv -fT -- "$staged" "$destination"
  installed+=("$destination")
  echo "-- Installing: $destination"
}
for relative in "${payload[@]}"; do
  case $relative in
    lib/velmarind/velmarind.ini | lib/velmarind/dirlst.ini) continue ;;  # never over the user's
  esac
  place "$here/$relative" "$prefix/$relative"
done

# --- the menu entry, with this installation's executable in Exec -------------------------------
# One Exec argument, written the way the program writes its log-in start: quoted only when it
# holds a reserved character, then escaped as a string value with "%" doubled.
exec_argument() {  # PATH
  local path=$1 reserved=$' \t\n"\'\\><~|&;$*?#()`' argument='' quote=false c i
  for ((i = 0; i < ${#path}; i++)); do
    c=${path:i:1}
    [[ $reserved == *"$c"* ]] && quote=true
    case $c in '"' | '`' | '$' | '\') argument+='\' ;; esac
    argument+=$c
  done
  if $quote; then argument="\"$argument\""; else argument=$path; fi
  argument=${argument//\\/\\\\}
  argument=${argument//$'\n'/\\n}
  argument=${argument//%/%%}
  printf '%s' "$argument"
}
entry=$(mktemp)
tmp_files+=("$entry")
exec_value=$(exec_argument "$folder/velmarind")
while IFS= read -r line || [[ -n $line ]]; do
  printf '%s\n' "${line//@VELMARIND_EXEC@/$exec_value}"
done <"$here/velmarind.desktop.in" >"$entry"
chmod 644 "$entry"
place "$entry" "$prefix/share/applications/velmarind.desktop"

# --- the list for the uninstaller, merged with an earlier installation's -----------------------
declare -A listed_files=() listed_folders=()
for path in "${installed[@]}" "$list"; do listed_files[$path]=1; done
for path in "${!created[@]}"; do listed_folders[$path]=1; done
if [[ -f $list ]]; then
  while IFS= read -r line || [[ -n $line ]]; do
    kind=${line%% *} path=${line#* }
    case $kind in
      file) [[ -e $path || -L $path ]] && listed_files[$path]=1 ;;
      folder) [[ -d $path ]] && listed_folders[$path]=1 ;;
    esac
  done <"$list"
fi
staged_list=$(mktemp -u -- "$list.XXXXXX")
tmp_files+=("$staged_list")
{
  echo "# Installed by Velmarind's installer; uninstall.sh removes exactly these."
  echo "prefix $prefix"
  printf 'folder %s\n' "${!listed_folders[@]}" | sort
  printf 'file %s\n' "${!listed_files[@]}" | sort
} | grep -v '^folder $' >"$staged_list"
mv -fT -- "$staged_list" "$list"
echo "-- Installing: $list"

# The package carries no libraries: say which ones this machine still needs.
if command -v ldd >/dev/null; then
  missing=$(ldd "$folder/velmarind" "$folder/velmarind-thumbnailer" 2>/dev/null | awk '/not found/ { printf " %s", $1 }')
  if [[ -n $missing ]]; then
    echo "Note: these libraries are missing:$missing"
    echo "(on Debian: apt-get install libqt6widgets6 qt6-qpa-plugins libqrencode4 libisal2 libavahi-client3 libvips42 libraw20 libavformat59 libavcodec59 libswscale6)"
  fi
fi
echo "Velmarind is installed: start it from the application menu, or run $prefix/bin/velmarind."
echo "Its settings live in $folder/. Remove it with $folder/uninstall.sh"
