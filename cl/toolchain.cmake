# Copies the toolchain folder beside the executable and prepares it: the precompiled header and
# the module runtime are made here, so that the first Run is as fast as the next ones.
# "T.cpp" there is the user's work: the build never overwrites it; it only places the sample
# when there is none.
set(VORNAK_TOOLCHAIN_SOURCE ${PROJECT_SOURCE_DIR}/cl)
# Everything the folder needs at run time (an installation copies the same list).
set(VORNAK_TOOLCHAIN_FILES
    README
    MyCL.bat
    MyLink.bat
    settings.sh
    prepare.sh
    compile_errors.awk
    link_errors.awk
    stdafx.h
    heavy.h
    T.h
    module_runtime.cpp
    module_contract.h
)

set(_toolchain_outputs)
foreach(file IN LISTS VORNAK_TOOLCHAIN_FILES)
    add_custom_command(
        OUTPUT ${VORNAK_TOOLCHAIN_DIR}/${file}
        COMMAND ${CMAKE_COMMAND} -E copy ${VORNAK_TOOLCHAIN_SOURCE}/${file} ${VORNAK_TOOLCHAIN_DIR}/${file}
        DEPENDS ${VORNAK_TOOLCHAIN_SOURCE}/${file}
        VERBATIM)
    list(APPEND _toolchain_outputs ${VORNAK_TOOLCHAIN_DIR}/${file})
endforeach()

# stdafx.h.pch, the compile server's, holds T.h too and is remade when the server is: it must
# be newer than all three.
add_custom_command(
    OUTPUT ${VORNAK_TOOLCHAIN_DIR}/stdafx.h.gch ${VORNAK_TOOLCHAIN_DIR}/stdafx.h.pch
    COMMAND /bin/sh ${VORNAK_TOOLCHAIN_DIR}/prepare.sh pch
    DEPENDS ${VORNAK_TOOLCHAIN_DIR}/stdafx.h ${VORNAK_TOOLCHAIN_DIR}/T.h
            ${VORNAK_TOOLCHAIN_DIR}/settings.sh ${VORNAK_TOOLCHAIN_DIR}/prepare.sh compile-server
    COMMENT "Precompiling stdafx.h for modules"
    VERBATIM)
# heavy.h.pch and its library vornak-<hash>.so, for code that includes a heavy standard header:
# made here so that tests and the first such Run find them (the server would make them when
# idle otherwise).
add_custom_command(
    OUTPUT ${VORNAK_TOOLCHAIN_DIR}/heavy.h.pch
    COMMAND /bin/sh ${VORNAK_TOOLCHAIN_DIR}/prepare.sh heavy
    DEPENDS ${VORNAK_TOOLCHAIN_DIR}/heavy.h ${VORNAK_TOOLCHAIN_DIR}/stdafx.h
            ${VORNAK_TOOLCHAIN_DIR}/T.h ${VORNAK_TOOLCHAIN_DIR}/prepare.sh compile-server
    COMMENT "Precompiling heavy.h for the compile server"
    VERBATIM)
add_custom_command(
    OUTPUT ${VORNAK_TOOLCHAIN_DIR}/rt.o
    COMMAND /bin/sh ${VORNAK_TOOLCHAIN_DIR}/prepare.sh runtime
    DEPENDS ${VORNAK_TOOLCHAIN_DIR}/module_runtime.cpp ${VORNAK_TOOLCHAIN_DIR}/module_contract.h
            ${VORNAK_TOOLCHAIN_DIR}/T.h
            ${VORNAK_TOOLCHAIN_DIR}/stdafx.h ${VORNAK_TOOLCHAIN_DIR}/settings.sh ${VORNAK_TOOLCHAIN_DIR}/prepare.sh
    COMMENT "Compiling the module runtime"
    VERBATIM)
list(APPEND _toolchain_outputs ${VORNAK_TOOLCHAIN_DIR}/stdafx.h.gch ${VORNAK_TOOLCHAIN_DIR}/stdafx.h.pch
     ${VORNAK_TOOLCHAIN_DIR}/heavy.h.pch ${VORNAK_TOOLCHAIN_DIR}/rt.o)

add_custom_target(toolchain ALL
    DEPENDS ${_toolchain_outputs}
    COMMAND ${CMAKE_COMMAND} -DSAMPLE=${VORNAK_TOOLCHAIN_SOURCE}/sample.cpp
            -DTARGET=${VORNAK_TOOLCHAIN_DIR}/T.cpp -P ${VORNAK_TOOLCHAIN_SOURCE}/place_sample.cmake
    VERBATIM)
add_dependencies(toolchain compile-client link-prepare)
add_dependencies(vornak toolchain)

# cmake --install: the same files in DIR/cl/, the sample only where no "T.cpp" is, and the
# precompiled header and rt.o made there, in place, so that the first Run is fast.
list(TRANSFORM VORNAK_TOOLCHAIN_FILES PREPEND ${VORNAK_TOOLCHAIN_SOURCE}/
     OUTPUT_VARIABLE _toolchain_sources)
install(TARGETS compile-server compile-client link-prepare RUNTIME DESTINATION cl)
install(FILES ${_toolchain_sources} DESTINATION cl)
install(CODE "
    get_filename_component(prefix \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
    set(folder \"\$ENV{DESTDIR}\${prefix}/cl\")
    if(NOT EXISTS \"\${folder}/T.cpp\")
        file(COPY_FILE \"${VORNAK_TOOLCHAIN_SOURCE}/sample.cpp\" \"\${folder}/T.cpp\")
    endif()
    foreach(part pch runtime)
        execute_process(COMMAND /bin/sh \"\${folder}/prepare.sh\" \${part} RESULT_VARIABLE failed)
        if(failed)
            message(WARNING \"prepare.sh \${part} failed in \${folder}; the first Run will retry\")
        endif()
    endforeach()
")
