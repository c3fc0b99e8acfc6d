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

# The files that the globs, relative to the current source directory, match.
function(kestrel_glob_here out)
    set(patterns)
    foreach(pattern IN LISTS ARGN)
        list(APPEND patterns ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
    endforeach()
    set(files)
    if(patterns)
        file(GLOB files CONFIGURE_DEPENDS ${patterns})
    endif()
    set(${out} ${files} PARENT_SCOPE)
endfunction()

# kestrel_expose_headers(target PUBLIC|PRIVATE|INTERFACE headers-or-globs...
#                        [EXCEPT headers-or-globs...] [ROOT dir])
# Makes the forwarding headers of `target` for the headers that the globs (relative
# to the current source directory) match, less those after EXCEPT, each reachable as
# its path under ROOT (default: src/).
function(kestrel_expose_headers target scope)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "ROOT" "EXCEPT")
    if(NOT arg_ROOT)
        set(arg_ROOT ${KESTREL_HEADER_ROOT})
    endif()
    kestrel_glob_here(headers ${arg_UNPARSED_ARGUMENTS})
    kestrel_glob_here(excepted ${arg_EXCEPT})
    if(excepted)
        list(REMOVE_ITEM headers ${excepted})
    endif()
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

# kestrel_library(name SOURCES files... HEADERS headers-or-globs... [EXCEPT globs...]
#                 [USES libraries...] [PLATFORM platform-libraries...])
# A static library of the program: its sources, the headers it offers its users, the
# libraries of the program it builds on (their headers are all it sees) and the
# platform's libraries it calls.
function(kestrel_library name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;HEADERS;EXCEPT;USES;PLATFORM")
    add_library(${name} STATIC ${arg_SOURCES})
    kestrel_expose_headers(${name} PUBLIC ${arg_HEADERS} EXCEPT ${arg_EXCEPT})
    target_link_libraries(${name} PUBLIC ${arg_USES} kestrel_options ${arg_PLATFORM})
endfunction()

# The libraries of the program that `target` links, directly or through others.
function(kestrel_linked_libraries target out)
    set(seen)
    set(pending ${target})
    while(pending)
        list(POP_FRONT pending current)
        get_target_property(direct ${current} LINK_LIBRARIES)
        get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
        foreach(library IN LISTS direct interface)
            if(TARGET ${library} AND NOT library IN_LIST seen)
                list(APPEND seen ${library})
                list(APPEND pending ${library})
            endif()
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

# kestrel_forbid_links(target libraries...): configuring fails when `target` links
# any of the libraries, directly or through another.
function(kestrel_forbid_links target)
    if(NOT TARGET ${target})
        return()
    endif()
    kestrel_linked_libraries(${target} linked)
    foreach(forbidden IN LISTS ARGN)
        if(forbidden IN_LIST linked)
            message(FATAL_ERROR "${target} must not link ${forbidden} (linked: ${linked})")
        endif()
    endforeach()
endfunction()
