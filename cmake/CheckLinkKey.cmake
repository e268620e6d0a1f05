# Run as a script: checks one value of VECTA_LINK_KEY_HEX the way the
# configure step does (cmake -DHEX=... -DOUT=... -P CheckLinkKey.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/LinkKey.cmake)
vecta_link_key_header("${HEX}" "${OUT}")
