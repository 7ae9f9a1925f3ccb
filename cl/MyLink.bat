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

runtime_is_current || make_runtime 2>link.log || fail

# The compile server links the T.o it compiled; a T.o from g++ is linked below.
if [ -x ./compile-client ]; then
    ./compile-client link "$PPID"
    case $? in
    0) exit 0 ;;
    1) fail ;;
    esac
fi

# As the compile server does for its own T.o, link-prepare hands the static initializers to
# "Config" (module_runtime.cpp), where Vornak can guard them, instead of the loader, and writes
# the options that export functions under their plain names too ("Demo1" for "void Demo1()"),
# in the code page the user types them in. They go to the linker in a response file: many
# functions would make a command line longer than the system allows.
set_code_flags
./link-prepare ${charset_flags:+"$charset"} 2>link.log || fail

g++ $link_flags -o T.dll.new T.o rt.o -Wl,@link.aliases 2>link.log || fail
# A replacement in one step: a failed link leaves the old module in place.
mv -f T.dll.new T.dll
