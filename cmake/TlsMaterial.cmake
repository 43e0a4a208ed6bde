# Certificates of the loopback listeners, made at build time in <build>/tlsmaterial (never committed) by
# scripts/make-tls-material.sh: a self-signed server certificate and one issued by an organisation CA
# made alongside, both for the agent's loopback host name, "localhost" and 127.0.0.1, plus the random
# block that carries the IV. The tool okavel_tls_embed encrypts them into a generated source.
#
#   OKAVEL_AGENT_HOST_NAME        the loopback host name the certificates name
#   OKAVEL_TLS_MATERIAL_DIR       where the material is made (tests read the CA and certificates there)

set(OKAVEL_AGENT_HOST_NAME "local.okavel.talvern.com" CACHE STRING
    "Loopback host name of the agent, named in its built-in server certificates")
# Global, so that the tests (another directory) find the material.
set(OKAVEL_TLS_MATERIAL_DIR ${CMAKE_BINARY_DIR}/tlsmaterial CACHE INTERNAL "")
set(OKAVEL_TLS_SELF_SIGNED ${OKAVEL_TLS_MATERIAL_DIR}/self-signed.pem CACHE INTERNAL "")
set(OKAVEL_TLS_ORG_CA ${OKAVEL_TLS_MATERIAL_DIR}/org-ca.pem CACHE INTERNAL "")
set(OKAVEL_TLS_ORG_SERVER ${OKAVEL_TLS_MATERIAL_DIR}/org-server.pem CACHE INTERNAL "")
set(OKAVEL_TLS_IV_BLOCK ${OKAVEL_TLS_MATERIAL_DIR}/iv-block.bin CACHE INTERNAL "")

find_program(OKAVEL_OPENSSL_EXECUTABLE openssl REQUIRED)

add_custom_command(
    OUTPUT ${OKAVEL_TLS_SELF_SIGNED} ${OKAVEL_TLS_ORG_CA} ${OKAVEL_TLS_ORG_SERVER} ${OKAVEL_TLS_IV_BLOCK}
    COMMAND ${CMAKE_COMMAND} -E env OPENSSL=${OKAVEL_OPENSSL_EXECUTABLE}
            bash ${PROJECT_SOURCE_DIR}/scripts/make-tls-material.sh ${OKAVEL_TLS_MATERIAL_DIR}
            ${OKAVEL_AGENT_HOST_NAME}
    DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make-tls-material.sh ${PROJECT_SOURCE_DIR}/scripts/openssl-ca.sh
    COMMENT "Making the loopback server certificates in ${OKAVEL_TLS_MATERIAL_DIR}"
    VERBATIM)

# Generates OUTPUT, the encrypted material, with the tool target TOOL.
function(okavel_embed_tls_material)
    cmake_parse_arguments(ARG "" "TOOL;OUTPUT" "" ${ARGN})
    add_custom_command(
        OUTPUT ${ARG_OUTPUT}
        COMMAND $<TARGET_FILE:${ARG_TOOL}> ${OKAVEL_TLS_SELF_SIGNED} ${OKAVEL_TLS_ORG_SERVER} ${OKAVEL_TLS_IV_BLOCK}
                ${ARG_OUTPUT}
        DEPENDS ${ARG_TOOL} ${OKAVEL_TLS_SELF_SIGNED} ${OKAVEL_TLS_ORG_SERVER} ${OKAVEL_TLS_IV_BLOCK}
        COMMENT "Embedding the encrypted server certificates"
        VERBATIM)
endfunction()
