# Warnings for our own targets only; third-party headers come in as system includes.
function(corvel_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wformat=2
        # g++ 12 warns about members left out of designated initialisers, which we rely on.
        -Wno-missing-field-initializers)
    if(CORVEL_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
