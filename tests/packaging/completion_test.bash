# Completes partial command lines with tarvel-cli's bash completion and
# compares the offers. The helpers of the bash-completion package are stood
# in for by the least that the completion needs of them.
# Usage: bash completion_test.bash COMPLETION_FILE
set -u
_init_completion() {
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  words=("${COMP_WORDS[@]}")
  cword=$COMP_CWORD
}
_filedir() { COMPREPLY+=("<files${1:+ $1}>"); }
compopt() { :; }
export XDG_DATA_HOME
XDG_DATA_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_DATA_HOME"' EXIT
mkdir -p "$XDG_DATA_HOME/tarvel/history/2026-12-07_140500"
# shellcheck disable=SC1090
source "$1"

failed=0
check() {  # the words typed so far, then the offers expected (sorted)
  local line=$1 expected=$2
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _tarvel_cli
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
  if [[ $got != "$expected" ]]; then
    echo "completing '$line': got '$got', expected '$expected'"
    failed=1
  fi
}

check "tarvel-cli --q" "--quiet"
check "tarvel-cli --h" "--help --history"
check "tarvel-cli --set FlagCheckOnly" "FlagCheckOnlyFilename= FlagCheckOnlyID3Tag="
check "tarvel-cli --set LengthN" "LengthName="
check "tarvel-cli --set ConvertLevelFilename=" "0 1 2"
check "tarvel-cli --set FlagLimit30Char=" "0 1"
check "tarvel-cli --set ID3TagTitle=2" "2"
check "tarvel-cli --set PathDataFolder=" ""
check "tarvel-cli --settings " "<files ini>"
check "tarvel-cli --preset " "fcd7 other z919"
check "tarvel-cli --pr" "--preset"
check "tarvel-cli --restore 2026" "2026-12-07_140500 <files csv>"
check "tarvel-cli --check-only " "<files -d>"
check "tarvel-cli --restore list.csv --library " "<files -d>"
check "tarvel-cli --l" "--library"
check "tarvel-cli --ex" "--export-to"
check "tarvel-cli --export-to " "<files -d>"
check "tarvel-cli --is" "--iso"
check "tarvel-cli --iso " "<files iso>"
exit $failed
