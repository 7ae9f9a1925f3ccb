# Copies the toolchain folder beside the executable. "T.cpp" there is the user's work:
# the build never overwrites it; it only places the sample when there is none.
set(VORNAK_TOOLCHAIN_SOURCE ${PROJECT_SOURCE_DIR}/cl)
set(VORNAK_TOOLCHAIN_FILES
    README
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

add_custom_target(toolchain ALL DEPENDS ${_toolchain_outputs})
add_dependencies(vornak toolchain)
