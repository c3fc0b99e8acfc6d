# The layers hold: compiled with a library's own include path, a header of a library
# it uses is found and one of a library above it is not. Each pair runs the compiler
# on an empty source with the header forced in (-include), so nothing is built.
function(kestrel_add_layer_test library may_include must_not_include)
    set(command ${CMAKE_CXX_COMPILER} -std=c++20 -fsyntax-only
        "-I$<JOIN:$<TARGET_PROPERTY:${library},INCLUDE_DIRECTORIES>,$<SEMICOLON>-I>"
        -x c++ /dev/null)
    string(MAKE_C_IDENTIFIER "${library}_sees_${may_include}" sees)
    string(MAKE_C_IDENTIFIER "${library}_cannot_see_${must_not_include}" cannot_see)
    add_test(NAME layers_${sees} COMMAND ${command} -include ${may_include} COMMAND_EXPAND_LISTS)
    add_test(NAME layers_${cannot_see} COMMAND ${command} -include ${must_not_include}
             COMMAND_EXPAND_LISTS)
    string(REPLACE "." "\\." missing ${must_not_include})
    set_tests_properties(layers_${cannot_see} PROPERTIES
        PASS_REGULAR_EXPRESSION "${missing}'?(: No such file| file not found)")
endfunction()

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND CMAKE_HOST_UNIX)
    kestrel_add_layer_test(kestrel_serial serial/receive_ring.h ui/empty.h)
    kestrel_add_layer_test(kestrel_ui ui/empty.h common/popmsg.h)
    kestrel_add_layer_test(kestrel_table_format common/tables/dbf_format.h common/wait_window.h)
    kestrel_add_layer_test(kestrel_app app/tape_image.h ui/empty.h)
    kestrel_add_layer_test(kestrel_calendar common/calendar_date.h common/library_state.h)
endif()
