#!/usr/bin/env bash
# Installs what a build needs on Debian 12, only what is missing.
#   scripts/install-deps.sh linux     compiler, CMake, tinyxml2, nlohmann/json, PCRE2, GoogleTest,
#                                     python3-jsonschema (the results files checked against their schema)
#   scripts/install-deps.sh windows   the mingw-w64 cross compiler, Wine, GoogleTest's source,
#                                     osslsigncode and openssl (signing the package), and deb-src
#                                     entries for the source packages of tinyxml2 and PCRE2
#   scripts/install-deps.sh browser   Chromium and Node.js for the report's browser test
#   scripts/install-deps.sh fuzz      clang 16 and its sanitizer and libFuzzer runtimes
# Packages come from the sources this machine is configured with.
set -euo pipefail

sudo_if_needed() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Seconds to wait for another apt or dpkg run (unattended upgrades on a fresh
# machine, say) to finish.
lock_wait=600

# In English, so that a held lock is recognised in update's messages.
apt_get() {
  sudo_if_needed env DEBIAN_FRONTEND=noninteractive LC_ALL=C \
    apt-get -o DPkg::Lock::Timeout="$lock_wait" "$@"
}

# DPkg::Lock::Timeout makes install wait for dpkg's lock, but update does not
# wait for the lock of the package lists: while another run holds it, try
# again. Any other failure, a download that failed included, ends the script.
updated=0
update_package_lists() {
  local output waited=0
  until output=$(apt_get update -qq --error-on=any 2>&1); do
    if ! grep -q 'Could not get lock' <<< "$output" || [ "$waited" -ge "$lock_wait" ]; then
      printf '%s\n' "$output" >&2
      return 1
    fi
    [ "$waited" -gt 0 ] || echo "Waiting for another apt run to release the package lists" >&2
    sleep 5
    waited=$((waited + 5))
  done
  [ -z "$output" ] || printf '%s\n' "$output" >&2
  updated=1
}

install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  [ $updated -eq 1 ] || update_package_lists
  apt_get install -y -qq "${missing[@]}"
}

# Reads the machine's apt sources, one-line (.list) and deb822 (.sources)
# files, and prints a deb822 deb-src stanza for every URI and suite of a deb
# entry that no deb-src entry covers yet: the same URIs, suites, components
# and options (Signed-By and the like) as the deb entry.
derive_source_entries() {
  awk '
    function trim(text) { gsub(/^[ \t]+|[ \t]+$/, "", text); return text }
    function words(text) { gsub(/[ \t\n]+/, " ", text); return trim(text) }
    function key(uri, suite) { sub(/\/+$/, "", uri); return uri " " suite }

    # Options that select architectures, languages or index files concern
    # binary packages only.
    function binary_only(name) { return name ~ /^(architectures|languages|targets)(-add|-remove)?$/ }

    function add_entry(types, uris, suites, components, options,   n, type, i, m, uri, j, k, s, suite) {
      n = split(words(types), type, " ")
      if (uris ~ /cdrom:/) return
      m = split(words(uris), uri, " ")
      s = split(words(suites), suite, " ")
      for (i = 1; i <= n; i++) {
        if (type[i] == "deb-src")
          for (j = 1; j <= m; j++) for (k = 1; k <= s; k++) covered[key(uri[j], suite[k])] = 1
        if (type[i] != "deb") continue
        entries++
        entry_uris[entries] = words(uris)
        entry_suites[entries] = words(suites)
        entry_components[entries] = words(components)
        entry_options[entries] = options
      }
    }

    # deb822: one stanza at a time, ended by an empty line or the end of the file.
    function end_stanza(   i, name, options) {
      if (fields == 0) return
      options = ""
      for (i = 1; i <= fields; i++) {
        name = tolower(field_name[i])
        if (name ~ /^(types|uris|suites|components|enabled)$/ || binary_only(name)) continue
        options = options field_name[i] ":" field_value[i] "\n"
      }
      if (tolower(words(value["enabled"])) != "no")
        add_entry(value["types"], value["uris"], value["suites"], value["components"], options)
      for (i = 1; i <= fields; i++) delete value[tolower(field_name[i])]
      fields = 0
    }

    FNR == 1 { end_stanza(); deb822 = FILENAME ~ /\.sources$/ }

    deb822 && /^#/ { next }
    deb822 && /^[ \t]*$/ { end_stanza(); next }
    deb822 && /^[ \t]/ {
      if (fields > 0) {
        field_value[fields] = field_value[fields] "\n" $0
        value[tolower(field_name[fields])] = value[tolower(field_name[fields])] "\n" $0
      }
      next
    }
    deb822 {
      colon = index($0, ":")
      if (colon == 0) next
      fields++
      field_name[fields] = trim(substr($0, 1, colon - 1))
      field_value[fields] = substr($0, colon + 1)
      value[tolower(field_name[fields])] = field_value[fields]
      next
    }

    # One-line: type [option=value ...] uri suite [component ...]. A disc
    # (cdrom:[label with spaces]/) has no source packages.
    {
      line = $0
      sub(/#.*/, "", line)
      if (line ~ /[ \t]cdrom:/) next
      n = split(trim(line), word, /[ \t]+/)
      if (n < 3) next
      options = ""
      i = 2
      if (word[2] ~ /^\[/) {
        for (; i <= n; i++) {
          option = word[i]
          last = option ~ /\]$/
          gsub(/[][]/, "", option)
          equals = index(option, "=")
          if (equals > 0) {
            name = substr(option, 1, equals - 1)
            setting = substr(option, equals + 1)
            if (name !~ /[+-]$/ && name !~ /^(arch|lang|target)$/) {
              # deb822 names: signed-by becomes Signed-By; lists are separated by spaces.
              parts = split(name, part, "-")
              name = ""
              for (j = 1; j <= parts; j++)
                name = name (j > 1 ? "-" : "") toupper(substr(part[j], 1, 1)) substr(part[j], 2)
              gsub(/,/, " ", setting)
              options = options name ": " setting "\n"
            }
          }
          if (last) break
        }
        i++
      }
      if (i + 1 > n) next
      components = ""
      for (j = i + 2; j <= n; j++) components = components " " word[j]
      add_entry(word[1], word[i], word[i + 1], components, options)
    }

    END {
      end_stanza()
      for (e = 1; e <= entries; e++) {
        m = split(entry_uris[e], uri, " ")
        s = split(entry_suites[e], suite, " ")
        for (j = 1; j <= m; j++) {
          missing = ""
          for (k = 1; k <= s; k++) {
            if (key(uri[j], suite[k]) in covered) continue
            covered[key(uri[j], suite[k])] = 1
            missing = missing " " suite[k]
          }
          if (missing == "") continue
          printf "%sTypes: deb-src\nURIs: %s\nSuites: %s\n", (stanzas++ ? "\n" : ""), uri[j], trim(missing)
          if (entry_components[e] != "") printf "Components: %s\n", entry_components[e]
          printf "%s", entry_options[e]
        }
      }
    }' "$@"
}

# tinyxml2 and PCRE2 have no mingw package: the cross build compiles Debian's
# source packages, which apt fetches only through deb-src entries. The entries
# this script adds live in a file of their own, rewritten whenever the
# machine's deb entries change; deb-src entries configured elsewhere are left
# alone and count as present.
enable_source_packages() {
  local list parts own files=() file entries changed=0
  eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
  own="${parts%/}/dormex-deb-src.sources"
  [ -f "$list" ] && files+=("$list")
  for file in "${parts%/}"/*.list "${parts%/}"/*.sources; do
    [ -f "$file" ] && [ "$file" != "$own" ] && files+=("$file")
  done
  entries=""
  [ ${#files[@]} -eq 0 ] || entries=$(derive_source_entries "${files[@]}")
  if [ -n "$entries" ]; then
    entries="# deb-src entries matching this machine's deb entries, for the source packages
# the Windows cross build compiles (written by scripts/install-deps.sh).
$entries"
    if [ "$(cat "$own" 2>/dev/null)" != "$entries" ]; then
      printf '%s\n' "$entries" | sudo_if_needed tee "$own" > /dev/null
      changed=1
    fi
  elif [ -e "$own" ]; then
    sudo_if_needed rm -f "$own"
    changed=1
  fi
  # The source indexes may be missing although the entries are there (an
  # update that failed after they were written, say).
  if [ $changed -eq 1 ] || { [ $updated -eq 0 ] && ! source_indexes_present; }; then
    update_package_lists
  fi
}

source_indexes_present() {
  local index
  # The file name without the extension of the compression it is kept in.
  # shellcheck disable=SC2016
  while read -r index; do
    compgen -G "$index*" > /dev/null || return 1
  done < <(apt-get indextargets --no-release-info --format '$(FILENAME)' 'Created-By: Sources')
}

for target in "${@:-linux}"; do
  case "$target" in
    linux)
      install_missing g++ cmake make libtinyxml2-dev nlohmann-json3-dev libpcre2-dev libgtest-dev libbenchmark-dev \
        python3-jsonschema
      ;;
    windows)
      install_missing cmake make g++-mingw-w64-x86-64-posix wine nlohmann-json3-dev googletest dpkg-dev \
        xz-utils osslsigncode openssl
      enable_source_packages
      ;;
    browser)
      install_missing chromium
      # Node.js may come with its own npm (from another repository than
      # Debian's, whose npm package would conflict with it): use what is there.
      if ! command -v node > /dev/null || ! command -v npm > /dev/null; then
        install_missing nodejs npm
      fi
      ;;
    fuzz)
      install_missing cmake make clang-16 libclang-rt-16-dev libtinyxml2-dev nlohmann-json3-dev
      ;;
    *)
      echo "usage: $0 [linux|windows|browser|fuzz]..." >&2
      exit 1
      ;;
  esac
done
