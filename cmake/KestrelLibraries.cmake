# The layers of the program, as the build enforces them.
#
# Every library names the libraries it uses and sees the headers of those alone:
# its include path holds no source directory, only a directory of forwarding headers
# made for each library at configure time (build/headers/<library>/ui/empty.h holds
# one line, #include "<source tree>/src/ui/empty.h"). A header is still included by
# its place in the tree ("ui/empty.h", "common/tables/table_layer.h"), but only where
# the including library links the one that owns it, so an include that runs up or
# across the layers does not compile. The picture of the layers is in
# docs/developing.md.

set(KESTREL_HEADER_ROOT ${PROJECT_SOURCE_DIR}/src)

# kestrel_expose_headers(target PUBLIC|PRIVATE|INTERFACE [ROOT dir] headers-or-globs...)
# Makes the forwarding headers of `target`, paths relative to the current source
# directory, each reachable as its path under ROOT (default: src/).
function(kestrel_expose_headers target scope)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "ROOT" "")
    if(NOT arg_ROOT)
        set(arg_ROOT ${KESTREL_HEADER_ROOT})
    endif()
    set(patterns)
    foreach(pattern IN LISTS arg_UNPARSED_ARGUMENTS)
        list(APPEND patterns ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
    endforeach()
    file(GLOB headers CONFIGURE_DEPENDS ${patterns})
    if(NOT headers)
        message(FATAL_ERROR "${target}: no header matches ${arg_UNPARSED_ARGUMENTS}")
    endif()

    set(forward_root ${CMAKE_BINARY_DIR}/headers/${target})
    file(GLOB_RECURSE stale LIST_DIRECTORIES false ${forward_root}/*)
    foreach(header IN LISTS headers)
        file(RELATIVE_PATH place ${arg_ROOT} ${header})
        set(forward ${forward_root}/${place})
        set(content "#include \"${header}\"\n")
        set(existing "")
        if(EXISTS ${forward})
            file(READ ${forward} existing)
        endif()
        if(NOT existing STREQUAL content)  # an unchanged one keeps its time stamp
            file(WRITE ${forward} "${content}")
        endif()
        list(REMOVE_ITEM stale ${forward})
    endforeach()
    if(stale)
        file(REMOVE ${stale})
    endif()
    target_include_directories(${target} ${scope} ${forward_root})
endfunction()

# kestrel_library(name SOURCES files... HEADERS headers-or-globs... [USES libraries...]
#                 [PLATFORM platform-libraries...])
# A static library of the program: its sources, the headers it offers its users, the
# libraries of the program it builds on (their headers are all it sees) and the
# platform's libraries it calls.
function(kestrel_library name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;HEADERS;USES;PLATFORM")
    add_library(${name} STATIC ${arg_SOURCES})
    kestrel_expose_headers(${name} PUBLIC ${arg_HEADERS})
    target_link_libraries(${name} PUBLIC ${arg_USES} kestrel_options ${arg_PLATFORM})
endfunction()
