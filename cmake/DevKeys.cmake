# Code-signing and feature-list keys of a build.
#
# A development build makes its own material in <build>/devkeys at build time (scripts/make-dev-keys.sh,
# never committed): a root CA, a "Talvern Technologies Ltd" code-signing certificate it issued, and the
# RSA key pair that signs plugins_feature.json. The root becomes the compiled-in trust anchor and the
# public RSA key the compiled-in feature-list key, unless the cache variables below name other files:
#
#   OKAVEL_TRUST_ANCHOR_BUNDLE      PEM bundle compiled in as the code-signing trust anchors
#   OKAVEL_FEATURE_LIST_PUBLIC_KEY  PEM public key (SubjectPublicKeyInfo) that verifies the feature list
#   OKAVEL_SIGNING_CERT / _KEY      certificate and key okavel_sign_target() signs with
#   OKAVEL_SIGNING_CHAIN            optional PEM intermediates carried in those signatures
#
# okavel_sign_target(<target>) signs an executable or MODULE library after every link.

set(OKAVEL_DEV_KEYS_DIR ${CMAKE_BINARY_DIR}/devkeys)
set(OKAVEL_DEV_ROOT_CA ${OKAVEL_DEV_KEYS_DIR}/dev-root-ca.pem)
set(OKAVEL_DEV_SIGNING_CERT ${OKAVEL_DEV_KEYS_DIR}/dev-codesign.pem)
set(OKAVEL_DEV_SIGNING_KEY ${OKAVEL_DEV_KEYS_DIR}/dev-codesign.key)
set(OKAVEL_DEV_FEATURE_LIST_PRIVATE_KEY ${OKAVEL_DEV_KEYS_DIR}/featurelist-private.pem)
set(OKAVEL_DEV_FEATURE_LIST_PUBLIC_KEY ${OKAVEL_DEV_KEYS_DIR}/featurelist-public.pem)

set(OKAVEL_TRUST_ANCHOR_BUNDLE "${OKAVEL_DEV_ROOT_CA}" CACHE FILEPATH
    "PEM bundle compiled in as the code-signing trust anchors")
set(OKAVEL_FEATURE_LIST_PUBLIC_KEY "${OKAVEL_DEV_FEATURE_LIST_PUBLIC_KEY}" CACHE FILEPATH
    "PEM public key compiled in to verify plugins_feature.json")
set(OKAVEL_SIGNING_CERT "${OKAVEL_DEV_SIGNING_CERT}" CACHE FILEPATH
    "Certificate that okavel_sign_target() signs with")
set(OKAVEL_SIGNING_KEY "${OKAVEL_DEV_SIGNING_KEY}" CACHE FILEPATH
    "Private key that okavel_sign_target() signs with")
set(OKAVEL_SIGNING_CHAIN "" CACHE FILEPATH "Optional PEM intermediates added to okavel_sign_target() signatures")

find_program(OKAVEL_OPENSSL_EXECUTABLE openssl REQUIRED)

set(_okavel_dev_key_outputs
    ${OKAVEL_DEV_ROOT_CA} ${OKAVEL_DEV_SIGNING_CERT} ${OKAVEL_DEV_SIGNING_KEY}
    ${OKAVEL_DEV_FEATURE_LIST_PRIVATE_KEY} ${OKAVEL_DEV_FEATURE_LIST_PUBLIC_KEY})
add_custom_command(
    OUTPUT ${_okavel_dev_key_outputs}
    COMMAND ${CMAKE_COMMAND} -E env OPENSSL=${OKAVEL_OPENSSL_EXECUTABLE}
            bash ${PROJECT_SOURCE_DIR}/scripts/make-dev-keys.sh ${OKAVEL_DEV_KEYS_DIR}
    DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make-dev-keys.sh
    COMMENT "Making the development signing keys in ${OKAVEL_DEV_KEYS_DIR}"
    VERBATIM)
add_custom_target(okavel_dev_keys DEPENDS ${_okavel_dev_key_outputs})

# Generates OUTPUT, a C++ source defining `const char* NAMESPACE::FUNCTION()` that returns the text
# of INPUT, regenerated whenever INPUT changes.
function(okavel_embed_text)
    cmake_parse_arguments(ARG "" "INPUT;OUTPUT;NAMESPACE;FUNCTION" "" ${ARGN})
    add_custom_command(
        OUTPUT ${ARG_OUTPUT}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${ARG_INPUT} -DOUTPUT=${ARG_OUTPUT}
                -DNAMESPACE=${ARG_NAMESPACE} -DFUNCTION=${ARG_FUNCTION}
                -P ${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake
        DEPENDS ${ARG_INPUT} ${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake
        COMMENT "Embedding ${ARG_INPUT}"
        VERBATIM)
endfunction()

# Signs TARGET's file with the build's signing certificate after every link.
function(okavel_sign_target target)
    if(target STREQUAL "okavel-sign")
        message(FATAL_ERROR "okavel-sign cannot sign itself while it is being built")
    endif()
    set(_chain)
    if(OKAVEL_SIGNING_CHAIN)
        set(_chain --chain ${OKAVEL_SIGNING_CHAIN})
    endif()
    add_dependencies(${target} okavel-sign okavel_dev_keys)
    # An install that rewrote the run path would break the signature: the built file is installed as is.
    set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
    # New signing material relinks the target, so that it is signed again with that material.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${OKAVEL_SIGNING_CERT} ${OKAVEL_SIGNING_KEY})
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND $<TARGET_FILE:okavel-sign> sign --cert ${OKAVEL_SIGNING_CERT} --key ${OKAVEL_SIGNING_KEY}
                ${_chain} $<TARGET_FILE:${target}>
        COMMENT "Signing ${target}"
        VERBATIM)
endfunction()
