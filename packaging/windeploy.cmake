# Run at install time where there is no windeployqt (a cross build): copies
# into DESTINATION every DLL that FILES (the programs and the Qt plugins
# installed with them) load from SEARCH_DIRS, following the imports of each
# copied DLL in turn. A DLL found in none of the folders is the system's own.
# With STRIP, the copies lose their debugging sections (the compiler's runtime
# comes with them).
#   cmake -DOBJDUMP=... [-DSTRIP=...] -DDESTINATION=... "-DFILES=a;b" "-DSEARCH_DIRS=c;d" -P windeploy.cmake
cmake_minimum_required(VERSION 3.16)

set(pending ${FILES})
set(seen)
while(pending)
    list(GET pending 0 file)
    list(REMOVE_AT pending 0)
    execute_process(COMMAND "${OBJDUMP}" -p "${file}" OUTPUT_VARIABLE dump RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} cannot read ${file}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
    foreach(import ${imports})
        string(REGEX REPLACE "^DLL Name: " "" name "${import}")
        # Windows matches DLL names whatever their case.
        string(TOLOWER "${name}" key)
        if(key IN_LIST seen)
            continue()
        endif()
        list(APPEND seen "${key}")
        foreach(dir ${SEARCH_DIRS})
            if(EXISTS "${dir}/${name}")
                file(INSTALL "${dir}/${name}" DESTINATION "${DESTINATION}")
                if(STRIP)
                    execute_process(COMMAND "${STRIP}" --strip-unneeded "${DESTINATION}/${name}")
                endif()
                list(APPEND pending "${dir}/${name}")
                break()
            endif()
        endforeach()
    endforeach()
endwhile()
