# Links T.o and the module runtime into "T.dll". Exit code 0 on success; otherwise "T.dll" is
# left as it was and the first line of "ret.txt" says why, readably.
# Run as "/bin/sh <folder>/MyLink.bat" from any directory; everything happens in <folder>.
case $0 in */*) cd "${0%/*}" || exit 1 ;; esac
. ./settings.sh

fail() {
    rm -f T.dll.new
    awk -f link_errors.awk link.log >ret.txt
    exit 1
}

# Splits "<length><identifier>..." in $rest into $name and the $rest after it.
split_name() {
    length=${rest%%[!0-9]*}
    rest=${rest#"$length"}
    mask=
    while [ ${#mask} -lt "${length:-0}" ]; do mask="$mask?"; done
    name=${rest%"${rest#$mask}"}
    rest=${rest#$mask}
}

runtime_is_current || make_runtime 2>link.log || fail

# A user types "Demo1" for "void Demo1()": each function of the global namespace is exported
# under its plain name as well, unless that name is taken or has several overloads of which
# none takes no arguments.
# readelf rather than nm: nm loads the linker plugins first, which costs more than the rest of
# this script.
readelf -sW T.o >exports.txt 2>link.log || fail
plain=" Config "
names=
while read -r number value size type binding visibility section symbol; do
    case $binding in GLOBAL | WEAK) ;; *) continue ;; esac
    [ -n "$symbol" ] && [ "$section" != UND ] || continue
    case $symbol in
    _Z[1-9]*) ;;
    _Z*) continue ;;
    *)
        plain="$plain$symbol "
        continue
        ;;
    esac
    [ "$type" = FUNC ] && [ "$binding" = GLOBAL ] || continue
    rest=${symbol#_Z}
    split_name
    base=$name
    while :; do # ABI tags, as in "_Z5Demo1B5cxx11v" for a function returning std::string
        case $rest in B[1-9]*) ;; *) break ;; esac
        rest=${rest#B}
        split_name
    done
    name=$base
    case $name in '' | *[!A-Za-z0-9_]*) continue ;; esac
    case $rest in I*) continue ;; esac # a template's instance
    parameters=$rest
    eval "count=\${count_$name:-0}"
    [ "$count" = 0 ] && names="$names $name"
    eval "count_$name=$((count + 1)) symbol_$name=\$symbol"
    [ "$parameters" = v ] && eval "void_$name=\$symbol"
done <exports.txt

aliases=
for name in $names; do
    case $plain in *" $name "*) continue ;; esac
    eval "target=\${void_$name:-} count=\$count_$name"
    if [ -z "$target" ]; then
        [ "$count" = 1 ] || continue
        eval "target=\$symbol_$name"
    fi
    aliases="$aliases -Wl,--defsym,$name=$target"
done

g++ $link_flags -o T.dll.new T.o rt.o $aliases 2>link.log || fail
# A replacement in one step: a failed link leaves the old module in place.
mv -f T.dll.new T.dll
