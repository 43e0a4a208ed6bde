# Third-party packages, all from Debian 12. Their include directories are SYSTEM so that -Werror
# applies to our code only.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

find_package(Boost 1.74 REQUIRED COMPONENTS filesystem thread regex stacktrace_backtrace)
find_package(Qt5 REQUIRED COMPONENTS Core Network)
find_package(spdlog REQUIRED)
find_package(fmt REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(rttr CONFIG REQUIRED)
pkg_check_modules(THRIFT REQUIRED IMPORTED_TARGET thrift)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
find_package(RapidJSON QUIET)

add_library(okavel_rapidjson INTERFACE)
if(RAPIDJSON_INCLUDE_DIRS)
    target_include_directories(okavel_rapidjson SYSTEM INTERFACE ${RAPIDJSON_INCLUDE_DIRS})
endif()
target_compile_definitions(okavel_rapidjson INTERFACE RAPIDJSON_HAS_STDSTRING=1)

# Stack traces with symbols (the check report, the signal log).
add_library(okavel_stacktrace INTERFACE)
target_link_libraries(okavel_stacktrace INTERFACE Boost::stacktrace_backtrace ${CMAKE_DL_LIBS})
target_compile_definitions(okavel_stacktrace INTERFACE BOOST_STACKTRACE_USE_BACKTRACE)

if(OKAVEL_BUILD_TESTS)
    find_package(GTest REQUIRED)
endif()
find_package(benchmark QUIET)
