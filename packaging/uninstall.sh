#!/usr/bin/env bash
# Removes an installed Velmarind: exactly the files its installer listed in installed-files.txt,
# the pages the program generated, the log-in start when it starts this installation, and the
# folders the installer created once they are empty. velmarind.ini and dirlst.ini stay unless
# --purge is given.
usage() {
  echo "usage: uninstall.sh [--purge] [--prefix DIR]"
  echo "  --purge       also remove the settings (velmarind.ini, dirlst.ini)"
  echo "  --prefix DIR  the prefix it was installed into (default: the installation this script"
  echo "                belongs to, else ~/.local)"
}
set -euo pipefail

readonly list_name=installed-files.txt
purge=false
prefix=
while (($#)); do
  case $1 in
    --purge) purge=true; shift ;;
    --prefix) [[ $# -ge 2 ]] || { usage >&2; exit 2; }; prefix=$2; shift 2 ;;
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

die() { echo "uninstall.sh: $*" >&2; exit 1; }

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -n $prefix ]]; then
  [[ $prefix == /* ]] || prefix=$PWD/$prefix
  folder=${prefix%/}/lib/velmarind
elif [[ -f $here/$list_name ]]; then
  folder=$here
else
  [[ -n ${HOME:-} ]] || die "HOME is not set; name the prefix with --prefix"
  folder=${HOME%/}/.local/lib/velmarind
fi
list=$folder/$list_name
if [[ ! -f $list ]]; then
  # Uninstalled before without --purge: only the settings can be left to remove.
  if $purge && [[ -d $folder ]]; then
    rm -f -- "$folder"/velmarind.ini "$folder"/dirlst.ini "$folder"/velmarind.ini.?????? \
      "$folder"/dirlst.ini.?????? "$folder"/pastdata.txt "$folder"/page/*.html
    rm -rf -- "$folder/uploads"
    rmdir -- "$folder/page" 2>/dev/null || true
    rmdir -- "$folder" 2>/dev/null || true
    rmdir -- "${folder%/velmarind}" 2>/dev/null || true  # lib/, when nothing else is in it
    echo "Removed the settings left in $folder"
    exit 0
  fi
  die "no Velmarind installation at $folder (no $list_name there)"
fi
expected_prefix=${folder%/lib/velmarind}

# --- read the list; refuse anything outside the prefix it names --------------------------------
files=() folders=() listed_prefix=
while IFS= read -r line || [[ -n $line ]]; do
  kind=${line%% *} path=${line#* }
  case $kind in
    prefix) listed_prefix=$path ;;
    file) files+=("$path") ;;
    folder) folders+=("$path") ;;
  esac
done <"$list"
[[ $listed_prefix == "$expected_prefix" ]] ||
  die "$list names the prefix '$listed_prefix', not '$expected_prefix'; nothing removed"
inside_prefix() {  # PATH: an absolute path below the prefix, without . or .. segments
  [[ $1 == "$listed_prefix"/* && $1 != */../* && $1 != */.. && $1 != */./* ]]
}

# --- the log-in start, when it starts this installation ----------------------------------------
# Exec= value of a desktop entry, as the command's first argument (string escapes, %%, quoting).
exec_program() {  # ENTRY_FILE
  local value c i program='' quoted=false
  value=$(sed -n 's/^Exec=//p' "$1" | head -n 1)
  [[ -n $value ]] || return 1
  local unescaped=
  for ((i = 0; i < ${#value}; i++)); do
    c=${value:i:1}
    if [[ $c == '\' && $((i + 1)) -lt ${#value} ]]; then
      i=$((i + 1)); c=${value:i:1}
      case $c in s) c=' ' ;; n) c=$'\n' ;; t) c=$'\t' ;; r) c=$'\r' ;; esac
    elif [[ $c == % && ${value:i+1:1} == % ]]; then
      i=$((i + 1))
    fi
    unescaped+=$c
  done
  if [[ ${unescaped:0:1} == '"' ]]; then
    for ((i = 1; i < ${#unescaped}; i++)); do
      c=${unescaped:i:1}
      if [[ $c == '\' ]]; then i=$((i + 1)); program+=${unescaped:i:1}
      elif [[ $c == '"' ]]; then quoted=true; break
      else program+=$c
      fi
    done
    $quoted || return 1
  else
    program=${unescaped%%[ $'\t']*}
  fi
  printf '%s' "$program"
}

executable=$folder/velmarind
executable_real=$(realpath -m -- "$executable")

# A running copy would write its pages and its log-in start again after we are done.
running=()
for link in /proc/[0-9]*/exe; do
  target=$(readlink -- "$link" 2>/dev/null) || continue
  # A copy started before a reinstall replaced its file still runs from the old one.
  [[ ${target% (deleted)} == "$executable_real" ]] || continue
  pid=${link#/proc/}
  running+=("${pid%/exe}")
done
((${#running[@]} == 0)) ||
  die "Velmarind is running (process ${running[*]}); quit it (tray menu: Quit / 終了) and run this again"
if [[ ${XDG_CONFIG_HOME:-} == /* ]]; then config=$XDG_CONFIG_HOME; else config=${HOME:-}/.config; fi
autostart=$config/autostart/velmarind.desktop
if [[ -f $autostart ]]; then
  if started=$(exec_program "$autostart") && [[ $started == /* ]] &&
    [[ $(realpath -m -- "$started") == "$executable_real" ]]; then
    rm -f -- "$autostart"
    echo "Removed the log-in start $autostart"
  else
    echo "Kept $autostart: it starts another program"
  fi
fi

# --- the installed files, the generated pages, the settings on request -------------------------
removed=0
for path in "${files[@]}"; do
  inside_prefix "$path" || { echo "Skipped $path: outside $listed_prefix" >&2; continue; }
  [[ $path == "$list" ]] && continue  # the list goes last
  # The settings are the user's, whatever a list says; they go only with --purge, below.
  [[ $path == "$folder/velmarind.ini" || $path == "$folder/dirlst.ini" ]] && continue
  if [[ -L $path || -f $path ]]; then rm -f -- "$path" && removed=$((removed + 1)); fi
done
# What the program writes while it runs: pages (removed at exit, but not after a crash), the
# last upload's raw body, and the records of uploads in pieces.
rm -f -- "$folder"/page/*.html "$folder"/pastdata.txt
rm -rf -- "$folder/uploads"
settings=()
for name in velmarind.ini dirlst.ini; do
  [[ -e $folder/$name ]] || continue
  if $purge; then
    rm -f -- "$folder/$name"
  else
    settings+=("$folder/$name")
  fi
done
if $purge; then
  # Leftovers of an interrupted atomic save of the settings.
  rm -f -- "$folder"/velmarind.ini.?????? "$folder"/dirlst.ini.??????
fi
rm -f -- "$list"
removed=$((removed + 1))

# --- folders: deepest first, only when empty ----------------------------------------------------
candidates=("$folder/page" "$folder")
# After a purge nothing of ours is left: lib/ goes too when nothing else is in it.
if $purge; then candidates+=("${folder%/velmarind}"); fi
for path in "${folders[@]}"; do
  inside_prefix "$path" || [[ $path == "$listed_prefix" || $listed_prefix == "$path"/* ]] || continue
  candidates+=("$path")
done
while IFS= read -r path; do
  if [[ -d $path ]]; then rmdir -- "$path" 2>/dev/null || true; fi
done < <(for p in "${candidates[@]}"; do
  depth=${p//[^\/]/}
  printf '%d\t%s\n' "${#depth}" "$p"
done | sort -t $'\t' -k1,1nr | uniq | cut -f2-)

echo "Removed Velmarind ($removed files) from $listed_prefix"
if ((${#settings[@]} > 0)); then
  echo "Kept your settings: ${settings[*]}"
  echo "(this uninstaller is gone now; to remove them too: rm ${settings[*]} && rmdir $folder)"
fi
