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

# A user types "Demo1" for "void Demo1()": functions are exported under their plain names
# too (exports.awk), in the code page the user types them in. readelf, not nm: nm loads the
# linker plugins first, which takes longer. The aliases go to g++ in a response file: many
# functions would make a command line longer than the system allows.
set_code_flags
if [ -z "$charset_flags" ]; then
    readelf -sW -U hex T.o 2>link.log | awk -f exports.awk >link.aliases
else
    readelf -sW -U hex T.o 2>link.log | awk -v encode=1 -f exports.awk |
        iconv -c -f UTF-8 -t "$charset" | LC_ALL=C awk -v decode=1 -f exports.awk >link.aliases
fi

# The module's static initializers are run by "Config" (module_runtime.cpp), where Vornak can
# guard them, not by the loader: out of .init_array, into a plain section the runtime finds.
objcopy --rename-section .init_array=vornak_init,alloc,load,contents,data T.o 2>link.log || fail

g++ $link_flags -o T.dll.new T.o rt.o @link.aliases 2>link.log || fail
# A replacement in one step: a failed link leaves the old module in place.
mv -f T.dll.new T.dll
