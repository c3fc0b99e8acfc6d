# Compiler settings shared by every target of the project (not by GoogleTest).
add_library(kestrel_options INTERFACE)

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(kestrel_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                                     -Wnon-virtual-dtor -Wold-style-cast)
    if(KESTREL_WERROR)
        target_compile_options(kestrel_options INTERFACE -Werror)
    endif()
elseif(MSVC)
    target_compile_options(kestrel_options INTERFACE /W4 /permissive- /utf-8)
    if(KESTREL_WERROR)
        target_compile_options(kestrel_options INTERFACE /WX)
    endif()
endif()

if(WIN32)
    # The program is ANSI throughout: the A forms of the API are called by name.
    target_compile_definitions(kestrel_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX
                                                         _WIN32_WINNT=0x0601 WINVER=0x0601)
    if(MINGW)
        # One self-contained executable: no libgcc, libstdc++ or winpthread DLLs beside it.
        target_link_options(kestrel_options INTERFACE -static -static-libgcc -static-libstdc++)
    elseif(MSVC)
        # The static runtime, and our own manifest (src/app/kestrel.rc) instead of the linker's.
        set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>" CACHE STRING "" FORCE)
        target_link_options(kestrel_options INTERFACE /MANIFEST:NO)
    endif()
endif()

if(KESTREL_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

if(KESTREL_SANITIZE)
    set(KESTREL_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
                                -fno-omit-frame-pointer)
    add_compile_options(${KESTREL_SANITIZER_FLAGS})
    add_link_options(${KESTREL_SANITIZER_FLAGS})
endif()

if(KESTREL_FUZZ)
    # Every library the fuzz targets link is instrumented too, so a fault deep in the
    # layers is found where it happens; the targets add libFuzzer's main.
    set(KESTREL_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined
                           -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_compile_options(${KESTREL_FUZZ_FLAGS})
    add_link_options(-fsanitize=address,undefined)
endif()
