# corvel_wayland_protocols(TARGET SCANNER CLIENT XML...): a static library of the client code
# wayland-scanner makes from each protocol description, linked to the wayland-client target
# CLIENT. Generated C is compiled apart, so that our warnings stay on our own code. A macro:
# enabling a language is allowed only at a directory's scope.
macro(corvel_wayland_protocols target scanner client)
    set(_corvel_generated ${CMAKE_CURRENT_BINARY_DIR}/protocols)
    file(MAKE_DIRECTORY ${_corvel_generated})
    set(_corvel_sources)
    foreach(_corvel_xml ${ARGN})
        get_filename_component(_corvel_name ${_corvel_xml} NAME_WE)
        set(_corvel_header ${_corvel_generated}/${_corvel_name}-client-protocol.h)
        set(_corvel_code ${_corvel_generated}/${_corvel_name}-protocol.c)
        add_custom_command(
            OUTPUT ${_corvel_header} ${_corvel_code}
            COMMAND ${scanner} client-header ${_corvel_xml} ${_corvel_header}
            COMMAND ${scanner} private-code ${_corvel_xml} ${_corvel_code}
            DEPENDS ${_corvel_xml} VERBATIM)
        list(APPEND _corvel_sources ${_corvel_header} ${_corvel_code})
    endforeach()
    enable_language(C)
    add_library(${target} STATIC ${_corvel_sources})
    target_include_directories(${target} SYSTEM PUBLIC ${_corvel_generated})
    target_link_libraries(${target} PUBLIC ${client})
endmacro()
