# Warning flags for the project's own code, carried by an INTERFACE target so
# that third-party headers and generated code are not affected.
add_library(velmora_warnings INTERFACE)
if(MSVC)
    target_compile_options(velmora_warnings INTERFACE /W4)
    if(VELMORA_WERROR)
        target_compile_options(velmora_warnings INTERFACE /WX)
    endif()
else()
    target_compile_options(velmora_warnings INTERFACE
        -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
        -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
        -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
    if(VELMORA_WERROR)
        target_compile_options(velmora_warnings INTERFACE -Werror)
    endif()
endif()
