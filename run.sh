#!/usr/bin/env bash
# Builds the module, its help file and the stand-in shell, then runs the
# module in the shell, in the directory this is started from.
#
#   ./run.sh                 runs examples/demo.btm (then a prompt, on a terminal)
#   ./run.sh -c 'LINE'       runs one line
#   ./run.sh FILE.btm [ARGS] runs a batch file: a Linux path (relative or
#                            absolute) or a Windows one
#   ./run.sh -i              interactive prompt
#   ./run.sh --x64 ...       any of these with the 64-bit module and shell
#                            (--x86, the 32-bit ones, is the default)
#
# The shell writes UTF-8 here, which is what a Linux terminal shows.
set -euo pipefail
. "$(dirname "$0")/scripts/common.sh"

platform=x86
case "${1:-}" in
--x86 | --x64) platform=${1#--}; shift ;;
esac
dir=$(win_build "$platform")

"$ROOT/scripts/install-deps.sh"
configure_windows "$platform"
quiet_build "$dir" ivro ivsh ivro_chm
prepare_wine_prefix "$dir"

# A file that exists here by its Linux name is handed to the shell by its
# Windows one: wine shows the whole Linux file system as drive Z:. Any other
# name (a Windows path, a relative name) is the shell's to resolve, from the
# same directory.
windows_name() {
    local name=$1
    if [ "${name#/}" != "$name" ] && [ -e "$name" ]; then
        name=Z:${name//\//\\}
    fi
    printf '%s' "$name"
}

args=("$@")
if [ ${#args[@]} -eq 0 ]; then
    args=("$ROOT/examples/demo.btm")
    [ -t 0 ] && [ -t 1 ] && args=(-k "${args[@]}")
fi
# What the shell does with its arguments, read as it reads them: does it go
# on to read lines from standard input?
reads_input=1 keep=0
for ((i = 0; i < ${#args[@]}; i++)); do
    case "${args[i]}" in
    -m) i=$((i + 1)); [ $i -lt ${#args[@]} ] && args[i]=$(windows_name "${args[i]}") ;;
    -o) i=$((i + 1)) ;;
    -c) reads_input=0; break ;;
    -i) reads_input=1 ;;
    -k) keep=1 ;;
    -*) reads_input=0; break ;; # usage, or a usage error
    *)
        args[i]=$(windows_name "${args[i]}")
        [ $keep = 1 ] || reads_input=0
        break
        ;;
    esac
done

if [ -z "${DISPLAY:-}" ] && [ -t 2 ]; then
    echo "run.sh: no display (DISPLAY is not set): 'help NAME' cannot open the help viewer." \
        "The pages are in docs/help/." >&2
fi

shell=("$dir/wine-run" "$dir/bin/ivsh.exe" -o utf8output=yes)
# Wine gives a program started on a terminal a console that keeps one UTF-16
# unit in each cell of its screen and sends each cell to the terminal alone:
# a character beyond U+FFFF, two units, arrives as two replacement
# characters. Through a pipe, the shell writes the UTF-8 bytes that
# utf8output asks for and cat hands them to the terminal whole. Standard
# error takes the same way (into the same pipe when both go to the
# terminal, which keeps their order), except while the shell reads typed
# lines: then it stays on the console, which shows what is typed.
pipe_err=0
[ -t 2 ] && ! { [ $reads_input = 1 ] && [ -t 0 ]; } && pipe_err=1
set +e # the shell's exit status is run.sh's (pipefail passes it on)
if [ -t 1 ] && [ $pipe_err = 1 ]; then
    "${shell[@]}" "${args[@]}" 2>&1 | cat
elif [ -t 1 ]; then
    "${shell[@]}" "${args[@]}" | cat
elif [ $pipe_err = 1 ]; then
    { "${shell[@]}" "${args[@]}" 2>&1 1>&3 3>&- | cat >&2; } 3>&1
else
    exec "${shell[@]}" "${args[@]}"
fi
