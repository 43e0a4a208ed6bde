# One INTERFACE target carries the compiler settings every target of ours links.
add_library(okavel_compile_options INTERFACE)
target_compile_features(okavel_compile_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
target_compile_options(okavel_compile_options INTERFACE
    -Wall -Wextra -Wnon-virtual-dtor -Woverloaded-virtual)
if(OKAVEL_WERROR)
    target_compile_options(okavel_compile_options INTERFACE -Werror)
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # RapidJSON 1.1's member iterators define == and != against their const twin only, which C++20's
    # reversed comparisons make ambiguous for clang at every `it != object.MemberEnd()` of ours.
    target_compile_options(okavel_compile_options INTERFACE -Wno-ambiguous-reversed-operator)
endif()
# Asio under C++20 with Boost 1.74: its coroutine headers miss <utility>.
target_compile_definitions(okavel_compile_options INTERFACE
    BOOST_ASIO_DISABLE_CO_AWAIT
    BOOST_ASIO_NO_DEPRECATED
    BOOST_BIND_GLOBAL_PLACEHOLDERS
    BOOST_STACKTRACE_LINK)

if(OKAVEL_SANITIZE STREQUAL "address")
    set(_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
elseif(OKAVEL_SANITIZE STREQUAL "thread")
    # Asio's fenced blocks use std::atomic_thread_fence, which g++ warns about under ThreadSanitizer.
    set(_san -fsanitize=thread -fno-omit-frame-pointer -Wno-tsan)
elseif(NOT OKAVEL_SANITIZE STREQUAL "")
    message(FATAL_ERROR "OKAVEL_SANITIZE must be empty, address or thread")
endif()
if(_san)
    # Sanitizers apply to every target, plug-ins included, so that they share one runtime.
    add_compile_options(${_san})
    add_link_options(${_san})
endif()

# The fuzz build: every library carries libFuzzer's coverage and the address and undefined-behaviour
# checks, so that a fault found deep in the agent stops the run with its stack.
if(OKAVEL_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(_ignorelist ${CMAKE_CURRENT_LIST_DIR}/fuzz-ignorelist.txt)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer -fsanitize-ignorelist=${_ignorelist})
    add_link_options(-fsanitize=address,undefined)
    if(CCACHE_PROGRAM)
        # The compiler cache would hand back objects built under an earlier list.
        set(CMAKE_C_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_EXTRAFILES=${_ignorelist} ${CCACHE_PROGRAM})
        set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_C_COMPILER_LAUNCHER})
    endif()
endif()

# Helper: a static library of one subsystem folder with our settings.
function(okavel_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC okavel_compile_options ${ARG_DEPS})
endfunction()

# clang 14 with libstdc++ 12 cannot parse the reflection library's headers as C++20 (an eagerly
# instantiated default argument of an incomplete type). Sources that include them are written to C++17 and
# are compiled so under clang (the fuzz build); g++ builds them as C++20 like everything else. Our headers
# they include may use defaulted comparisons, which clang takes as an extension in C++17.
function(okavel_reflection_sources)
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "-std=c++17;-Wno-c++20-extensions")
    endif()
endfunction()
