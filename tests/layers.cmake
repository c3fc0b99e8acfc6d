# The layers hold: compiled with a library's own include path, a header of a library
# it uses is found and one of a library above it is not. Each pair runs the compiler
# on an empty source with the header forced in (-include), so nothing is built.
function(kestrel_add_layer_test library may_include must_not_include)
    set(command ${CMAKE_CXX_COMPILER} -std=c++20 -fsyntax-only
        "-I$<JOIN:$<TARGET_PROPERTY:${library},INCLUDE_DIRECTORIES>,;-I>"
        "$<$<BOOL:${WIN32}>:-DWIN32_LEAN_AND_MEAN>" -x c++ /dev/null)
    add_test(NAME layers_${library}_sees_${may_include}
             COMMAND ${command} -include ${may_include} COMMAND_EXPAND_LISTS)
    add_test(NAME layers_${library}_cannot_see_${must_not_include}
             COMMAND ${command} -include ${must_not_include} COMMAND_EXPAND_LISTS)
    string(REPLACE "." "\\." missing ${must_not_include})
    set_tests_properties(layers_${library}_cannot_see_${must_not_include} PROPERTIES
        PASS_REGULAR_EXPRESSION "${missing}'?(: No such file| file not found)")
endfunction()

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND CMAKE_HOST_UNIX)
    kestrel_add_layer_test(kestrel_serial serial/receive_ring.h ui/empty.h)
    kestrel_add_layer_test(kestrel_ui ui/empty.h common/popmsg.h)
    kestrel_add_layer_test(kestrel_table_format common/tables/dbf_format.h common/wait_window.h)
    kestrel_add_layer_test(kestrel_app app/tape_image.h ui/empty.h)
endif()
