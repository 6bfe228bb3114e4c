# Every first-party target calls cloakline_warnings(); third-party headers stay
# outside it because they are included as SYSTEM.
function(cloakline_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Werror
        -Wnon-virtual-dtor -Woverloaded-virtual -Wold-style-cast
        -Wformat=2 -Wundef -Wshadow=local)
    # GCC 12 reports std::string operations inside libstdc++ as overlapping
    # copies once they are inlined at -O2 and above (GCC bug 105329).
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
endfunction()
