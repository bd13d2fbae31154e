#!/bin/sh
# Writes a help2man include file with the --help of every subcommand that
# PROGRAM --help lists under "Subcommands:", and the other programs' pages.
#   help2man-commands.sh PROGRAM FILE
set -e
program=$1
exec > "$2"
name=$(basename "$program")
commands=$("$program" --help | awk '/^Subcommands:/ {on = 1; next} on && !/^ / {on = 0} on && NF {print $1}')
echo "[SEE ALSO]"
echo "kelobsl-cli(1), kelosim(1), mkfirmware(1): the package's other programs" | sed "s/$name(1), //; s/, $name(1)//"
[ -n "$commands" ] || exit 0
echo "[COMMANDS]"
for command in $commands; do
    echo ".SS $command"
    echo ".nf"
    # Roff: a backslash is \e, and a line must not start with a dot or quote.
    "$program" "$command" --help | sed -e "s|$program|$name|g" -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
    echo ".fi"
done
