# Makes what MyCL.bat and MyLink.bat would otherwise make on the first Run: the precompiled
# headers ("prepare.sh pch": stdafx.h.gch for g++, stdafx.h.pch for the compile server) and the
# module runtime rt.o ("prepare.sh runtime"); "prepare.sh heavy" makes the compile server's second
# precompiled header, heavy.h.pch, and its library (which the server otherwise makes when idle,
# the first time code includes one of heavy.h's headers).
case $0 in */*) cd "${0%/*}" || exit 1 ;; esac
. ./settings.sh

case $1 in
pch)
    set_code_flags
    make_pch
    [ ! -x ./compile-server ] || ./compile-server --prepare
    [ -f stdafx.h.gch ]
    ;;
runtime) make_runtime ;;
heavy) [ ! -x ./compile-server ] || ./compile-server --prepare-heavy ;;
*)
    echo "usage: prepare.sh pch|runtime|heavy" >&2
    exit 2
    ;;
esac
