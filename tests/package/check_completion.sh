#!/usr/bin/env bash
# The bash completion of the five programs: each file registers its program,
# completes what the rows below expect (nothing: bash completes a file
# name), and offers for "--" exactly the long options that --help lists for
# icon-lint, icon-pack and icon-extract.
#
#   tests/package/check_completion.sh <completion folder> <icon-lint> <icon-pack> <icon-extract>
set -euo pipefail
completion=$1
lint=$2
pack=$3
extract=$4

# The replies of <program>'s completion for the words of a command line, the
# last one the word being completed, as bash splits them ("=" is a word of
# its own), then the options compopt turned off or on, on a line of their
# own.
replies() {
    local program=$1
    shift
    bash --norc --noprofile -c '
        source "$1/$2"
        spec=$(complete -p "$2")
        shift 2
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        # compopt works only while bash completes; here it records its calls.
        compopt() { changed+=("$*"); }
        changed=()
        ${spec##* -F }
        echo "${COMPREPLY[*]}"
        echo "${changed[*]}"
    ' sh "$completion" "$program" "$program" "$@"
}

failed=0
# expect <reply line> <compopt line> <program> <word>...
expect() {
    local want got
    want=$(printf '%s\n%s\n' "$1" "$2")
    shift 2
    got=$(replies "$@")
    if [[ "$got" != "$want" ]]; then
        printf 'FAILED: %s\n  expected: %q\n  got:      %q\n' "$*" "$want" "$got"
        failed=1
    fi
}

for program in icon-inspector icon-bundler icon-lint icon-pack icon-extract; do
    if ! bash --norc --noprofile -c 'source "$1/$2" && complete -p "$2" | grep -q " -o default "' \
        sh "$completion" "$program"; then
        echo "FAILED: $completion/$program does not register a completion with file names for $program"
        failed=1
    fi
done

# File names (no reply) wherever a file goes.
expect "" "" icon-inspector ""
expect "" "" icon-inspector -o
expect "" "" icon-bundler ""
expect "-o" "" icon-bundler -
expect "" "" icon-bundler -o ""
expect "" "" icon-pack ""
expect "" "" icon-pack -o ""
expect "" "" icon-pack --output = ""
expect "" "" icon-pack --output ""
expect "" "" icon-pack -- --q
expect "" "" icon-lint a.ico ""
expect "" "" icon-lint -- --f
# Options, and the values of icon-lint's.
expect "--keep-order" "" icon-pack a.png --k
expect "--output=" "-o nospace" icon-pack --o
expect "--quiet" "" icon-pack --qu
expect "--sizes=" "-o nospace" icon-pack --si
expect "windows favicon" "+o default +o bashdefault" icon-pack --sizes = ""
expect "windows" "+o default +o bashdefault" icon-pack --sizes w
expect "favicon" "+o default +o bashdefault" icon-pack -o a.ico --bitmap = f
expect "" "" icon-pack --linear ""
expect "--format= --readers --ignore= --min-severity= --fail-on= --require-sizes= --help --version --" "" icon-lint --
expect "--format= --fail-on=" "" icon-lint --f
expect "--format=" "-o nospace" icon-lint --fo
expect "text json sarif github" "+o default +o bashdefault" icon-lint --format = ""
expect "warning" "+o default +o bashdefault" icon-lint --fail-on = w
expect "error" "+o default +o bashdefault" icon-lint --min-severity e
expect "json" "+o default +o bashdefault" icon-lint --format = j
expect "json" "+o default +o bashdefault" icon-lint a.ico --format j
expect "16,32,48,256" "+o default +o bashdefault" icon-lint --require-sizes = 1
expect "" "" icon-extract ""
expect "" "" icon-extract -- --f
expect "--force --format=" "" icon-extract --f
expect "--png" "" icon-extract a.ico --p
expect "json" "+o default +o bashdefault" icon-extract --format = j
expect "" "-o filenames" icon-extract -d /nonexistent-folder/

# Every long option --help lists, and no other, is offered for "--".
for program in icon-lint icon-pack icon-extract; do
    binary=$lint
    [[ $program == icon-pack ]] && binary=$pack
    [[ $program == icon-extract ]] && binary=$extract
    # The first long option of each of the option lines.
    documented=$("$binary" --help | sed -nE 's/^ +(-[a-zA-Z], )?(--[a-z][a-z-]*=?).*/\2/p' | sort -u | tr '\n' ' ')
    offered=$(replies "$program" --)
    offered=$(tr ' ' '\n' <<<"${offered%%$'\n'*}" | grep -- '^--.' | sort -u | tr '\n' ' ')
    if [[ "$documented" != "$offered" ]]; then
        printf 'FAILED: %s --help lists %s\n  its completion offers %s\n' "$program" "$documented" "$offered"
        failed=1
    fi
done

[[ $failed -eq 0 ]] && echo "the completion of the five programs is as expected"
exit $failed
