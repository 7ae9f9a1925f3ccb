# cmake -DSAMPLE=<file> -DTARGET=<folder>/T.cpp -P place_sample.cmake
# "T.cpp" is the user's work: the sample goes in only when there is none.
if(NOT EXISTS "${TARGET}")
    file(COPY_FILE "${SAMPLE}" "${TARGET}")
endif()
