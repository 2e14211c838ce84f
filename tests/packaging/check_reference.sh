#!/usr/bin/env bash
# The man pages and the bash completion are written from the programs at
# build time; this checks that what they list is what the programs accept:
# per command, the completion offers exactly the options of `COMMAND --help`;
# each man page names exactly the long options of its program, no stale or
# made-up one; --version prints the package version.
#   check_reference.sh CLI CONFIG|"" SHARE_DIR VERSION
set -euo pipefail
cli=$1 config=$2 share=$3 version=$4
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Option names of the "Options:" part of a help text, sorted.
options_of() {
  awk '/^[A-Za-z].*:$/ { inopts = ($0 == "Options:") ; next } inopts && /^ +-/' |
    grep -oE '(^|[ ,])--?[A-Za-z0-9][A-Za-z0-9-]*' | tr -d ' ,' | sort -u
}

# Subcommand names of a CLI11 help text.
subcommands_of() {
  awk '/^[A-Za-z].*:$/ { insubs = ($0 == "Subcommands:") ; next }
       insubs && /^  [a-z]/ { print $1 }'
}

same() {  # same WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    fail "$1"
    diff <(echo "$2") <(echo "$3") | sed 's/^/    /' || true
  fi
}

completion=$share/bash-completion/completions/qrt4250-cli
[ -s "$completion" ] || fail "no completion script at $completion"
# The value of [\"PATH\"] in the completion's table NAME.
table() {
  sed -n "/local -A $1=(/,/^  )/p" "$completion" |
    sed -n "s/^    \[\"$2\"\]=\"\(.*\)\"\$/\1/p" | tr ' ' '\n' | sed '/^$/d' | sort -u
}

all_cli_options=""
walk() {  # walk "COMMAND PATH" (words after the program)
  local path=$1 help sub
  # shellcheck disable=SC2086
  help=$("$cli" $path --help)
  local key="qrt4250-cli${path:+ $path}"
  same "completion options of '$key'" "$(options_of <<<"$help")" "$(table opts "$key")"
  same "completion commands of '$key'" "$(subcommands_of <<<"$help" | sort -u)" "$(table subs "$key")"
  all_cli_options+=$'\n'$(options_of <<<"$help")
  for sub in $(subcommands_of <<<"$help"); do
    walk "${path:+$path }$sub"
  done
}
walk ""

long_options_in_man() {
  gzip -dc "$1" | grep -oE '\\-\\-[A-Za-z0-9]([A-Za-z0-9]|\\-)*' | sed 's/\\-/-/g' | sort -u
}
long_only() { grep -E '^--' | sort -u; }

same "long options named in qrt4250-cli.1" \
  "$(long_only <<<"$all_cli_options")" "$(long_options_in_man "$share/man/man1/qrt4250-cli.1.gz")"
same "qrt4250-cli --version" "qrt4250-cli $version" "$("$cli" --version)"

if [ -n "$config" ]; then
  same "long options named in qrt4250-config.1" \
    "$("$config" --help | options_of | long_only)" \
    "$(long_options_in_man "$share/man/man1/qrt4250-config.1.gz")"
  same "qrt4250-config --version" "qrt4250-config $version" "$("$config" --version)"
fi

# The completion itself, with bash-completion's helpers stubbed: what Tab
# offers after the given words ("_filedir" stands for file names).
complete_words() {
  bash -c '
    _init_completion() {
      words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; cur=${words[cword]}
      prev=${words[cword-1]}; split=false
    }
    _filedir() { COMPREPLY+=(_filedir); }
    complete() { :; }
    source "$0"
    COMP_WORDS=($1 "$2"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _qrt4250_cli
    echo "${COMPREPLY[*]}"' "$completion" "$1" "$2"
}
while IFS='|' read -r words cur expected; do
  same "completion of '$words $cur'" "$expected" "$(complete_words "$words" "$cur")"
done <<'CASES'
qrt4250-cli|ve|verify
qrt4250-cli --trace|sh|show
qrt4250-cli read --eeprom||24C02 24C04 24C08 24C16
qrt4250-cli write a.bin --sim-eeprom|24C1|24C16
qrt4250-cli read -o||_filedir
qrt4250-cli write||_filedir
qrt4250-cli convert a.bin b.hex|--si|--size
qrt4250-cli set a.bin||_filedir
qrt4250-cli set a.bin b.bin|pr|product= productCtrl=
qrt4250-cli set a.bin b.bin vid=1|mic|micBoostCtrl= micBoostDefault=
qrt4250-cli read --write-cycle||
qrt4250-cli read --profile|f|fast
qrt4250-cli deviceid||encode
qrt4250-cli deviceid encode|--h|--help
CASES

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "man pages, completion and --version agree with the programs"
