# Read by cpack for each generator: the Debian package installs below /usr,
# the archive holds the tree itself (bin/, lib/, share/) to unpack anywhere.
if(CPACK_GENERATOR STREQUAL "TGZ")
    set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()
