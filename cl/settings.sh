# Settings shared by MyCL.bat and MyLink.bat, sourced after they have changed into this folder.

# g++ must report "error" in English whatever the user's language, while it reads and writes
# text in the user's character set.
LC_CTYPE=${LC_ALL:-${LC_CTYPE:-$LANG}}
unset LC_ALL LANGUAGE
LC_MESSAGES=C
export LC_CTYPE LC_MESSAGES
# Temporary files stay in this folder.
TMPDIR=$PWD
export TMPDIR

# Compiler flags for "T.cpp" and the precompiled header (MyCL.bat only: they cost a process).
# "T.cpp" is written in the locale's character set; string literals keep it, so that text a
# module prints arrives in the code page that Vornak decodes. -fno-gnu-unique: inline and
# template statics would otherwise pin the module in memory, and the next Run after a rebuild
# would still call the old code. -g1: line tables only, by which Vornak names the line of the
# code that crashed.
set_code_flags() {
    charset=$(locale charmap 2>/dev/null)
    case $charset in
    '' | UTF-8 | ANSI_X3.4-1968) charset_flags= ;;
    *) charset_flags=" -finput-charset=$charset -fexec-charset=$charset" ;;
    esac
    code_flags="-std=c++20 -fPIC -fno-gnu-unique -O0 -g1$charset_flags"
}

# One message per line, nothing but the message. The compile server warns about the same
# things (-Wall, -Wsign-compare with it).
message_flags="-Wall -Winvalid-pch -fmessage-length=0 -fno-diagnostics-show-caret -fdiagnostics-color=never -fdiagnostics-urls=never"
# mold links fastest (--no-fork leaves no process of it behind when the script ends); gold,
# part of binutils, is next. --no-undefined: a call of a function that is declared but not
# defined fails here, not when the module is running inside Vornak.
if command -v ld.mold >/dev/null; then
    link_flags="-shared -fuse-ld=mold -Wl,--no-fork -Wl,--no-undefined"
else
    link_flags="-shared -fuse-ld=gold -Wl,--no-undefined"
fi

# The precompiled header must be made with exactly the flags T.cpp is compiled with.
make_pch() {
    rm -f stdafx.h.gch stdafx.flags
    if g++ $code_flags -pipe -x c++-header stdafx.h -o stdafx.h.gch.new; then
        mv -f stdafx.h.gch.new stdafx.h.gch
        printf '%s\n' "$code_flags" >stdafx.flags
    else
        rm -f stdafx.h.gch.new
    fi
}

pch_is_current() {
    [ stdafx.h.gch -nt stdafx.h ] && [ stdafx.h.gch -nt settings.sh ] &&
        read -r made <stdafx.flags && [ "$made" = "$code_flags" ]
}

# rt.o: Config, Print, the redirection of the module's output and std::string's members
# (module_runtime.cpp, with module_contract.h).
make_runtime() {
    g++ -std=c++20 -fPIC -fno-gnu-unique -O2 -pipe -c module_runtime.cpp -o rt.o.new &&
        mv -f rt.o.new rt.o
}

runtime_is_current() {
    [ rt.o -nt module_runtime.cpp ] && [ rt.o -nt module_contract.h ] && [ rt.o -nt T.h ] && [ rt.o -nt stdafx.h ] && [ rt.o -nt settings.sh ]
}
