# cmake -DINPUT=file -DOUTPUT=file.cpp -DNAMESPACE=ns -DFUNCTION=name -P EmbedText.cmake
# Writes a C++ source whose function returns the text of INPUT.
file(READ "${INPUT}" _text)
if(_text MATCHES "\\)okavel_text\"")
    message(FATAL_ERROR "${INPUT} contains the raw-string delimiter")
endif()
set(_content "// Generated from ${INPUT}; do not edit.\nnamespace ${NAMESPACE} {\nconst char* ${FUNCTION}() {\n    return R\"okavel_text(${_text})okavel_text\";\n}\n}  // namespace ${NAMESPACE}\n")
# Only touch the file when the text changed, so that a re-run does not rebuild the library.
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" _old)
    if(_old STREQUAL _content)
        return()
    endif()
endif()
file(WRITE "${OUTPUT}" "${_content}")
