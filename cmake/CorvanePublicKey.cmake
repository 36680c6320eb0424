# The verification keys the updater embeds. CORVANE_PUBLIC_KEY_FILE names the
# publisher's public key file, or several as a list ("old.key;new.key"): a
# signature by any of them verifies, which is how a publisher moves to a new
# key. Without it the build makes a development key pair of its own with
# corvane-keytool, so that tests and the demo can sign what the updater
# accepts. No private key ever lives in the source tree.

# Where a build without a publisher key keeps its development key pair.
set(CORVANE_DEVKEY_DIR "${CMAKE_BINARY_DIR}/devkey")
if(CORVANE_PUBLIC_KEY_FILE)
    foreach(keyfile IN LISTS CORVANE_PUBLIC_KEY_FILE)
        if(NOT EXISTS "${keyfile}")
            message(FATAL_ERROR "CORVANE_PUBLIC_KEY_FILE names a file that does not exist: ${keyfile}")
        endif()
    endforeach()
    set(CORVANE_DEV_PRIVATE_KEY "")
else()
    set(CORVANE_DEV_PRIVATE_KEY "${CORVANE_DEVKEY_DIR}/private.key")
    message(WARNING
        "No CORVANE_PUBLIC_KEY_FILE given: this build trusts a DEVELOPMENT key generated into "
        "${CORVANE_DEVKEY_DIR}. Never ship it; release builds set -DCORVANE_PUBLIC_KEY_FILE=<publisher's public.key>.")
endif()

# Makes a key pair of bits bits in dir (dir/private.key and dir/public.key)
# with corvane-keytool when the build needs it.
function(corvane_make_key_pair dir bits)
    # Naming the tool as the command (not as a dependency) builds it first
    # without making every relink of the tool replace the key pair.
    add_custom_command(
        OUTPUT "${dir}/private.key" "${dir}/public.key"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
        COMMAND corvane-keytool create --force --bits ${bits}
            --private "${dir}/private.key"
            --public "${dir}/public.key"
        COMMENT "Generating a ${bits}-bit key pair in ${dir}"
        VERBATIM)
endfunction()

# Adds to target the definition of PUBLIC_KEYS (and their fingerprints) made
# from the list keyfiles, generated into source.
function(corvane_embed_key_file target keyfiles source)
    get_filename_component(dir "${source}" DIRECTORY)
    add_custom_command(
        OUTPUT "${source}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
        COMMAND corvane-keytool embed ${keyfiles} "${source}"
        # What embed writes changes with the tool; the key pairs stay.
        DEPENDS ${keyfiles} corvane-keytool
        COMMENT "Embedding the public keys ${keyfiles}"
        VERBATIM)
    target_sources(${target} PRIVATE "${source}")
endfunction()

# Adds the generated definition of PUBLIC_KEYS to target. Call it in the
# directory that creates target, so the generating commands attach to it.
function(corvane_embed_public_key target)
    if(CORVANE_PUBLIC_KEY_FILE)
        set(keyfiles "${CORVANE_PUBLIC_KEY_FILE}")
    else()
        set(keyfiles "${CORVANE_DEVKEY_DIR}/public.key")
        corvane_make_key_pair("${CORVANE_DEVKEY_DIR}" 3072)
    endif()
    corvane_embed_key_file(${target} "${keyfiles}" "${CMAKE_CURRENT_BINARY_DIR}/crypto/publickey.cpp")
endfunction()
