# Every first-party target calls cloakline_warnings(); third-party headers stay
# outside it because they are included as SYSTEM.
function(cloakline_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Werror
        -Wnon-virtual-dtor -Woverloaded-virtual -Wold-style-cast
        -Wformat=2 -Wundef -Wshadow=local)
endfunction()
