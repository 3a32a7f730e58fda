#!/usr/bin/env bash
# The man page documents exactly the subcommands that `kavrel --help` lists.
# Usage: man_page_test.sh KAVREL_BINARY MAN_PAGE
set -euo pipefail
help=$("$1" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF {print $1}' | sort -u)
# An entry is the tag line after .TP (or .TQ): its first word is the subcommand.
documented=$(sed -n '/^\.SH SUBCOMMANDS/,/^\.SH /p' "$2" | awk 'tag {print; tag = 0} /^\.T[PQ]/ {tag = 1}' |
             sed -E 's/^\.[A-Z]+ "?([a-z][a-z-]*).*/\1/' | sort -u)
missing=$(comm -23 <(echo "$help") <(echo "$documented"))
extra=$(comm -13 <(echo "$help") <(echo "$documented"))
[ -z "$missing" ] || { echo "FAIL: not in the man page: $missing"; exit 1; }
[ -z "$extra" ] || { echo "FAIL: in the man page but not in --help: $extra"; exit 1; }
echo "PASS: $(echo "$help" | wc -l) subcommands documented"
