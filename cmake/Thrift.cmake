# Thrift code generation: the IDL files are compiled by Debian's thrift compiler at build time into the
# build directory (never committed) and built as one static library with relaxed warnings.
#
#     okavel_thrift_generate(okavel_rpc_gen ${PROJECT_SOURCE_DIR}/idl/A.thrift ...)
#
# Generated headers are included as "rpcgen/<Name>.h"; their directory is a SYSTEM include of the target.

find_program(THRIFT_COMPILER thrift REQUIRED)

# The files the compiler writes for one IDL file, read from its declarations.
function(_okavel_thrift_outputs idl outdir result)
    get_filename_component(stem ${idl} NAME_WE)
    file(READ ${idl} text)
    # Comments may mention keywords; drop them before looking.
    string(REGEX REPLACE "//[^\n]*" "" text "${text}")
    string(REGEX REPLACE "#[^\n]*" "" text "${text}")
    set(files ${outdir}/${stem}_types.h)
    if(text MATCHES "(^|[\n \t])(struct|union|exception|enum)[ \t]")
        list(APPEND files ${outdir}/${stem}_types.cpp)
    endif()
    if(text MATCHES "(^|[\n \t])const[ \t]")
        list(APPEND files ${outdir}/${stem}_constants.h ${outdir}/${stem}_constants.cpp)
    endif()
    string(REGEX MATCHALL "service[ \t\n]+[A-Za-z_][A-Za-z0-9_]*" services "${text}")
    foreach(service ${services})
        string(REGEX REPLACE "service[ \t\n]+" "" name "${service}")
        list(APPEND files ${outdir}/${name}.h ${outdir}/${name}.cpp)
    endforeach()
    set(${result} ${files} PARENT_SCOPE)
endfunction()

function(okavel_thrift_generate target)
    set(root ${CMAKE_BINARY_DIR}/generated)
    set(outdir ${root}/rpcgen)
    file(MAKE_DIRECTORY ${outdir})
    set(sources)
    foreach(idl ${ARGN})
        get_filename_component(idl ${idl} ABSOLUTE)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${idl})
        _okavel_thrift_outputs(${idl} ${outdir} outputs)
        add_custom_command(
            OUTPUT ${outputs}
            COMMAND ${THRIFT_COMPILER} --gen cpp:no_skeleton -out ${outdir} ${idl}
            DEPENDS ${idl}
            COMMENT "Generating Thrift code for ${idl}"
            VERBATIM)
        list(APPEND sources ${outputs})
    endforeach()
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} SYSTEM PUBLIC ${root})
    target_compile_features(${target} PUBLIC cxx_std_20)
    # Generated code is not ours to fix: no -Werror, no extra warnings.
    target_compile_options(${target} PRIVATE -w)
    target_link_libraries(${target} PUBLIC PkgConfig::THRIFT Threads::Threads)
endfunction()
