# Compiles "T.cpp" into T.o. Exit code 0 on success; otherwise "ret.txt" holds the source
# file's name and then one line per error, as Vornak reads them. Either way "diag.txt" holds
# every error and warning of the compile with its notes (compile_errors.awk), empty when
# there were none.
# Run as "/bin/sh <folder>/MyCL.bat" from any directory; everything happens in <folder>.
case $0 in */*) cd "${0%/*}" || exit 1 ;; esac
rm -f diag.txt # whatever happens next, the last compile's diagnostics are gone
. ./settings.sh

# diag.txt from cl.log; cl.log is in UTF-8 when the compile server wrote it under another
# code page ($1 = utf8).
diagnostics() {
    if [ ! -s cl.log ]; then
        : >diag.txt
    elif [ "$1" = utf8 ] && [ -n "$charset_flags" ]; then
        iconv -c -f UTF-8 -t "$charset" cl.log | awk -v all=1 -f compile_errors.awk >diag.txt
    else
        awk -v all=1 -f compile_errors.awk cl.log >diag.txt
    fi
}

# The compile server (clang, kept warm between Runs). It is told the code page of T.cpp when
# that is not UTF-8 (most locales name theirs, which spares asking "locale"), and its messages
# are in UTF-8. It ends with the program that runs this script, $PPID. Exit code 3: no server
# could do it; g++ does.
case $LC_CTYPE in
*.UTF-8 | *.utf8 | *.UTF8 | *.utf-8 | '' | C | POSIX) charset= charset_flags= ;;
*) set_code_flags ;;
esac
if [ -x ./compile-client ]; then
    ./compile-client compile "$PPID" ${charset_flags:+"$charset"}
    case $? in
    0)
        diagnostics utf8
        exit 0
        ;;
    1)
        diagnostics utf8
        if [ -n "$charset_flags" ]; then
            iconv -c -f UTF-8 -t "$charset" cl.log | awk -f compile_errors.awk >ret.txt
        else
            awk -f compile_errors.awk cl.log >ret.txt
        fi
        exit 1
        ;;
    esac
fi

set_code_flags
pch_is_current || make_pch 2>/dev/null

if g++ $code_flags $message_flags -pipe -c T.cpp -o T.o 2>cl.log; then
    # Warnings only. g++ ignores a precompiled header it cannot use (another compiler, other
    # flags); make it again for the next Run.
    if [ -s cl.log ] && grep -q 'gch: .*\[-Winvalid-pch\]' cl.log; then
        make_pch 2>/dev/null
    fi
    diagnostics
    exit 0
fi
diagnostics

if grep -q 'gch: .*\[-Winvalid-pch\]' cl.log; then
    make_pch 2>/dev/null
fi
awk -f compile_errors.awk cl.log >ret.txt
exit 1
