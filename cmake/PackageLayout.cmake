# Where an installed agent lives. A plain install (cmake --install, any prefix) keeps the build's shape:
# <prefix>/bin holds the executables beside the plug-in directory. The Debian package (OKAVEL_PACKAGE,
# prefix /usr) puts the agent's directory at /usr/lib/okavel: the executables, plugins/, and two links,
# var -> /var/lib/okavel/var and logs -> /var/log/okavel, so that everything the agent writes beside
# itself lands in the service's state and log directories and nothing under /usr changes at run time.
option(OKAVEL_PACKAGE "Build for the Debian package (prefix /usr, agent directory /usr/lib/okavel)" OFF)

if(OKAVEL_PACKAGE)
    set(OKAVEL_INSTALL_AGENT_DIR lib/okavel)
    set(OKAVEL_STATE_DIR /var/lib/okavel)
    set(OKAVEL_LOG_DIR /var/log/okavel)
    # The shared data (configuration, single-instance locks, the debug mark) of the packaged agent.
    set(OKAVEL_INSTALLED_SHARED_DATA_DIR ${OKAVEL_STATE_DIR})
    # Stripped at link time, before the build signs the files: stripping afterwards would break the
    # signatures. Hardened as Debian builds its own packages.
    add_compile_options(-fstack-protector-strong $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
    add_link_options(-s -Wl,-z,relro -Wl,-z,now)
else()
    set(OKAVEL_INSTALL_AGENT_DIR bin)
    set(OKAVEL_INSTALLED_SHARED_DATA_DIR "")
endif()
